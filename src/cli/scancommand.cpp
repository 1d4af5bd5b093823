#include "scancommand.h"

#include "console.h"
#include "scanrun.h"

namespace ScanCommand {

ExitStatus run(const Invocation &invocation)
{
    QString error;
    ExitStatus status = ExitStatus::Success;
    const auto from = ScanRun::addresses(invocation, &error, &status);
    if (!from) {
        Console::error(error);
        return status;
    }
    ScanReport report;
    if (!ScanRun::run(*from, invocation, &report, &error)) {
        Console::error(error);
        return ExitStatus::NetworkUnusable;
    }
    Console::result(OutputWriter::create(invocation.format)->write(report));
    if (report.devices.isEmpty())
        Console::error(QStringLiteral("no device answered"));
    return ExitStatus::Success;
}

} // namespace ScanCommand
