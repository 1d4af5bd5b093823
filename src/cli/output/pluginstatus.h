#ifndef PLUGINSTATUS_H
#define PLUGINSTATUS_H

#include "clockreport.h"

#include <QString>

// check --warn/--crit as a monitoring plugin (Nagios, Icinga, Zabbix, cron): one status line
// with performance data first, then a line for each device that is not OK (the first 50, then
// a count of the rest), and the plugin exit status. These numbers belong to the plugin convention,
// not to exitstatus.h.
namespace PluginStatus {

enum class Status { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

struct Thresholds
{
    double warnSeconds = 0;
    double critSeconds = 0;
};

struct Verdict
{
    Status status = Status::Unknown;
    QString text; // the whole output, status line first, each line ending in '\n'
};

// OK, WARNING (some |offset| >= warn), CRITICAL (some |offset| >= crit, a device unsynchronised,
// a checkable device not answering) or UNKNOWN (no checkable device).
Verdict judge(const ClockReport &report, const Thresholds &thresholds);

// The check could not run: bad options, network unusable.
Verdict unknown(const QString &why);

// A device name as it may appear in plugin output: escaped like the table's, and without '|',
// which would start performance data.
QString safeName(const DeviceEntry &device);

int exitCode(Status status);

} // namespace PluginStatus

#endif // PLUGINSTATUS_H
