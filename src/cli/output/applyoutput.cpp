#include "applyoutput.h"

#include "addressrules.h"
#include "addresswords.h"
#include "csvtable.h"
#include "jsontext.h"
#include "units.h"

#include <QJsonArray>

#include <algorithm>
#include <string>

namespace {

using AddressRules::format;
using State = ApplyLineResult::State;

QString offsetText(double seconds)
{
    return Units::signedSeconds(seconds, 3);
}

// Stable words for scripts: docs/cli.md lists them, for JSON and for the text.
const char *const stateNames[] = { "skipped",    "faulty", "not-sent", "in-effect",
                                   "would-send", "done",   "failed",   "cannot-verify" };
constexpr const char *stateTexts[] = { "skipped",    "faulty", "not sent", "in-effect",
                                       "would-send", "done",   "failed",   "cannot verify" };

// The text's state column is as wide as its widest word, so that "line N" starts alike on
// every line.
constexpr int stateWidth()
{
    std::size_t widest = 0;
    for (const char *text : stateTexts)
        widest = std::max(widest, std::char_traits<char>::length(text));
    return int(widest);
}

QLatin1String stateName(State state)
{
    return QLatin1String(stateNames[int(state)]);
}

// What a judged line says took effect or failed; a line held back, why it was not sent.
QString judgedDetail(const ApplyLineResult &line)
{
    if (!line.heldBack)
        return line.detail;
    QString detail
        = QStringLiteral("not sent: %1").arg(AddressWords::inUse(line.heldBack->holding));
    if (!line.heldBack->staying.isEmpty())
        detail += QStringLiteral("; %1 stays there: its line %2 is not sent")
                      .arg(line.heldBack->staying)
                      .arg(line.heldBack->stayingLine);
    return detail;
}

// What a line with nothing judged yet says: its faults, what is in effect, what it would send.
QString detailOf(const ApplyLineResult &line)
{
    switch (line.state) {
    case State::Skipped:
    case State::Faulty:
        return line.faults.join(QStringLiteral("; "));
    case State::NotSent:
        return QStringLiteral("sound, not sent: the plan is refused");
    case State::InEffect: {
        QStringList already;
        if (line.newAddress)
            already.append(QStringLiteral("it stores %1").arg(format(*line.newAddress)));
        if (line.setTime)
            already.append(QStringLiteral("its clock is %1 from ours")
                               .arg(offsetText(line.offsetBefore.value_or(0.0))));
        return QStringLiteral("already in effect, nothing sent: %1")
            .arg(already.join(QStringLiteral(", ")));
    }
    case State::WouldSend: {
        QStringList would;
        if (line.sendAddress)
            would.append(QStringLiteral("set-address %1").arg(format(*line.newAddress)));
        if (line.sendTime)
            would.append(QStringLiteral("set-time"));
        return QStringLiteral("would send %1 from %2")
            .arg(would.join(QStringLiteral(" and ")), line.device->heardOn.describe());
    }
    case State::Done:
    case State::Failed:
    case State::CannotVerify:
        break;
    }
    return judgedDetail(line);
}

// All a dry run sent, which reads and changes nothing on a device.
QString dryRunReads(const ApplyReport &report)
{
    return QStringLiteral("sent only the scan's probes, %1 SNTP request(s) to read clocks and %2 "
                          "new address(es) asked about (a datagram to UDP port 9 of each, then "
                          "the kernel's ARP requests)")
        .arg(report.sntpRequests)
        .arg(report.addressesAsked);
}

// The rate asked, and the rate reached when the sending took long enough to tell: the pacer
// sends a burst at once, so over less than a second the rate reached says nothing.
QString rates(const ApplyReport &report)
{
    const double seconds = report.sendMs / 1000.0;
    QString rates = QStringLiteral("rate limit %1/s").arg(report.rateLimit);
    if (seconds >= 1)
        rates += QStringLiteral(", reached %1/s").arg(qRound(report.commandsSent / seconds));
    return rates;
}

} // namespace

namespace ApplyOutput {

QString lineText(const ApplyLineResult &line)
{
    const QString device
        = line.device ? line.device->described : QStringLiteral("serial %1").arg(line.serial);
    return QStringLiteral("%1 line %2: %3: %4")
        .arg(QString::fromLatin1(stateTexts[int(line.state)]).leftJustified(stateWidth()))
        .arg(line.lineNumber)
        .arg(device, detailOf(line));
}

QJsonObject lineJson(const ApplyLineResult &line)
{
    // Every line has every key; what is not known or does not apply is null.
    const auto text
        = [](const QString &value) { return value.isEmpty() ? QJsonValue() : QJsonValue(value); };
    const std::optional<ApplyLineResult::Device> &device = line.device;
    return { { QStringLiteral("line"), line.lineNumber },
             { QStringLiteral("serial"), line.serial },
             { QStringLiteral("state"), stateName(line.state) },
             { QStringLiteral("set_time"), line.setTime },
             { QStringLiteral("faults"), QJsonArray::fromStringList(line.faults) },
             { QStringLiteral("sent"), QJsonArray::fromStringList(line.sent) },
             { QStringLiteral("new_address"),
               line.newAddress ? QJsonValue(format(*line.newAddress)) : QJsonValue() },
             { QStringLiteral("name"), device ? QJsonValue(device->name) : QJsonValue() },
             { QStringLiteral("address"), device ? QJsonValue(device->address) : QJsonValue() },
             { QStringLiteral("heard_on"),
               device ? QJsonValue(device->heardOn.toJson()) : QJsonValue() },
             { QStringLiteral("stored_address_after"), text(line.storedAddressAfter) },
             { QStringLiteral("offset_s_after"),
               line.offsetAfter ? QJsonValue(*line.offsetAfter) : QJsonValue() },
             { QStringLiteral("detail"), text(judgedDetail(line)) } };
}

QString summary(const ApplyReport &report)
{
    if (report.refused)
        return QStringLiteral("plan refused: nothing sent; %1 line(s): %2 faulty, %3 not sent")
            .arg(report.lines.size())
            .arg(report.count(State::Faulty))
            .arg(report.count(State::NotSent));
    QString summary = QStringLiteral("%1 line(s): %2 done, %3 already in effect, %4 failed, %5 "
                                     "cannot verify, %6 skipped")
                          .arg(report.lines.size())
                          .arg(report.count(State::Done))
                          .arg(report.count(State::InEffect))
                          .arg(report.count(State::Failed))
                          .arg(report.count(State::CannotVerify))
                          .arg(report.count(State::Skipped));
    const double seconds = report.sendMs / 1000.0;
    if (report.dryRun)
        summary += QStringLiteral("; dry run: %1 line(s) would send, no command sent; %2")
                       .arg(report.count(State::WouldSend))
                       .arg(dryRunReads(report));
    else if (report.commandsSent == 0)
        summary += QStringLiteral("; nothing sent");
    else
        summary += QStringLiteral("; %1 command(s) sent in %2 s (%3); %4 of %5 changed "
                                  "line(s) verified")
                       .arg(report.commandsSent)
                       .arg(seconds, 0, 'f', 2)
                       .arg(rates(report))
                       .arg(report.verified())
                       .arg(report.changed());
    if (report.notLogged > 0)
        summary += QStringLiteral("; %1 command(s) sent, not logged").arg(report.notLogged);
    return summary;
}

QByteArray text(const ApplyReport &report)
{
    QString text;
    if (!report.refused) {
        for (const ApplyLineResult &line : report.lines)
            text += lineText(line) + QLatin1Char('\n');
    }
    return (text + summary(report) + QLatin1Char('\n')).toUtf8();
}

QByteArray json(const ApplyReport &report)
{
    QJsonArray lines;
    for (const ApplyLineResult &line : report.lines)
        lines.append(lineJson(line));
    const QJsonObject document {
        { QStringLiteral("format"), QStringLiteral("setuptool-cli/apply") },
        { QStringLiteral("version"), JsonText::version },
        { QStringLiteral("plan"), report.planPath },
        { QStringLiteral("refused"), report.refused },
        { QStringLiteral("dry_run"), report.dryRun },
        { QStringLiteral("lines"), lines },
        { QStringLiteral("summary"),
          QJsonObject { { QStringLiteral("lines"), int(report.lines.size()) },
                        { QStringLiteral("done"), report.count(State::Done) },
                        { QStringLiteral("in_effect"), report.count(State::InEffect) },
                        { QStringLiteral("would_send"), report.count(State::WouldSend) },
                        { QStringLiteral("failed"), report.count(State::Failed) },
                        { QStringLiteral("cannot_verify"), report.count(State::CannotVerify) },
                        { QStringLiteral("skipped"), report.count(State::Skipped) },
                        { QStringLiteral("faulty"), report.count(State::Faulty) },
                        { QStringLiteral("not_sent"), report.count(State::NotSent) },
                        { QStringLiteral("commands_sent"), report.commandsSent },
                        { QStringLiteral("send_ms"), report.sendMs },
                        { QStringLiteral("verified"), report.verified() },
                        { QStringLiteral("not_logged"), report.notLogged },
                        { QStringLiteral("text"), summary(report) } } },
    };
    return JsonText::document(document);
}

QByteArray csv(const ApplyReport &report)
{
    QList<QJsonObject> lines;
    for (const ApplyLineResult &line : report.lines)
        lines.append(lineJson(line));
    return CsvTable::write(
        lines, { QStringLiteral("line"), QStringLiteral("serial"), QStringLiteral("state") });
}

QByteArray write(const ApplyReport &report, Options::Format format)
{
    switch (format) {
    case Options::Format::Json:
        return json(report);
    case Options::Format::Csv:
        return csv(report);
    case Options::Format::Table:
        break;
    }
    return text(report);
}

QStringList faultMessages(const QList<ApplyLineResult> &lines, bool refused)
{
    int faultyLines = 0;
    for (const ApplyLineResult &line : lines)
        faultyLines += line.faults.isEmpty() ? 0 : 1;
    QStringList messages { refused ? QStringLiteral(
                                         "the plan is refused, nothing was sent: %1 of %2 "
                                         "line(s) have faults (--skip-bad sends the others):")
                                         .arg(faultyLines)
                                         .arg(lines.size())
                                   : QStringLiteral("skipping %1 of %2 line(s) with faults:")
                                         .arg(faultyLines)
                                         .arg(lines.size()) };
    for (const ApplyLineResult &line : lines) {
        for (const QString &fault : line.faults)
            messages.append(QStringLiteral("  %1: %2").arg(line.where, fault));
    }
    return messages;
}

QString unreadColumn(const QString &column)
{
    return QStringLiteral("column \"%1\" is not read (the plan's columns are serial, new_address, "
                          "set_time, name, current_address, stored_address)")
        .arg(column);
}

QString rescanFailed(const QString &error, int commandsSent)
{
    return QStringLiteral("the scan to verify the plan failed: %1 (%2 command(s) were sent)")
        .arg(error)
        .arg(commandsSent);
}

} // namespace ApplyOutput
