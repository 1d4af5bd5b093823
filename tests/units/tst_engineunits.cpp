#include "addressallocator.h"
#include "applyrules.h"
#include "clockreport.h"
#include "devicepresence.h"
#include "plancheck.h"
#include "replybuffer.h"
#include "unitfixtures.h"
#include "verdicts.h"

#include <QTest>

Q_DECLARE_METATYPE(Verification::Result)
Q_DECLARE_METATYPE(Verification::Seen)

using namespace UnitFixtures;

namespace {

// What each checkable device of UnitFixtures::devices() answered, as the SNTP client gives it.
QList<SntpQuery::Result> answers(const QStringList &descriptions)
{
    QList<SntpQuery::Result> results;
    for (const QString &description : descriptions) {
        const QStringList words = description.split(QLatin1Char(' '));
        const QString kind = words.first();
        if (kind == "off" || kind == "zero")
            continue;
        SntpQuery::Result result;
        result.attempts = kind == "silent" ? 2 : 1;
        result.kissOfDeath = kind == "kiss";
        result.answered = words.size() == 3;
        result.referenceId = result.kissOfDeath ? "RATE" : "GPS";
        result.error = kind == "silent" ? "no answer after 2 tries" : "";
        if (result.answered) {
            result.stratum = kind == "s16" ? 16 : 1;
            result.leap = kind == "leap3" ? 3 : 0;
            result.offsetSeconds = words.at(1).toDouble();
            result.delaySeconds = words.at(2).toDouble();
        }
        results.append(result);
    }
    return results;
}

} // namespace

// The engine's judgements that need no network: a plan held against a scan, and the clocks read
// summed up.
class tst_EngineUnits : public QObject
{
    Q_OBJECT

private slots:
    void planCheck_data();
    void planCheck();
    void clockReport_data();
    void clockReport();
    void checkOutcome_data();
    void checkOutcome();
    void pluginFindings_data();
    void pluginFindings();
    void applyDecide_data();
    void applyDecide();
    void applyHoldBack_data();
    void applyHoldBack();
    void applyJudge_data();
    void applyJudge();
    void applyExitStatus_data();
    void applyExitStatus();
    void verdicts_data();
    void verdicts();
    void addressAllocator_data();
    void addressAllocator();
    void addressObjection_data();
    void addressObjection();
    void replyBuffer_data();
    void replyBuffer();
};

namespace {

// A clock reading: "silent" (no answer), or the offset it answered with.
std::optional<SntpQuery::Result> clock(const QString &reading)
{
    if (reading.isEmpty())
        return std::nullopt;
    SntpQuery::Result result;
    result.attempts = 1;
    result.answered = reading != "silent";
    result.error = result.answered ? "" : "no answer after 2 tries";
    result.offsetSeconds = reading.toDouble();
    return result;
}

// Apply's line for device A (serial 1 at 10.77.1.1), from its plan line "1,NEW,SETTIME".
ApplyLine applyLine(const QString &newAddress, bool setTime, bool ntp)
{
    const Plan::Read read = Plan::read("serial,new_address,set_time\n1," + newAddress.toLatin1()
                                       + (setTime ? ",yes" : ",no"));
    const QList<PlanStep> steps = PlanCheck::check(
        read.lines, { device(1, "10.77.1.1", "A", QString(), ntp) }, { workstation() });
    return ApplyRules::lines(steps).constFirst();
}

QString applyVerdict(const ApplyLine &line)
{
    static const char *const names[] = { "skipped",    "faulty", "not-sent", "in-effect",
                                         "would-send", "done",   "failed",   "cannot-verify" };
    QString verdict = QString::fromLatin1(names[int(line.state)]);
    if (const auto &held = line.heldBack) {
        verdict += QStringLiteral(": held back: %1 by %2 via %3")
                       .arg(AddressRules::format(held->holding.address),
                            held->holding.device.isEmpty() ? held->holding.hardwareAddress
                                                           : held->holding.device,
                            held->holding.via.describe());
        if (!held->staying.isEmpty())
            verdict
                += QStringLiteral("; %1 stays, line %2").arg(held->staying).arg(held->stayingLine);
    }
    return line.detail.isEmpty() ? verdict : verdict + ": " + line.detail;
}

} // namespace

void tst_EngineUnits::planCheck_data()
{
    QTest::addColumn<QByteArray>("plan"); // the lines after "serial,new_address,set_time"
    // Per line: "sound", "in effect", or a part of the text of each fault, joined by " & ".
    QTest::addColumn<QStringList>("verdicts");

    QTest::newRow("sound lines") << QByteArray("1,10.77.5.1,no\n2,,yes\n3,10.77.1.3,no")
                                 << QStringList { "sound", "sound", "sound" };
    QTest::newRow("already stored") << QByteArray("1,10.77.1.1,no\n3,10.77.1.30,yes")
                                    << QStringList { "in effect", "in effect" };
    QTest::newRow("unknown serial")
        << QByteArray("99,10.77.5.1,no") << QStringList { "no device with serial 99 answered" };
    QTest::newRow("repeated serial") << QByteArray("1,10.77.5.1,no\n1,10.77.5.2,no")
                                     << QStringList { "on lines 2, 3", "on lines 2, 3" };
    QTest::newRow("address given twice") << QByteArray("1,10.77.5.1,no\n2,10.77.5.1,no")
                                         << QStringList { "for lines 2, 3", "for lines 2, 3" };
    QTest::newRow("in use by a device")
        << QByteArray("1,10.77.1.4,no") << QStringList { "10.77.1.4 is in use by D, serial 4" };
    QTest::newRow("in use as a stored address")
        << QByteArray("1,10.77.1.30,no")
        << QStringList { "by C, serial 3, 10.77.1.3, as its stored address, which it takes at "
                         "its next restart" };
    QTest::newRow("in use by this machine")
        << QByteArray("1,10.77.0.1,no")
        << QStringList { "in use by this machine (10.77.0.1 (ws1))" };
    QTest::newRow("outside the device's subnet")
        << QByteArray("1,192.168.1.10,no") << QStringList { "outside 10.77.0.0/16" };
    QTest::newRow("refused addresses")
        << QByteArray("1,10.77.255.255,no\n2,224.0.0.1,no\n4,10.77.0.0,no\n3,127.0.0.1,no")
        << QStringList { "broadcast address of", "multicast", "network address", "loopback" };
    QTest::newRow("two faults") << QByteArray("1,10.77.1.4,no\n2,10.77.1.4,no")
                                << QStringList { "for lines 2, 3 & in use by D",
                                                 "for lines 2, 3 & in use by D" };
    QTest::newRow("serial heard twice")
        << QByteArray("5,10.77.5.5,no") << QStringList { "answers at 10.77.1.5 and 10.77.1.6" };
    QTest::newRow("device at 0.0.0.0")
        << QByteArray("6,10.77.5.6,no") << QStringList { "reports 0.0.0.0 as its address" };
    QTest::newRow("unreadable line")
        << QByteArray("1,10.77.5.1,maybe") << QStringList { "set_time \"maybe\" is not yes or no" };
    QTest::newRow("an unreadable line claims nothing")
        << QByteArray("1,10.77.5.1,maybe\n1,10.77.5.1,no")
        << QStringList { "not yes or no", "sound" };
    // A device the plan moves frees its address; one it leaves where it is keeps it.
    QTest::newRow("swap") << QByteArray("1,10.77.1.2,no\n2,10.77.1.1,no")
                          << QStringList { "sound", "sound" };
    QTest::newRow("shift") << QByteArray("1,10.77.1.2,no\n2,10.77.1.3,no\n3,10.77.5.3,no")
                           << QStringList { "sound", "sound", "sound" };
    // C stores 10.77.1.30: given its current address back, it cancels that change.
    QTest::newRow("a pending change cancelled")
        << QByteArray("3,10.77.1.3,no") << QStringList { "sound" };
    QTest::newRow("a pending address freed by its device")
        << QByteArray("3,10.77.5.3,no\n1,10.77.1.30,no") << QStringList { "sound", "sound" };
    QTest::newRow("clock-only line keeps the address")
        << QByteArray("1,,yes\n2,10.77.1.1,no") << QStringList { "sound", "in use by A" };
    QTest::newRow("faulty lines keep theirs, down a chain")
        << QByteArray("1,10.77.5.1,maybe\n2,10.77.1.1,no\n4,10.77.1.2,no")
        << QStringList { "not yes or no", "in use by A", "in use by B" };
}

void tst_EngineUnits::planCheck()
{
    QFETCH(QByteArray, plan);
    QFETCH(QStringList, verdicts);
    const QList<DeviceEntry> devices { device(1, "10.77.1.1", "A"),
                                       device(2, "10.77.1.2", "B"),
                                       device(3, "10.77.1.3", "C", "10.77.1.30"),
                                       device(4, "10.77.1.4", "D"),
                                       device(5, "10.77.1.5", "E"),
                                       device(5, "10.77.1.6", "F"),
                                       device(6, "0.0.0.0", "G") };
    const Plan::Read read = Plan::read("serial,new_address,set_time\n" + plan);
    QVERIFY(read.error.isEmpty());
    const QList<PlanStep> steps = PlanCheck::check(read.lines, devices, { workstation() });
    QCOMPARE(steps.size(), verdicts.size());
    for (int i = 0; i < steps.size(); ++i) {
        const PlanStep &step = steps.at(i);
        const QString faults = step.faults.join("; ");
        const QString verdict = verdicts.at(i);
        QCOMPARE(step.line.lineNumber, i + 2);
        if (verdict == "sound" || verdict == "in effect") {
            QVERIFY2(step.sound(), qPrintable(faults));
            QCOMPARE(step.device->reply.serial, step.line.serial);
            QCOMPARE(step.addressInEffect(), verdict == "in effect");
            continue;
        }
        const QStringList expected = verdict.split(" & ");
        QCOMPARE(step.faults.size(), expected.size());
        for (const QString &part : expected)
            QVERIFY2(faults.contains(part), qPrintable(faults));
    }
}

void tst_EngineUnits::clockReport_data()
{
    QTest::addColumn<QStringList>("devices"); // as UnitFixtures::devices() takes them
    QTest::addColumn<QStringList>("states"); // "state: reason" per device, in the scan's order
    // found checked answered unsynchronised unanswered not-checkable, the worst offset's index
    // and the median and largest delay
    QTest::addColumn<QString>("summary");

    QTest::newRow("one of each")
        << QStringList { "ok 0.000094 0.000319",
                         "ok 1.5 0.000206",
                         "s16 0.000037 0.000134",
                         "kiss",
                         "silent",
                         "off" }
        << QStringList { "ok: ",
                         "ok: ",
                         "unsynchronised: not synchronised (stratum 16)",
                         "unsynchronised: refuses to serve time (kiss-of-death RATE)",
                         "no-answer: no answer after 2 tries",
                         "not-checkable: NTP service off" }
        << "6 5 4 2 1 1, worst 1, delay 0.000206 0.000319";
    QTest::newRow("worst offset negative, median of an even count")
        << QStringList { "ok 1.5 0.1", "ok -2 0.4", "ok 0.3 0.3", "ok -0.1 0.2" }
        << QStringList { "ok: ", "ok: ", "ok: ", "ok: " } << "4 4 4 0 0 0, worst 1, delay 0.25 0.4";
    QTest::newRow("unsynchronised offsets count for the worst")
        << QStringList { "ok 0.1 0.001", "leap3 -5 0.002" }
        << QStringList { "ok: ", "unsynchronised: not synchronised (leap indicator 3)" }
        << "2 2 2 1 0 0, worst 1, delay 0.0015 0.002";
    QTest::newRow("answers go to the checkable devices, in order")
        << QStringList { "off", "ok 1 0.1", "zero", "ok 2 0.2" }
        << QStringList { "not-checkable: NTP service off",
                         "ok: ", "not-checkable: reports address 0.0.0.0: nowhere to ask", "ok: " }
        << "4 2 2 0 0 2, worst 3, delay 0.15 0.2";
    QTest::newRow("no time read")
        << QStringList { "kiss", "silent" }
        << QStringList { "unsynchronised: refuses to serve time (kiss-of-death RATE)",
                         "no-answer: no answer after 2 tries" }
        << "2 2 1 1 1 0, worst -, delay -";
    QTest::newRow("nothing found")
        << QStringList {} << QStringList {} << "0 0 0 0 0 0, worst -, delay -";
}

void tst_EngineUnits::clockReport()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, states);
    QFETCH(QString, summary);
    const ClockReport report = ClockCheck::report(UnitFixtures::devices(devices), answers(devices));
    QStringList found;
    for (const ClockReading &reading : report.readings)
        found.append(ClockReading::stateName(reading.state) + ": " + reading.reason);
    QCOMPARE(found, states);
    QString delay = QStringLiteral("-");
    if (report.medianDelaySeconds)
        delay
            = QStringLiteral("%1 %2").arg(*report.medianDelaySeconds).arg(*report.maxDelaySeconds);
    QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6, worst %7, delay %8")
                 .arg(report.found)
                 .arg(report.checked)
                 .arg(report.answered)
                 .arg(report.unsynchronised)
                 .arg(report.unanswered)
                 .arg(report.notCheckable)
                 .arg(report.worstOffset ? QString::number(*report.worstOffset) : "-", delay),
             summary);
}

void tst_EngineUnits::checkOutcome_data()
{
    QTest::addColumn<QStringList>("devices"); // as UnitFixtures::devices() takes them
    QTest::addColumn<QStringList>("expected"); // as check's DEVICE arguments
    QTest::addColumn<int>("minDevices");
    QTest::addColumn<int>("status"); // the exit status

    QTest::newRow("all in time") << QStringList { "ok 0.1 0.001", "off" } << QStringList {} << 0
                                 << 0;
    QTest::newRow("an offset is no failure")
        << QStringList { "ok 3600 0.001" } << QStringList {} << 0 << 0;
    QTest::newRow("silence is a doubt")
        << QStringList { "ok 0 0.001", "silent" } << QStringList {} << 0 << 4;
    QTest::newRow("unsynchronised outweighs silence")
        << QStringList { "silent", "s16 0 0.001" } << QStringList {} << 0 << 1;
    QTest::newRow("a refusal is unsynchronised")
        << QStringList { "kiss" } << QStringList {} << 0 << 1;
    QTest::newRow("nothing found") << QStringList {} << QStringList {} << 0 << 3;
    QTest::newRow("NTP off on all") << QStringList { "off", "zero" } << QStringList {} << 0 << 3;
    QTest::newRow("expected one missing outweighs all")
        << QStringList { "s16 0 0.001" } << QStringList { "1", "CLOCK-9" } << 0 << 3;
    QTest::newRow("expected all there")
        << QStringList { "ok 0 0.001", "ok 0 0.001" } << QStringList { "D|1", "0002" } << 0 << 0;
    QTest::newRow("too few") << QStringList { "ok 0 0.001" } << QStringList {} << 2 << 3;
    QTest::newRow("enough") << QStringList { "ok 0 0.001", "off" } << QStringList {} << 2 << 0;
}

void tst_EngineUnits::checkOutcome()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, expected);
    QFETCH(int, minDevices);
    QFETCH(int, status);
    const QList<DeviceEntry> heard = UnitFixtures::devices(devices);
    const ClockReport report = ClockCheck::report(heard, answers(devices));
    const CheckOutcome outcome
        = ClockCheck::outcome(report, Presence::of(heard, expected, minDevices));
    QCOMPARE(exitCode(ClockCheck::exitStatus(outcome)), status);
}

void tst_EngineUnits::pluginFindings_data()
{
    QTest::addColumn<QStringList>("devices"); // as UnitFixtures::devices() takes them
    QTest::addColumn<QString>("warn"); // as typed
    QTest::addColumn<QString>("crit");
    QTest::addColumn<QStringList>("expected"); // as check's DEVICE arguments
    QTest::addColumn<int>("minDevices");
    QTest::addColumn<int>("state"); // the plugin's exit status
    QTest::addColumn<QString>("bands"); // per device: '.' inside, 'w' past warn, 'c' past crit

    const QStringList none;
    QTest::newRow("ok") << QStringList { "ok 0.1 0.001", "ok -0.4999 0.002" } << "0.5"
                        << "2" << none << 0 << 0 << "..";
    // On the edge of the range is inside it.
    QTest::newRow("ok at warn") << QStringList { "ok 0.5 0.001" } << "0.5"
                                << "2" << none << 0 << 0 << ".";
    QTest::newRow("warning past warn") << QStringList { "ok 0.500001 0.001" } << "0.5"
                                       << "2" << none << 0 << 1 << "w";
    QTest::newRow("warning, clock behind")
        << QStringList { "ok -0.7 0.001", "ok 0.1 0.001" } << "0.5"
        << "2" << none << 0 << 1 << "w.";
    QTest::newRow("warning at crit") << QStringList { "ok -2 0.001", "ok 0.6 0.001" } << "0.5"
                                     << "2" << none << 0 << 1 << "ww";
    QTest::newRow("critical past crit") << QStringList { "ok -2.1 0.001", "ok 0.6 0.001" } << "0.5"
                                        << "2" << none << 0 << 2 << "cw";
    // A clock that is not synchronised is critical whatever its offset, and is not banded.
    QTest::newRow("unsynchronised, small offset")
        << QStringList { "ok 0 0.001", "s16 0.01 0.001" } << "0.5"
        << "2" << none << 0 << 2 << "..";
    QTest::newRow("unsynchronised, large offset") << QStringList { "leap3 9 0.001" } << "0.5"
                                                  << "2" << none << 0 << 2 << ".";
    QTest::newRow("kiss-of-death") << QStringList { "kiss", "ok 0 0.001" } << "0.5"
                                   << "2" << none << 0 << 2 << "..";
    QTest::newRow("not answering") << QStringList { "silent", "ok 0 0.001" } << "0.5"
                                   << "2" << none << 0 << 2 << "..";
    QTest::newRow("NTP off does not count") << QStringList { "off", "ok 0.1 0.001" } << "0.5"
                                            << "2" << none << 0 << 0 << "..";
    QTest::newRow("no checkable device") << QStringList { "off", "zero" } << "0.5"
                                         << "2" << none << 0 << 3 << "..";
    QTest::newRow("no device") << QStringList {} << "0.5"
                               << "2" << none << 0 << 3 << "";
    // Ranges as typed: outside ~:1 never, inside @0.05:0.2 alerts.
    QTest::newRow("tiny warn") << QStringList { "ok 0.1 0.001" } << "0.00001"
                               << "0.5" << none << 0 << 1 << "w";
    QTest::newRow("ranges as typed") << QStringList { "ok 0.1 0.001" } << "~:1"
                                     << "@0.05:0.2" << none << 0 << 2 << "c";
    QTest::newRow("too close") << QStringList { "ok 0.1 0.001" } << "0.2:"
                               << "0.05:" << none << 0 << 1 << "w";
    // Devices expected: one missing is critical even with nothing to check; one more heard is
    // no failure.
    QTest::newRow("one more heard") << QStringList { "ok 0.1 0.001", "ok 0 0.001" } << "0.5"
                                    << "2" << QStringList { "1" } << 0 << 0 << "..";
    QTest::newRow("one missing") << QStringList { "ok 0.1 0.001" } << "0.5"
                                 << "2" << QStringList { "1", "CLOCK-9" } << 0 << 2 << ".";
    QTest::newRow("none heard") << QStringList {} << "0.5"
                                << "2" << QStringList { "7" } << 0 << 2 << "";
    QTest::newRow("too few, NTP off") << QStringList { "off" } << "0.5"
                                      << "2" << none << 3 << 2 << ".";
    QTest::newRow("enough") << QStringList { "ok 0 0.001" } << "0.5"
                            << "2" << none << 1 << 0 << ".";
}

void tst_EngineUnits::pluginFindings()
{
    QFETCH(QStringList, devices);
    QFETCH(QString, warn);
    QFETCH(QString, crit);
    QFETCH(QStringList, expected);
    QFETCH(int, minDevices);
    QFETCH(int, state);
    QFETCH(QString, bands);
    const QList<DeviceEntry> heard = UnitFixtures::devices(devices);
    const PluginFindings found = ClockCheck::pluginFindings(
        ClockCheck::report(heard, answers(devices)),
        { *PluginRange::parse(warn, "warn"), *PluginRange::parse(crit, "crit") },
        Presence::of(heard, expected, minDevices));
    QCOMPARE(int(found.state), state);
    QString shown;
    for (const PluginFindings::Band band : found.bands)
        shown += band == PluginFindings::Band::Critical ? 'c'
            : band == PluginFindings::Band::Warning     ? 'w'
                                                        : '.';
    QCOMPARE(shown, bands);
}

void tst_EngineUnits::applyDecide_data()
{
    QTest::addColumn<QString>("newAddress"); // for device A at 10.77.1.1, NTP on unless "ntp off"
    QTest::addColumn<bool>("setTime");
    QTest::addColumn<QString>("clockBefore"); // its offset, "silent", or empty when not read
    QTest::addColumn<QString>("needs"); // "address", "time", "address time", or "nothing"

    QTest::newRow("needs nothing") << "10.77.1.1" << true << "0.2"
                                   << "nothing";
    QTest::newRow("needs nothing, clock only") << "" << true << "-0.4"
                                               << "nothing";
    QTest::newRow("address only") << "10.77.5.1" << true << "0.1"
                                  << "address";
    QTest::newRow("address only, no clock asked") << "10.77.5.1" << false << ""
                                                  << "address";
    QTest::newRow("time only") << "10.77.1.1" << true << "3"
                               << "time";
    QTest::newRow("time only, clock silent") << "" << true << "silent"
                                             << "time";
    QTest::newRow("both") << "10.77.5.1" << true << "-7"
                          << "address time";
    QTest::newRow("ntp off: the clock cannot be seen right") << "" << true << ""
                                                             << "time";
}

void tst_EngineUnits::applyDecide()
{
    QFETCH(QString, newAddress);
    QFETCH(bool, setTime);
    QFETCH(QString, clockBefore);
    QFETCH(QString, needs);
    const bool ntp = !QString(QTest::currentDataTag()).startsWith("ntp off");
    ApplyLine line = applyLine(newAddress, setTime, ntp);
    line.clockBefore = clock(clockBefore);
    ApplyRules::decide(&line, 0.5);
    QStringList found;
    if (line.sendAddress)
        found.append("address");
    if (line.sendTime)
        found.append("time");
    QCOMPARE(found.isEmpty() ? "nothing" : found.join(' '), needs);
    QCOMPARE(applyVerdict(line), needs == "nothing" ? "in-effect" : "would-send");

    // A faulty line (--skip-bad) needs nothing decided: it stays skipped.
    line = applyLine("10.77.0.0", setTime, ntp);
    ApplyRules::decide(&line, 0.5);
    QCOMPARE(applyVerdict(line), "skipped");
    // A refused plan sends nothing: the sound line is not-sent, the faulty one faulty.
    QList<ApplyLine> refused { applyLine(newAddress, setTime, ntp), line };
    ApplyRules::refuse(&refused);
    QCOMPARE(applyVerdict(refused.at(0)) + ' ' + applyVerdict(refused.at(1)), "not-sent faulty");
}

void tst_EngineUnits::applyHoldBack_data()
{
    // Lines after the header, for A, B, C at 10.77.1.1-3; C stores 10.77.1.30 for its restart.
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QStringList>("takenByHost"); // addresses a host that is no device answers for
    QTest::addColumn<QStringList>("asked"); // the addresses asked about, in order
    QTest::addColumn<QStringList>("verdicts"); // per line: state, and a part of its detail

    QTest::newRow("all free") << QByteArray("1,10.77.5.1,no\n2,10.77.1.2,yes") << QStringList {}
                              << QStringList { "10.77.5.1" }
                              << QStringList { "would-send", "would-send" };
    QTest::newRow("a real holder refused")
        << QByteArray("1,10.77.5.1,yes\n2,10.77.5.2,no") << QStringList { "10.77.5.1" }
        << QStringList { "10.77.5.1", "10.77.5.2" }
        << QStringList { "failed: held back: 10.77.5.1 by 02:fc:00:00:00:99 via 10.77.0.1 (ws1)",
                         "would-send" };
    QTest::newRow("swap A<->B allowed")
        << QByteArray("1,10.77.1.2,no\n2,10.77.1.1,no") << QStringList {}
        << QStringList { "10.77.1.2", "10.77.1.1" } << QStringList { "would-send", "would-send" };
    QTest::newRow("shift chain allowed")
        << QByteArray("1,10.77.1.2,no\n2,10.77.1.3,no\n3,10.77.5.3,no") << QStringList {}
        << QStringList { "10.77.1.2", "10.77.1.3", "10.77.5.3" }
        << QStringList { "would-send", "would-send", "would-send" };
    // C's line is held back, so C stays at 10.77.1.3, so B stays, so A's line is held back too.
    QTest::newRow("a shift whose end is held back")
        << QByteArray("1,10.77.1.2,no\n2,10.77.1.3,no\n3,10.77.5.3,no")
        << QStringList { "10.77.5.3" } << QStringList { "10.77.1.2", "10.77.1.3", "10.77.5.3" }
        << QStringList { "failed: held back: 10.77.1.2 by B (serial 2) via 10.77.0.1 (ws1); B, "
                         "serial 2, 10.77.1.2 stays, line 3",
                         "failed: held back: 10.77.1.3 by C (serial 3) via 10.77.0.1 (ws1); C, "
                         "serial 3, 10.77.1.3 stays, line 4",
                         "failed: held back: 10.77.5.3 by 02:fc:00:00:00:99" };
    QTest::newRow("a clock-only line is not asked about")
        << QByteArray("1,,yes\n2,10.77.1.2,yes") << QStringList { "10.77.1.1", "10.77.1.2" }
        << QStringList {} << QStringList { "would-send", "would-send" };
    QTest::newRow("a pending change cancelled is not asked about")
        << QByteArray("3,10.77.1.3,no") << QStringList {} << QStringList {}
        << QStringList { "would-send" };
}

void tst_EngineUnits::applyHoldBack()
{
    QFETCH(QByteArray, plan);
    QFETCH(QStringList, takenByHost);
    QFETCH(QStringList, asked);
    QFETCH(QStringList, verdicts);
    const QList<DeviceEntry> devices { device(1, "10.77.1.1", "A"), device(2, "10.77.1.2", "B"),
                                       device(3, "10.77.1.3", "C", "10.77.1.30") };
    const Plan::Read read = Plan::read("serial,new_address,set_time\n" + plan);
    QList<ApplyLine> lines
        = ApplyRules::lines(PlanCheck::check(read.lines, devices, { workstation() }));
    for (ApplyLine &line : lines) {
        line.clockBefore = clock("3");
        ApplyRules::decide(&line, 0.5);
    }
    const ApplyRules::AddressQuestions questions = ApplyRules::addressQuestions(lines);
    // What the in-use probe would answer: the devices answer for their own current addresses.
    QStringList askedFound;
    QList<AddressHolder> holders;
    for (const AddressProbe::Request &request : questions.requests) {
        const QString address = AddressRules::format(request.address);
        askedFound.append(address);
        AddressHolder holder;
        holder.state = AddressHolder::State::Free;
        if (takenByHost.contains(address)) {
            holder.state = AddressHolder::State::InUse;
            holder.hardwareAddress = "02:fc:00:00:00:99";
        }
        for (const DeviceEntry &device : devices) {
            if (device.reply.currentAddress == request.address)
                holder.state = AddressHolder::State::InUse;
        }
        holders.append(holder);
    }
    QCOMPARE(askedFound, asked);
    ApplyRules::holdBack(&lines, questions, holders);
    QCOMPARE(lines.size(), verdicts.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QString verdict = applyVerdict(lines.at(i));
        QVERIFY2(verdict.startsWith(verdicts.at(i).section(": ", 0, 0))
                     && verdict.contains(verdicts.at(i).section(": ", 1)),
                 qPrintable(verdict));
        if (lines.at(i).state == ApplyLineResult::State::Failed)
            QVERIFY(!lines.at(i).sendAddress && !lines.at(i).sendTime);
    }
}

void tst_EngineUnits::applyJudge_data()
{
    // Device A at 10.77.1.1 is sent what its line needs: "address" (10.77.5.1), "time" or both.
    QTest::addColumn<QString>("needs");
    QTest::addColumn<bool>("ntp");
    QTest::addColumn<QString>("sendError");
    QTest::addColumn<QString>("storedAfter"); // what the rescan heard it store; empty: unheard
    QTest::addColumn<QString>("clockAfter"); // as clock() takes it
    QTest::addColumn<QString>("rescanError");
    QTest::addColumn<QString>("verdict");

    QTest::newRow("verified") << "address time" << true << ""
                              << "10.77.5.1"
                              << "0.01"
                              << ""
                              << "done: stored address 10.77.5.1; clock set, +0.010 s from ours";
    QTest::newRow("failed: address not stored")
        << "address" << true << ""
        << "10.77.1.1"
        << ""
        << ""
        << "failed: it still stores 10.77.1.1, not 10.77.5.1";
    QTest::newRow("cannot verify: unheard after")
        << "address" << true << ""
        << ""
        << ""
        << ""
        << "cannot-verify: cannot verify: it did not answer "
           "the scan after the command";
    QTest::newRow("failed: clock outside tolerance")
        << "time" << true << ""
        << "10.77.1.1"
        << "-2"
        << ""
        << "failed: its clock is -2.000 s from ours after the command (tolerance 0.5 s)";
    QTest::newRow("cannot verify: clock not read back")
        << "time" << true << ""
        << "10.77.1.1"
        << "silent"
        << ""
        << "cannot-verify: clock: cannot verify over SNTP, no answer after 2 tries";
    QTest::newRow("failed: not sent") << "address" << true << "Network is unreachable"
                                      << ""
                                      << ""
                                      << ""
                                      << "failed: not sent: Network is unreachable";
    QTest::newRow("cannot verify: the rescan failed")
        << "address" << true << ""
        << ""
        << ""
        << "no IPv4 address"
        << "cannot-verify: sent, not verified: the rescan failed: no IPv4 address";
    QTest::newRow("cannot verify: rescan failed, ntp off")
        << "time" << false << ""
        << ""
        << ""
        << "no IPv4 address"
        << "cannot-verify: sent, not verified: the rescan failed: no IPv4 address";
    QTest::newRow("verified over SNTP without the rescan") << "time" << true << ""
                                                           << ""
                                                           << "0.2"
                                                           << "no IPv4 address"
                                                           << "done: clock set, +0.200 s from ours";
    // What took effect is said with what could not be seen, and what failed with both.
    QTest::newRow("address stored, clock not read back")
        << "address time" << true << ""
        << "10.77.5.1"
        << "silent"
        << ""
        << "cannot-verify: stored address 10.77.5.1; clock: cannot verify over SNTP, no answer "
           "after 2 tries";
    QTest::newRow("address not stored, clock set")
        << "address time" << true << ""
        << "10.77.1.1"
        << "0.01"
        << ""
        << "failed: it still stores 10.77.1.1, not 10.77.5.1; clock set, +0.010 s from ours";
    QTest::newRow("sent without verify: ntp off")
        << "time" << false << ""
        << "10.77.1.1"
        << ""
        << ""
        << "done: clock set (not read back: NTP is off on it)";
}

void tst_EngineUnits::applyJudge()
{
    QFETCH(QString, needs);
    QFETCH(bool, ntp);
    QFETCH(QString, sendError);
    QFETCH(QString, storedAfter);
    QFETCH(QString, clockAfter);
    QFETCH(QString, rescanError);
    QFETCH(QString, verdict);
    ApplyLine line
        = applyLine(needs.contains("address") ? "10.77.5.1" : "", needs.contains("time"), ntp);
    line.clockBefore = clock(ntp ? "9" : "");
    ApplyRules::decide(&line, 0.5);
    QCOMPARE(applyVerdict(line), "would-send");
    if (sendError.isEmpty()) {
        for (const QString &command : needs.split(' '))
            line.outcome.sent.append("set-" + command);
    }
    line.outcome.sendError = sendError;
    if (!storedAfter.isEmpty())
        line.outcome.heardAfter = device(1, "10.77.1.1", "A", storedAfter, ntp);
    line.outcome.clockAfter = clock(clockAfter);
    ApplyRules::judge(&line, rescanError, 0.5);
    QCOMPARE(applyVerdict(line), verdict);
}

void tst_EngineUnits::applyExitStatus_data()
{
    QTest::addColumn<QStringList>("states"); // of the lines, as ApplyOutput names them
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("notLogged");
    QTest::addColumn<bool>("rescanFailed");
    QTest::addColumn<int>("status");

    QTest::newRow("all done") << QStringList { "done", "in-effect" } << false << 0 << false << 0;
    QTest::newRow("dry run") << QStringList { "would-send", "in-effect" } << false << 0 << false
                             << 0;
    QTest::newRow("a line failed") << QStringList { "done", "failed" } << false << 0 << false << 1;
    QTest::newRow("skipped with --skip-bad")
        << QStringList { "done", "skipped" } << false << 0 << false << 1;
    QTest::newRow("cannot verify")
        << QStringList { "done", "cannot-verify" } << false << 0 << false << 4;
    QTest::newRow("failed outranks cannot verify")
        << QStringList { "cannot-verify", "failed" } << false << 0 << false << 1;
    QTest::newRow("refused") << QStringList { "faulty", "not-sent" } << true << 0 << false << 6;
    QTest::newRow("rescan failed") << QStringList { "failed" } << false << 0 << true << 5;
    QTest::newRow("sent, not logged, outranks the rescan")
        << QStringList { "failed" } << false << 1 << true << 7;
}

void tst_EngineUnits::applyExitStatus()
{
    QFETCH(QStringList, states);
    QFETCH(bool, refused);
    QFETCH(int, notLogged);
    QFETCH(bool, rescanFailed);
    QFETCH(int, status);
    const QStringList names { "skipped",    "faulty", "not-sent", "in-effect",
                              "would-send", "done",   "failed",   "cannot-verify" };
    ApplyReport report;
    report.refused = refused;
    report.notLogged = notLogged;
    for (const QString &state : states) {
        ApplyLineResult line;
        line.state = ApplyLineResult::State(names.indexOf(state));
        report.lines.append(line);
    }
    QCOMPARE(exitCode(ApplyRules::exitStatus(report, rescanFailed)), status);
}

void tst_EngineUnits::verdicts_data()
{
    QTest::addColumn<QString>("command"); // "set-address 10.77.5.1" or "set-time"
    // set-address: the stored address the rescan heard, "unheard" or "rescan failed";
    // set-time: "OFFSET" read back, "unanswered" or "ntp off" (the device's service is off).
    QTest::addColumn<QString>("after");
    QTest::addColumn<Verification::Result>("result");
    QTest::addColumn<Verification::Seen>("seen");
    QTest::addColumn<ExitStatus>("status");

    using R = Verification::Result;
    using S = Verification::Seen;
    QTest::newRow("address stored")
        << "set-address 10.77.5.1"
        << "10.77.5.1" << R::Passed << S::AddressStored << ExitStatus::Success;
    QTest::newRow("another address stored")
        << "set-address 10.77.5.1"
        << "10.77.1.1" << R::Failed << S::OtherAddressStored << ExitStatus::VerifyFailed;
    QTest::newRow("device unheard")
        << "set-address 10.77.5.1"
        << "unheard" << R::CannotVerify << S::DeviceUnheard << ExitStatus::CannotVerify;
    QTest::newRow("rescan failed")
        << "set-address 10.77.5.1"
        << "rescan failed" << R::CannotVerify << S::RescanFailed << ExitStatus::CannotVerify;
    QTest::newRow("clock within") << "set-time"
                                  << "0.4" << R::Passed << S::ClockRead << ExitStatus::Success;
    QTest::newRow("clock at the tolerance, behind")
        << "set-time"
        << "-2" << R::Passed << S::ClockRead << ExitStatus::Success;
    QTest::newRow("clock outside")
        << "set-time"
        << "2.5" << R::Failed << S::ClockRead << ExitStatus::VerifyFailed;
    QTest::newRow("clock unanswered")
        << "set-time"
        << "unanswered" << R::CannotVerify << S::ClockUnread << ExitStatus::CannotVerify;
    QTest::newRow("ntp off") << "set-time"
                             << "ntp off" << R::CannotVerify << S::NtpOff
                             << ExitStatus::CannotVerify;
}

void tst_EngineUnits::verdicts()
{
    QFETCH(QString, command);
    QFETCH(QString, after);
    QFETCH(Verification::Result, result);
    QFETCH(Verification::Seen, seen);
    QFETCH(ExitStatus, status);
    const DeviceEntry device
        = UnitFixtures::device(1, "10.77.1.1", "A", QString(), after != "ntp off");
    OrderOutcome outcome;
    Verification verification;
    if (command.startsWith("set-address")) {
        const quint32 wanted = QHostAddress(command.section(' ', 1)).toIPv4Address();
        if (!after.contains(' ') && after != "unheard")
            outcome.heardAfter = UnitFixtures::device(1, "10.77.1.1", "A", after);
        verification = Verdicts::ofAddress(device, outcome, wanted,
                                           after == "rescan failed" ? "no address" : "");
        QCOMPARE(verification.wantedAddress, command.section(' ', 1));
        QCOMPARE(verification.storedAddress, outcome.heardAfter ? after : QString());
    } else {
        SntpQuery::Result clock;
        clock.answered = after != "unanswered";
        clock.offsetSeconds = after.toDouble();
        clock.stratum = 1;
        clock.attempts = 1;
        if (after != "ntp off")
            outcome.clockAfter = clock;
        verification = Verdicts::ofClock(device, outcome, 2.0);
        if (seen == Verification::Seen::ClockRead)
            QCOMPARE(verification.offsetSeconds, clock.offsetSeconds);
    }
    QCOMPARE(verification.result, result);
    QCOMPARE(verification.seen, seen);
    QCOMPARE(Verdicts::exitStatus(verification), status);
    QCOMPARE(verification.serial, 1);
    QCOMPARE(verification.deviceAddress, QStringLiteral("10.77.1.1"));
}

void tst_EngineUnits::addressAllocator_data()
{
    // Devices as "SERIAL CURRENT [STORED]", heard on 10.77.0.1/16 (this machine's address).
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QString>("range");
    QTest::addColumn<QStringList>("othersHold"); // what another host on the link answers for
    // "SERIAL ADDRESS" per line planned, "SERIAL -" per device left out as the range is used up
    // and "SERIAL unreachable" for one at 0.0.0.0, in the scan's order
    QTest::addColumn<QStringList>("planned");
    QTest::addColumn<QStringList>("asked"); // what the probe was asked, in order
    // "not handed out ADDRESS", "ADDRESS not kept by DEVICE", "serial SERIAL twice", in order
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("range order") << QStringList { "1 10.77.1.1", "2 10.77.1.2", "3 10.77.1.3" }
                                 << "10.77.5.1-10.77.5.9" << QStringList {}
                                 << QStringList { "1 10.77.5.1", "2 10.77.5.2", "3 10.77.5.3" }
                                 << QStringList { "10.77.5.1", "10.77.5.2", "10.77.5.3" }
                                 << QStringList {};
    QTest::newRow("addresses of this machine and of devices skipped")
        << QStringList { "1 10.77.1.1", "2 10.77.0.2 10.77.1.2", "3 10.77.1.3" }
        << "10.77.0.1-10.77.0.9" << QStringList {}
        << QStringList { "1 10.77.0.3", "2 10.77.0.4", "3 10.77.0.5" }
        << QStringList { "10.77.0.3", "10.77.0.4", "10.77.0.5" } << QStringList {};
    QTest::newRow("addresses another host holds skipped")
        << QStringList { "1 10.77.1.1", "2 10.77.1.2" } << "10.77.5.1-10.77.5.9"
        << QStringList { "10.77.5.1", "10.77.5.3" } << QStringList { "1 10.77.5.2", "2 10.77.5.4" }
        << QStringList { "10.77.5.1", "10.77.5.2", "10.77.5.3", "10.77.5.4" }
        << QStringList { "not handed out 10.77.5.1", "not handed out 10.77.5.3" };
    QTest::newRow("a device already inside the range keeps its address")
        << QStringList { "1 10.77.1.1", "2 10.77.1.2 10.77.5.1", "3 10.77.5.2" }
        << "10.77.5.1-10.77.5.9" << QStringList {}
        << QStringList { "1 10.77.5.3", "2 10.77.5.1", "3 10.77.5.2" }
        << QStringList { "10.77.5.1", "10.77.5.3" } << QStringList {};
    QTest::newRow("a stored address another host holds is not kept")
        << QStringList { "1 10.77.1.1 10.77.5.1" } << "10.77.5.1-10.77.5.9"
        << QStringList { "10.77.5.1" } << QStringList { "1 10.77.5.2" }
        << QStringList { "10.77.5.1", "10.77.5.2" }
        << QStringList { "10.77.5.1 not kept by (no name), serial 1, 10.77.1.1" };
    QTest::newRow("two devices store one address: the first keeps it")
        << QStringList { "1 10.77.1.1 10.77.5.2", "2 10.77.1.2 10.77.5.2" } << "10.77.5.1-10.77.5.9"
        << QStringList {} << QStringList { "1 10.77.5.2", "2 10.77.5.1" }
        << QStringList { "10.77.5.2", "10.77.5.1" } << QStringList {};
    QTest::newRow("range exhausted")
        << QStringList { "1 10.77.1.1", "2 10.77.1.2", "3 10.77.1.3" } << "10.77.5.1-10.77.5.3"
        << QStringList { "10.77.5.2" } << QStringList { "1 10.77.5.1", "2 10.77.5.3", "3 -" }
        << QStringList { "10.77.5.1", "10.77.5.2", "10.77.5.3" }
        << QStringList { "not handed out 10.77.5.2" };
    QTest::newRow("range bigger than one batch: only what is needed is asked, again as taken")
        << QStringList { "1 10.77.1.1", "2 10.77.1.2" } << "10.77.5.1-10.77.9.255"
        << QStringList { "10.77.5.1", "10.77.5.2", "10.77.5.3" }
        << QStringList { "1 10.77.5.4", "2 10.77.5.5" }
        << QStringList { "10.77.5.1", "10.77.5.2", "10.77.5.3", "10.77.5.4", "10.77.5.5" }
        << QStringList { "not handed out 10.77.5.1", "not handed out 10.77.5.2",
                         "not handed out 10.77.5.3" };
    QTest::newRow("network and broadcast addresses of the subnet refused")
        << QStringList { "1 10.77.1.1", "2 10.77.1.2" } << "10.77.255.254-10.78.0.1"
        << QStringList {} << QStringList { "1 10.77.255.254", "2 -" }
        << QStringList { "10.77.255.254" } << QStringList {};
    // plan refuses such a range before allocating: the rows say what allocating would do.
    QTest::newRow("range outside: no device can use it")
        << QStringList { "1 10.77.1.1", "2 10.77.1.2" } << "10.1.0.1-10.1.0.9" << QStringList {}
        << QStringList { "1 -", "2 -" } << QStringList {} << QStringList {};
    QTest::newRow("a device at 0.0.0.0 is left out, a serial heard twice warned of")
        << QStringList { "1 0.0.0.0", "2 10.77.1.2", "2 10.77.1.3" } << "10.77.5.1-10.77.5.9"
        << QStringList {} << QStringList { "1 unreachable", "2 10.77.5.1", "2 10.77.5.2" }
        << QStringList { "10.77.5.1", "10.77.5.2" } << QStringList { "serial 2 twice" };
}

void tst_EngineUnits::addressAllocator()
{
    QFETCH(QStringList, devices);
    QFETCH(QString, range);
    QFETCH(QStringList, othersHold);
    QFETCH(QStringList, planned);
    QFETCH(QStringList, asked);
    QFETCH(QStringList, warnings);
    const auto ipv4 = [](const QString &text) { return QHostAddress(text).toIPv4Address(); };
    AddressAllocator::Request request;
    for (const QString &device : devices) {
        const QStringList words = device.split(' ');
        request.devices.append(
            UnitFixtures::device(words.at(0).toInt(), words.at(1), "", words.value(2)));
    }
    request.localAddresses.insert(ipv4("10.77.0.1"));
    request.first = ipv4(range.section('-', 0, 0));
    request.last = ipv4(range.section('-', 1, 1));
    QStringList probed;
    const auto probe = [&](const QList<AddressProbe::Request> &requests) {
        QList<AddressHolder> holders;
        for (const AddressProbe::Request &asked : requests) {
            const QString address = QHostAddress(asked.address).toString();
            probed.append(address);
            AddressHolder holder;
            holder.state = othersHold.contains(address) ? AddressHolder::State::InUse
                                                        : AddressHolder::State::Free;
            holders.append(holder);
        }
        return holders;
    };
    QStringList warned;
    const auto warn = [&](const PlanWarning &warning) {
        const QString address = AddressRules::format(warning.holding.address);
        switch (warning.kind) {
        case PlanWarning::Kind::NotHandedOut:
            warned.append("not handed out " + address);
            break;
        case PlanWarning::Kind::KeptAddressInUse:
            warned.append(address + " not kept by " + warning.device);
            break;
        case PlanWarning::Kind::SerialTwice:
            warned.append(QStringLiteral("serial %1 twice").arg(warning.serial));
            break;
        }
        if (warning.kind != PlanWarning::Kind::SerialTwice)
            QCOMPARE(warning.holding.via.describe(), "10.77.0.1 (ws1)");
    };
    const AddressAllocator::Allocation allocation
        = AddressAllocator::allocate(request, probe, warn);

    const bool outside = QString(QTest::currentDataTag()).startsWith("range outside");
    QCOMPARE(AddressAllocator::subnetsMissed(request),
             outside ? QStringList { "10.77.0.0/16" } : QStringList {});

    QStringList found;
    int row = 0;
    int left = 0;
    for (const DeviceEntry &device : std::as_const(request.devices)) {
        if (row < allocation.rows.size() && allocation.rows.at(row).serial == device.reply.serial
            && allocation.rows.at(row).currentAddress == device.address()) {
            found.append(QStringLiteral("%1 %2")
                             .arg(device.reply.serial)
                             .arg(QHostAddress(allocation.rows.at(row++).newAddress).toString()));
            continue;
        }
        QVERIFY(left < allocation.unplanned.size());
        const UnplannedDevice &unplanned = allocation.unplanned.at(left++);
        QCOMPARE(unplanned.device, device.describe());
        QCOMPARE(unplanned.subnet, QStringLiteral("10.77.0.0/16"));
        found.append(QStringLiteral("%1 %2")
                         .arg(device.reply.serial)
                         .arg(unplanned.reason == UnplannedDevice::Reason::Unreachable
                                  ? "unreachable"
                                  : "-"));
    }
    QCOMPARE(found, planned);
    QCOMPARE(left, int(allocation.unplanned.size()));
    QCOMPARE(probed, asked);
    QCOMPARE(warned, warnings);
}

void tst_EngineUnits::addressObjection_data()
{
    // Devices as "SERIAL CURRENT [STORED]", heard on 10.77.0.1/16; the first is given the address.
    QTest::addColumn<QStringList>("heard");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("hostHolds"); // another host on the link answers for it
    // "refused: REASON", "held by DEVICES", "host holds ADDRESS", a part of it; empty: none
    QTest::addColumn<QString>("objection");
    QTest::addColumn<bool>("asked"); // whether the link was asked

    QTest::newRow("free") << QStringList { "1 10.77.1.1" } << "10.77.5.1" << false << "" << true;
    QTest::newRow("refused by the address rules")
        << QStringList { "1 10.77.1.1" } << "10.77.255.255" << true
        << "refused: 10.77.255.255 is the broadcast address of" << false;
    QTest::newRow("its own current address, which another host cannot hold")
        << QStringList { "1 10.77.1.1" } << "10.77.1.1" << true << "" << false;
    QTest::newRow("another device's current address")
        << QStringList { "1 10.77.1.1", "2 10.77.1.2" } << "10.77.1.2" << false
        << "held by (no name), serial 2, 10.77.1.2" << false;
    QTest::newRow("another device's stored address")
        << QStringList { "1 10.77.1.1", "2 10.77.1.2 10.77.5.2" } << "10.77.5.2" << false
        << "held by (no name), serial 2, 10.77.1.2, as its stored address, which it takes at its "
           "next restart"
        << false;
    QTest::newRow("a second device answering with the same serial")
        << QStringList { "1 10.77.1.1", "1 10.77.1.2" } << "10.77.1.2" << false
        << "held by (no name), serial 1, 10.77.1.2" << false;
    QTest::newRow("a host on the link")
        << QStringList { "1 10.77.1.1" } << "10.77.5.1" << true << "host holds 10.77.5.1" << true;
}

void tst_EngineUnits::addressObjection()
{
    QFETCH(QStringList, heard);
    QFETCH(QString, address);
    QFETCH(bool, hostHolds);
    QFETCH(QString, objection);
    QFETCH(bool, asked);
    QList<DeviceEntry> devices;
    for (const QString &device : heard) {
        const QStringList words = device.split(' ');
        devices.append(UnitFixtures::device(words.at(0).toInt(), words.at(1), "", words.value(2)));
    }
    bool probed = false;
    const auto probe = [&](const QList<AddressProbe::Request> &requests) {
        probed = true;
        AddressHolder holder;
        holder.state = hostHolds ? AddressHolder::State::InUse : AddressHolder::State::Free;
        return QList<AddressHolder>(requests.size(), holder);
    };
    const AddressObjection value = Verdicts::addressObjection(
        devices.first(), devices, QHostAddress(address).toIPv4Address(), probe);
    using Kind = AddressObjection::Kind;
    const QString found = value.kind == Kind::Refused ? "refused: " + value.refusal
        : value.kind == Kind::HeldByDevices           ? "held by " + value.devices.join("; ")
        : value.kind == Kind::HeldByHost
        ? "host holds " + AddressRules::format(value.holding.address)
        : QString();
    QCOMPARE(found.isEmpty(), objection.isEmpty());
    QVERIFY2(found.contains(objection), qPrintable(found));
    QCOMPARE(probed, asked);
}

// A stock Debian (net.core.rmem_max 212,992) grants 416 KiB of the 8 MiB a default request would
// have; room for 184 replies as a wired adapter charges them.
void tst_EngineUnits::replyBuffer_data()
{
    QTest::addColumn<int>("full");
    QTest::addColumn<int>("granted");
    QTest::addColumn<qint64>("dropped");
    QTest::addColumn<int>("replies");
    QTest::addColumn<QStringList>("codes");

    constexpr int request = 8 * 1024 * 1024;
    constexpr int stock = 2 * 212992;
    QTest::newRow("stock cap, a few devices")
        << request << stock << qint64(0) << 5 << QStringList {};
    QTest::newRow("stock cap, as many devices as it holds")
        << request << stock << qint64(0) << 184 << QStringList {};
    QTest::newRow("stock cap, one device more")
        << request << stock << qint64(0) << 185 << QStringList { "reply-buffer-capped" };
    QTest::newRow("stock cap, replies lost")
        << request << stock << qint64(3) << 5
        << QStringList { "reply-buffer-capped", "replies-dropped" };
    QTest::newRow("stock cap, drops not counted, too many devices")
        << request << stock << qint64(-1) << 2000 << QStringList { "reply-buffer-capped" };
    QTest::newRow("granted in full, 2,000 devices")
        << request << request << qint64(0) << 2000 << QStringList {};
    QTest::newRow("granted in full, one reply lost")
        << request << request << qint64(1) << 2000 << QStringList { "replies-dropped" };
    QTest::newRow("a small request granted in full, too small")
        << 2048 << 4608 << qint64(0) << 3 << QStringList { "reply-buffer-small" };
    QTest::newRow("drops not counted, granted in full (Windows)")
        << request / 2 << request / 2 << qint64(-1) << 1000 << QStringList {};
}

void tst_EngineUnits::replyBuffer()
{
    QFETCH(int, full);
    QFETCH(int, granted);
    QFETCH(qint64, dropped);
    QFETCH(int, replies);
    QFETCH(QStringList, codes);
    const QList<HealthNote> notes = ReplyBuffer::notes(
        { full, granted, dropped, replies, "net.core.rmem_max", "sysctl -w net.core.rmem_max=1" });
    QStringList found;
    for (const HealthNote &note : notes)
        found.append(note.code);
    QCOMPARE(found, codes);
    if (codes.contains("reply-buffer-capped"))
        QVERIFY2(notes.constFirst().text.contains(
                     QStringLiteral("room for about %1 replies at once, and %2 devices answered")
                         .arg(granted / ReplyBuffer::bytesPerReply)
                         .arg(replies)),
                 qPrintable(notes.constFirst().text));
}

QTEST_GUILESS_MAIN(tst_EngineUnits)
#include "tst_engineunits.moc"
