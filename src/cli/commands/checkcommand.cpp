#include "checkcommand.h"

#include "checkoutput.h"
#include "clockreport.h"
#include "clocksurvey.h"
#include "console.h"
#include "pluginstatus.h"
#include "scanrun.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {

constexpr quint16 sntpPort = 123;

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
        if (ClockReport::checkable(device, &reason))
            targets.append({ QHostAddress(device.reply.currentAddress), device.heardOn.address });
    }
    ClockSurvey clocks(settings);
    QObject::connect(&clocks, &ClockSurvey::progressed, &clocks, [](int done, int total) {
        Console::progress(QStringLiteral("reading clocks: %1/%2").arg(done).arg(total));
    });
    if (remainingMs)
        QTimer::singleShot(std::chrono::milliseconds(std::max<qint64>(0, *remainingMs)),
                           Qt::PreciseTimer, &clocks, [&clocks] { clocks.stop(deadlineReason); });
    clocks.runToEnd(targets);
    Console::progressDone();

    CheckRun run;
    run.report = ClockReport::build(devices, clocks.results());
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
    const Expected<ScanReport> scan = ScanRun::firstScan(m_options.probing);
    if (!scan)
        return scan.failure();

    ClockSurvey::Settings settings;
    settings.ratePerSecond = m_options.ratePerSecond;
    settings.timeoutMs = m_options.timeoutMs;
    settings.retries = 1;
    settings.port = sntpPort;
    settings.concurrency = m_options.concurrency.value_or(
        ClockSurvey::concurrencyFor(settings.ratePerSecond, settings.timeoutMs, settings.retries));
    std::optional<qint64> remainingMs;
    if (m_options.deadlineMs)
        remainingMs = *m_options.deadlineMs - clock.elapsed();
    CheckRun run = survey(scan->devices, settings, remainingMs);
    run.scannedFrom = scan->scannedFrom;
    run.notes = scan->notes;
    run.deadlineMs = m_options.deadlineMs;
    run.presence = DevicePresence::of(scan->devices, m_options.expected, m_options.minDevices);
    const ClockReport &report = run.report;

    if (m_options.monitoring()) {
        PluginStatus::Circumstances circumstances { run.presence, std::nullopt, run.notRead };
        if (run.deadlinePassed)
            circumstances.deadlineMs = m_options.deadlineMs;
        const PluginStatus::Verdict verdict
            = PluginStatus::judge(report, { *m_options.warn, *m_options.crit }, circumstances);
        Console::result(verdict.text);
        return PluginStatus::exitCode(verdict.status);
    }

    Console::result(m_options.format == Options::Format::Json ? CheckOutput::json(run)
                                                              : CheckOutput::table(run));
    if (const int missing = run.presence.missingCount(); missing > 0) {
        Console::error(QStringLiteral("%1 expected %2 did not answer the scan")
                           .arg(missing)
                           .arg(QLatin1String(missing == 1 ? "device" : "devices")));
        return exitCode(ExitStatus::DeviceNotFound);
    }
    if (report.checked == 0) {
        Console::error(report.found == 0
                           ? QStringLiteral("no device answered")
                           : QStringLiteral("no device to check: NTP is off on all %1 found")
                                 .arg(report.found));
        return exitCode(ExitStatus::DeviceNotFound);
    }
    // A clock that cannot be trusted is a finding; silence is only a doubt.
    if (report.unsynchronised > 0)
        return exitCode(ExitStatus::VerifyFailed);
    if (report.unanswered > 0)
        return exitCode(ExitStatus::CannotVerify);
    return exitCode(ExitStatus::Success);
}
