// setuptool-cli check scheduled by a real monitoring engine, Nagios 4, started by the test in
// the workstation namespace with a configuration of its own in a temporary folder. What is
// checked is the engine's own record (its status file): the state it holds, the long output and
// the performance data as it split them off the plugin's output.

#include "perfdata.h"
#include "segment.h"
#include "simulatorprocess.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <tuple>

namespace {

// scripts/setup-deps unpacks Debian's nagios4-core there rather than installing it.
QString enginePath()
{
    return qEnvironmentVariable("NAGIOS4",
                                QStringLiteral("/var/cache/setuptool/nagios4/usr/sbin/nagios4"));
}

// The engine drops root for nobody (65534), as Debian's service runs as user nagios: the check
// needs no privileges.
constexpr uid_t engineUid = 65534;

// The engine's timeout for a check, in seconds; the service "stuck" outlasts it. The others end
// well within it, by their answers or by their own deadline, also on a busy machine.
constexpr int checkTimeout = 20;

// The check's own deadline in the service "deadline", whose silent device would hold it 30 s.
constexpr int checkDeadline = 4;

QString device(int serial, const QString &name, const QString &more = QString())
{
    return QStringLiteral("ip=10.77.1.%1,serial=%1,ntp=1,name=%2%3")
        .arg(serial)
        .arg(name, more.isEmpty() ? QString() : QLatin1Char(',') + more);
}

// Nagios 4 configured to do nothing but run the checks: no notifications, no state kept across
// runs, no command pipe, no update check, every file in `folder`. interval_length=1 makes
// intervals seconds; every service is checked right at the start.
QString mainConfig(const QString &folder)
{
    QString text = QStringLiteral("cfg_file=%1/objects.cfg\n"
                                  "log_file=%1/nagios.log\n"
                                  "status_file=%1/status.dat\n"
                                  "status_update_interval=1\n"
                                  "temp_file=%1/nagios.tmp\n"
                                  "temp_path=%1\n"
                                  "lock_file=%1/nagios.lock\n"
                                  "check_result_path=%1/checkresults\n"
                                  "object_cache_file=%1/objects.cache\n"
                                  "precached_object_file=%1/objects.precache\n"
                                  "query_socket=%1/nagios.qh\n"
                                  "retain_state_information=0\n"
                                  "check_external_commands=0\n"
                                  "check_for_updates=0\n"
                                  "enable_notifications=0\n"
                                  "enable_flap_detection=0\n"
                                  "use_syslog=0\n"
                                  "interval_length=1\n"
                                  "service_inter_check_delay_method=n\n"
                                  "illegal_macro_output_chars=`~$&|'\"<>\n"
                                  "service_check_timeout=%2\n"
                                  "service_check_timeout_state=u\n"
                                  "nagios_user=nobody\n"
                                  "nagios_group=nogroup\n");
    return text.arg(folder).arg(checkTimeout);
}

// One host, the workstation, and four services of the clock check: the thresholds and the
// devices a site would give, a broken option, a device slower than the check's own deadline,
// and a scan that outlasts the engine's timeout (as a check given a deadline past it would).
QString objectConfig(const QString &cli)
{
    // As docs/monitoring.md gives them: the thresholds and the devices as the service's
    // arguments.
    const QString command
        = QStringLiteral("%1 check --warn $ARG1$ --crit $ARG2$ --expect $ARG3$ --wait %2");
    const QString devices = QStringLiteral("!A,B,C,QUIET");
    const QList<std::tuple<QString, QString, QString>> services {
        { "clocks", "0.5!2" + devices, command.arg(cli, "300 --timeout 400 --deadline 10") },
        { "broken", "3!2" + devices, command.arg(cli, "300") },
        { "deadline", "0.5!2" + devices,
          command.arg(cli, "300 --timeout 15000 --deadline %1").arg(checkDeadline) },
        { "stuck", "0.5!2" + devices,
          command.arg(cli).arg(checkTimeout * 3000) + QStringLiteral(" --deadline 3600") },
    };
    QString text = QStringLiteral(
        "define timeperiod {\n timeperiod_name always\n alias always\n"
        " sunday 00:00-24:00\n monday 00:00-24:00\n tuesday 00:00-24:00\n"
        " wednesday 00:00-24:00\n thursday 00:00-24:00\n friday 00:00-24:00\n"
        " saturday 00:00-24:00\n}\n"
        "define command {\n command_name none\n command_line /bin/true\n}\n"
        "define contact {\n contact_name nobody\n host_notifications_enabled 0\n"
        " service_notifications_enabled 0\n host_notification_period always\n"
        " service_notification_period always\n host_notification_options n\n"
        " service_notification_options n\n host_notification_commands none\n"
        " service_notification_commands none\n}\n"
        "define host {\n host_name workstation\n address 10.77.0.1\n max_check_attempts 1\n"
        " check_period always\n contacts nobody\n notification_period always\n}\n");
    for (const auto &[name, thresholds, commandLine] : services) {
        text += QStringLiteral("define command {\n command_name %1\n command_line %2\n}\n"
                               "define service {\n host_name workstation\n"
                               " service_description %1\n check_command %1!%3\n"
                               " max_check_attempts 1\n check_interval %4\n retry_interval %4\n"
                               " check_period always\n contacts nobody\n"
                               " notification_period always\n notification_interval 0\n}\n")
                    .arg(name, commandLine, thresholds)
                    .arg(name == "clocks" || name == "deadline" ? 1 : 600);
    }
    return text;
}

// The status file's servicestatus blocks by service, each field as written. Long output
// keeps its line breaks as "\n".
QMap<QString, QMap<QString, QString>> readServices(const QString &statusFile)
{
    QFile file(statusFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QMap<QString, QMap<QString, QString>> services;
    QMap<QString, QString> block;
    bool inService = false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line == QLatin1String("servicestatus {")) {
            inService = true;
            block.clear();
        } else if (inService && line == QLatin1String("}")) {
            inService = false;
            services.insert(block.value("service_description"), block);
        } else if (inService) {
            block.insert(line.section('=', 0, 0), line.section('=', 1));
        }
    }
    return services;
}

// Whether `actual` says what `expected` says, but for the offsets the output writes ("+1.500 s"),
// which may each be off by `tolerance`: a clock read over the network is off by up to half the
// round trip of its exchange, tenths of a second on a busy machine.
bool sameReport(const QString &actual, const QString &expected, double tolerance)
{
    static const QRegularExpression offset(QStringLiteral("([+-][0-9]+\\.[0-9]+) s"));
    const auto offsets = [](const QString &text) {
        QList<double> found;
        for (QRegularExpressionMatchIterator it = offset.globalMatch(text); it.hasNext();)
            found.append(it.next().captured(1).toDouble());
        return found;
    };
    const QString placeholder = QStringLiteral("<offset> s");
    if (QString(actual).replace(offset, placeholder)
        != QString(expected).replace(offset, placeholder))
        return false;
    const QList<double> read = offsets(actual);
    const QList<double> told = offsets(expected);
    for (qsizetype i = 0; i < read.size(); ++i) {
        if (std::fabs(read.at(i) - told.at(i)) > tolerance)
            return false;
    }
    return true;
}

bool writeFile(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size();
}

// Processes whose command line holds `needle` (a setuptool-cli left behind).
QStringList processesWith(const QByteArray &needle)
{
    QStringList found;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmdline("/proc/" + pid + "/cmdline");
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(needle))
            found.append(pid);
    }
    return found;
}

} // namespace

class tst_Monitoring : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void states_data();
    void states();
    void brokenOption();
    void ownDeadline();
    void engineTimeout();

private:
    // The record of a check of `service` started after `sinceSecs` (epoch seconds).
    QMap<QString, QString> checkAfter(const QString &service, qint64 sinceSecs);

    QTemporaryDir folder;
    QProcess engine;
    std::unique_ptr<SimulatorProcess> simulator;
};

void tst_Monitoring::initTestCase()
{
    REQUIRE_SEGMENT();
    QVERIFY(!qEnvironmentVariableIsEmpty("SETUPTOOL_CLI"));
    QVERIFY(folder.isValid());
    // The engine's user must reach the program and write its own files.
    const QString cli = folder.filePath("setuptool-cli");
    QVERIFY(QFile::copy(qEnvironmentVariable("SETUPTOOL_CLI"), cli));
    QVERIFY(QDir(folder.path()).mkdir("checkresults"));
    QVERIFY(writeFile(folder.filePath("nagios.cfg"), mainConfig(folder.path())));
    QVERIFY(writeFile(folder.filePath("objects.cfg"), objectConfig(cli)));
    for (const QString &name :
         QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries))
        QCOMPARE(chown(qPrintable(folder.filePath(name)), engineUid, engineUid), 0);
    QCOMPARE(chown(qPrintable(folder.path()), engineUid, engineUid), 0);
    QVERIFY(QFile::setPermissions(folder.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                      | QFile::ReadOther | QFile::ExeOther));

    engine.setProcessChannelMode(QProcess::MergedChannels);
    engine.start(enginePath(), { folder.filePath("nagios.cfg") });
    QVERIFY(engine.waitForStarted());
}

void tst_Monitoring::cleanupTestCase()
{
    engine.terminate();
    if (!engine.waitForFinished(10000))
        engine.kill();
    simulator.reset();
}

QMap<QString, QString> tst_Monitoring::checkAfter(const QString &service, qint64 sinceSecs)
{
    QMap<QString, QString> record;
    const bool checked = QTest::qWaitFor(
        [&] {
            record = readServices(folder.filePath("status.dat")).value(service);
            return record.value("has_been_checked") == "1"
                && record.value("last_check").toLongLong() > sinceSecs;
        },
        // A check that began before `sinceSecs` ends first: up to the engine's timeout.
        (checkTimeout * 2 + 10) * 1000);
    if (!checked) {
        qWarning("engine output:\n%s", engine.readAll().constData());
        QFile log(folder.filePath("nagios.log"));
        if (log.open(QIODevice::ReadOnly))
            qWarning("engine log:\n%s", log.readAll().constData());
        return {};
    }
    return record;
}

void tst_Monitoring::states_data()
{
    QTest::addColumn<QStringList>("devices"); // A, B, C with NTP on; QUIET with NTP off
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("longOutput");
    // devices checked answered unsynchronised unanswered not_checkable missing
    QTest::addColumn<QString>("counts");
    QTest::addColumn<double>("worstOffset"); // -1: none read

    const QString quiet = device(4, "QUIET", "ntp=0");
    const QString offLine
        = QStringLiteral("1 device not checkable (NTP off), not counted as failing");
    QTest::newRow("ok") << QStringList { device(1, "A"), device(2, "B", "offset=0.2"),
                                         device(3, "C"), quiet }
                        << 0 << "CLOCK OK - 3 devices checked, worst offset +0.200 s (B)"
                        << QStringList { offLine } << "4 3 3 0 0 1 0" << 0.2;
    QTest::newRow("warning: a clock moved past --warn")
        << QStringList { device(1, "A"), device(2, "B", "offset=1.5"), device(3, "C"), quiet } << 1
        << "CLOCK WARNING - 1 off by more than 0.5 s (3 devices checked), worst offset +1.500 s "
           "(B)"
        << QStringList { "B (serial 2, 10.77.1.2): offset +1.500 s (warning: more than 0.5 s)",
                         offLine }
        << "4 3 3 0 0 1 0" << 1.5;
    QTest::newRow("critical: another past --crit")
        << QStringList { device(1, "A"), device(2, "B", "offset=1.5"), device(3, "C", "offset=-3"),
                         quiet }
        << 2
        << "CLOCK CRITICAL - 1 off by more than 2 s, 1 off by more than 0.5 s (3 devices "
           "checked), worst offset -3.000 s (C)"
        << QStringList { "B (serial 2, 10.77.1.2): offset +1.500 s (warning: more than 0.5 s)",
                         "C (serial 3, 10.77.1.3): offset -3.000 s (critical: more than 2 s)",
                         offLine }
        << "4 3 3 0 0 1 0" << 3.0;
    QTest::newRow("critical: a device fell silent")
        << QStringList { device(1, "A", "sntp=0"), device(2, "B", "offset=0.3"), device(3, "C"),
                         quiet }
        << 2 << "CLOCK CRITICAL - 1 not answering (3 devices checked), worst offset +0.300 s (B)"
        << QStringList { "A (serial 1, 10.77.1.1): no answer: no answer after 2 tries", offLine }
        << "4 3 2 0 1 1 0" << 0.3;
    QTest::newRow("critical: a device gone")
        << QStringList { device(1, "A"), device(2, "B", "offset=0.3"), quiet } << 2
        << "CLOCK CRITICAL - 1 expected device missing (2 devices checked), worst offset +0.300 s "
           "(B)"
        << QStringList { "C: expected, did not answer the scan", offLine } << "3 2 2 0 0 1 1"
        << 0.3;
    QTest::newRow("critical: every device gone")
        << QStringList {} << 2 << "CLOCK CRITICAL - 4 expected devices missing (0 devices checked)"
        << QStringList { "A: expected, did not answer the scan",
                         "B: expected, did not answer the scan",
                         "C: expected, did not answer the scan",
                         "QUIET: expected, did not answer the scan" }
        << "0 0 0 0 0 0 4" << -1.0;
}

void tst_Monitoring::states()
{
    QFETCH(QStringList, devices);
    QFETCH(int, state);
    QFETCH(QString, output);
    QFETCH(QStringList, longOutput);
    QFETCH(QString, counts);
    QFETCH(double, worstOffset);
    simulator.reset();
    if (!devices.isEmpty()) {
        QStringList arguments;
        for (const QString &fields : devices)
            arguments << "--device" << fields;
        simulator = std::make_unique<SimulatorProcess>();
        QVERIFY(simulator->start(arguments));
    }

    const QMap<QString, QString> record = checkAfter("clocks", QDateTime::currentSecsSinceEpoch());
    QVERIFY(!record.isEmpty());
    QCOMPARE(record.value("current_state").toInt(), state);
    QCOMPARE(record.value("state_type"), "1"); // hard: one attempt is enough
    const QMap<QString, Perfdata::Metric> metrics
        = Perfdata::parse(record.value("performance_data"));
    // The slowest exchange bounds how far any offset read may be from the simulator's; 5 ms more
    // for the millisecond the output rounds to.
    const double tolerance = metrics.value("max_delay").value.toDouble() / 2 + 0.005;
    QVERIFY2(sameReport(record.value("plugin_output"), output, tolerance),
             qPrintable(record.value("plugin_output")));
    QVERIFY2(sameReport(record.value("long_plugin_output"), longOutput.join("\\n"), tolerance),
             qPrintable(record.value("long_plugin_output")));

    QCOMPARE(metrics.keys(),
             QStringList({ "answered", "checked", "devices", "max_delay", "median_delay", "missing",
                           "not_checkable", "unanswered", "unsynchronised", "worst_offset" }));
    QStringList seen;
    for (const char *label : { "devices", "checked", "answered", "unsynchronised", "unanswered",
                               "not_checkable", "missing" })
        seen.append(metrics.value(label).value);
    QCOMPARE(seen.join(' '), counts);
    const Perfdata::Metric worst = metrics.value("worst_offset");
    QCOMPARE(worst.thresholds, QStringList({ "0.5", "2", "0", "" }));
    if (worstOffset < 0) {
        QCOMPARE(worst.value, "U");
    } else {
        QCOMPARE(worst.unit, "s");
        QVERIFY2(std::fabs(worst.value.toDouble() - worstOffset) <= tolerance,
                 qPrintable(worst.value));
    }
    QCOMPARE(metrics.value("max_delay").unit, worstOffset < 0 ? "" : "s");
}

void tst_Monitoring::brokenOption()
{
    const QMap<QString, QString> record = checkAfter("broken", 0);
    QVERIFY(!record.isEmpty());
    QCOMPARE(record.value("current_state"), "3");
    QVERIFY2(record.value("plugin_output").startsWith("CLOCK UNKNOWN - setuptool-cli: ")
                 && record.value("plugin_output").contains("--crit"),
             qPrintable(record.value("plugin_output")));
    QCOMPARE(record.value("long_plugin_output"), "");
    QCOMPARE(record.value("performance_data"), "");
}

// A device slower than the check's deadline: the check reports at its deadline, CRITICAL with
// the device named, long before the engine would kill it (which would record UNKNOWN).
void tst_Monitoring::ownDeadline()
{
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(
        simulator->start({ "--device", device(1, "A"), "--device", device(2, "B", "sntp=0"),
                           "--device", device(3, "C"), "--device", device(4, "QUIET", "ntp=0") }));
    const QMap<QString, QString> record
        = checkAfter("deadline", QDateTime::currentSecsSinceEpoch());
    QVERIFY(!record.isEmpty());
    QCOMPARE(record.value("current_state"), "2");
    QVERIFY2(record.value("plugin_output")
                 .startsWith(QStringLiteral("CLOCK CRITICAL - 1 not answering, deadline of %1 s "
                                            "passed (3 devices checked), worst offset ")
                                 .arg(checkDeadline)),
             qPrintable(record.value("plugin_output")));
    QCOMPARE(record.value("long_plugin_output"),
             QStringLiteral("B (serial 2, 10.77.1.2): no answer: not read before the "
                            "deadline\\n1 device not read before the deadline of %1 s, counted "
                            "as not answering\\n1 device not checkable (NTP off), not counted "
                            "as failing")
                 .arg(checkDeadline));
}

void tst_Monitoring::engineTimeout()
{
    const QMap<QString, QString> record = checkAfter("stuck", 0);
    QVERIFY(!record.isEmpty());
    QCOMPARE(record.value("current_state"), "3");
    QVERIFY2(
        record.value("plugin_output")
            .startsWith(QStringLiteral("(Service check timed out after %1.").arg(checkTimeout)),
        qPrintable(record.value("plugin_output")));
    // The engine killed the check's process group: no scan is left listening.
    const QByteArray needle = QByteArray("--wait", 7) + QByteArray::number(checkTimeout * 3000);
    QVERIFY2(QTest::qWaitFor([&] { return processesWith(needle).isEmpty(); }, 2000),
             qPrintable(processesWith(needle).join(' ')));
}

// Without the engine there is nothing to test: a skip (77), not a pass.
int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (!QFileInfo(enginePath()).isExecutable()) {
        std::fprintf(stderr, "SKIP: %s is missing; scripts/setup-deps unpacks it\n",
                     qPrintable(enginePath()));
        return 77;
    }
    tst_Monitoring test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitoring.moc"
