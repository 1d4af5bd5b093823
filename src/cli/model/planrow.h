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

#endif // PLANROW_H
