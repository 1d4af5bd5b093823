#ifndef DEVICEPRESENCE_H
#define DEVICEPRESENCE_H

#include "checkrun.h"
#include "deviceentry.h"

#include <QList>
#include <QStringList>

// Which of the devices a check expects did not answer the scan, and which that answered were
// not expected. A device is expected by its serial, its current address, SERIAL@ADDRESS or its
// name (as sent or as shown escaped), as set-time's DEVICE names one.
namespace Presence {

DevicePresence of(const QList<DeviceEntry> &devices, const QStringList &expected, int minDevices);

} // namespace Presence

#endif // DEVICEPRESENCE_H
