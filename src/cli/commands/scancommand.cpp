#include "scancommand.h"

#include "console.h"
#include "engineconsole.h"
#include "outputwriter.h"
#include "scanwords.h"

namespace ScanCommand {

Expected<ExitStatus> run(const Options::Scan &options)
{
    const Expected<ScanReport> report = EngineConsole::firstScan(options.probing);
    if (!report)
        return report.failure();
    Console::result(OutputWriter::create(options.format)->write(*report));
    if (report->devices.isEmpty())
        Console::error(ScanWords::nothingAnswered());
    return ExitStatus::Success;
}

} // namespace ScanCommand
