#ifndef CHECKCOMMAND_H
#define CHECKCOMMAND_H

#include "commandline.h"
#include "exitstatus.h"

// check: a scan, then every device with NTP on asked for its time over SNTP (ClockSurvey), the
// result as a table or JSON, or, with --warn/--crit, as a monitoring plugin's status.
class CheckCommand
{
public:
    explicit CheckCommand(const Invocation &invocation);

    // The process's exit status: exitstatus.h's, or the plugin's 0..3 with --warn/--crit.
    int run();

private:
    bool monitoring() const { return m_invocation.check.warnSeconds.has_value(); }
    int failed(ExitStatus status, const QString &error) const;

    Invocation m_invocation;
};

#endif // CHECKCOMMAND_H
