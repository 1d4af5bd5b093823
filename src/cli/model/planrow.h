#ifndef PLANROW_H
#define PLANROW_H

#include "addressholding.h"

#include <QString>

// One line of the plan `plan` writes: a device heard, as the scan showed it, and the address it
// is to store.
struct PlanRow
{
    qint32 serial = 0;
    QString name; // escaped for a terminal, as the scan's table shows it
    QString sentName; // as the device sent it, without its NUL padding
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

// What plan warns of as it hands out addresses, in the order it finds it.
struct PlanWarning
{
    enum class Kind {
        KeptAddressInUse, // `device` stores an address a host answers for: it gets another one
        NotHandedOut, // an address of the range that a host answers for
        SerialTwice, // `serial` answers at more than one address
    };

    Kind kind = Kind::NotHandedOut;
    AddressHolding holding; // for the first two
    QString device; // as DeviceEntry::describe() gives it, for KeptAddressInUse
    qint32 serial = 0; // for SerialTwice
};

#endif // PLANROW_H
