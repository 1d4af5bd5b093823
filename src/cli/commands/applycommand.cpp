#include "applycommand.h"

#include "addressprobe.h"
#include "applyoutput.h"
#include "console.h"
#include "engineconsole.h"
#include "scanrun.h"
#include "sendprogress.h"
#include "verdicts.h"
#include "verificationwords.h"

#include <QFile>

#include <cstdio>

ApplyCommand::ApplyCommand(const Options::Apply &options)
    : m_options(options)
{
    m_report.planPath = options.planPath;
    m_report.dryRun = options.dryRun;
    m_report.rateLimit = options.ratePerSecond;
}

Expected<ExitStatus> ApplyCommand::run()
{
    const Expected<QList<PlanLine>> planLines = readPlan();
    if (!planLines)
        return planLines.failure();
    CommandLog log;
    if (const auto failure = log.open(m_options.logPath, m_options.dryRun))
        return *failure;
    const Expected<ScanReport> scan = EngineConsole::firstScan(m_options.probing);
    if (!scan)
        return scan.failure();

    m_lines = ApplyRules::lines(
        PlanCheck::check(*planLines, scan->devices, LocalInterfaces::ipv4Addresses()));
    if (ApplyRules::faultyLines(m_lines) > 0) {
        // Every fault of every line, on stderr; without --skip-bad nothing is sent.
        m_report.refused = !m_options.skipBad;
        for (const QString &message : ApplyOutput::faultMessages(results(), m_report.refused))
            Console::error(message);
        if (m_report.refused) {
            ApplyRules::refuse(&m_lines);
            return finish();
        }
    }

    ApplyRules::readClocksBefore(&m_lines);
    for (ApplyLine &line : m_lines)
        ApplyRules::decide(&line, m_options.toleranceSeconds);
    const ApplyRules::AddressQuestions questions = ApplyRules::addressQuestions(m_lines);
    ApplyRules::holdBack(&m_lines, questions, EngineConsole::probe(questions.requests));
    m_report.sntpRequests = ApplyRules::sntpRequests(m_lines);
    m_report.addressesAsked = int(questions.requests.size());
    if (m_options.dryRun)
        return finish();

    sendAndVerify(scan->scannedFrom);
    for (ApplyLine &line : m_lines)
        ApplyRules::judge(&line, m_rescanError, m_options.toleranceSeconds);
    logCommands(&log);
    return finish();
}

// The plan file (or stdin for "-"), read whole. A file that cannot be read is bad usage; a
// plan that cannot be read as a plan is a plan fault. Either way nothing is scanned or sent.
Expected<QList<PlanLine>> ApplyCommand::readPlan() const
{
    const bool fromStdin = m_options.planPath == QLatin1String("-");
    const QString name = fromStdin ? QStringLiteral("on stdin") : m_options.planPath;
    QFile file;
    const bool opened = fromStdin
        ? file.open(stdin, QIODevice::ReadOnly)
        : (file.setFileName(m_options.planPath), file.open(QIODevice::ReadOnly));
    if (!opened)
        return Failure {
            ExitStatus::Usage,
            QStringLiteral("cannot read the plan %1: %2").arg(name, file.errorString())
        };
    const Plan::Read plan = Plan::read(file.readAll());
    for (const QString &column : plan.unreadColumns)
        Console::warning(ApplyOutput::unreadColumn(column));
    if (!plan.error.isEmpty() || plan.lines.isEmpty())
        return Failure {
            ExitStatus::PlanFaults,
            QStringLiteral("the plan %1 cannot be used: %2; nothing was sent")
                .arg(name, plan.error.isEmpty() ? QStringLiteral("it has no lines") : plan.error)
        };
    return plan.lines;
}

// Sends what each line needs and verifies it all with one rescan and the clocks read back.
void ApplyCommand::sendAndVerify(const QList<LocalAddress> &from)
{
    const ApplyRules::Orders orders = ApplyRules::orders(m_lines, m_options.planPath);
    SendAndVerify::Settings settings;
    settings.ratePerSecond = m_options.ratePerSecond;
    settings.probing = m_options.probing;
    settings.progress = SendProgress::show;
    settings.scanProgress = EngineConsole::progress();
    settings.rescanned = EngineConsole::rescanned;
    SendAndVerify::Result result = SendAndVerify::send(orders.orders, settings);
    SendAndVerify::verify(orders.orders, from, settings, &result);
    ApplyRules::takeOutcomes(&m_lines, orders, result);
    m_report.commandsSent = result.commandsSent;
    m_report.sendMs = result.sendMs;
    if (result.rescanFailure) {
        m_rescanError = result.rescanFailure->message;
        Console::error(ApplyOutput::rescanFailed(m_rescanError, m_report.commandsSent));
    }
}

// Each command sent, with what the verification of its line found out about it, as set-time
// and set-address log theirs: the log tells what took effect.
void ApplyCommand::logCommands(CommandLog *log)
{
    if (!log->isOpen())
        return;
    for (const ApplyLine &line : std::as_const(m_lines)) {
        const DeviceEntry *device = line.step.device ? &*line.step.device : nullptr;
        for (QJsonObject record : line.outcome.records) {
            const Verification verification
                = record.value(QStringLiteral("command")) == QLatin1String("set-address")
                ? Verdicts::ofAddress(*device, line.outcome, *line.step.line.newAddress,
                                      m_rescanError)
                : Verdicts::ofClock(*device, line.outcome, m_options.toleranceSeconds);
            record.insert(QStringLiteral("verify"), VerificationWords::toJson(verification));
            if (const auto failure = log->append(record, device->describe())) {
                Console::error(failure->message);
                ++m_report.notLogged;
            }
        }
    }
}

QList<ApplyLineResult> ApplyCommand::results() const
{
    QList<ApplyLineResult> results;
    for (const ApplyLine &line : m_lines)
        results.append(ApplyRules::result(line));
    return results;
}

// The result of every line and a summary on stdout; the exit status.
ExitStatus ApplyCommand::finish()
{
    m_report.lines = results();
    Console::result(ApplyOutput::write(m_report, m_options.format));
    return ApplyRules::exitStatus(m_report, !m_rescanError.isEmpty());
}
