#include "applyrules.h"

#include "units.h"

#include <QHash>
#include <QJsonObject>
#include <QPair>

namespace {

using AddressRules::format;
using State = ApplyLineResult::State;

QString offsetText(double seconds)
{
    return Units::signedSeconds(seconds, 3);
}

// The line sends its device a new address, one it does not answer at now.
bool moves(const ApplyLine &line)
{
    return line.state == State::WouldSend && line.sendAddress
        && *line.step.line.newAddress != line.step.device->reply.currentAddress;
}

} // namespace

namespace ApplyRules {

QList<ApplyLine> lines(const QList<PlanStep> &steps)
{
    QList<ApplyLine> lines;
    for (const PlanStep &step : steps) {
        ApplyLine line;
        line.step = step;
        lines.append(line);
    }
    return lines;
}

int faultyLines(const QList<ApplyLine> &lines)
{
    int faulty = 0;
    for (const ApplyLine &line : lines)
        faulty += line.step.sound() ? 0 : 1;
    return faulty;
}

void refuse(QList<ApplyLine> *lines)
{
    for (ApplyLine &line : *lines)
        line.state = line.step.sound() ? State::NotSent : State::Faulty;
}

void readClocksBefore(QList<ApplyLine> *lines)
{
    QList<int> indexes;
    QList<DeviceEntry> devices;
    for (int i = 0; i < lines->size(); ++i) {
        const ApplyLine &line = lines->at(i);
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
        (*lines)[indexes.at(i)].clockBefore = clocks.at(i);
}

void decide(ApplyLine *line, double toleranceSeconds)
{
    if (!line->step.sound())
        return;
    line->sendAddress = line->step.line.newAddress && !line->step.addressInEffect();
    const bool clockRight
        = SendAndVerify::findClock(*line->step.device, line->clockBefore, toleranceSeconds)
        == ClockFinding::Within;
    line->sendTime = line->step.line.setTime && !clockRight;
    line->state = line->sendAddress || line->sendTime ? State::WouldSend : State::InEffect;
}

// A line that keeps the device's current address is not asked about.
AddressQuestions addressQuestions(const QList<ApplyLine> &lines)
{
    AddressQuestions questions;
    for (int i = 0; i < lines.size(); ++i) {
        const ApplyLine &line = lines.at(i);
        if (moves(line)) {
            questions.lines.append(i);
            questions.requests.append({ *line.step.line.newAddress, line.step.device->heardOn });
        }
    }
    return questions;
}

// A line held back is not sent at all (it fails), and it keeps its device where it is, which may
// hold back the line that was to take its address: until no more lines are held back.
void holdBack(QList<ApplyLine> *lines, const AddressQuestions &questions,
              const QList<AddressHolder> &holders)
{
    using Place = QPair<quint32, quint32>; // the workstation address of a link, an address on it
    QHash<Place, int> lineAt; // the line of the device heard at a place
    for (int i = 0; i < lines->size(); ++i) {
        const ApplyLine &line = lines->at(i);
        if (line.step.device)
            lineAt.insert(
                { line.step.device->heardOn.ipv4(), line.step.device->reply.currentAddress }, i);
    }
    for (bool heldBack = true; heldBack;) {
        heldBack = false;
        for (int k = 0; k < questions.lines.size(); ++k) {
            ApplyLine &line = (*lines)[questions.lines.at(k)];
            const AddressHolder &holder = holders.at(k);
            const AddressProbe::Request &request = questions.requests.at(k);
            if (line.state != State::WouldSend || holder.state != AddressHolder::State::InUse)
                continue;
            const int leaving = lineAt.value({ request.via.ipv4(), request.address }, -1);
            if (!holder.workstation && leaving >= 0 && moves(lines->at(leaving)))
                continue;
            line.state = State::Failed;
            line.sendAddress = line.sendTime = false;
            QList<DeviceEntry> there;
            if (leaving >= 0)
                there.append(*lines->at(leaving).step.device);
            line.heldBack = ApplyLineResult::HeldBack {
                AddressProbe::holding(request, holder, there), {}, 0
            };
            if (leaving >= 0) {
                line.heldBack->staying = lines->at(leaving).step.device->describe();
                line.heldBack->stayingLine = lines->at(leaving).step.line.lineNumber;
            }
            heldBack = true;
        }
    }
}

Orders orders(const QList<ApplyLine> &lines, const QString &planPath)
{
    Orders orders;
    for (int i = 0; i < lines.size(); ++i) {
        const ApplyLine &line = lines.at(i);
        if (!line.sendAddress && !line.sendTime)
            continue;
        CommandOrder order { *line.step.device, std::nullopt, line.sendTime,
                             QJsonObject {
                                 { QStringLiteral("plan"), planPath },
                                 { QStringLiteral("plan_line"), line.step.line.lineNumber } } };
        if (line.sendAddress)
            order.newAddress = line.step.line.newAddress;
        orders.lines.append(i);
        orders.orders.append(order);
    }
    return orders;
}

void takeOutcomes(QList<ApplyLine> *lines, const Orders &orders,
                  const SendAndVerify::Result &result)
{
    for (int i = 0; i < orders.lines.size(); ++i)
        (*lines)[orders.lines.at(i)].outcome = result.outcomes.at(i);
}

void judge(ApplyLine *line, const QString &rescanError, double toleranceSeconds)
{
    if (line->state != State::WouldSend)
        return;
    QStringList found; // what was found of each command, in order
    bool failed = false;
    bool unverified = false;
    const auto fail = [&](const QString &what) {
        found.append(what);
        failed = true;
    };
    const auto cannotVerify = [&](const QString &what) {
        found.append(what);
        unverified = true;
    };
    const OrderOutcome &outcome = line->outcome;
    if (!outcome.sendError.isEmpty())
        fail(QStringLiteral("not sent: ") + outcome.sendError);
    // Without the rescan only an SNTP read can confirm a command: an address, or the clock of a
    // device with NTP off, stays unconfirmed.
    const bool sentAddress = outcome.sent.contains(QStringLiteral("set-address"));
    const bool unheard = !outcome.sent.isEmpty() && !outcome.heardAfter;
    if (unheard && rescanError.isEmpty())
        cannotVerify(QStringLiteral("cannot verify: it did not answer the scan after the command"));
    else if (unheard && (sentAddress || !line->step.device->reply.ntp))
        cannotVerify(QStringLiteral("sent, not verified: the rescan failed: %1").arg(rescanError));
    const quint32 planned = line->step.line.newAddress.value_or(0);
    if (line->sendAddress && outcome.heardAfter) {
        if (SendAndVerify::findAddress(outcome, planned, false) == AddressFinding::Stored)
            found.append(QStringLiteral("stored address %1").arg(format(planned)));
        else
            fail(QStringLiteral("it still stores %1, not %2")
                     .arg(outcome.heardAfter->storedAddress(), format(planned)));
    }
    if (line->sendTime && outcome.sent.contains(QStringLiteral("set-time"))) {
        const std::optional<SntpQuery::Result> &clock = outcome.clockAfter;
        switch (SendAndVerify::findClock(*line->step.device, clock, toleranceSeconds)) {
        case ClockFinding::NtpOff:
            // Only the rescan can tell of such a device; one unheard is said above.
            if (!unheard)
                found.append(QStringLiteral("clock set (not read back: NTP is off on it)"));
            break;
        case ClockFinding::Unread:
            cannotVerify(QStringLiteral("clock: cannot verify over SNTP, %1")
                             .arg(clock ? clock->error : QString()));
            break;
        case ClockFinding::Outside:
            fail(QStringLiteral("its clock is %1 from ours after the command (tolerance %2 s)")
                     .arg(offsetText(clock->offsetSeconds))
                     .arg(toleranceSeconds));
            break;
        case ClockFinding::Within:
            found.append(
                QStringLiteral("clock set, %1 from ours").arg(offsetText(clock->offsetSeconds)));
            break;
        }
    }
    if (line->step.addressInEffect())
        found.append(QStringLiteral("stored address %1 already").arg(format(planned)));
    line->state = failed ? State::Failed : unverified ? State::CannotVerify : State::Done;
    line->detail = found.join(QStringLiteral("; "));
}

ApplyLineResult result(const ApplyLine &line)
{
    ApplyLineResult result;
    result.lineNumber = line.step.line.lineNumber;
    result.serial = line.step.line.serial;
    result.where = line.step.where();
    result.newAddress = line.step.line.newAddress;
    result.setTime = line.step.line.setTime;
    result.faults = line.step.faults;
    if (const std::optional<DeviceEntry> &device = line.step.device)
        result.device
            = ApplyLineResult::Device { device->describe(), QString::fromLatin1(device->name()),
                                        device->address(), device->heardOn };
    result.state = line.state;
    result.sendAddress = line.sendAddress;
    result.sendTime = line.sendTime;
    if (line.clockBefore)
        result.offsetBefore = line.clockBefore->offsetSeconds;
    result.sent = line.outcome.sent;
    if (line.outcome.heardAfter)
        result.storedAddressAfter = line.outcome.heardAfter->storedAddress();
    if (line.outcome.clockAfter && line.outcome.clockAfter->answered)
        result.offsetAfter = line.outcome.clockAfter->offsetSeconds;
    result.heldBack = line.heldBack;
    result.detail = line.detail;
    return result;
}

int sntpRequests(const QList<ApplyLine> &lines)
{
    int requests = 0;
    for (const ApplyLine &line : lines)
        requests += line.clockBefore ? line.clockBefore->attempts : 0;
    return requests;
}

ExitStatus exitStatus(const ApplyReport &report, bool rescanFailed)
{
    if (report.refused)
        return ExitStatus::PlanFaults;
    if (report.notLogged > 0)
        return ExitStatus::SentNotLogged;
    if (rescanFailed)
        return ExitStatus::NetworkUnusable;
    if (report.count(State::Failed) + report.count(State::Skipped) > 0)
        return ExitStatus::VerifyFailed;
    return report.count(State::CannotVerify) > 0 ? ExitStatus::CannotVerify : ExitStatus::Success;
}

} // namespace ApplyRules
