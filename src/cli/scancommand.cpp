#include "scancommand.h"

#include "console.h"
#include "scanrun.h"

namespace ScanCommand {

ExitStatus run(const Invocation &invocation)
{
    ExitStatus status = ExitStatus::Success;
    const std::optional<ScanReport> report = ScanRun::firstScan(invocation, &status);
    if (!report)
        return status;
    Console::result(OutputWriter::create(invocation.format)->write(*report));
    if (report->devices.isEmpty())
        Console::error(QStringLiteral("no device answered"));
    return ExitStatus::Success;
}

} // namespace ScanCommand
