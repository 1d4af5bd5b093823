#include "applycommand.h"

#include "addressprobe.h"
#include "console.h"
#include "scanrun.h"
#include "textescape.h"
#include "sendprogress.h"
#include "units.h"
#include "verdicts.h"
#include "verificationwords.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace {

using AddressRules::format;

QString offsetText(double seconds)
{
    return Units::signedSeconds(seconds, 3);
}

// Stable words for scripts: docs/cli.md lists them.
const char *const stateNames[] = { "skipped", "in-effect", "would-send", "done", "failed" };

} // namespace

ApplyCommand::ApplyCommand(const Options::Apply &options)
    : m_options(options)
{ }

Expected<ExitStatus> ApplyCommand::run()
{
    const Expected<QList<PlanLine>> planLines = readPlan();
    if (!planLines)
        return planLines.failure();
    CommandLog log;
    if (const auto failure = log.open(m_options.logPath, m_options.dryRun))
        return *failure;
    const Expected<ScanReport> scan = ScanRun::firstScan(m_options.probing);
    if (!scan)
        return scan.failure();

    const QList<PlanStep> steps
        = PlanCheck::check(*planLines, scan->devices, LocalInterfaces::ipv4Addresses());
    bool faulty = false;
    for (const PlanStep &step : steps) {
        Line line;
        line.step = step;
        m_lines.append(line);
        faulty = faulty || !step.sound();
    }
    if (faulty && !m_options.skipBad) {
        reportFaults(true);
        return finish(true, m_options.dryRun);
    }
    if (faulty)
        reportFaults(false);

    readClocksBefore();
    decide();
    holdBackTakenAddresses();
    if (m_options.dryRun)
        return finish(false, true);

    sendAndVerify(scan->scannedFrom);
    judge();
    logCommands(&log);
    const ExitStatus judged = finish(false, false);
    if (m_unlogged > 0)
        return ExitStatus::SentNotLogged;
    return m_rescanError.isEmpty() ? judged : ExitStatus::NetworkUnusable;
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
    for (const QString &warning : plan.warnings)
        Console::warning(warning);
    if (!plan.error.isEmpty() || plan.lines.isEmpty())
        return Failure {
            ExitStatus::PlanFaults,
            QStringLiteral("the plan %1 cannot be used: %2; nothing was sent")
                .arg(name, plan.error.isEmpty() ? QStringLiteral("it has no lines") : plan.error)
        };
    return plan.lines;
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

// A clock already within tolerance is in effect too: reads those the plan asks to set.
void ApplyCommand::readClocksBefore()
{
    QList<int> indexes;
    QList<DeviceEntry> devices;
    for (int i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines.at(i);
        if (line.step.sound() && line.step.line.setTime && line.step.device->reply.ntp) {
            indexes.append(i);
            devices.append(*line.step.device);
        }
    }
    if (devices.isEmpty())
        return;
    const QList<SntpQuery::Result> clocks
        = SendAndVerify::readClocks(devices, ClockSurvey::Settings());
    for (int i = 0; i < indexes.size(); ++i)
        m_lines[indexes.at(i)].clockBefore = clocks.at(i);
}

// What each sound line still needs sent.
void ApplyCommand::decide()
{
    for (Line &line : m_lines) {
        if (!line.step.sound())
            continue;
        line.sendAddress = line.step.line.newAddress && !line.step.addressInEffect();
        const bool clockRight = SendAndVerify::findClock(*line.step.device, line.clockBefore,
                                                         m_options.toleranceSeconds)
            == ClockFinding::Within;
        line.sendTime = line.step.line.setTime && !clockRight;
        line.state
            = line.sendAddress || line.sendTime ? Line::State::WouldSend : Line::State::InEffect;
    }
}

// The plan may be old: an address it gives that another host has taken since is asked about
// again right before sending, and such a line is not sent at all (it fails). A line that keeps
// the device's current address is not asked about. A device the plan moves still answers at its
// current address until it restarts: that answer does not hold back the line that takes the
// address over (a swap, a shift), unless the device's own line is held back, and it stays.
void ApplyCommand::holdBackTakenAddresses()
{
    using Place = QPair<quint32, quint32>; // the workstation address of a link, an address on it
    const auto moves = [](const Line &line) {
        return line.state == Line::State::WouldSend && line.sendAddress
            && *line.step.line.newAddress != line.step.device->reply.currentAddress;
    };
    QList<int> asked;
    QList<AddressProbe::Request> requests;
    QHash<Place, int> lineAt; // the line of the device heard at a place
    for (int i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines.at(i);
        if (line.step.device)
            lineAt.insert(
                { line.step.device->heardOn.ipv4(), line.step.device->reply.currentAddress }, i);
        if (moves(line)) {
            asked.append(i);
            requests.append({ *line.step.line.newAddress, line.step.device->heardOn });
        }
    }
    const QList<AddressHolder> holders = AddressProbe::probe(requests);
    m_addressesAsked = int(requests.size());
    // A line held back keeps its device where it is, which may hold back the line that was to
    // take its address: until no more lines are held back.
    for (bool heldBack = true; heldBack;) {
        heldBack = false;
        for (int k = 0; k < asked.size(); ++k) {
            Line &line = m_lines[asked.at(k)];
            const AddressHolder &holder = holders.at(k);
            if (line.state != Line::State::WouldSend || holder.state != AddressHolder::State::InUse)
                continue;
            const int leaving
                = lineAt.value({ requests.at(k).via.ipv4(), requests.at(k).address }, -1);
            if (!holder.workstation && leaving >= 0 && moves(m_lines.at(leaving)))
                continue;
            line.state = Line::State::Failed;
            line.sendAddress = line.sendTime = false;
            line.detail = QStringLiteral("not sent: %1")
                              .arg(AddressProbe::inUseText(requests.at(k).address, holder,
                                                           requests.at(k).via));
            if (leaving >= 0)
                line.detail += QStringLiteral("; %1 stays there: its line %2 is not sent")
                                   .arg(m_lines.at(leaving).step.device->describe())
                                   .arg(m_lines.at(leaving).step.line.lineNumber);
            heldBack = true;
        }
    }
}

// Sends what each line needs and verifies it all with one rescan and the clocks read back.
void ApplyCommand::sendAndVerify(const QList<LocalAddress> &from)
{
    QList<int> indexes;
    QList<CommandOrder> orders;
    for (int i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines.at(i);
        if (!line.sendAddress && !line.sendTime)
            continue;
        CommandOrder order { *line.step.device, std::nullopt, line.sendTime,
                             QJsonObject {
                                 { QStringLiteral("plan"), m_options.planPath },
                                 { QStringLiteral("plan_line"), line.step.line.lineNumber } } };
        if (line.sendAddress)
            order.newAddress = line.step.line.newAddress;
        indexes.append(i);
        orders.append(order);
    }
    SendAndVerify::Settings settings;
    settings.ratePerSecond = m_options.ratePerSecond;
    settings.probing = m_options.probing;
    settings.progress = SendProgress::show;
    SendAndVerify::Result result = SendAndVerify::send(orders, settings);
    SendAndVerify::verify(orders, from, settings, &result);
    for (int i = 0; i < indexes.size(); ++i)
        m_lines[indexes.at(i)].outcome = result.outcomes.at(i);
    m_commandsSent = result.commandsSent;
    m_sendMs = result.sendMs;
    if (result.rescanFailure) {
        m_rescanError = result.rescanFailure->message;
        Console::error(QStringLiteral("the scan to verify the plan failed: %1 (%2 command(s) "
                                      "were sent)")
                           .arg(m_rescanError)
                           .arg(m_commandsSent));
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
        const OrderOutcome &outcome = line.outcome;
        if (!outcome.sendError.isEmpty())
            faults.append(QStringLiteral("not sent: ") + outcome.sendError);
        // Without the rescan only an SNTP read can confirm a command: an address, or the
        // clock of a device with NTP off, stays unconfirmed.
        const bool sentAddress = outcome.sent.contains(QStringLiteral("set-address"));
        const bool unheard = !outcome.sent.isEmpty() && !outcome.heardAfter;
        if (unheard && m_rescanError.isEmpty())
            faults.append(QStringLiteral("it did not answer the scan after the command"));
        else if (unheard && (sentAddress || !line.step.device->reply.ntp))
            faults.append(
                QStringLiteral("sent, not verified: the rescan failed: %1").arg(m_rescanError));
        const quint32 planned = line.step.line.newAddress.value_or(0);
        if (line.sendAddress && outcome.heardAfter) {
            if (SendAndVerify::findAddress(outcome, planned, false) == AddressFinding::Stored)
                done.append(QStringLiteral("stored address %1").arg(format(planned)));
            else
                faults.append(QStringLiteral("it still stores %1, not %2")
                                  .arg(outcome.heardAfter->storedAddress(), format(planned)));
        }
        if (line.sendTime && outcome.sent.contains(QStringLiteral("set-time"))) {
            const std::optional<SntpQuery::Result> &clock = outcome.clockAfter;
            switch (
                SendAndVerify::findClock(*line.step.device, clock, m_options.toleranceSeconds)) {
            case ClockFinding::NtpOff:
                done.append(QStringLiteral("clock set (not read back: NTP is off on it)"));
                break;
            case ClockFinding::Unread:
                faults.append(QStringLiteral("its clock could not be read back over SNTP: %1")
                                  .arg(clock ? clock->error : QString()));
                break;
            case ClockFinding::Outside:
                faults.append(QStringLiteral("its clock is %1 from ours after the command "
                                             "(tolerance %2 s)")
                                  .arg(offsetText(clock->offsetSeconds))
                                  .arg(m_options.toleranceSeconds));
                break;
            case ClockFinding::Within:
                done.append(QStringLiteral("clock set, %1 from ours")
                                .arg(offsetText(clock->offsetSeconds)));
                break;
            }
        }
        if (line.step.addressInEffect())
            done.append(QStringLiteral("stored address %1 already").arg(format(planned)));
        line.state = faults.isEmpty() ? Line::State::Done : Line::State::Failed;
        line.detail = (faults.isEmpty() ? done : faults).join(QStringLiteral("; "));
    }
}

// Each command sent, with what the verification of its line found out about it, as set-time
// and set-address log theirs: the log tells what took effect.
void ApplyCommand::logCommands(CommandLog *log)
{
    if (!log->isOpen())
        return;
    for (const Line &line : std::as_const(m_lines)) {
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
                ++m_unlogged;
            }
        }
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
                         { QStringLiteral("sent"),
                           QJsonArray::fromStringList(line.outcome.sent) } };
    if (line.step.line.newAddress)
        object.insert(QStringLiteral("new_address"), format(*line.step.line.newAddress));
    if (line.step.device) {
        object.insert(QStringLiteral("name"), QString::fromLatin1(line.step.device->name()));
        object.insert(QStringLiteral("address"), line.step.device->address());
        object.insert(QStringLiteral("heard_on"), line.step.device->heardOn.address.toString());
    }
    if (line.outcome.heardAfter)
        object.insert(QStringLiteral("stored_address_after"),
                      line.outcome.heardAfter->storedAddress());
    if (line.outcome.clockAfter && line.outcome.clockAfter->answered)
        object.insert(QStringLiteral("offset_s_after"), line.outcome.clockAfter->offsetSeconds);
    if (!line.detail.isEmpty())
        object.insert(QStringLiteral("detail"), line.detail);
    return object;
}

// The result of every line and a summary on stdout; the exit status.
// All a dry run sent, which reads and changes nothing on a device: "sent only the scan's
// probes, 1 SNTP request, 2 addresses asked about (...)".
QString ApplyCommand::dryRunReads() const
{
    int requests = 0;
    for (const Line &line : std::as_const(m_lines))
        requests += line.clockBefore ? line.clockBefore->attempts : 0;
    return QStringLiteral("sent only the scan's probes, %1 SNTP request(s) to read clocks and %2 "
                          "new address(es) asked about (a datagram to UDP port 9 of each, then "
                          "the kernel's ARP requests)")
        .arg(requests)
        .arg(m_addressesAsked);
}

ExitStatus ApplyCommand::finish(bool refused, bool dryRun)
{
    int counts[5] = {};
    int verified = 0;
    int changed = 0;
    for (const Line &line : std::as_const(m_lines)) {
        ++counts[int(line.state)];
        if (!line.outcome.sent.isEmpty()) {
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
        summary += QStringLiteral("; dry run: %1 line(s) would send, no command sent; %2")
                       .arg(counts[int(Line::State::WouldSend)])
                       .arg(dryRunReads());
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
    if (m_unlogged > 0)
        summary += QStringLiteral("; %1 command(s) sent, not logged").arg(m_unlogged);

    if (m_options.json) {
        QJsonArray lines;
        for (const Line &line : std::as_const(m_lines))
            lines.append(lineJson(line));
        const QJsonObject document {
            { QStringLiteral("format"), QStringLiteral("setuptool-cli/apply") },
            { QStringLiteral("version"), 1 },
            { QStringLiteral("plan"), m_options.planPath },
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
                            { QStringLiteral("not_logged"), m_unlogged },
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
