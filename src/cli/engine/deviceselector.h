#ifndef DEVICESELECTOR_H
#define DEVICESELECTOR_H

#include "inventory.h"

#include <QList>
#include <QString>

// Finds the device a user means. DEVICE is a serial ("65536"), a current address
// ("10.77.1.1"), both ("65536@10.77.1.1", for a serial that answers at two addresses while
// another device shares one of them), or a name, as sent or as shown escaped ("TIME\x1b").
// Every device any reading of DEVICE fits is a candidate: a name that looks like a serial
// still finds its device.
class DeviceSelector
{
public:
    explicit DeviceSelector(const QList<DeviceEntry> &devices);

    QList<DeviceEntry> candidates(const QString &device) const;

    // The error when there is not exactly one candidate; empty when there is. Names the
    // candidates, or the devices heard, and how to name one of them.
    static QString problem(const QString &device, const QList<DeviceEntry> &candidates,
                           const QList<DeviceEntry> &heard);

private:
    QList<DeviceEntry> m_devices;
};

#endif // DEVICESELECTOR_H
