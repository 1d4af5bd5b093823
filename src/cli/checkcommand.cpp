#include "checkcommand.h"

#include "checkoutput.h"
#include "clockreport.h"
#include "clocksurvey.h"
#include "console.h"
#include "pluginstatus.h"
#include "scanrun.h"

#include <QEventLoop>

namespace {

constexpr quint16 sntpPort = 123;

// Reads the clocks of `devices`, those that can be asked, with the survey's event loop.
CheckRun survey(const QList<DeviceEntry> &devices, const ClockSurvey::Settings &settings)
{
    QList<ClockSurvey::Target> targets;
    for (const DeviceEntry &device : devices) {
        QString reason;
        if (ClockReport::checkable(device, &reason))
            targets.append({ QHostAddress(device.reply.currentAddress), device.heardOn.address });
    }
    ClockSurvey clocks(settings);
    QEventLoop loop;
    QObject::connect(&clocks, &ClockSurvey::finished, &loop, &QEventLoop::quit);
    QObject::connect(&clocks, &ClockSurvey::progressed, &loop, [](int done, int total) {
        Console::progress(QStringLiteral("reading clocks: %1/%2").arg(done).arg(total));
    });
    clocks.start(targets);
    loop.exec();
    Console::progressDone();

    CheckRun run;
    run.report = ClockReport::build(devices, clocks.results());
    run.settings = settings;
    run.requests = clocks.requests();
    run.surveyMs = clocks.elapsedMs();
    return run;
}

} // namespace

CheckCommand::CheckCommand(const Invocation &invocation)
    : m_invocation(invocation)
{ }

int CheckCommand::failed(ExitStatus status, const QString &error) const
{
    if (!monitoring()) {
        Console::error(error);
        return exitCode(status);
    }
    // A monitoring system reads stdout only: the reason goes into the status line.
    const PluginStatus::Verdict verdict = PluginStatus::unknown(error);
    Console::result(verdict.text);
    return PluginStatus::exitCode(verdict.status);
}

int CheckCommand::run()
{
    QString error;
    ExitStatus status = ExitStatus::Success;
    const auto from = ScanRun::addresses(m_invocation, &error, &status);
    if (!from)
        return failed(status, error);
    ScanReport scan;
    if (!ScanRun::run(*from, m_invocation, &scan, &error))
        return failed(ExitStatus::NetworkUnusable, error);

    ClockSurvey::Settings settings;
    settings.concurrency = m_invocation.check.concurrency;
    settings.ratePerSecond = m_invocation.check.ratePerSecond;
    settings.timeoutMs = m_invocation.check.timeoutMs;
    settings.retries = 1;
    settings.port = sntpPort;
    CheckRun run = survey(scan.devices, settings);
    run.scannedFrom = scan.scannedFrom;
    run.notes = scan.notes;
    const ClockReport &report = run.report;

    if (monitoring()) {
        const PluginStatus::Verdict verdict = PluginStatus::judge(
            report, { *m_invocation.check.warnSeconds, *m_invocation.check.critSeconds });
        Console::result(verdict.text);
        return PluginStatus::exitCode(verdict.status);
    }

    Console::result(m_invocation.format == OutputWriter::Format::Json ? CheckOutput::json(run)
                                                                      : CheckOutput::table(run));
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
