#include "clirun.h"
#include "perfdata.h"
#include "segment.h"
#include "simulatorprocess.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>

namespace {

// setuptool-cli check as a user or a monitoring system runs it. The scan waits 300 ms for
// replies; the simulated devices answer within milliseconds.
QStringList checkArguments(const QStringList &arguments)
{
    return QStringList { "check", "--wait", "300" } + arguments;
}

CliRun check(const QStringList &arguments)
{
    return runCli(checkArguments(arguments));
}

QString device(int i, const QString &more = QString())
{
    return QStringLiteral("ip=10.77.1.%1,serial=%1,ntp=1%2%3")
        .arg(i)
        .arg(more.isEmpty() ? QString() : QStringLiteral(","), more);
}

QStringList simulatorArguments(const QStringList &devices)
{
    QStringList arguments;
    for (const QString &fields : devices)
        arguments << "--device" << fields;
    return arguments;
}

// The status line's performance data by label; empty when any item breaks the syntax.
QMap<QString, Perfdata::Metric> perfdata(const QString &statusLine)
{
    const qsizetype bar = statusLine.indexOf(QLatin1Char('|'));
    return bar < 0 ? QMap<QString, Perfdata::Metric> {} : Perfdata::parse(statusLine.mid(bar + 1));
}

const QHostAddress workstation(QStringLiteral("10.77.0.1"));

} // namespace

// setuptool-cli check against simulated devices in the virtual segment: what it reports, its
// exit statuses by hand and as a monitoring plugin, and how it asks.
class tst_CliCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void plugin_data();
    void plugin();
    void pluginExpectations_data();
    void pluginExpectations();
    void pluginUsage_data();
    void pluginUsage();
    void plainStatus_data();
    void plainStatus();
    void fromCron_data();
    void fromCron();
    void json();
    void lateAnswerRetriedOnce();
    void stopsAnsweringMidCheck();
    void pacing_data();
    void pacing();
    void eraBoundary_data();
    void eraBoundary();

private:
    std::unique_ptr<SimulatorProcess> simulator;
};

void tst_CliCheck::initTestCase()
{
    REQUIRE_SEGMENT();
    QVERIFY(!qEnvironmentVariableIsEmpty("SETUPTOOL_CLI"));
}

void tst_CliCheck::cleanup()
{
    simulator.reset();
}

void tst_CliCheck::plugin_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("notOk"); // serials the long output names, in order
    QTest::addColumn<QString>("counts"); // checked answered unsynchronised unanswered not_checkable
    QTest::addColumn<double>("worstOffset"); // |offset| of the worst; -1: none read

    const QString quiet = QStringLiteral("ip=10.77.1.9,serial=9,ntp=0,name=QUIET");
    QTest::newRow("ok, NTP off not failing")
        << QStringList { device(1, "name=A"), device(2, "name=B,offset=0.2"), quiet } << 0 << "OK"
        << QStringList {} << "2 2 0 0 1" << 0.2;
    // The worst device's name holds '|', which would start the performance data early.
    QTest::newRow("warning by offset")
        << QStringList { device(1, "name=A"), device(2, "name=B|X,offset=1.5"), quiet } << 1
        << "WARNING" << QStringList { "2" } << "2 2 0 0 1" << 1.5;
    QTest::newRow("critical by offset")
        << QStringList { device(1, "name=A,offset=1.2"), device(2, "name=B,offset=-3") } << 2
        << "CRITICAL" << QStringList { "1", "2" } << "2 2 0 0 0" << 3.0;
    QTest::newRow("critical: stratum 16")
        << QStringList { device(1, "name=A"), device(2, "name=B,stratum=16") } << 2 << "CRITICAL"
        << QStringList { "2" } << "2 2 1 0 0" << 0.0;
    QTest::newRow("critical: leap 3")
        << QStringList { device(1, "name=A"), device(2, "name=B,leap=3") } << 2 << "CRITICAL"
        << QStringList { "2" } << "2 2 1 0 0" << 0.0;
    QTest::newRow("critical: kiss-of-death")
        << QStringList { device(1, "name=A"), device(2, "name=B,kiss=RATE") } << 2 << "CRITICAL"
        << QStringList { "2" } << "2 2 1 0 0" << 0.0;
    QTest::newRow("critical: no answer")
        << QStringList { device(1, "name=A"), device(2, "name=B,sntp=0"), quiet } << 2 << "CRITICAL"
        << QStringList { "2" } << "2 1 0 1 1" << 0.0;
    QTest::newRow("unknown: nothing checkable")
        << QStringList { quiet, "ip=10.77.1.8,serial=8,ntp=0" } << 3 << "UNKNOWN" << QStringList {}
        << "" << -1.0;
}

void tst_CliCheck::plugin()
{
    QFETCH(QStringList, devices);
    QFETCH(int, exitCode);
    QFETCH(QString, status);
    QFETCH(QStringList, notOk);
    QFETCH(QString, counts);
    QFETCH(double, worstOffset);
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start(simulatorArguments(devices)));

    const CliRun run = check({ "--warn", "1", "--crit", "2", "--timeout", "400" });
    QVERIFY2(run.exitCode == exitCode, run.text().constData());
    const QStringList lines = QString::fromUtf8(run.out).split('\n', Qt::SkipEmptyParts);
    QVERIFY2(!lines.isEmpty(), run.text().constData());
    QVERIFY2(lines.first().startsWith("CLOCK " + status + " - "), run.text().constData());
    if (status == "UNKNOWN") {
        QVERIFY2(lines.first().contains("NTP is off"), run.text().constData());
        return;
    }

    // Exactly one '|' on the status line, none in the long output.
    QCOMPARE(lines.first().count('|'), 1);
    for (const QString &line : lines.mid(1))
        QVERIFY2(!line.contains('|'), qPrintable(line));
    QStringList named;
    for (const QString &line : lines.mid(1)) {
        static const QRegularExpression serial(QStringLiteral("\\(serial (-?\\d+), "));
        const QRegularExpressionMatch match = serial.match(line);
        if (match.hasMatch())
            named.append(match.captured(1));
    }
    QCOMPARE(named, notOk);

    const QMap<QString, Perfdata::Metric> metrics = perfdata(lines.first());
    QVERIFY2(!metrics.isEmpty(), qPrintable(lines.first()));
    const QStringList labels { "checked", "answered", "unsynchronised", "unanswered",
                               "not_checkable" };
    QStringList seen;
    for (const QString &label : labels)
        seen.append(metrics.value(label).value);
    QCOMPARE(seen.join(' '), counts);
    QCOMPARE(metrics.value("devices").value.toInt(), int(devices.size()));
    const Perfdata::Metric worst = metrics.value("worst_offset");
    QCOMPARE(worst.unit, "s");
    QCOMPARE(worst.thresholds, QStringList({ "1", "2", "0", "" }));
    // A clock read over the network is off by up to half the round trip of its exchange (tenths of
    // a second on a busy machine); 5 ms more for the millisecond the output rounds to.
    const double tolerance = metrics.value("max_delay").value.toDouble() / 2 + 0.005;
    QVERIFY2(std::fabs(worst.value.toDouble() - worstOffset) <= tolerance,
             qPrintable(lines.first()));
    for (const char *delay : { "median_delay", "max_delay" }) {
        QCOMPARE(metrics.value(delay).unit, "s");
        QVERIFY(metrics.value(delay).value.toDouble() >= 0);
        QVERIFY(metrics.value(delay).value.toDouble() < 0.4);
    }
    if (QByteArray(QTest::currentDataTag()).contains("warning"))
        QVERIFY2(lines.first().contains("(B\\x7cX)"), qPrintable(lines.first()));
    if (QByteArray(QTest::currentDataTag()).contains("NTP off"))
        QVERIFY2(lines.last().contains("1 device not checkable"), qPrintable(lines.last()));
}

void tst_CliCheck::pluginExpectations_data()
{
    QTest::addColumn<QStringList>("devices"); // none: no simulator
    QTest::addColumn<QStringList>("arguments"); // FILE: a file that lists A and B by name
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("status"); // how the status line starts
    QTest::addColumn<QStringList>("longOutput"); // lines the long output holds
    QTest::addColumn<QString>("missing"); // the performance value; empty: not given

    const QStringList two { device(1, "name=A"), device(2, "name=B") };
    QTest::newRow("a device gone, named")
        << two << QStringList { "--expect", "1,2", "--expect", "CLOCK-3" } << 2
        << "CLOCK CRITICAL - 1 expected device missing (2 devices checked)"
        << QStringList { "CLOCK-3: expected, did not answer the scan" } << "1";
    QTest::newRow("one more than expected: a note")
        << two << QStringList { "--expect", "A" } << 0 << "CLOCK OK - 2 devices checked"
        << QStringList { "B (serial 2, 10.77.1.2): answered, not expected (not counted as "
                         "failing)" }
        << "0";
    QTest::newRow("nothing heard, some expected")
        << QStringList {} << QStringList { "--min-devices", "2" } << 2
        << "CLOCK CRITICAL - 0 devices of at least 2 heard (0 devices checked)" << QStringList {}
        << "2";
    QTest::newRow("from a file, short options, ranges")
        << two << QStringList { "-w", "~:1", "-c2", "--expect-file", "FILE" } << 0
        << "CLOCK OK - 2 devices checked" << QStringList {} << "0";
    // Silent devices would hold the check 2 x 5 s; the deadline ends it first.
    QTest::newRow("deadline")
        << QStringList { device(1, "name=A"), device(2, "name=B,sntp=0"),
                         device(3, "name=C,sntp=0") }
        << QStringList { "--timeout", "5000", "-t", "2" } << 2
        << "CLOCK CRITICAL - 2 not answering, deadline of 2 s passed (3 devices checked)"
        << QStringList { "B (serial 2, 10.77.1.2): no answer: not read before the deadline",
                         "C (serial 3, 10.77.1.3): no answer: not read before the deadline",
                         "2 devices not read before the deadline of 2 s, counted as not "
                         "answering" }
        << "";
}

void tst_CliCheck::pluginExpectations()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, status);
    QFETCH(QStringList, longOutput);
    QFETCH(QString, missing);
    if (!devices.isEmpty()) {
        simulator = std::make_unique<SimulatorProcess>();
        QVERIFY(simulator->start(simulatorArguments(devices)));
    }
    QTemporaryFile list;
    QVERIFY(list.open());
    list.write("# clocks of hall 1\nA\n\n  B  \n");
    list.close();
    arguments.replaceInStrings(QRegularExpression("^FILE$"), list.fileName());
    if (!arguments.contains("-w"))
        arguments = QStringList { "--warn", "1", "--crit", "2" } + arguments;

    const CliRun run = check(arguments);
    QVERIFY2(run.exitCode == exitCode, run.text().constData());
    const QStringList lines = QString::fromUtf8(run.out).split('\n', Qt::SkipEmptyParts);
    QVERIFY2(!lines.isEmpty() && lines.first().startsWith(status), run.text().constData());
    for (const QString &line : longOutput)
        QVERIFY2(lines.mid(1).contains(line), run.text().constData());
    const QMap<QString, Perfdata::Metric> metrics = perfdata(lines.first());
    QVERIFY2(!metrics.isEmpty(), qPrintable(lines.first()));
    QCOMPARE(metrics.value("missing").value, missing);
    if (!missing.isEmpty())
        QCOMPARE(metrics.value("missing").thresholds, QStringList({ "", "0", "0", "" }));
}

void tst_CliCheck::pluginUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("says");
    QTest::newRow("warn above crit") << QStringList { "--warn", "3", "--crit", "2" } << "--crit";
    QTest::newRow("warn alone") << QStringList { "--warn", "3" } << "go together";
    QTest::newRow("crit alone, written with =") << QStringList { "--crit=3" } << "go together";
    QTest::newRow("negative warn") << QStringList { "--warn", "-1", "--crit", "2" } << "--warn";
    QTest::newRow("bad timeout") << QStringList { "--warn", "1", "--crit", "2", "--timeout", "0" }
                                 << "--timeout";
    QTest::newRow("unknown option")
        << QStringList { "--warn", "1", "--crit", "2", "--bogus" } << "'bogus'";
    QTest::newRow("json") << QStringList { "--warn", "1", "--crit", "2", "--format", "json" }
                          << "--format json";
    QTest::newRow("not a range") << QStringList { "-w", "1:x", "-c", "2" }
                                 << "--warn wants a range";
    QTest::newRow("deadline within the scan")
        << QStringList { "--warn", "1", "--crit", "2", "--deadline", "1", "--wait", "1000" }
        << "leaves no time after the scan";
    QTest::newRow("expect file missing")
        << QStringList { "--warn", "1", "--crit", "2", "--expect-file", "/nonexistent/list" }
        << "--expect-file: cannot read /nonexistent/list";
    QTest::newRow("foreign --from")
        << QStringList { "--warn", "1", "--crit", "2", "--from", "10.99.0.1" } << "10.77.0.1";
}

void tst_CliCheck::pluginUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, says);
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start(simulatorArguments({ device(1, "name=A") })));
    const CliRun run = check(arguments);
    QVERIFY2(run.exitCode == 3, run.text().constData());
    const QStringList lines = QString::fromUtf8(run.out).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith("CLOCK UNKNOWN - "), run.text().constData());
    QVERIFY2(lines.first().contains(says), run.text().constData());
    QVERIFY(simulator->sync(workstation, QHostAddress("10.77.1.1"), 123));
    QVERIFY(simulator->events("sntp").isEmpty());
}

void tst_CliCheck::plainStatus_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("states"); // the CLOCK column, device by device
    const QString quiet = QStringLiteral("ip=10.77.1.9,serial=9,ntp=0,name=QUIET");
    QTest::newRow("all synchronised, one NTP off")
        << QStringList { device(1, "name=A,offset=30"), quiet } << 0
        << QStringList { "ok", "not checkable" };
    QTest::newRow("unsynchronised")
        << QStringList { device(1, "name=A"), device(2, "name=B,stratum=16"), quiet } << 1
        << QStringList { "ok", "UNSYNCHRONISED", "not checkable" };
    QTest::newRow("no answer") << QStringList { device(1, "name=A"), device(2, "name=B,sntp=0") }
                               << 4 << QStringList { "ok", "NO ANSWER" };
    QTest::newRow("unsynchronised and no answer")
        << QStringList { device(1, "name=A,leap=3"), device(2, "name=B,sntp=0") } << 1
        << QStringList { "UNSYNCHRONISED", "NO ANSWER" };
    QTest::newRow("nothing checkable")
        << QStringList { quiet } << 3 << QStringList { "not checkable" };
}

void tst_CliCheck::plainStatus()
{
    QFETCH(QStringList, devices);
    QFETCH(int, exitCode);
    QFETCH(QStringList, states);
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start(simulatorArguments(devices)));
    const CliRun run = check({ "--timeout", "300" });
    QVERIFY2(run.exitCode == exitCode, run.text().constData());
    const QStringList lines = QString::fromUtf8(run.out).split('\n');
    QVERIFY2(lines.first().startsWith("NAME "), run.text().constData());
    const qsizetype column = lines.first().indexOf("CLOCK");
    QStringList shown;
    for (const QString &line : lines.mid(1)) {
        if (line.isEmpty())
            break;
        shown.append(line.mid(column).section("  ", 0, 0));
    }
    QCOMPARE(shown, states);
    const bool offSeen = std::any_of(devices.cbegin(), devices.cend(),
                                     [](const QString &d) { return d.contains(",ntp=0"); });
    QVERIFY2(run.out.contains(offSeen ? "not checkable 1" : "not checkable 0"),
             run.out.constData());
}

// The README's crontab line as cron runs it: a minimal PATH, no TERM, output to a pipe, and the
// job's output mailed when there is any. All well, it must say nothing at all, also with the
// reply buffer a stock Debian grants (net.core.rmem_max 212,992, which a namespace cannot set).
void tst_CliCheck::fromCron_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("mailed");
    const QStringList synchronised { device(1, "name=A"), device(2, "name=B,offset=0.2"),
                                     "ip=10.77.1.9,serial=9,ntp=0,name=QUIET" };
    QTest::newRow("all well") << synchronised << "" << false;
    QTest::newRow("all well, a stock Debian's reply buffer")
        << synchronised << "--reply-buffer 212992" << false;
    QTest::newRow("a clock off") << QStringList { device(1, "name=A,offset=1.5") } << "" << true;
}

void tst_CliCheck::fromCron()
{
    QFETCH(QStringList, devices);
    QFETCH(QString, options);
    QFETCH(bool, mailed);
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start(simulatorArguments(devices)));
    QProcessEnvironment cron;
    cron.insert("PATH", "/usr/bin:/bin");
    cron.insert("HOME", QDir::tempPath());
    cron.insert("SHELL", "/bin/sh");
    cron.insert("LOGNAME", "root");
    cron.insert("CLI", qEnvironmentVariable("SETUPTOOL_CLI"));
    QProcess job;
    job.setProcessEnvironment(cron);
    job.start(
        "/bin/sh",
        { "-c", "out=$(\"$CLI\" check --warn 0.5 --crit 2 " + options + ") || echo \"$out\"" });
    job.closeWriteChannel();
    QVERIFY(job.waitForFinished(30000));
    const QByteArray out = job.readAllStandardOutput();
    const QByteArray err = job.readAllStandardError();
    QVERIFY2(err.isEmpty(), err.constData());
    QVERIFY2(out.isEmpty() != mailed, out.constData());
    QCOMPARE(job.exitCode(), 0);
}

void tst_CliCheck::json()
{
    const QByteArray hostile("=\x1b[2J|\x9b", 7);
    const auto entry = [](int serial, const QString &name, const QJsonObject &more = {}) {
        QJsonObject object { { "name", name },
                             { "ip", QStringLiteral("10.77.1.%1").arg(serial) },
                             { "serial", serial },
                             { "ntp", 1 } };
        for (auto it = more.begin(); it != more.end(); ++it)
            object.insert(it.key(), it.value());
        return object;
    };
    const QJsonArray devices { entry(1, "A", { { "offset", -0.5 } }),
                               entry(2, "B", { { "stratum", 3 }, { "offset", 0.25 } }),
                               entry(3, "C", { { "kiss", "DENY" } }),
                               entry(4, "D", { { "sntp", 0 } }),
                               entry(5, "E", { { "ntp", 0 } }),
                               entry(6, QString::fromLatin1(hostile)) };
    QTemporaryFile config;
    QVERIFY(config.open());
    config.write(QJsonDocument(QJsonObject { { "devices", devices } }).toJson());
    config.close();
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start({ "--config", config.fileName() }));

    const CliRun run
        = check({ "--format", "json", "--timeout", "300", "--concurrency", "3", "--rate", "50" });
    QVERIFY2(run.exitCode == 1, run.text().constData());
    QJsonParseError error;
    const QJsonObject document = QJsonDocument::fromJson(run.out, &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, run.out.constData());
    QCOMPARE(document["format"].toString(), "setuptool-cli/check");
    QCOMPARE(document["version"].toInt(), 2);
    QMap<int, QJsonObject> bySerial;
    int attempts = 0;
    for (const QJsonValue value : document["devices"].toArray()) {
        bySerial.insert(value["serial"].toInt(), value.toObject());
        attempts += value["attempts"].toInt();
    }
    QCOMPARE(bySerial.keys(), QList<int>({ 1, 2, 3, 4, 5, 6 }));
    QCOMPARE(bySerial[1]["state"].toString(), "ok");
    QVERIFY(std::fabs(bySerial[1]["offset_s"].toDouble() + 0.5)
            <= bySerial[1]["delay_s"].toDouble() / 2 + 0.005);
    QVERIFY(bySerial[1]["delay_s"].toDouble() >= 0);
    QCOMPARE(bySerial[1]["stratum"].toInt(), 1);
    QCOMPARE(bySerial[1]["leap"].toInt(), 0);
    QCOMPARE(bySerial[1]["heard_on"].toObject()["address"].toString(), workstation.toString());
    QCOMPARE(bySerial[2]["state"].toString(), "ok");
    QCOMPARE(bySerial[2]["stratum"].toInt(), 3);
    QCOMPARE(bySerial[2]["reference_id"].toString(), "192.0.2.1");
    QCOMPARE(bySerial[3]["state"].toString(), "unsynchronised");
    QCOMPARE(bySerial[3]["stratum"].toInt(), 0);
    QCOMPARE(bySerial[3]["reference_id"].toString(), "DENY");
    QVERIFY(bySerial[3]["offset_s"].isNull());
    QCOMPARE(bySerial[4]["state"].toString(), "no-answer");
    QCOMPARE(bySerial[4]["attempts"].toInt(), 2);
    QVERIFY(bySerial[4]["reason"].toString().contains("no answer after 2 tries"));
    QVERIFY(bySerial[4]["stratum"].isNull());
    QCOMPARE(bySerial[5]["state"].toString(), "not-checkable");
    QCOMPARE(bySerial[5]["attempts"].toInt(), 0);
    QCOMPARE(bySerial[6]["name"].toString(), QString::fromLatin1(hostile));
    QCOMPARE(bySerial[6]["name_hex"].toString(),
             QString::fromLatin1(hostile.toHex()) + "000000000000");
    QVERIFY2(!run.out.contains('\x1b') && !run.out.contains("\xc2\x9b"), run.out.constData());

    const QJsonObject summary = document["summary"].toObject();
    QCOMPARE(summary["found"].toInt(), 6);
    QCOMPARE(summary["checked"].toInt(), 5);
    QCOMPARE(summary["answered"].toInt(), 4);
    QCOMPARE(summary["unsynchronised"].toInt(), 1);
    QCOMPARE(summary["no_answer"].toInt(), 1);
    QCOMPARE(summary["not_checkable"].toInt(), 1);
    QCOMPARE(summary["worst_offset_device"]["serial"].toInt(), 1);
    QCOMPARE(summary["worst_offset_s"].toDouble(), bySerial[1]["offset_s"].toDouble());
    QVERIFY(summary["median_delay_s"].toDouble() <= summary["max_delay_s"].toDouble());
    const QJsonObject settings = document["settings"].toObject();
    QCOMPARE(settings["timeout_ms"].toInt(), 300);
    QCOMPARE(settings["retries"].toInt(), 1);
    QCOMPARE(settings["concurrency"].toInt(), 3);
    QCOMPARE(settings["rate"].toInt(), 50);
    // What only a monitoring plugin or a list of expected devices sets.
    QVERIFY(settings["deadline_ms"].isNull());
    QCOMPARE(settings["min_devices"].toInt(), 0);
    QCOMPARE(summary["missing"].toInt(), 0);
    QCOMPARE(summary["not_read_before_deadline"].toInt(), 0);
    QCOMPARE(document["missing"].toArray(), QJsonArray());
    QCOMPARE(document["unexpected"].toArray(), QJsonArray());
    QCOMPARE(document["statistics"]["requests"].toInt(), attempts);
    // Every request went to the device's address from the address it was heard on.
    QVERIFY(simulator->waitForCount("sntp", 4));
    for (const QJsonObject &event : simulator->events("sntp"))
        QCOMPARE(event["from"].toString(), workstation.toString());

    // The table shows the name escaped, as the scan does; a device expected but not heard
    // outweighs the findings' statuses.
    const CliRun table = check({ "--timeout", "300", "--expect", "A,1,77" });
    QVERIFY2(table.out.contains("=\\x1b[2J|\\x9b"), table.out.constData());
    QVERIFY2(table.exitCode == 3, table.text().constData());
    QVERIFY2(
        table.out.contains("\nexpected, did not answer the scan: 77\nanswered, not expected: 5\n"),
        table.text().constData());
    QVERIFY2(table.err.contains("1 expected device did not answer the scan"),
             table.text().constData());
}

void tst_CliCheck::lateAnswerRetriedOnce()
{
    // Answers 700 ms after each request: after the first timeout (300 ms) and the retry's
    // (another 300 ms) alike.
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start(simulatorArguments({ device(1, "name=SLOW,sntp_delay=700") })));
    const CliRun run = check({ "--format", "json", "--timeout", "300" });
    QElapsedTimer sinceExit;
    sinceExit.start();
    QVERIFY2(run.exitCode == 4, run.text().constData());
    const QJsonObject slow = QJsonDocument::fromJson(run.out)["devices"][0].toObject();
    QCOMPARE(slow["state"].toString(), "no-answer");
    QCOMPARE(slow["attempts"].toInt(), 2);
    QVERIFY2(slow["reason"].toString().contains("no answer after 2 tries"), run.out.constData());

    // The simulator logs each request when it answers it, 700 ms after it came; every
    // request had come before the program ended.
    QVERIFY(simulator->waitForCount("sntp", 2, 5000));
    QVERIFY(!QTest::qWaitFor([&] { return simulator->events("sntp").size() > 2; },
                             int(qMax<qint64>(0, 700 + 300 - sinceExit.elapsed()))));
    QCOMPARE(simulator->events("sntp").size(), 2);
    for (const QJsonObject &event : simulator->events("sntp"))
        QCOMPARE(event["at"].toString(), "10.77.1.1");
}

void tst_CliCheck::stopsAnsweringMidCheck()
{
    // One quick device, and five that answer within the timeout but only after 1.5 s: the
    // simulator is stopped while they are still being asked.
    QStringList devices { device(1, "name=QUICK") };
    for (int i = 2; i <= 6; ++i)
        devices.append(device(i, QStringLiteral("name=SLOW%1,sntp_delay=1500").arg(i)));
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start(simulatorArguments(devices)));

    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QString::fromLocal8Bit(qgetenv("SETUPTOOL_CLI")),
                  checkArguments({ "--format", "json", "--timeout", "2000" }));
    QVERIFY(simulator->waitFor([](const QJsonObject &event) {
        return SimulatorProcess::kind(event) == "sntp" && event["at"] == "10.77.1.1";
    }));
    simulator->stop();
    const qint64 stoppedAt = clock.elapsed();
    QVERIFY(process.waitForFinished(15000));
    // The scan's wait, then one timeout and one retry's at most, and some room for start-up.
    const qint64 took = clock.elapsed();
    QVERIFY2(took <= 300 + 2 * 2000 + 1500, qPrintable(QString::number(took)));
    QVERIFY(took > stoppedAt);

    QCOMPARE(process.exitCode(), 4);
    const QJsonObject document = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    QStringList states;
    for (const QJsonValue value : document["devices"].toArray())
        states.append(value["state"].toString());
    QCOMPARE(
        states,
        QStringList({ "ok", "no-answer", "no-answer", "no-answer", "no-answer", "no-answer" }));
    QCOMPARE(document["summary"]["no_answer"].toInt(), 5);
}

void tst_CliCheck::pacing_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("concurrency"); // most requests outstanding at once
    QTest::addColumn<int>("minimumSpreadMs"); // first request to last, at least
    // 12 devices, each answering 150 ms after a request.
    QTest::newRow("two at a time") << QStringList { "--concurrency", "2" } << 2 << 5 * 150;
    // The first two at once (the rate's token bucket is two deep), then one each 50 ms.
    QTest::newRow("twenty a second") << QStringList { "--rate", "20" } << 12 << 10 * 50;
}

void tst_CliCheck::pacing()
{
    QFETCH(QStringList, options);
    QFETCH(int, concurrency);
    QFETCH(int, minimumSpreadMs);
    QStringList devices;
    for (int i = 1; i <= 12; ++i)
        devices.append(device(i, QStringLiteral("name=D%1,sntp_delay=150").arg(i)));
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start(simulatorArguments(devices)));
    const CliRun run = check(options + QStringList { "--timeout", "1000", "--format", "json" });
    QVERIFY2(run.exitCode == 0, run.text().constData());
    QCOMPARE(QJsonDocument::fromJson(run.out)["summary"]["answered"].toInt(), 12);
    QVERIFY(simulator->waitForCount("sntp", 12));

    // When each request arrived (logged when answered, 150 ms later), and how many were
    // outstanding at once.
    QList<qint64> arrivals;
    for (const QJsonObject &event : simulator->events("sntp"))
        arrivals.append(event["monotonic_ms"].toInteger() - event["delay_ms"].toInt());
    QCOMPARE(arrivals.size(), 12);
    std::sort(arrivals.begin(), arrivals.end());
    int most = 0;
    for (const qint64 at : arrivals) {
        const auto outstanding = std::count_if(arrivals.cbegin(), arrivals.cend(), [at](qint64 t) {
            return t <= at && at < t + 150 - 5; // a few ms for the answer's way back
        });
        most = qMax(most, int(outstanding));
    }
    QVERIFY2(most <= concurrency, qPrintable(QString::number(most)));
    QVERIFY2(arrivals.last() - arrivals.first() >= minimumSpreadMs - 10,
             qPrintable(QString::number(arrivals.last() - arrivals.first())));
}

// Clocks on both sides of the end of the first NTP era (2036-02-07 06:28:16 UTC), where NTP
// seconds wrap to 0: a device past it, this workstation past it (its clock moved by
// libfaketime), and both.
void tst_CliCheck::eraBoundary_data()
{
    QTest::addColumn<double>("deviceAhead"); // seconds
    QTest::addColumn<qint64>("workstationAhead");
    constexpr qint64 eraEnd = 2085978496; // Unix seconds
    const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000;
    const double deviceAhead = std::round((double(eraEnd + 3600) - now) * 1000) / 1000;
    const qint64 workstationAhead = eraEnd + 60 - qint64(now);
    QTest::newRow("device past the era's end") << deviceAhead << qint64(0);
    QTest::newRow("workstation past the era's end") << 0.0 << workstationAhead;
    QTest::newRow("both past it") << deviceAhead << workstationAhead;
}

void tst_CliCheck::eraBoundary()
{
    QFETCH(double, deviceAhead);
    QFETCH(qint64, workstationAhead);
    const QByteArray faketime = qgetenv("FAKETIME_LIBRARY");
    if (workstationAhead != 0 && faketime.isEmpty())
        QSKIP("libfaketime is not preloaded in this build (sanitizers)");
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start(simulatorArguments(
        { device(1, QStringLiteral("offset=%1").arg(deviceAhead, 0, 'f', 3)) })));
    if (workstationAhead != 0) {
        qputenv("LD_PRELOAD", faketime);
        qputenv("FAKETIME", "+" + QByteArray::number(workstationAhead));
    }
    const CliRun run = check({ "--format", "json", "--timeout", "400" });
    qunsetenv("LD_PRELOAD");
    qunsetenv("FAKETIME");
    QVERIFY2(run.exitCode == 0, run.text().constData());
    const QJsonObject reading
        = QJsonDocument::fromJson(run.out)["devices"].toArray().first().toObject();
    QCOMPARE(reading["state"].toString(), "ok");
    QVERIFY2(std::fabs(reading["offset_s"].toDouble() - (deviceAhead - double(workstationAhead)))
                 <= reading["delay_s"].toDouble() / 2 + 0.005,
             run.text().constData());
}

QTEST_GUILESS_MAIN(tst_CliCheck)
#include "tst_clicheck.moc"
