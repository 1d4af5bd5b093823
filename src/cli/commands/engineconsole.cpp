#include "engineconsole.h"

#include "console.h"
#include "scanwords.h"

namespace EngineConsole {

namespace {

    Expected<ScanReport> said(const Expected<ScanReport> &report)
    {
        Console::progressDone();
        if (report) {
            for (const HealthNote &warning : report->warnings)
                Console::warning(warning.text);
        }
        return report;
    }

} // namespace

ScanRun::Progress progress()
{
    if (!Console::stderrIsTerminal())
        return {};
    return [](const ScanProgress &at) { Console::progress(ScanWords::progress(at)); };
}

Expected<ScanReport> firstScan(const Options::Probing &options)
{
    return said(ScanRun::firstScan(options, progress()));
}

Expected<ScanReport> scan(const QList<LocalAddress> &from, const Options::Probing &options)
{
    return said(ScanRun::run(from, options, {}, progress()));
}

void rescanned(const ScanReport &report)
{
    Console::progressDone();
    for (const HealthNote &warning : report.warnings) {
        if (warning.code != QLatin1String("reply-buffer-capped"))
            Console::warning(warning.text);
    }
}

QList<AddressHolder> probe(const QList<AddressProbe::Request> &requests)
{
    const QList<AddressHolder> holders = AddressProbe::probe(requests);
    for (const HealthNote &warning : AddressProbe::warnings(requests, holders))
        Console::warning(warning.text);
    return holders;
}

} // namespace EngineConsole
