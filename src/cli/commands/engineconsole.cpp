#include "engineconsole.h"

#include "console.h"
#include "scanwords.h"

#include <QSet>

namespace EngineConsole {

namespace {

    // The scan warnings said in this run: a command that scans again to verify says each once.
    QSet<QString> &warned()
    {
        static QSet<QString> texts;
        return texts;
    }

    void warnOnce(const QList<HealthNote> &warnings)
    {
        for (const HealthNote &warning : warnings) {
            if (!warned().contains(warning.text)) {
                warned().insert(warning.text);
                Console::warning(warning.text);
            }
        }
    }

    Expected<ScanReport> said(const Expected<ScanReport> &report)
    {
        Console::progressDone();
        if (report)
            warnOnce(report->warnings);
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
    warnOnce(report.warnings);
}

QList<AddressHolder> probe(const QList<AddressProbe::Request> &requests)
{
    const QList<AddressHolder> holders = AddressProbe::probe(requests);
    for (const HealthNote &warning : AddressProbe::warnings(requests, holders))
        Console::warning(warning.text);
    return holders;
}

} // namespace EngineConsole
