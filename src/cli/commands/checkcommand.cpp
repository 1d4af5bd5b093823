#include "checkcommand.h"

#include "checkoutput.h"
#include "clockreport.h"
#include "clocksurvey.h"
#include "console.h"
#include "devicepresence.h"
#include "engineconsole.h"
#include "pluginstatus.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {

// Why a device the deadline cut short has no answer.
const QString deadlineReason = QStringLiteral("not read before the deadline");

// Reads the clocks of `devices`, those that can be asked, with progress on a terminal; stops
// after `remainingMs` when given (at once when nothing remains).
CheckRun survey(const QList<DeviceEntry> &devices, const ClockSurvey::Settings &settings,
                std::optional<qint64> remainingMs)
{
    QList<ClockSurvey::Target> targets;
    for (const DeviceEntry &device : devices) {
        QString reason;
        if (ClockCheck::checkable(device, &reason))
            targets.append({ QHostAddress(device.reply.currentAddress), device.heardOn.address });
    }
    ClockSurvey clocks(settings);
    QObject::connect(&clocks, &ClockSurvey::progressed, &clocks, [](int done, int total) {
        Console::progress(CheckOutput::progress(done, total));
    });
    if (remainingMs)
        QTimer::singleShot(std::chrono::milliseconds(std::max<qint64>(0, *remainingMs)),
                           Qt::PreciseTimer, &clocks, [&clocks] { clocks.stop(deadlineReason); });
    clocks.runToEnd(targets);
    Console::progressDone();

    CheckRun run;
    run.report = ClockCheck::report(devices, clocks.results());
    run.settings = settings;
    run.requests = clocks.requests();
    run.surveyMs = clocks.elapsedMs();
    run.notRead = clocks.notRead();
    run.deadlinePassed = clocks.stopped();
    return run;
}

} // namespace

CheckCommand::CheckCommand(const Options::Check &options)
    : m_options(options)
{ }

int CheckCommand::unknown(const QString &why)
{
    // A monitoring system reads stdout only: the reason goes into the status line.
    const PluginStatus::Verdict verdict = PluginStatus::unknown(why);
    Console::result(verdict.text);
    return PluginStatus::exitCode(verdict.status);
}

Expected<int> CheckCommand::run()
{
    const Expected<int> status = check();
    if (status || !m_options.monitoring())
        return status;
    return unknown(status.failure().message);
}

Expected<int> CheckCommand::check()
{
    QElapsedTimer clock;
    clock.start();
    const Expected<ScanReport> scan = EngineConsole::firstScan(m_options.probing);
    if (!scan)
        return scan.failure();

    ClockSurvey::Settings settings;
    settings.ratePerSecond = m_options.ratePerSecond;
    settings.timeoutMs = m_options.timeoutMs;
    settings.retries = 1;
    settings.concurrency = m_options.concurrency.value_or(
        ClockSurvey::concurrencyFor(settings.ratePerSecond, settings.timeoutMs, settings.retries));
    std::optional<qint64> remainingMs;
    if (m_options.deadlineMs)
        remainingMs = *m_options.deadlineMs - clock.elapsed();
    CheckRun run = survey(scan->devices, settings, remainingMs);
    run.scannedFrom = scan->scannedFrom;
    run.notes = scan->notes;
    run.deadlineMs = m_options.deadlineMs;
    run.presence = Presence::of(scan->devices, m_options.expected, m_options.minDevices);
    const ClockReport &report = run.report;

    if (m_options.monitoring()) {
        PluginStatus::Circumstances circumstances { run.presence, std::nullopt, run.notRead };
        if (run.deadlinePassed)
            circumstances.deadlineMs = m_options.deadlineMs;
        const PluginThresholds thresholds { *m_options.warn, *m_options.crit };
        const PluginStatus::Verdict verdict = PluginStatus::verdict(
            report, thresholds, ClockCheck::pluginFindings(report, thresholds, run.presence),
            circumstances);
        Console::result(verdict.text);
        return PluginStatus::exitCode(verdict.status);
    }

    Console::result(CheckOutput::write(run, m_options.format));
    const CheckOutcome outcome = ClockCheck::outcome(report, run.presence);
    if (const QString problem = CheckOutput::problem(run, outcome); !problem.isEmpty())
        Console::error(problem);
    return exitCode(ClockCheck::exitStatus(outcome));
}
