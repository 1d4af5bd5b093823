#ifndef ADDRESSHOLDING_H
#define ADDRESSHOLDING_H

#include "localaddress.h"

#include <QString>
#include <QStringList>

// An address found in use: who answers for it on the link it was asked about.
struct AddressHolding
{
    quint32 address = 0;
    QString hardwareAddress; // of the host that answered, where known
    bool workstation = false; // the address is this workstation's own
    LocalAddress via; // the workstation address whose link was asked
    QString device; // the device the scan heard there, "DEV-0008 (serial 8)"; empty for a host
};

// What stands against storing `address` in a device, for set-address to refuse it.
struct AddressObjection
{
    enum class Kind {
        None,
        Refused, // the address rules refuse it: `refusal` says why
        HeldByDevices, // other devices heard hold it now or from their next restart
        HeldByHost, // a host that is no device answers for it
    };

    Kind kind = Kind::None;
    quint32 address = 0;
    QString refusal;
    QStringList devices; // as DeviceEntry::describe() gives them, sorted
    AddressHolding holding;
};

#endif // ADDRESSHOLDING_H
