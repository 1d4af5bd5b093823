#include "applycommand.h"

#include "clocksurvey.h"
#include "commandsender.h"
#include "console.h"
#include "pacer.h"
#include "scanrun.h"
#include "textescape.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <cmath>
#include <cstdio>

namespace {

using AddressRules::format;

QString offsetText(double seconds)
{
    return QStringLiteral("%1%2 s")
        .arg(seconds >= 0 ? QStringLiteral("+") : QString())
        .arg(seconds, 0, 'f', 3);
}

// Stable words for scripts: docs/cli.md lists them.
const char *const stateNames[] = { "skipped", "in-effect", "would-send", "done", "failed" };

} // namespace

ApplyCommand::ApplyCommand(const Invocation &invocation)
    : m_invocation(invocation)
{ }

ExitStatus ApplyCommand::run()
{
    QList<PlanLine> planLines;
    ExitStatus status = ExitStatus::Success;
    if (!readPlan(&planLines, &status))
        return status;

    // The log is opened before anything goes out, so that one that cannot be written stops it.
    QString error;
    CommandLog log;
    if (!m_invocation.logPath.isEmpty() && !m_invocation.dryRun
        && !log.open(m_invocation.logPath, &error)) {
        Console::error(error);
        return ExitStatus::Usage;
    }
    const std::optional<ScanReport> found = ScanRun::firstScan(m_invocation, &status);
    if (!found)
        return status;
    const ScanReport &scan = *found;

    const QList<PlanStep> steps
        = PlanCheck::check(planLines, scan.devices, LocalInterfaces::ipv4Addresses());
    bool faulty = false;
    for (const PlanStep &step : steps) {
        Line line;
        line.step = step;
        m_lines.append(line);
        faulty = faulty || !step.sound();
    }
    if (faulty && !m_invocation.skipBad) {
        reportFaults(true);
        return finish(true, m_invocation.dryRun);
    }
    if (faulty)
        reportFaults(false);

    // A clock already within tolerance is in effect too; read those the plan asks to set.
    QList<int> clocks;
    for (int i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines.at(i);
        if (line.step.sound() && line.step.line.setTime && line.step.device->reply.ntp)
            clocks.append(i);
    }
    readClocks(clocks, false);
    decide();
    if (m_invocation.dryRun)
        return finish(false, true);

    send(log.isOpen() ? &log : nullptr);
    if (m_commandsSent > 0)
        rescan(scan.scannedFrom);
    // Clocks are read over SNTP, which needs no rescan: with the rescan failed they still tell
    // what became of the set-time commands.
    clocks.clear();
    for (int i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines.at(i);
        if (line.sent.contains(QStringLiteral("set-time")) && line.step.device->reply.ntp)
            clocks.append(i);
    }
    readClocks(clocks, true);
    judge();
    const ExitStatus judged = finish(false, false);
    return m_rescanError.isEmpty() ? judged : ExitStatus::NetworkUnusable;
}

// The plan file (or stdin for "-"), read whole. A file that cannot be read is bad usage; a
// plan that cannot be read as a plan is a plan fault. Either way nothing is scanned or sent.
bool ApplyCommand::readPlan(QList<PlanLine> *lines, ExitStatus *status) const
{
    const bool fromStdin = m_invocation.planPath == QLatin1String("-");
    const QString name = fromStdin ? QStringLiteral("on stdin") : m_invocation.planPath;
    QFile file;
    const bool opened = fromStdin
        ? file.open(stdin, QIODevice::ReadOnly)
        : (file.setFileName(m_invocation.planPath), file.open(QIODevice::ReadOnly));
    if (!opened) {
        Console::error(QStringLiteral("cannot read the plan %1: %2").arg(name, file.errorString()));
        *status = ExitStatus::Usage;
        return false;
    }
    const Plan::Read plan = Plan::read(file.readAll());
    for (const QString &warning : plan.warnings)
        Console::warning(warning);
    if (!plan.error.isEmpty() || plan.lines.isEmpty()) {
        Console::error(
            QStringLiteral("the plan %1 cannot be used: %2; nothing was sent")
                .arg(name, plan.error.isEmpty() ? QStringLiteral("it has no lines") : plan.error));
        *status = ExitStatus::PlanFaults;
        return false;
    }
    *lines = plan.lines;
    return true;
}

// Every fault of every line, on stderr.
void ApplyCommand::reportFaults(bool refused) const
{
    int faultyLines = 0;
    for (const Line &line : m_lines)
        faultyLines += line.step.sound() ? 0 : 1;
    Console::error(refused ? QStringLiteral("the plan is refused, nothing was sent: %1 of %2 "
                                            "line(s) have faults (--skip-bad sends the others):")
                                 .arg(faultyLines)
                                 .arg(m_lines.size())
                           : QStringLiteral("skipping %1 of %2 line(s) with faults:")
                                 .arg(faultyLines)
                                 .arg(m_lines.size()));
    for (const Line &line : m_lines) {
        for (const QString &fault : line.step.faults)
            Console::error(QStringLiteral("  %1: %2").arg(line.step.where(), fault));
    }
}

// Reads the clocks of the given lines' devices at once; before sending when `after` is false.
void ApplyCommand::readClocks(const QList<int> &indexes, bool after)
{
    if (indexes.isEmpty())
        return;
    QList<ClockSurvey::Target> targets;
    for (const int index : indexes) {
        const DeviceEntry &device = *m_lines.at(index).step.device;
        targets.append({ QHostAddress(device.reply.currentAddress), device.heardOn.address });
    }
    ClockSurvey survey { ClockSurvey::Settings() };
    QEventLoop loop;
    QObject::connect(&survey, &ClockSurvey::finished, &loop, &QEventLoop::quit);
    survey.start(targets);
    if (survey.done() < int(targets.size()))
        loop.exec();
    for (int i = 0; i < indexes.size(); ++i)
        (after ? m_lines[indexes.at(i)].clockAfter : m_lines[indexes.at(i)].clockBefore)
            = survey.results().at(i);
}

// What each sound line still needs sent.
void ApplyCommand::decide()
{
    for (Line &line : m_lines) {
        if (!line.step.sound())
            continue;
        line.sendAddress = line.step.line.newAddress && !line.step.addressInEffect();
        const bool clockRight = line.clockBefore && line.clockBefore->answered
            && std::fabs(line.clockBefore->offsetSeconds) <= m_invocation.toleranceSeconds;
        line.sendTime = line.step.line.setTime && !clockRight;
        line.state
            = line.sendAddress || line.sendTime ? Line::State::WouldSend : Line::State::InEffect;
    }
}

void ApplyCommand::send(CommandLog *log)
{
    QList<QPair<int, bool>> queue; // line, and whether the command is its address
    for (int i = 0; i < m_lines.size(); ++i) {
        if (m_lines.at(i).sendAddress)
            queue.append({ i, true });
        if (m_lines.at(i).sendTime)
            queue.append({ i, false });
    }
    if (queue.isEmpty())
        return;
    Pacer pacer(m_invocation.ratePerSecond);
    QEventLoop loop;
    QObject::connect(&pacer, &Pacer::finished, &loop, &QEventLoop::quit);
    pacer.start(int(queue.size()), [&](int index) {
        sendOne(queue.at(index).first, queue.at(index).second, log);
        if (Console::stderrIsTerminal() && index % 50 == 0)
            Console::progress(
                QStringLiteral("sending: %1 of %2 command(s)").arg(index + 1).arg(queue.size()));
    });
    loop.exec();
    Console::progressDone();
    m_sendMs = pacer.elapsedMs();
}

void ApplyCommand::sendOne(int index, bool address, CommandLog *log)
{
    Line &line = m_lines[index];
    const DeviceEntry &device = *line.step.device;
    const qint64 seconds = QDateTime::currentSecsSinceEpoch();
    const QByteArray datagram = address
        ? DeviceProtocol::settingsCommand(*line.step.line.newAddress)
        : DeviceProtocol::setTimeCommand(seconds);
    const QString name = address ? QStringLiteral("set-address") : QStringLiteral("set-time");
    QString error;
    if (!CommandSender::send(datagram, device.heardOn, device.reply.currentAddress, &error)) {
        line.sendError = error;
        return;
    }
    ++m_commandsSent;
    line.sent.append(name);
    if (!log)
        return;
    QJsonObject record = CommandLog::record(name, device, datagram);
    if (address)
        record.insert(QStringLiteral("new_address"), format(*line.step.line.newAddress));
    else
        record.insert(QStringLiteral("seconds"), seconds);
    record.insert(QStringLiteral("plan"), m_invocation.planPath);
    record.insert(QStringLiteral("plan_line"), line.step.line.lineNumber);
    if (!log->append(record, &error))
        Console::error(error + QStringLiteral(" (the command was sent)"));
}

// One scan after sending, ended as soon as every device commanded has answered with what was
// planned.
void ApplyCommand::rescan(const QList<LocalAddress> &from)
{
    QHash<QPair<qint32, quint32>, quint32> awaited; // (serial, current address) -> stored
    for (const Line &line : std::as_const(m_lines)) {
        if (line.sent.isEmpty())
            continue;
        const DeviceProtocol::Reply &reply = line.step.device->reply;
        awaited.insert({ reply.serial, reply.currentAddress },
                       line.sendAddress ? *line.step.line.newAddress : reply.storedAddress);
    }
    QSet<QPair<qint32, quint32>> confirmed;
    ScanReport rescan;
    QString error;
    const bool scanned = ScanRun::run(
        from, m_invocation, &rescan, &error, [&](const Sighting &sighting) {
            const QPair<qint32, quint32> key(sighting.reply.serial, sighting.reply.currentAddress);
            const auto wanted = awaited.constFind(key);
            if (wanted != awaited.cend() && *wanted == sighting.reply.storedAddress)
                confirmed.insert(key);
            return confirmed.size() == awaited.size();
        });
    if (!scanned) {
        Console::error(QStringLiteral("the scan to verify the plan failed: %1 (%2 command(s) "
                                      "were sent)")
                           .arg(error)
                           .arg(m_commandsSent));
        m_rescanError = error;
        return;
    }
    for (Line &line : m_lines) {
        if (line.sent.isEmpty())
            continue;
        const DeviceProtocol::Reply &reply = line.step.device->reply;
        for (const DeviceEntry &entry : std::as_const(rescan.devices)) {
            if (entry.reply.serial == reply.serial
                && entry.reply.currentAddress == reply.currentAddress)
                line.heardAfter = entry;
        }
    }
}

// Whether each line that sent something took effect.
void ApplyCommand::judge()
{
    for (Line &line : m_lines) {
        if (line.state != Line::State::WouldSend)
            continue;
        QStringList faults;
        QStringList done;
        if (!line.sendError.isEmpty())
            faults.append(QStringLiteral("not sent: ") + line.sendError);
        // Without the rescan only an SNTP read can confirm a command: an address, or the
        // clock of a device with NTP off, stays unconfirmed.
        const bool sentAddress = line.sent.contains(QStringLiteral("set-address"));
        const bool unheard = !line.sent.isEmpty() && !line.heardAfter;
        if (unheard && m_rescanError.isEmpty())
            faults.append(QStringLiteral("it did not answer the scan after the command"));
        else if (unheard && (sentAddress || !line.step.device->reply.ntp))
            faults.append(
                QStringLiteral("sent, not verified: the rescan failed: %1").arg(m_rescanError));
        const quint32 planned = line.step.line.newAddress.value_or(0);
        if (line.sendAddress && line.heardAfter) {
            if (line.heardAfter->reply.storedAddress == planned)
                done.append(QStringLiteral("stored address %1").arg(format(planned)));
            else
                faults.append(QStringLiteral("it still stores %1, not %2")
                                  .arg(line.heardAfter->storedAddress(), format(planned)));
        }
        if (line.sendTime && line.sent.contains(QStringLiteral("set-time"))) {
            if (!line.step.device->reply.ntp)
                done.append(QStringLiteral("clock set (not read back: NTP is off on it)"));
            else if (!line.clockAfter || !line.clockAfter->answered)
                faults.append(QStringLiteral("its clock could not be read back over SNTP: %1")
                                  .arg(line.clockAfter ? line.clockAfter->error : QString()));
            else if (std::fabs(line.clockAfter->offsetSeconds) > m_invocation.toleranceSeconds)
                faults.append(QStringLiteral("its clock is %1 from ours after the command "
                                             "(tolerance %2 s)")
                                  .arg(offsetText(line.clockAfter->offsetSeconds))
                                  .arg(m_invocation.toleranceSeconds));
            else
                done.append(QStringLiteral("clock set, %1 from ours")
                                .arg(offsetText(line.clockAfter->offsetSeconds)));
        }
        if (line.step.addressInEffect())
            done.append(QStringLiteral("stored address %1 already").arg(format(planned)));
        line.state = faults.isEmpty() ? Line::State::Done : Line::State::Failed;
        line.detail = (faults.isEmpty() ? done : faults).join(QStringLiteral("; "));
    }
}

QString ApplyCommand::lineText(const Line &line) const
{
    const QString device = line.step.device
        ? line.step.device->describe()
        : QStringLiteral("serial %1").arg(line.step.line.serial);
    QString detail = line.detail;
    if (line.state == Line::State::Skipped)
        detail = line.step.faults.join(QStringLiteral("; "));
    if (line.state == Line::State::InEffect) {
        QStringList already;
        if (line.step.line.newAddress)
            already.append(QStringLiteral("it stores %1").arg(format(*line.step.line.newAddress)));
        if (line.step.line.setTime)
            already.append(QStringLiteral("its clock is %1 from ours")
                               .arg(offsetText(line.clockBefore->offsetSeconds)));
        detail = QStringLiteral("already in effect, nothing sent: %1")
                     .arg(already.join(QStringLiteral(", ")));
    }
    if (line.state == Line::State::WouldSend) {
        QStringList would;
        if (line.sendAddress)
            would.append(QStringLiteral("set-address %1").arg(format(*line.step.line.newAddress)));
        if (line.sendTime)
            would.append(QStringLiteral("set-time"));
        detail
            = QStringLiteral("would send %1 from %2")
                  .arg(would.join(QStringLiteral(" and ")), line.step.device->heardOn.describe());
    }
    return QStringLiteral("%1 line %2: %3: %4")
        .arg(QString::fromLatin1(stateNames[int(line.state)]).leftJustified(10))
        .arg(line.step.line.lineNumber)
        .arg(device, detail);
}

QJsonObject ApplyCommand::lineJson(const Line &line) const
{
    QJsonObject object { { QStringLiteral("line"), line.step.line.lineNumber },
                         { QStringLiteral("serial"), line.step.line.serial },
                         { QStringLiteral("state"), QLatin1String(stateNames[int(line.state)]) },
                         { QStringLiteral("set_time"), line.step.line.setTime },
                         { QStringLiteral("faults"), QJsonArray::fromStringList(line.step.faults) },
                         { QStringLiteral("sent"), QJsonArray::fromStringList(line.sent) } };
    if (line.step.line.newAddress)
        object.insert(QStringLiteral("new_address"), format(*line.step.line.newAddress));
    if (line.step.device) {
        object.insert(QStringLiteral("name"), QString::fromLatin1(line.step.device->name()));
        object.insert(QStringLiteral("address"), line.step.device->address());
        object.insert(QStringLiteral("heard_on"), line.step.device->heardOn.address.toString());
    }
    if (line.heardAfter)
        object.insert(QStringLiteral("stored_address_after"), line.heardAfter->storedAddress());
    if (line.clockAfter && line.clockAfter->answered)
        object.insert(QStringLiteral("offset_s_after"), line.clockAfter->offsetSeconds);
    if (!line.detail.isEmpty())
        object.insert(QStringLiteral("detail"), line.detail);
    return object;
}

// The result of every line and a summary on stdout; the exit status.
ExitStatus ApplyCommand::finish(bool refused, bool dryRun)
{
    int counts[5] = {};
    int verified = 0;
    int changed = 0;
    for (const Line &line : std::as_const(m_lines)) {
        ++counts[int(line.state)];
        if (!line.sent.isEmpty()) {
            ++changed;
            verified += line.state == Line::State::Done ? 1 : 0;
        }
    }
    const int skipped = counts[int(Line::State::Skipped)];
    const int failed = counts[int(Line::State::Failed)];
    const double seconds = m_sendMs / 1000.0;
    QString summary
        = QStringLiteral("%1 line(s): %2 done, %3 already in effect, %4 failed, %5 skipped")
              .arg(m_lines.size())
              .arg(counts[int(Line::State::Done)])
              .arg(counts[int(Line::State::InEffect)])
              .arg(failed)
              .arg(skipped);
    if (refused)
        summary = QStringLiteral("plan refused: nothing sent");
    else if (dryRun)
        summary += QStringLiteral("; dry run: %1 line(s) would send, no command sent")
                       .arg(counts[int(Line::State::WouldSend)]);
    else if (m_commandsSent == 0)
        summary += QStringLiteral("; nothing sent");
    else
        summary += QStringLiteral("; %1 command(s) sent in %2 s (%3/s); %4 of %5 changed "
                                  "line(s) verified")
                       .arg(m_commandsSent)
                       .arg(seconds, 0, 'f', 2)
                       .arg(seconds > 0 ? qRound(m_commandsSent / seconds) : m_commandsSent)
                       .arg(verified)
                       .arg(changed);

    if (m_invocation.json) {
        QJsonArray lines;
        for (const Line &line : std::as_const(m_lines))
            lines.append(lineJson(line));
        const QJsonObject document {
            { QStringLiteral("format"), QStringLiteral("setuptool-cli/apply") },
            { QStringLiteral("version"), 1 },
            { QStringLiteral("plan"), m_invocation.planPath },
            { QStringLiteral("refused"), refused },
            { QStringLiteral("dry_run"), dryRun },
            { QStringLiteral("lines"), lines },
            { QStringLiteral("summary"),
              QJsonObject { { QStringLiteral("lines"), int(m_lines.size()) },
                            { QStringLiteral("done"), counts[int(Line::State::Done)] },
                            { QStringLiteral("in_effect"), counts[int(Line::State::InEffect)] },
                            { QStringLiteral("would_send"), counts[int(Line::State::WouldSend)] },
                            { QStringLiteral("failed"), failed },
                            { QStringLiteral("skipped"), skipped },
                            { QStringLiteral("commands_sent"), m_commandsSent },
                            { QStringLiteral("send_ms"), m_sendMs },
                            { QStringLiteral("verified"), verified },
                            { QStringLiteral("text"), summary } } },
        };
        Console::result(TextEscape::jsonWithoutControls(QJsonDocument(document).toJson()));
    } else {
        QString text;
        if (!refused) {
            for (const Line &line : std::as_const(m_lines))
                text += lineText(line) + QLatin1Char('\n');
        }
        Console::result(text + summary + QLatin1Char('\n'));
    }
    if (refused)
        return ExitStatus::PlanFaults;
    return failed + skipped > 0 ? ExitStatus::VerifyFailed : ExitStatus::Success;
}
