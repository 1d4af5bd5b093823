#ifndef DEVICEPRESENCE_H
#define DEVICEPRESENCE_H

#include "inventory.h"

#include <QList>
#include <QStringList>

#include <algorithm>

// Which of the devices a check expects did not answer the scan, and which that answered were
// not expected. A device is expected by its serial, its current address, SERIAL@ADDRESS or its
// name (as sent or as shown escaped), as set-time's DEVICE names one.
struct DevicePresence
{
    QStringList missing; // expected, as typed, fitting no device heard
    QList<int> unexpected; // indices into the devices heard that no expected one fits
    int heard = 0;
    int minDevices = 0;
    bool expecting = false; // a list or a minimum was given

    // The list's missing ones, or how many short of the minimum the scan fell, if more.
    int missingCount() const { return std::max(int(missing.size()), minDevices - heard); }

    static DevicePresence of(const QList<DeviceEntry> &devices, const QStringList &expected,
                             int minDevices);
};

#endif // DEVICEPRESENCE_H
