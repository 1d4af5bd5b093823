#ifndef PLUGINSTATUS_H
#define PLUGINSTATUS_H

#include "checkrun.h"
#include "pluginrange.h"

#include <QString>

// check --warn/--crit as a monitoring plugin (Nagios, Icinga, Zabbix, cron): one status line
// with performance data first, then a line for each device that is not OK (the first 50, then
// a count of the rest), and the plugin exit status. These numbers belong to the plugin convention,
// not to exitstatus.h.
namespace PluginStatus {

enum class Status { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

// Ranges of the offset's size, in seconds.
struct Thresholds
{
    PluginRange warn;
    PluginRange crit;
};

// What else the check knows besides the clocks.
struct Circumstances
{
    DevicePresence presence;
    std::optional<int> deadlineMs; // set when the deadline passed
    int notRead = 0; // devices not read before it
};

struct Verdict
{
    Status status = Status::Unknown;
    QString text; // the whole output, status line first, each line ending in '\n'
};

// OK, WARNING (some |offset| outside warn), CRITICAL (some |offset| outside crit, a device
// unsynchronised, a checkable device not answering, an expected device missing) or UNKNOWN (no
// checkable device, and none missing). Devices heard but not expected are named, not counted
// against the state.
Verdict judge(const ClockReport &report, const Thresholds &thresholds,
              const Circumstances &circumstances = {});

// The check could not run: bad options, network unusable.
Verdict unknown(const QString &why);

// A device name as it may appear in plugin output: escaped like the table's, and without '|',
// which would start performance data.
QString safeName(const DeviceEntry &device);

int exitCode(Status status);

} // namespace PluginStatus

#endif // PLUGINSTATUS_H
