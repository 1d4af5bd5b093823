#include "addresswords.h"
#include "applyoutput.h"
#include "checkoutput.h"
#include "commandoutput.h"
#include "csvtable.h"
#include "outputwriter.h"
#include "planoutput.h"
#include "pluginstatus.h"
#include "scanwords.h"
#include "textescape.h"
#include "unitfixtures.h"
#include "verificationwords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace UnitFixtures;

namespace {

// Where a table leaves the header's columns: every cell must start where its title does, after
// two blanks at least, and the last one must end its line. Empty when all keep to them.
QString misaligned(const QString &table, const QList<QStringList> &rows)
{
    const QStringList lines = table.split(QLatin1Char('\n'));
    QList<int> starts;
    for (const QString &title : rows.first())
        starts.append(int(lines.first().indexOf(title, starts.isEmpty() ? 0 : starts.last() + 1)));
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows.at(r).size(); ++c) {
            const QString &cell = rows.at(r).at(c);
            const bool last = c == rows.at(r).size() - 1;
            if (lines.at(r).mid(starts.at(c), last ? -1 : cell.size()) != cell
                || (c > 0 && lines.at(r).mid(starts.at(c) - 2, 2) != QLatin1String("  ")))
                return QStringLiteral("column %1 of \"%2\"").arg(c + 1).arg(lines.at(r));
        }
    }
    return QString();
}

// JSON text as a terminal may be given it: no C0 control but the line break, no DEL, no C1.
bool controlFree(const QByteArray &json)
{
    for (qsizetype i = 0; i < json.size(); ++i) {
        const auto byte = uchar(json.at(i));
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F
            || (byte == 0xC2 && i + 1 < json.size() && uchar(json.at(i + 1)) <= 0x9F))
            return false;
    }
    return true;
}

// Plan line 2 in the state named as apply names it, for device A (serial 1 at 10.77.1.1, heard
// on 10.77.0.1 on ws1) unless skipped: to store 10.77.5.1 and set the clock.
ApplyLineResult applyLine(const QString &state)
{
    const QStringList names { "skipped",    "faulty", "not-sent", "in-effect",
                              "would-send", "done",   "failed",   "cannot-verify" };
    ApplyLineResult line;
    line.lineNumber = 2;
    line.serial = 1;
    line.where = "line 2 (serial 1)";
    line.newAddress = QHostAddress("10.77.5.1").toIPv4Address();
    line.setTime = true;
    line.state = ApplyLineResult::State(names.indexOf(state));
    if (line.state == ApplyLineResult::State::Skipped
        || line.state == ApplyLineResult::State::Faulty) {
        line.faults = QStringList { "no device with serial 1 answered", "a second fault" };
        return line;
    }
    line.device
        = ApplyLineResult::Device { "A, serial 1, 10.77.1.1", "A", "10.77.1.1", workstation() };
    line.offsetBefore = 0.12;
    return line;
}

// --warn and --crit as typed.
PluginStatus::Thresholds thresholds(const QString &warn, const QString &crit)
{
    return { *PluginRange::parse(warn, "warn"), *PluginRange::parse(crit, "crit") };
}

// What the plugin's rules found, as the engine would give it: the state (the plugin's exit
// status) and one band per reading, '.' inside, 'w' outside --warn, 'c' outside --crit.
PluginFindings findings(int status, const QString &bands)
{
    PluginFindings found;
    found.state = PluginState(status);
    for (const QChar band : bands)
        found.bands.append(band == 'c'       ? PluginFindings::Band::Critical
                               : band == 'w' ? PluginFindings::Band::Warning
                                             : PluginFindings::Band::Inside);
    return found;
}

} // namespace

// How results are written: the scan's three formats, the check's two and the monitoring
// plugin's verdict, with names from the wire that try to break each.
class tst_OutputUnits : public QObject
{
    Q_OBJECT

private slots:
    void scanWriters_data();
    void scanWriters();
    void pluginStatus_data();
    void pluginStatus();
    void pluginThresholds_data();
    void pluginThresholds();
    void pluginExpectations_data();
    void pluginExpectations();
    void pluginUnknown();
    void checkOutput();
    void applyLines_data();
    void applyLines();
    void stderrSentences_data();
    void stderrSentences();
    void applySummary_data();
    void applySummary();
    void verificationWords_data();
    void verificationWords();
};

void tst_OutputUnits::scanWriters_data()
{
    QTest::addColumn<QByteArray>("name"); // as the device sends it, without NUL padding
    QTest::addColumn<QStringList>("cells"); // in the table, and in CSV
    QTest::newRow("plain") << QByteArray("CLOCK-A") << QStringList { "CLOCK-A", "CLOCK-A" };
    QTest::newRow("formula") << QByteArray("=HYPERLINK(")
                             << QStringList { "=HYPERLINK(", "\"'=HYPERLINK(\"" };
    QTest::newRow("comma and quotes")
        << QByteArray("a,\"b\"") << QStringList { "a,\"b\"", "\"a,\"\"b\"\"\"" };
    QTest::newRow("escape and line break")
        << QByteArray("\x1b[2J\r\nX")
        << QStringList { "\\x1b[2J\\x0d\\x0aX", "\\x1b[2J\\x0d\\x0aX" };
    QTest::newRow("DEL, C1 and Latin-1")
        << QByteArray("\x7f\x9b\xe9") << QStringList { "\\x7f\\x9b\u00e9", "\\x7f\\x9b\u00e9" };
    QTest::newRow("NUL inside, backslash")
        << QByteArray("A\0B\\", 4) << QStringList { "A\\x00B\\\\", "A\\x00B\\\\" };
    QTest::newRow("blanks around") << QByteArray(" pad ") << QStringList { " pad ", "\" pad \"" };
    QTest::newRow("minus, control character")
        << QByteArray("-\t1") << QStringList { "-\\x091", "\"'-\\x091\"" };
    QTest::newRow("no name") << QByteArray() << QStringList { "", "" };
}

void tst_OutputUnits::scanWriters()
{
    QFETCH(QByteArray, name);
    QFETCH(QStringList, cells);
    ScanReport report;
    report.devices
        = { device(1, "10.77.1.1", name), device(-5, "10.77.1.20", "CLOCK-B", "10.77.1.21") };
    report.devices[1].reply.gps = true;
    report.devices[1].notes = { { "pending-restart", "takes 10.77.1.21 at its next restart" } };
    report.scannedFrom = { workstation() };

    const QString table = QString::fromUtf8(TableWriter().write(report));
    const QList<QStringList> rows {
        { "NAME", "ADDRESS", "STORED", "SERIAL", "UPTIME", "SERVICES", "HEARD ON", "NOTES" },
        { cells.at(0), "10.77.1.1", "10.77.1.1", "1", "5h", "ntp", "10.77.0.1", "-" },
        { "CLOCK-B", "10.77.1.20", "10.77.1.21", "-5", "5h", "ntp,gps", "10.77.0.1",
          "pending-restart" },
    };
    QVERIFY2(misaligned(table, rows).isEmpty(), qPrintable(misaligned(table, rows)));
    QVERIFY(table.endsWith("\n\n10.77.1.20 (serial -5): takes 10.77.1.21 at its next restart\n"));

    const QByteArray json = JsonWriter().write(report);
    QVERIFY2(controlFree(json), json.constData());
    const QJsonObject document = QJsonDocument::fromJson(json).object();
    QCOMPARE(document.value("format").toString(), "setuptool-cli/scan");
    QCOMPARE(document.value("version").toInt(), 2);
    const QJsonObject first = document.value("devices").toArray().at(0).toObject();
    QCOMPARE(first.value("name").toString(), QString::fromLatin1(name));
    QVERIFY(document.value("statistics").toObject().value("dropped").isNull());

    // RFC 4180: CRLF after every line and nowhere else, formula-safe cells.
    const QStringList lines = QString::fromUtf8(CsvWriter().write(report)).split("\r\n");
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.last().isEmpty());
    QCOMPARE(lines.at(0),
             "name,address,stored_address,serial,uptime_hours,ntp,mbtcp,melsec,gps,"
             "heard_on,interface,notes");
    QCOMPARE(lines.at(1), cells.at(1) + ",10.77.1.1,10.77.1.1,1,5,1,0,0,0,10.77.0.1,ws1,");
    QCOMPARE(lines.at(2),
             "CLOCK-B,10.77.1.20,10.77.1.21,\"-5\",5,1,0,0,1,10.77.0.1,ws1,pending-restart");

    // Every other command's CSV (check, set-time, set-address, apply) shows the name alike.
    const QStringList otherCsv
        = QString::fromUtf8(CsvTable::write({ QJsonObject { { "name", QString::fromLatin1(name) },
                                                            { "serial", 1 } } },
                                            { "name" }))
              .split("\r\n");
    QCOMPARE(otherCsv.value(1), cells.at(1) + ",1");
}

void tst_OutputUnits::pluginStatus_data()
{
    QTest::addColumn<QStringList>("devices"); // as UnitFixtures::report() takes them
    QTest::addColumn<int>("status"); // as found with --warn 0.5 --crit 2
    QTest::addColumn<QString>("bands"); // as findings() takes them
    QTest::addColumn<QString>("perfdata"); // a part of it
    QTest::addColumn<int>("lines");

    QTest::newRow("ok") << QStringList { "ok 0.1 0.001", "ok -0.4999 0.002" } << 0 << ".."
                        << "devices=2 checked=2 answered=2 unsynchronised=0 unanswered=0 "
                           "not_checkable=0 worst_offset=0.499900s;0.5;2;0; "
                           "median_delay=0.001500s;;;0; max_delay=0.002000s;;;0;"
                        << 1;
    QTest::newRow("warning, clock behind")
        << QStringList { "ok -0.7 0.001", "ok 0.1 0.001" } << 1 << "w."
        << "worst_offset=0.700000s;" << 2;
    QTest::newRow("critical and warning")
        << QStringList { "ok -2.1 0.001", "ok 0.6 0.001" } << 2 << "cw"
        << "worst_offset=2.100000s;" << 3;
    QTest::newRow("unsynchronised, small offset")
        << QStringList { "ok 0 0.001", "s16 0.01 0.001" } << 2 << ".."
        << "unsynchronised=1" << 2;
    QTest::newRow("kiss-of-death") << QStringList { "kiss", "ok 0 0.001" } << 2 << ".."
                                   << "answered=2 unsynchronised=1" << 2;
    QTest::newRow("not answering") << QStringList { "silent", "ok 0 0.001" } << 2 << ".."
                                   << "unanswered=1" << 2;
    QTest::newRow("no time read") << QStringList { "silent" } << 2 << "."
                                  << "worst_offset=U;0.5;2;0; median_delay=U;;;0; max_delay=U;;;0;"
                                  << 2;
    QTest::newRow("NTP off does not count") << QStringList { "off", "ok 0.1 0.001" } << 0 << ".."
                                            << "not_checkable=1" << 2;
    QTest::newRow("no checkable device") << QStringList { "off", "zero" } << 3 << ".."
                                         << "" << 1;
    QTest::newRow("no device") << QStringList {} << 3 << ""
                               << "" << 1;
    // Long output names 50 devices at most, then counts the rest on one line.
    QTest::newRow("50 devices named")
        << QStringList(50, "ok 0.6 0.001") << 1 << QString(50, 'w') << "devices=50" << 51;
    QTest::newRow("51st counted") << QStringList(51, "ok 0.6 0.001") << 1 << QString(51, 'w')
                                  << "devices=51" << 52;
}

void tst_OutputUnits::pluginStatus()
{
    QFETCH(QStringList, devices);
    QFETCH(int, status);
    QFETCH(QString, bands);
    QFETCH(QString, perfdata);
    QFETCH(int, lines);
    const PluginStatus::Verdict verdict = PluginStatus::verdict(
        UnitFixtures::report(devices), thresholds("0.5", "2"), findings(status, bands));
    QCOMPARE(int(verdict.status), status);
    QCOMPARE(PluginStatus::exitCode(verdict.status), status);
    static const QStringList words { "OK", "WARNING", "CRITICAL", "UNKNOWN" };
    QVERIFY2(verdict.text.startsWith("CLOCK " + words.at(status) + " - "),
             qPrintable(verdict.text));
    QVERIFY(verdict.text.endsWith('\n'));
    QCOMPARE(verdict.text.count('\n'), lines);
    // Every device is named "D|n": only the performance data may start at a '|'.
    QCOMPARE(verdict.text.count('|'), status == 3 ? 0 : 1);
    QVERIFY2(verdict.text.section('|', 1).section('\n', 0, 0).trimmed().contains(perfdata),
             qPrintable(verdict.text));
    if (status == 1 || status == 2)
        QVERIFY2(verdict.text.contains("D\\x7c"), qPrintable(verdict.text));
    QCOMPARE(verdict.text.contains("\nand 1 more device not OK ("), devices.size() == 51);
}

void tst_OutputUnits::pluginThresholds_data()
{
    QTest::addColumn<QString>("warn");
    QTest::addColumn<QString>("crit");
    QTest::addColumn<QString>("perfdata");
    QTest::addColumn<QString>("status"); // as found of an offset of 0.1 s
    QTest::newRow("whole and half") << "0.5"
                                    << "2"
                                    << ";0.5;2;0;"
                                    << "OK";
    QTest::newRow("tiny, no exponent") << "0.00001"
                                       << "0.5"
                                       << ";0.00001;0.5;0;"
                                       << "WARNING";
    QTest::newRow("ranges as typed") << "~:1"
                                     << "@0.05:0.2"
                                     << ";~:1;@0.05:0.2;0;"
                                     << "CRITICAL";
    QTest::newRow("too close") << "0.2:"
                               << "0.05:"
                               << ";0.2:;0.05:;0;"
                               << "WARNING";
}

void tst_OutputUnits::pluginThresholds()
{
    QFETCH(QString, warn);
    QFETCH(QString, crit);
    QFETCH(QString, perfdata);
    QFETCH(QString, status);
    const int state = QStringList { "OK", "WARNING", "CRITICAL" }.indexOf(status);
    const QString text
        = PluginStatus::verdict(UnitFixtures::report({ "ok 0.1 0.001" }), thresholds(warn, crit),
                                findings(state, QString(".wc").at(state)))
              .text;
    QVERIFY2(text.contains("worst_offset=0.100000s" + perfdata), qPrintable(text));
    QVERIFY2(text.startsWith("CLOCK " + status + " - "), qPrintable(text));
}

void tst_OutputUnits::pluginExpectations_data()
{
    QTest::addColumn<QStringList>("devices"); // as UnitFixtures::report() takes them
    // What the engine found of the devices expected: missing as typed, the indices of those
    // heard but not expected, and the minimum asked for.
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QList<int>>("unexpected");
    QTest::addColumn<int>("minDevices");
    QTest::addColumn<int>("notRead"); // before a deadline of 8 s; 0: none passed
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("summary"); // a part of the status line
    QTest::addColumn<QStringList>("longOutput"); // the start of each line
    QTest::newRow("all there, one more heard")
        << QStringList { "ok 0.1 0.001", "ok 0 0.001" } << QStringList {} << QList<int> { 1 } << 0
        << 0 << 0 << "OK - 2 devices checked"
        << QStringList { "D\\x7c2 (serial 2, 10.77.1.2): answered, not expected" };
    QTest::newRow("one missing") << QStringList { "ok 0.1 0.001" } << QStringList { "CLOCK-9" }
                                 << QList<int> {} << 0 << 0 << 2
                                 << "CRITICAL - 1 expected device missing (1 device checked)"
                                 << QStringList { "CLOCK-9: expected, did not answer the scan" };
    QTest::newRow("none heard") << QStringList {} << QStringList { "7" } << QList<int> {} << 0 << 0
                                << 2 << "CRITICAL - 1 expected device missing (0 devices checked)"
                                << QStringList { "7: expected" };
    QTest::newRow("too few, NTP off")
        << QStringList { "off" } << QStringList {} << QList<int> {} << 3 << 0 << 2
        << "CRITICAL - 1 device of at least 3 heard" << QStringList { "1 device not checkable" };
    QTest::newRow("enough") << QStringList { "ok 0 0.001" } << QStringList {} << QList<int> {} << 1
                            << 0 << 0 << "OK - 1 device checked" << QStringList {};
    QTest::newRow("deadline")
        << QStringList { "ok 0 0.001", "silent" } << QStringList {} << QList<int> {} << 0 << 1 << 2
        << "CRITICAL - 1 not answering, deadline of 8 s passed (2 devices checked)"
        << QStringList { "D\\x7c2 (serial 2, 10.77.1.2): no answer",
                         "1 device not read before the deadline of 8 s" };
}

void tst_OutputUnits::pluginExpectations()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, missing);
    QFETCH(QList<int>, unexpected);
    QFETCH(int, minDevices);
    QFETCH(int, notRead);
    QFETCH(int, status);
    QFETCH(QString, summary);
    QFETCH(QStringList, longOutput);
    const ClockReport report = UnitFixtures::report(devices);
    // Every row that lists a device expected has one missing or one not expected.
    DevicePresence presence { missing, unexpected, int(devices.size()), minDevices,
                              !missing.isEmpty() || !unexpected.isEmpty() || minDevices > 0 };
    PluginStatus::Circumstances circumstances { presence, std::nullopt, notRead };
    if (notRead > 0)
        circumstances.deadlineMs = 8000;
    const PluginStatus::Verdict verdict
        = PluginStatus::verdict(report, thresholds("0.5", "2"),
                                findings(status, QString(devices.size(), '.')), circumstances);
    QCOMPARE(int(verdict.status), status);
    const QStringList lines = verdict.text.split('\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.first().startsWith("CLOCK " + summary), qPrintable(verdict.text));
    const QString missingData = QStringLiteral(" missing=%1;;0;0;").arg(presence.missingCount());
    QCOMPARE(lines.first().contains(missingData), presence.expecting);
    QCOMPARE(lines.first().contains("missing="), presence.expecting);
    QCOMPARE(lines.size(), longOutput.size() + 1);
    for (int i = 0; i < longOutput.size(); ++i)
        QVERIFY2(lines.at(i + 1).startsWith(longOutput.at(i)), qPrintable(verdict.text));
}

void tst_OutputUnits::pluginUnknown()
{
    const PluginStatus::Verdict verdict = PluginStatus::unknown("bad | option\nTry help ");
    QCOMPARE(verdict.text, "CLOCK UNKNOWN - bad / option Try help\n");
    QCOMPARE(PluginStatus::exitCode(verdict.status), 3);
}

void tst_OutputUnits::checkOutput()
{
    CheckRun run;
    run.report = UnitFixtures::report({ "ok 0.000094 0.000319", "ok -1.5 0.000206",
                                        "s16 0.000037 0.000134", "kiss", "silent", "off" });
    const QByteArray name("\x1b]0;x\x07\x9b", 7);
    run.report.readings[0].device.reply.name = name.leftJustified(13, '\0');
    run.scannedFrom = { workstation() };
    run.requests = 7;

    const QString table = QString::fromUtf8(CheckOutput::table(run));
    const QList<QStringList> rows {
        { "NAME", "ADDRESS", "SERIAL", "CLOCK", "OFFSET", "DELAY", "STRATUM", "LEAP", "DETAIL" },
        { "\\x1b]0;x\\x07\\x9b", "10.77.1.1", "1", "ok", "+0.000094 s", "0.000319 s", "1", "0",
          "-" },
        { "D|2", "10.77.1.2", "2", "ok", "-1.500000 s", "0.000206 s", "1", "0", "-" },
        { "D|3", "10.77.1.3", "3", "UNSYNCHRONISED", "+0.000037 s", "0.000134 s", "16", "0",
          "not synchronised (stratum 16)" },
        { "D|4", "10.77.1.4", "4", "UNSYNCHRONISED", "-", "-", "0", "0",
          "refuses to serve time (kiss-of-death RATE)" },
        { "D|5", "10.77.1.5", "5", "NO ANSWER", "-", "-", "-", "-", "no answer after 2 tries" },
        { "D|6", "10.77.1.6", "6", "not checkable", "-", "-", "-", "-", "NTP service off" },
    };
    QVERIFY2(misaligned(table, rows).isEmpty(), qPrintable(misaligned(table, rows)));
    QVERIFY2(table.endsWith("\n\nfound 6, checked 5, answered 4, unsynchronised 2, no answer 1, "
                            "not checkable 1\nworst offset -1.500000 s (D|2, serial 2, 10.77.1.2); "
                            "median delay 0.000206 s\n"),
             qPrintable(table));

    const QByteArray json = CheckOutput::json(run);
    QVERIFY2(controlFree(json), json.constData());
    const QJsonObject document = QJsonDocument::fromJson(json).object();
    QCOMPARE(document.value("format").toString(), "setuptool-cli/check");
    QCOMPARE(document.value("version").toInt(), 2);
    const QJsonArray devices = document.value("devices").toArray();
    QCOMPARE(devices.at(0).toObject().value("name").toString(), QString::fromLatin1(name));
    QStringList
        found; // per device: state, offset, stratum, reference, attempts; a reason unless ok
    for (const QJsonValue &device : devices) {
        QStringList values;
        for (const char *key : { "state", "offset_s", "stratum", "reference_id", "attempts" })
            values.append(device[key].isNull() ? "null" : device[key].toVariant().toString());
        found.append(values.join(' '));
        QCOMPARE(device["reason"].isNull(), device["state"] == "ok");
    }
    QCOMPARE(found,
             QStringList({ "ok 9.4e-05 1 GPS 1", "ok -1.5 1 GPS 1",
                           "unsynchronised 3.7e-05 16 GPS 1", "unsynchronised null 0 RATE 1",
                           "no-answer null null null 2", "not-checkable null null null 0" }));
    const QJsonObject summary = document.value("summary").toObject();
    QCOMPARE(summary.value("worst_offset_s").toDouble(), -1.5);
    QCOMPARE(summary.value("worst_offset_device").toObject().value("serial").toInt(), 2);
    QCOMPARE(summary.value("median_delay_s").toDouble(), 0.000206);
    QCOMPARE(summary.value("no_answer").toInt(), 1);
    QCOMPARE(document.value("statistics").toObject().value("requests").toInt(), 7);

    // The CSV: the JSON's device keys as columns, the name escaped as in the table.
    const QByteArray csv = CheckOutput::csv(run);
    QVERIFY2(controlFree(QByteArray(csv).replace("\r\n", "\n")), csv.constData());
    const QList<QByteArray> csvLines = csv.split('\n');
    QCOMPARE(csvLines.size(), 8);
    QCOMPARE(csvLines.at(0),
             "name,address,serial,state,attempts,delay_s,heard_on_address,heard_on_interface,"
             "heard_on_subnet,"
             "leap,name_hex,offset_s,reason,reference_id,stratum\r");
    QVERIFY2(csvLines.at(1).startsWith("\\x1b]0;x\\x07\\x9b,10.77.1.1,1,ok,1,0.000319,"),
             csvLines.at(1).constData());
    QVERIFY2(csvLines.at(5).startsWith("D|5,10.77.1.5,5,no-answer,2,,"),
             csvLines.at(5).constData());

    // Nothing answered with a time: no worst offset, no delays.
    run.report = UnitFixtures::report({ "silent" });
    QVERIFY(CheckOutput::table(run).endsWith("not checkable 0\nno clock read\n"));
    const QJsonObject none = QJsonDocument::fromJson(CheckOutput::json(run)).object();
    for (const char *key :
         { "worst_offset_s", "worst_offset_device", "median_delay_s", "max_delay_s" })
        QVERIFY(none.value("summary").toObject().value(key).isNull());

    // What goes to stderr, by outcome: only a device not there is told there.
    QCOMPARE(CheckOutput::problem(run, CheckOutcome::Unsynchronised), QString());
    QCOMPARE(CheckOutput::problem(run, CheckOutcome::NothingToCheck),
             "no device to check: NTP is off on all 1 found");
    run.presence = { { "CLOCK-9" }, {}, 1, 3, true };
    QCOMPARE(CheckOutput::problem(run, CheckOutcome::DevicesMissing),
             "2 expected devices did not answer the scan");
}

void tst_OutputUnits::applyLines_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QStringList>("sends"); // what the line needs, what it sent
    QTest::addColumn<QString>("text"); // after "line 2: "
    QTest::addColumn<QStringList>("keys"); // not null in its JSON, beyond those never null

    const QStringList heard { "address", "heard_on", "name", "new_address" };
    QTest::newRow("skipped") << "skipped" << QStringList {}
                             << "serial 1: no device with serial 1 answered; a second fault"
                             << QStringList { "new_address" };
    QTest::newRow("faulty") << "faulty" << QStringList {}
                            << "serial 1: no device with serial 1 answered; a second fault"
                            << QStringList { "new_address" };
    QTest::newRow("not sent") << "not-sent" << QStringList {}
                              << "A, serial 1, 10.77.1.1: sound, not sent: the plan is refused"
                              << heard;
    QTest::newRow("in effect") << "in-effect" << QStringList {}
                               << "A, serial 1, 10.77.1.1: already in effect, nothing sent: it "
                                  "stores 10.77.5.1, its clock is +0.120 s from ours"
                               << heard;
    QTest::newRow("would send both")
        << "would-send" << QStringList { "set-address", "set-time" }
        << "A, serial 1, 10.77.1.1: would send set-address 10.77.5.1 and set-time from "
           "10.77.0.1 (ws1)"
        << heard;
    QTest::newRow("would send the time")
        << "would-send" << QStringList { "set-time" }
        << "A, serial 1, 10.77.1.1: would send set-time from 10.77.0.1 (ws1)" << heard;
    QTest::newRow("done") << "done" << QStringList { "set-address", "set-time" }
                          << "A, serial 1, 10.77.1.1: judged"
                          << heard
            + QStringList { "detail", "offset_s_after", "stored_address_after" };
    QTest::newRow("cannot verify")
        << "cannot-verify" << QStringList { "set-address", "set-time" }
        << "A, serial 1, 10.77.1.1: judged"
        << heard + QStringList { "detail", "offset_s_after", "stored_address_after" };
    QTest::newRow("failed before sending")
        << "failed" << QStringList {} << "A, serial 1, 10.77.1.1: judged"
        << heard + QStringList { "detail" };
}

void tst_OutputUnits::applyLines()
{
    QFETCH(QString, state);
    QFETCH(QStringList, sends);
    QFETCH(QString, text);
    QFETCH(QStringList, keys);
    ApplyLineResult line = applyLine(state);
    if (state == "would-send") {
        line.sendAddress = sends.contains("set-address");
        line.sendTime = sends.contains("set-time");
    } else if (state == "done" || state == "failed" || state == "cannot-verify") {
        line.sent = sends;
        line.detail = "judged";
        if (!sends.isEmpty()) {
            line.storedAddressAfter = "10.77.5.1";
            line.offsetAfter = -0.25;
        }
    }
    // The text says the states of a line not sent, or not verified, in words, in a column as
    // wide as the widest of them.
    const QString said = state == "not-sent" || state == "cannot-verify"
        ? QString(state).replace('-', ' ')
        : state;
    QCOMPARE(ApplyOutput::lineText(line), said.leftJustified(13) + " line 2: " + text);

    // Every line has every key, null where it does not apply.
    const QJsonObject json = ApplyOutput::lineJson(line);
    QCOMPARE(json.keys(),
             QStringList({ "address", "detail", "faults", "heard_on", "line", "name", "new_address",
                           "offset_s_after", "sent", "serial", "set_time", "state",
                           "stored_address_after" }));
    QStringList found;
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (!it.value().isNull())
            found.append(it.key());
    }
    for (const char *key : { "faults", "line", "sent", "serial", "set_time", "state" })
        QVERIFY(found.removeOne(key));
    keys.sort();
    QCOMPARE(found, keys);
    QCOMPARE(json.value("state").toString(), state);
    QCOMPARE(json.value("sent").toVariant().toStringList(), line.sent);
    QCOMPARE(json.value("faults").toVariant().toStringList(), line.faults);

    // Its CSV row: every column the JSON keys name, the ones every line has first.
    ApplyReport report;
    report.lines = { line };
    const QList<QByteArray> csv = ApplyOutput::csv(report).split('\n');
    QCOMPARE(csv.size(), 3);
    QVERIFY2(csv.at(0).startsWith("line,serial,state,"), csv.at(0).constData());
    QVERIFY2(csv.at(1).startsWith("2,1," + state.toLatin1() + ','), csv.at(1).constData());
    QCOMPARE(csv.at(1).count(','), csv.at(0).count(','));
}

void tst_OutputUnits::stderrSentences_data()
{
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("expected");

    const AddressHolding host {
        QHostAddress("10.77.5.1").toIPv4Address(), "02:fc:00:00:00:05", false, workstation(), {}
    };
    AddressHolding device = host;
    device.device = "DEV-0008 (serial 8)";
    AddressHolding unknownHost = host;
    unknownHost.hardwareAddress.clear();
    AddressHolding ours = host;
    ours.workstation = true;
    const QString hostInUse = "10.77.5.1 is in use: a host at 02:fc:00:00:00:05 answers for it on "
                              "the link of 10.77.0.1 (ws1)";
    QTest::newRow("in use by a host") << AddressWords::inUse(host) << hostInUse;
    QTest::newRow("in use by a device the scan heard")
        << AddressWords::inUse(device)
        << "10.77.5.1 is in use by DEV-0008 (serial 8), which answers for it on the link of "
           "10.77.0.1 (ws1)";
    QTest::newRow("in use, no hardware address")
        << AddressWords::inUse(unknownHost)
        << "10.77.5.1 is in use: a host answers for it on the link of 10.77.0.1 (ws1)";
    QTest::newRow("in use by this workstation")
        << AddressWords::inUse(ours)
        << "10.77.5.1 is in use: this workstation answers for it on the link of 10.77.0.1 (ws1)";

    using Kind = AddressObjection::Kind;
    QTest::newRow("no objection") << AddressWords::objection({}) << QString();
    QTest::newRow("refused") << AddressWords::objection({ Kind::Refused, 0, "a reason", {}, {} })
                             << "a reason";
    QTest::newRow("held by devices") << AddressWords::objection(
        { Kind::HeldByDevices, host.address, {}, { "A, serial 1", "B, serial 2" }, {} })
                                     << "10.77.5.1 is in use by A, serial 1; B, serial 2";
    QTest::newRow("held by a host")
        << AddressWords::objection({ Kind::HeldByHost, host.address, {}, {}, host }) << hostInUse;

    QTest::newRow("plan: kept address in use")
        << PlanOutput::warning({ PlanWarning::Kind::KeptAddressInUse, host, "A, serial 1", 0 })
        << "A, serial 1 is given another address than the one it stores: " + hostInUse;
    QTest::newRow("plan: not handed out")
        << PlanOutput::warning({ PlanWarning::Kind::NotHandedOut, host, {}, 0 })
        << "not handed out: " + hostInUse;
    QTest::newRow("plan: range outside the subnet")
        << PlanOutput::rangeOutside(QHostAddress("10.1.0.1").toIPv4Address(),
                                    QHostAddress("10.1.0.9").toIPv4Address(), { "10.77.0.0/16" })
        << "the range 10.1.0.1-10.1.0.9 is outside 10.77.0.0/16, the subnet of the devices";
    QTest::newRow("plan: range outside the subnets")
        << PlanOutput::rangeOutside(QHostAddress("10.1.0.1").toIPv4Address(),
                                    QHostAddress("10.1.0.9").toIPv4Address(),
                                    { "10.77.0.0/16", "10.78.0.0/16", "10.79.0.0/16" })
        << "the range 10.1.0.1-10.1.0.9 is outside 10.77.0.0/16, 10.78.0.0/16 and 10.79.0.0/16, "
           "the subnets of the devices";
    QTest::newRow("plan: serial twice")
        << PlanOutput::warning({ PlanWarning::Kind::SerialTwice, {}, {}, 7 })
        << "serial 7 answers at more than one address: apply refuses its lines until the devices "
           "carry serials of their own";

    ApplyLineResult held = applyLine("failed");
    held.heldBack = ApplyLineResult::HeldBack { host, {}, 0 };
    QTest::newRow("apply: held back by a host")
        << ApplyOutput::lineText(held)
        << "failed        line 2: A, serial 1, 10.77.1.1: not sent: " + hostInUse;
    held.heldBack->staying = "B, serial 2, 10.77.1.2";
    held.heldBack->stayingLine = 3;
    QTest::newRow("apply: held back, a device stays")
        << ApplyOutput::lineJson(held).value("detail").toString()
        << "not sent: " + hostInUse
            + "; B, serial 2, 10.77.1.2 stays there: its line 3 is not sent";
    QTest::newRow("apply: rescan failed") << ApplyOutput::rescanFailed("no route", 3)
                                          << "the scan to verify the plan failed: no route (3 "
                                             "command(s) were sent)";

    QTest::newRow("apply: a column not read")
        << ApplyOutput::unreadColumn("Notes")
        << "column \"Notes\" is not read (the plan's columns are serial, new_address, set_time, "
           "name, current_address, stored_address)";

    QTest::newRow("scan progress from one address")
        << ScanWords::progress({ { workstation() }, 2, 3, 5 })
        << "scanning from 10.77.0.1 (ws1): probe 2/3, 5 device(s)";
    QTest::newRow("scan progress from two")
        << ScanWords::progress({ { workstation(), workstation() }, 1, 3, 0 })
        << "scanning from 2 addresses: probe 1/3, 0 device(s)";
}

void tst_OutputUnits::stderrSentences()
{
    QFETCH(QString, said);
    QFETCH(QString, expected);
    QCOMPARE(said, expected);
}

void tst_OutputUnits::applySummary_data()
{
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<int>("commandsSent");
    QTest::addColumn<int>("sendMs");
    QTest::addColumn<int>("notLogged");
    QTest::addColumn<QString>("summary"); // after "5 line(s): ", unless refused

    QTest::newRow("sent")
        << false << false << 2 << 40 << 0
        << "1 done, 1 already in effect, 1 failed, 1 cannot verify, 1 skipped; 2 command(s) "
           "sent in 0.04 s (rate limit 200/s); 1 of 3 changed line(s) verified";
    QTest::newRow("sent in no time")
        << false << false << 2 << 0 << 0
        << "1 done, 1 already in effect, 1 failed, 1 cannot verify, 1 skipped; 2 "
           "command(s) sent in 0.00 s (rate limit 200/s); 1 of 3 changed "
           "line(s) verified";
    QTest::newRow("nothing sent")
        << false << false << 0 << 0 << 0
        << "1 done, 1 already in effect, 1 failed, 1 cannot verify, 1 skipped; nothing "
           "sent";
    QTest::newRow("not logged")
        << false << false << 2 << 1000 << 1
        << "1 done, 1 already in effect, 1 failed, 1 cannot verify, 1 skipped; 2 command(s) sent "
           "in 1.00 s (rate limit 200/s, reached 2/s); 1 of 3 changed line(s) verified; 1 "
           "command(s) sent, not logged";
    QTest::newRow("dry run")
        << false << true << 0 << 0 << 0
        << "1 done, 1 already in effect, 1 failed, 1 cannot verify, 1 skipped; dry run: 0 "
           "line(s) would send, no command sent; sent only the scan's "
           "probes, 3 SNTP request(s) to read clocks and 2 new address(es) "
           "asked about (a datagram to UDP port 9 of each, then the "
           "kernel's ARP requests)";
    QTest::newRow("refused") << true << false << 0 << 0 << 0
                             << "plan refused: nothing sent; 5 line(s): 0 faulty, 0 not sent";
}

void tst_OutputUnits::applySummary()
{
    QFETCH(bool, refused);
    QFETCH(bool, dryRun);
    QFETCH(int, commandsSent);
    QFETCH(int, sendMs);
    QFETCH(int, notLogged);
    QFETCH(QString, summary);
    ApplyReport report;
    report.planPath = "plan.csv";
    report.refused = refused;
    report.dryRun = dryRun;
    report.commandsSent = commandsSent;
    report.sendMs = sendMs;
    report.notLogged = notLogged;
    report.rateLimit = 200;
    report.sntpRequests = 3;
    report.addressesAsked = 2;
    for (const QString &state :
         QStringList { "done", "in-effect", "failed", "cannot-verify", "skipped" }) {
        ApplyLineResult line = applyLine(state);
        if (state == "done" || state == "failed" || state == "cannot-verify")
            line.sent = QStringList { "set-time" };
        report.lines.append(line);
    }
    report.lines[0].device->name = "\x1b]0;x\x07";
    if (!refused)
        summary.prepend("5 line(s): ");
    QCOMPARE(ApplyOutput::summary(report), summary);

    // A refused plan's lines are not sent, nor listed: the faults on stderr tell why.
    const QString text = QString::fromUtf8(ApplyOutput::text(report));
    QCOMPARE(text.count('\n'), refused ? 1 : 6);
    QVERIFY(text.endsWith("\n" + summary + "\n") || refused);

    const QByteArray json = ApplyOutput::json(report);
    QVERIFY2(controlFree(json), json.constData());
    const QJsonObject document = QJsonDocument::fromJson(json).object();
    QCOMPARE(document.value("format").toString(), "setuptool-cli/apply");
    QCOMPARE(document.value("lines").toArray().size(), 5);
    const QJsonObject counts = document.value("summary").toObject();
    QCOMPARE(counts.value("text").toString(), summary);
    QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                 .arg(counts.value("verified").toInt())
                 .arg(counts.value("commands_sent").toInt())
                 .arg(counts.value("not_logged").toInt())
                 .arg(document.value("refused").toBool()),
             QStringLiteral("1 %1 %2 %3").arg(commandsSent).arg(notLogged).arg(refused));
}

void tst_OutputUnits::verificationWords_data()
{
    // The result and what was seen, the clock's offset and whether it is synchronised
    QTest::addColumn<QString>("verdict"); // "RESULT SEEN"
    QTest::addColumn<QByteArray>("json"); // the "verify" object of the log line
    QTest::addColumn<QString>("problem"); // on stderr: what set-time and set-address add there

    QTest::newRow("not requested") << "0 0" << QByteArray(R"({"result":"not-requested"})") << "";
    QTest::newRow("address stored")
        << "1 1"
        << QByteArray(R"({"detail":"the device reports stored address 10.77.5.1","result":)"
                      R"("passed","stored_address":"10.77.5.1"})")
        << "";
    QTest::newRow("another address stored")
        << "2 2"
        << QByteArray(R"({"detail":"the device still reports stored address 10.77.5.1, not )"
                      R"(10.77.5.9","result":"failed","stored_address":"10.77.5.1"})")
        << "verify failed: the device still reports stored address 10.77.5.1, not 10.77.5.9";
    QTest::newRow("rescan failed")
        << "3 3"
        << QByteArray(R"({"detail":"the scan to check it failed: no route","result":)"
                      R"("cannot-verify"})")
        << "cannot verify: the scan to check it failed: no route";
    QTest::newRow("device unheard")
        << "3 4"
        << QByteArray(R"({"detail":"serial 7 did not answer at 10.77.1.7 in the scan after )"
                      R"(the command","result":"cannot-verify"})")
        << "cannot verify: serial 7 did not answer at 10.77.1.7 in the scan after the command";
    QTest::newRow("ntp off") << "3 5"
                             << QByteArray(R"({"detail":"the device's NTP service is off, so )"
                                           R"(its clock cannot be read; switch NTP on to )"
                                           R"(check set-time","result":"cannot-verify"})")
                             << "cannot verify: the device's NTP service is off, so its clock "
                                "cannot be read; switch NTP on to check set-time";
    QTest::newRow("clock unread")
        << "3 6"
        << QByteArray(R"({"attempts":3,"detail":"no usable SNTP answer from 10.77.1.7 port )"
                      R"(123: no answer","result":"cannot-verify","tolerance_s":2.5})")
        << "cannot verify: no usable SNTP answer from 10.77.1.7 port 123: no answer";
    QTest::newRow("clock read, unsynchronised")
        << "2 7"
        << QByteArray(R"j({"attempts":3,"delay_s":0.001,"detail":"the device's clock is )j"
                      R"j(+3.250 s from ours (tolerance 2.5 s; SNTP stratum 16, unsynchronised)",)j"
                      R"j("leap":0,"offset_s":3.25,"result":"failed","stratum":16,)j"
                      R"j("tolerance_s":2.5})j")
        << "verify failed: the device's clock is +3.250 s from ours (tolerance 2.5 s; SNTP "
           "stratum 16, unsynchronised)";
}

void tst_OutputUnits::verificationWords()
{
    QFETCH(QString, verdict);
    QFETCH(QByteArray, json);
    QFETCH(QString, problem);
    Verification verification;
    verification.result = Verification::Result(verdict.section(' ', 0, 0).toInt());
    verification.seen = Verification::Seen(verdict.section(' ', 1, 1).toInt());
    verification.serial = 7;
    verification.deviceAddress = QStringLiteral("10.77.1.7");
    verification.wantedAddress = QStringLiteral("10.77.5.9");
    verification.storedAddress = QStringLiteral("10.77.5.1");
    verification.rescanError = QStringLiteral("no route");
    verification.toleranceSeconds = 2.5;
    verification.attempts = 3;
    verification.sntpPort = 123;
    verification.clockError = QStringLiteral("no answer");
    verification.offsetSeconds = 3.25;
    verification.delaySeconds = 0.001;
    verification.stratum = 16;
    // Every key whatever was seen, null where nothing was: the row names those with a value.
    const QJsonObject object = VerificationWords::toJson(verification);
    QCOMPARE(object.keys(),
             QStringList({ "attempts", "delay_s", "detail", "leap", "offset_s", "result",
                           "stored_address", "stratum", "tolerance_s" }));
    QJsonObject seen;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isNull())
            seen.insert(it.key(), it.value());
    }
    QCOMPARE(QJsonDocument(seen).toJson(QJsonDocument::Compact), json);
    QCOMPARE(CommandOutput::verifyProblem(verification), problem);
}

QTEST_GUILESS_MAIN(tst_OutputUnits)
#include "tst_outputunits.moc"
