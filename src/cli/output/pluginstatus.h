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

using Status = PluginState;
using Thresholds = PluginThresholds;

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

// The plugin's output for what its rules found (ClockCheck::pluginFindings): every device not
// OK named with why, devices heard but not expected named too.
Verdict verdict(const ClockReport &report, const Thresholds &thresholds,
                const PluginFindings &findings, const Circumstances &circumstances = {});

// The check could not run: bad options, network unusable.
Verdict unknown(const QString &why);

// A device name as it may appear in plugin output: escaped like the table's, and without '|',
// which would start performance data.
QString safeName(const DeviceEntry &device);

int exitCode(Status status);

} // namespace PluginStatus

#endif // PLUGINSTATUS_H
