#ifndef ENGINE_CLOCKREPORT_H
#define ENGINE_CLOCKREPORT_H

#include "checkrun.h"
#include "clockreading.h"
#include "exitstatus.h"
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

// What the readings and the devices expected come to: the worst that holds.
CheckOutcome outcome(const ClockReport &report, const DevicePresence &presence);

// The exit status of a check that came to `outcome`.
ExitStatus exitStatus(CheckOutcome outcome);

// check --warn/--crit: OK, WARNING (some |offset| outside warn), CRITICAL (some |offset| outside
// crit, a device unsynchronised, a checkable device not answering, an expected device missing)
// or UNKNOWN (no checkable device, and none missing). Devices heard but not expected do not
// count against the state.
PluginFindings pluginFindings(const ClockReport &report, const PluginThresholds &thresholds,
                              const DevicePresence &presence);

} // namespace ClockCheck

#endif // ENGINE_CLOCKREPORT_H
