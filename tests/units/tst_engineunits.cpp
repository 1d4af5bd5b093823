#include "clockreport.h"
#include "devicepresence.h"
#include "plancheck.h"
#include "unitfixtures.h"

#include <QTest>

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
};

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

QTEST_GUILESS_MAIN(tst_EngineUnits)
#include "tst_engineunits.moc"
