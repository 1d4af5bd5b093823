#ifndef PLANROW_H
#define PLANROW_H

#include <QString>

// One line of the plan `plan` writes: a device heard, as the scan showed it, and the address it
// is to store.
struct PlanRow
{
    qint32 serial = 0;
    QString name; // escaped for a terminal, as the scan's table shows it
    QString currentAddress;
    QString storedAddress;
    quint32 newAddress = 0;
    bool setTime = false;
};

// A device heard that the plan leaves out, and why.
struct UnplannedDevice
{
    enum class Reason {
        Unreachable, // it reports 0.0.0.0 as its address
        RangeUsedUp, // no address of the range is left for the subnet it was heard on
    };

    QString device; // as DeviceEntry::describe() gives it
    Reason reason = Reason::Unreachable;
    QString subnet; // the one it was heard on, as "10.77.0.0/16"
};

#endif // PLANROW_H
