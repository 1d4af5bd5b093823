#ifndef ENGINE_CLOCKREPORT_H
#define ENGINE_CLOCKREPORT_H

#include "clockreading.h"
#include "sntpquery.h"

#include <QList>
#include <QString>

// What the check makes of each device's clock: whether it is asked at all, and what its
// answer, or its silence, says.
namespace ClockCheck {

// Whether a device is asked at all; *reason says why not.
bool checkable(const DeviceEntry &device, QString *reason);

// A checkable device's reading from its SNTP result.
ClockReading read(const DeviceEntry &device, const SntpQuery::Result &result);

// `results` holds one result for each checkable device, in order.
ClockReport report(const QList<DeviceEntry> &devices, const QList<SntpQuery::Result> &results);

} // namespace ClockCheck

#endif // ENGINE_CLOCKREPORT_H
