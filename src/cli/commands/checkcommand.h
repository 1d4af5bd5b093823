#ifndef CHECKCOMMAND_H
#define CHECKCOMMAND_H

#include "failure.h"
#include "options.h"

// check: a scan, then every device with NTP on asked for its time over SNTP (ClockSurvey), the
// result as a table or JSON, or, with --warn/--crit, as a monitoring plugin's status.
class CheckCommand
{
public:
    explicit CheckCommand(const Options::Check &options);

    // The process's exit status: exitstatus.h's, or the plugin's 0..3 with --warn/--crit, whose
    // failures are its UNKNOWN status on stdout, never a failure returned.
    Expected<int> run();

    // Prints `why` as the plugin's UNKNOWN status line; its exit status.
    static int unknown(const QString &why);

private:
    Expected<int> check();

    Options::Check m_options;
};

#endif // CHECKCOMMAND_H
