#include "clirun.h"
#include "segment.h"
#include "simulatorprocess.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>

namespace {

const QHostAddress workstation(QStringLiteral("10.77.0.1"));
constexpr quint16 devicePort = 7800;

QJsonObject device(const QString &name, const QString &ip, int serial, const QJsonObject &more = {})
{
    QJsonObject object { { "name", name }, { "ip", ip }, { "serial", serial }, { "ntp", 1 } };
    for (auto it = more.begin(); it != more.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

// Fifty devices whose clocks run 100 s ahead, as found on a new plant.
QJsonArray plant()
{
    QJsonArray devices;
    for (int i = 1; i <= 50; ++i)
        devices.append(device(QStringLiteral("PLANT-%1").arg(i, 2, 10, QLatin1Char('0')),
                              QStringLiteral("10.77.1.%1").arg(i), 1000 + i,
                              { { "offset", 100 } }));
    return devices;
}

// Three hundred devices on one link: more new addresses than the in-use probe asks about in one
// batch (256).
constexpr int wideFleetSize = 300;
QJsonArray wideFleet()
{
    QJsonArray devices;
    for (int i = 0; i < wideFleetSize; ++i)
        devices.append(
            device(QStringLiteral("W%1").arg(i), Segment::deviceAddress(1, i), 2000 + i));
    return devices;
}

// A few devices with every trait a plan can trip over.
QJsonArray workshop()
{
    return { device("A", "10.77.1.1", 1),
             device("B", "10.77.1.2", 2),
             device("C", "10.77.1.3", 3, { { "eeprom", "10.77.1.30" }, { "offset", -30 } }),
             device("D1", "10.77.1.4", 4),
             device("D2", "10.77.1.5", 4),
             device("DEAF", "10.77.1.6", 6, { { "commands", 0 }, { "offset", 50 } }),
             device("NONTP", "10.77.1.7", 7, { { "ntp", 0 } }) };
}

QMap<int, QString> storedAddresses(const QByteArray &scanJson)
{
    QMap<int, QString> stored;
    const QJsonArray devices
        = QJsonDocument::fromJson(scanJson).object().value("devices").toArray();
    for (const QJsonValue value : devices)
        stored.insert(value["serial"].toInt(), value["stored_address"].toString());
    return stored;
}

int countOf(const QByteArray &text, const QByteArray &word)
{
    return int(text.count(word));
}

} // namespace

// Commissioning with setuptool-cli plan and apply, against simulated devices in the virtual
// segment: the plan made, checked whole, carried out, verified and carried out again.
class tst_CliPlan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void commissionFiftyDevices();
    void faultsStopTheWholePlan_data();
    void faultsStopTheWholePlan();
    void skipBadSendsTheSoundLines();
    void deviceIgnoringCommandsFails();
    void dryRunSendsNothing();
    void rescanFailureKeepsTheLines();
    void addressTakenSinceThePlan();
    void movesWithinThePlan_data();
    void movesWithinThePlan();
    void mixedClockPlans_data();
    void mixedClockPlans();
    void logOnAFullDisk();
    void silentClockCannotBeVerified();
    void planTakesFreeAddresses_data();
    void planTakesFreeAddresses();
    void rangePastOneBatch();
    void unusablePlans_data();
    void unusablePlans();

private:
    QString writePlan(const QByteArray &text);
    // Every command the devices received since the simulator started; nothing when the
    // simulator did not confirm that it has logged all that was sent before the call.
    std::optional<QList<QJsonObject>> commands();
    // How many, or -1 without that confirmation.
    int commandCount();

    QTemporaryDir scratch;
    std::unique_ptr<SimulatorProcess> simulator;
};

void tst_CliPlan::initTestCase()
{
    REQUIRE_SEGMENT();
    QVERIFY(!qEnvironmentVariableIsEmpty("SETUPTOOL_CLI"));
    QVERIFY(scratch.isValid());
    for (const auto &[file, devices] :
         { std::pair { "plant.json", plant() }, std::pair { "workshop.json", workshop() },
           std::pair { "wide.json", wideFleet() },
           std::pair { "mute.json",
                       QJsonArray { device("MUTE", "10.77.1.1", 1, { { "sntp", 0 } }) } } }) {
        QFile config(scratch.filePath(file));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QJsonDocument(QJsonObject { { "devices", devices } }).toJson());
    }
}

void tst_CliPlan::init()
{
    const QByteArray function(QTest::currentTestFunction());
    if (function == "rangePastOneBatch"
        && qEnvironmentVariableIntValue("VSEG_DEVICE_COUNT") < wideFleetSize)
        QSKIP("needs a segment of 300 device addresses: runs as tst_cli_plan_wide");
    simulator = std::make_unique<SimulatorProcess>();
    const char *config = function == "commissionFiftyDevices" ? "plant.json"
        : function == "rangePastOneBatch"                     ? "wide.json"
        : function == "silentClockCannotBeVerified"           ? "mute.json"
                                                              : "workshop.json";
    QVERIFY(simulator->start({ "--config", scratch.filePath(config) }));
}

void tst_CliPlan::cleanup()
{
    simulator.reset();
}

QString tst_CliPlan::writePlan(const QByteArray &text)
{
    const QString path = scratch.filePath("plan.csv");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return QString();
    return path;
}

std::optional<QList<QJsonObject>> tst_CliPlan::commands()
{
    // Everything sent before this call has been logged once the marker has: without it, a
    // count of zero would prove nothing.
    if (!simulator->sync(workstation, QHostAddress("10.77.1.1"), devicePort))
        return std::nullopt;
    return simulator->events("command");
}

int tst_CliPlan::commandCount()
{
    const std::optional<QList<QJsonObject>> logged = commands();
    return logged ? int(logged->size()) : -1;
}

void tst_CliPlan::commissionFiftyDevices()
{
    const CliRun plan = runCli({ "plan", "--range", "10.77.5.1-10.77.5.250", "--set-time" });
    QVERIFY2(plan.exitCode == 0, plan.text());
    const QStringList lines = QString::fromUtf8(plan.out).split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 51);
    QCOMPARE(lines.first(), "serial,name,current_address,stored_address,new_address,set_time");
    // In the order of the devices' addresses, each given the next address of the range.
    for (int i = 1; i <= 50; ++i)
        QCOMPARE(lines.at(i),
                 QStringLiteral("%1,PLANT-%2,10.77.1.%3,10.77.1.%3,10.77.5.%3,yes")
                     .arg(1000 + i)
                     .arg(i, 2, 10, QLatin1Char('0'))
                     .arg(i));

    const QString path = writePlan(plan.out);
    const QString logPath = scratch.filePath("apply.jsonl");
    const CliRun apply = runCli({ "apply", path, "--log", logPath, "--rate", "500" });
    QVERIFY2(apply.exitCode == 0, apply.text());
    QCOMPARE(countOf(apply.out, "\ndone "), 49); // the first line has no newline before it
    QVERIFY2(apply.out.startsWith("done "), apply.text());
    QVERIFY2(
        apply.out.contains("50 line(s): 50 done, 0 already in effect, 0 failed, 0 cannot verify, "
                           "0 skipped; "
                           "100 command(s) sent"),
        apply.text());
    QVERIFY2(apply.out.contains("50 of 50 changed line(s) verified"), apply.text());

    // The devices got one command of each kind, from the workstation's device port.
    const std::optional<QList<QJsonObject>> logged = commands();
    QVERIFY2(logged, "the simulator did not log the sync marker");
    const QList<QJsonObject> &received = *logged;
    QCOMPARE(received.size(), 100);
    QMap<QString, QString> storedBy;
    int setTimes = 0;
    for (const QJsonObject &command : received) {
        QCOMPARE(command.value("from").toString(), workstation.toString());
        QCOMPARE(command.value("from_port").toInt(), int(devicePort));
        if (command.value("kind") == "settings")
            storedBy.insert(command.value("at").toString(), command.value("address").toString());
        else
            setTimes += qAbs(command.value("clock_offset").toDouble()) < 2 ? 1 : 0;
    }
    QCOMPARE(storedBy.size(), 50);
    // --rate 500 spreads the 100 commands over at least 99 intervals of 2 ms; a burst would
    // take a few ms. Load can only stretch this, never shorten it.
    const qint64 spreadMs = received.last().value("monotonic_ms").toInteger()
        - received.first().value("monotonic_ms").toInteger();
    QVERIFY2(spreadMs >= 180, qPrintable(QStringLiteral("%1 ms").arg(spreadMs)));
    QCOMPARE(storedBy.value("10.77.1.37"), "10.77.5.37");
    QCOMPARE(setTimes, 50);

    // One log line per command.
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> logLines = log.readAll().split('\n');
    QCOMPARE(logLines.size(), 101);
    const QJsonObject first = QJsonDocument::fromJson(logLines.first()).object();
    QCOMPARE(first.value("plan_line").toInt(), 2);
    QVERIFY(first.contains("bytes_hex"));
    // Each with what took effect: the address stored, the clock read back.
    QCOMPARE(first["verify"]["result"].toString(), "passed");
    QCOMPARE(first["verify"]["stored_address"].toString(), "10.77.5.1");
    const QJsonObject second = QJsonDocument::fromJson(logLines.at(1)).object();
    QCOMPARE(second["command"].toString(), "set-time");
    QCOMPARE(second["verify"]["result"].toString(), "passed");
    QVERIFY(qAbs(second["verify"]["offset_s"].toDouble()) < 2);

    const QMap<int, QString> stored = storedAddresses(runCli({ "scan", "--format", "json" }).out);
    for (int i = 1; i <= 50; ++i)
        QCOMPARE(stored.value(1000 + i), QStringLiteral("10.77.5.%1").arg(i));

    // Applied again: everything is in effect and nothing goes out.
    simulator->clear();
    const CliRun again = runCli({ "apply", path, "--log", logPath });
    QVERIFY2(again.exitCode == 0, again.text());
    QCOMPARE(countOf(again.out, "in-effect "), 50);
    QVERIFY2(
        again.out.contains("50 line(s): 0 done, 50 already in effect, 0 failed, 0 cannot verify, "
                           "0 skipped; "
                           "nothing sent"),
        again.text());
    QCOMPARE(commandCount(), 0);
    QVERIFY(log.seek(0));
    QCOMPARE(log.readAll().count('\n'), 100);
}

void tst_CliPlan::faultsStopTheWholePlan_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QString>("fault");

    // Each plan also holds a sound line, which must not go out either.
    const QByteArray header = "serial,new_address\n2,10.77.2.2\n";
    QTest::newRow("unknown serial") << header + "99,10.77.2.9\n"
                                    << "line 3 (serial 99): no device with serial 99 answered";
    QTest::newRow("serial planned twice") << header + "1,10.77.2.1\n1,10.77.2.8\n"
                                          << "serial 1 is planned on lines 3, 4";
    QTest::newRow("serial heard twice")
        << header + "4,10.77.2.4\n"
        << "serial 4 answers at 10.77.1.4 and 10.77.1.5: two devices carry one serial";
    QTest::newRow("one address for two devices") << header + "1,10.77.2.2\n"
                                                 << "10.77.2.2 is planned for lines 2, 3";
    QTest::newRow("address of a device not in the plan")
        << header + "1,10.77.1.3\n"
        << "10.77.1.3 is in use by C, serial 3, 10.77.1.3";
    QTest::newRow("stored address of a device not in the plan")
        << header + "1,10.77.1.30\n"
        << "10.77.1.30 is in use by C, serial 3, 10.77.1.3, as its stored address";
    QTest::newRow("address of a device that stays")
        << QByteArray("serial,new_address,set_time\n2,,yes\n1,10.77.1.2,no\n")
        << "line 3 (serial 1): 10.77.1.2 is in use by B, serial 2, 10.77.1.2";
    QTest::newRow("this machine's address") << header + "1,10.77.0.1\n"
                                            << "10.77.0.1 is in use by this machine";
    QTest::newRow("outside the subnet")
        << header + "1,10.78.0.9\n"
        << "10.78.0.9 is outside 10.77.0.0/16, the subnet the device was heard on";
    QTest::newRow("subnet broadcast") << header + "1,10.77.255.255\n"
                                      << "10.77.255.255 is the broadcast address of 10.77.0.0/16";
    QTest::newRow("multicast") << header + "1,224.0.0.9\n"
                               << "224.0.0.9 is a multicast address";
    QTest::newRow("not an address")
        << header + "1,10.77.2.300\n"
        << "line 3 (serial 1): new_address \"10.77.2.300\" is not an IPv4";
    QTest::newRow("bad set_time") << QByteArray(
        "serial,new_address,set_time\n2,10.77.2.2,no\n1,10.77.2.1,maybe\n")
                                  << "set_time \"maybe\" is not yes or no";
    QTest::newRow("cells missing") << header + "1\n"
                                   << "line 3: it has 1 cell(s), the header 2";
    QTest::newRow("a stray comma") << header + "1,,10.77.2.1\n"
                                   << "line 3: it has 3 cell(s), the header 2";
}

void tst_CliPlan::faultsStopTheWholePlan()
{
    QFETCH(QByteArray, plan);
    QFETCH(QString, fault);
    const CliRun run = runCli({ "apply", writePlan(plan) });
    QVERIFY2(run.exitCode == 6, run.text());
    QVERIFY2(run.err.contains("the plan is refused, nothing was sent"), run.text());
    QVERIFY2(QString::fromUtf8(run.err).contains(fault), run.text());
    QVERIFY2(run.out.contains("plan refused: nothing sent"), run.text());
    QCOMPARE(commandCount(), 0);

    const CliRun dryRun = runCli({ "apply", writePlan(plan), "--dry-run" });
    QCOMPARE(dryRun.exitCode, 6);
}

void tst_CliPlan::skipBadSendsTheSoundLines()
{
    const QString path = writePlan("serial,new_address\n1,10.77.1.3\n2,10.77.2.2\n99,10.77.2.9\n");
    const CliRun run = runCli({ "apply", path, "--skip-bad" });
    QVERIFY2(run.exitCode == 1, run.text());
    QVERIFY2(run.err.contains("skipping 2 of 3 line(s) with faults"), run.text());
    QVERIFY2(run.out.contains("done          line 3: B, serial 2, 10.77.1.2: stored address "
                              "10.77.2.2"),
             run.text());
    QVERIFY2(run.out.contains("3 line(s): 1 done, 0 already in effect, 0 failed, 0 cannot "
                              "verify, 2 skipped"),
             run.text());
    const std::optional<QList<QJsonObject>> logged = commands();
    QVERIFY2(logged, "the simulator did not log the sync marker");
    const QList<QJsonObject> &received = *logged;
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().value("at").toString(), "10.77.1.2");
}

void tst_CliPlan::deviceIgnoringCommandsFails()
{
    const QString path = writePlan(
        "serial,new_address,set_time\n6,10.77.2.6,yes\n1,10.77.2.1,no\n7,10.77.2.7,yes\n");
    const CliRun run = runCli({ "apply", path, "--format", "json" });
    QVERIFY2(run.exitCode == 1, run.text());
    const QJsonObject document = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(document.value("format").toString(), "setuptool-cli/apply");
    const QJsonArray lines = document.value("lines").toArray();
    QCOMPARE(lines.size(), 3);

    // It took both commands and changed nothing: the rescan and its clock say so.
    QCOMPARE(lines.at(0)["state"].toString(), "failed");
    QCOMPARE(lines.at(0)["sent"].toArray(), (QJsonArray { "set-address", "set-time" }));
    QCOMPARE(lines.at(0)["stored_address_after"].toString(), "10.77.1.6");
    const QString detail = lines.at(0)["detail"].toString();
    QVERIFY2(detail.contains("it still stores 10.77.1.6, not 10.77.2.6"), qPrintable(detail));
    // 50 s ahead, as read over SNTP: within a few milliseconds either way on a loaded machine.
    QVERIFY2(detail.contains(QRegularExpression(R"(its clock is \+(49\.99\d|50\.00\d) s)")),
             qPrintable(detail));
    QCOMPARE(lines.at(1)["state"].toString(), "done");
    // NTP off: its clock is set but cannot be read back, which is no failure.
    QCOMPARE(lines.at(2)["state"].toString(), "done");
    QVERIFY(lines.at(2)["detail"].toString().contains("not read back: NTP is off"));
    QCOMPARE(document.value("summary")["failed"].toInt(), 1);
    QCOMPARE(commandCount(), 5);
}

void tst_CliPlan::dryRunSendsNothing()
{
    const QString path
        = writePlan("serial,new_address,set_time\n1,10.77.2.1,no\n2,10.77.1.2,yes\n");
    const CliRun run = runCli({ "apply", path, "--dry-run" });
    QVERIFY2(run.exitCode == 0, run.text());
    QVERIFY2(
        run.out.contains("would-send    line 2: A, serial 1, 10.77.1.1: would send set-address "
                         "10.77.2.1 from 10.77.0.1 (ws1)"),
        run.text());
    // B's address is in effect; its clock is right already, so nothing is due for it either.
    QVERIFY2(run.out.contains("in-effect     line 3: B"), run.text());
    QVERIFY2(run.out.contains("dry run: 1 line(s) would send, no command sent; sent only the "
                              "scan's probes, 1 SNTP request(s) to read clocks and 1 new "
                              "address(es) asked about"),
             run.text());
    // All it sent: the scan's probes and one SNTP query to B, whose line sets the time.
    QCOMPARE(commandCount(), 0);
    QStringList kinds;
    for (const char *kind : { "probe", "reply", "sntp", "rejected", "command", "send-failed" })
        kinds.append(QStringLiteral("%1 %2").arg(kind).arg(simulator->events(kind).size()));
    QCOMPARE(kinds.mid(2), QStringList({ "sntp 1", "rejected 1", "command 0", "send-failed 0" }));
    QCOMPARE(simulator->events("sntp").constFirst()["device"].toString(), "B");
    QVERIFY(!simulator->events("probe").isEmpty());
}

void tst_CliPlan::rescanFailureKeepsTheLines()
{
    // Three commands at one a second. Once the first has arrived, another program takes the
    // device port on loopback for itself, which the verifying scan's wildcard socket then
    // cannot share; the commands' sockets, bound to the workstation's address, still can.
    const QString path = writePlan(
        "serial,new_address,set_time\n1,10.77.2.1,no\n2,10.77.2.2,no\n7,10.77.1.7,yes\n");
    QProcess cli;
    cli.start(qEnvironmentVariable("SETUPTOOL_CLI"),
              { "apply", path, "--rate", "1", "--wait", "500" });
    QVERIFY(simulator->waitForCount("command", 1));
    const int holder = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(devicePort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::bind(holder, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    const bool finished = cli.waitForFinished(30000);
    ::close(holder);
    QVERIFY(finished);
    const CliRun run { cli.exitCode(), cli.readAllStandardOutput(), cli.readAllStandardError() };
    QVERIFY2(run.exitCode == 5, run.text());
    QVERIFY2(run.err.contains("the scan to verify the plan failed: cannot listen on UDP port 7800"),
             run.text());
    // Every line is reported, with what is known of it.
    QCOMPARE(countOf(run.out, "sent, not verified: the rescan failed: cannot listen"), 3);
    QVERIFY2(run.out.startsWith("cannot verify line 2: A,"), run.text());
    QVERIFY2(run.out.contains("3 line(s): 0 done, 0 already in effect, 0 failed, 3 cannot verify"),
             run.text());
    QCOMPARE(commandCount(), 3);
}

// A host that took a planned address after the plan was made: that line is not sent, the
// others are.
void tst_CliPlan::addressTakenSinceThePlan()
{
    const QString path = writePlan("serial,new_address\n1,10.77.2.1\n2,10.77.2.2\n");
    const QStringList stranger { "-n",           Segment::deviceNamespaces().first(),
                                 "addr",         "add",
                                 "10.77.2.2/16", "dev",
                                 "dev1",         "noprefixroute" };
    QCOMPARE(QProcess::execute("ip", stranger), 0);
    const CliRun run = runCli({ "apply", path });
    QStringList gone = stranger;
    gone.replace(3, "del");
    QCOMPARE(QProcess::execute("ip", gone), 0);
    QVERIFY2(run.exitCode == 1, run.text());
    QVERIFY2(
        run.out.contains("failed        line 3: B, serial 2, 10.77.1.2: not sent: 10.77.2.2 is "
                         "in use: a host at "),
        run.text());
    QVERIFY2(run.out.contains("2 line(s): 1 done, 0 already in effect, 1 failed"), run.text());
    const auto sent = commands();
    QVERIFY(sent);
    QStringList to;
    for (const QJsonObject &command : *sent)
        to.append(command["device"].toString() + ' ' + command["kind"].toString());
    QVERIFY2(to == QStringList { "A settings" }, qPrintable(to.join(", ")));
}

void tst_CliPlan::movesWithinThePlan_data()
{
    QTest::addColumn<QByteArray>("plan"); // the lines after "serial,new_address"
    QTest::addColumn<QString>("stranger"); // an address another host takes first
    QTest::addColumn<QStringList>("results"); // the start of each line's result
    QTest::addColumn<QStringList>("stored"); // "SERIAL ADDRESS" after the run

    QTest::newRow("swap")
        << QByteArray("1,10.77.1.2\n2,10.77.1.1\n") << QString()
        << QStringList { "done          line 2: A, serial 1, 10.77.1.1: stored address 10.77.1.2",
                         "done          line 3: B, serial 2, 10.77.1.2: stored address 10.77.1.1" }
        << QStringList { "1 10.77.1.2", "2 10.77.1.1" };
    QTest::newRow("shift") << QByteArray("1,10.77.1.2\n2,10.77.1.3\n3,10.77.2.3\n") << QString()
                           << QStringList { "done          line 2: A", "done          line 3: B",
                                            "done          line 4: C" }
                           << QStringList { "1 10.77.1.2", "2 10.77.1.3", "3 10.77.2.3" };
    // Held back at its end, C stays, so does B, and so A.
    QTest::newRow("shift whose end is taken")
        << QByteArray("1,10.77.1.2\n2,10.77.1.3\n3,10.77.2.3\n") << "10.77.2.3"
        << QStringList { "failed        line 2: A, serial 1, 10.77.1.1: not sent: 10.77.1.2 is in "
                         "use by B (serial 2), which answers for it on the link of ",
                         "failed        line 3: B, serial 2, 10.77.1.2: not sent: 10.77.1.3 is in "
                         "use by C (serial 3), which answers for it on the link of ",
                         "failed        line 4: C, serial 3, 10.77.1.3: not sent: 10.77.2.3 is in "
                         "use: a host at " }
        << QStringList { "1 10.77.1.1", "2 10.77.1.2", "3 10.77.1.30" };
    // C answers at the address it stored another in place of: its own line gives it back.
    QTest::newRow("a pending change cancelled")
        << QByteArray("3,10.77.1.3\n") << QString()
        << QStringList { "done          line 2: C, serial 3, 10.77.1.3: stored address 10.77.1.3" }
        << QStringList { "3 10.77.1.3" };
}

// A device the plan moves still answers at its address until it restarts: the line that takes
// that address over goes out, unless the device stays.
void tst_CliPlan::movesWithinThePlan()
{
    QFETCH(QByteArray, plan);
    QFETCH(QString, stranger);
    QFETCH(QStringList, results);
    QFETCH(QStringList, stored);
    const QStringList take { "-n",
                             Segment::deviceNamespaces().first(),
                             "addr",
                             "add",
                             stranger + "/16",
                             "dev",
                             "dev1",
                             "noprefixroute" };
    if (!stranger.isEmpty())
        QCOMPARE(QProcess::execute("ip", take), 0);
    const CliRun run = runCli({ "apply", writePlan("serial,new_address\n" + plan) });
    if (!stranger.isEmpty()) {
        QStringList release = take;
        release.replace(3, "del");
        QCOMPARE(QProcess::execute("ip", release), 0);
    }
    QVERIFY2(run.exitCode == (stranger.isEmpty() ? 0 : 1), run.text());
    const QStringList lines = QString::fromUtf8(run.out).split('\n');
    for (int i = 0; i < results.size(); ++i)
        QVERIFY2(lines.value(i).startsWith(results.at(i)), run.text());
    if (!stranger.isEmpty()) {
        QVERIFY2(lines.at(0).endsWith("; B, serial 2, 10.77.1.2 stays there: its line 3 is not "
                                      "sent"),
                 run.text());
        QVERIFY2(lines.at(1).endsWith("; C, serial 3, 10.77.1.3 stays there: its line 4 is not "
                                      "sent"),
                 run.text());
    }
    const QMap<int, QString> after = storedAddresses(runCli({ "scan", "--format", "json" }).out);
    QStringList found;
    for (const QString &expected : stored) {
        const int serial = expected.section(' ', 0, 0).toInt();
        found.append(QStringLiteral("%1 %2").arg(serial).arg(after.value(serial)));
    }
    QCOMPARE(found, stored);
    QCOMPARE(commandCount(), stranger.isEmpty() ? int(results.size()) : 0);
}

void tst_CliPlan::mixedClockPlans_data()
{
    // The lines after "serial,new_address,set_time", in the order given: A's address only, C's
    // clock (30 s behind), DEAF's clock (50 s ahead; it ignores commands), B's clock (right).
    QTest::addColumn<QStringList>("order");
    QTest::newRow("clocks first") << QStringList { "C", "DEAF", "B", "A" };
    QTest::newRow("clocks last") << QStringList { "A", "C", "DEAF", "B" };
    QTest::newRow("interleaved") << QStringList { "DEAF", "A", "B", "C" };
}

// Each clock read, before and after, is reported on its own line and in that line's log entry,
// whatever the order of the lines that set clocks and those that do not.
void tst_CliPlan::mixedClockPlans()
{
    QFETCH(QStringList, order);
    const QMap<QString, QByteArray> planLines {
        { "A", "1,10.77.2.1,no" }, { "B", "2,,yes" }, { "C", "3,,yes" }, { "DEAF", "6,,yes" }
    };
    QByteArray plan = "serial,new_address,set_time\n";
    for (const QString &name : order)
        plan += planLines.value(name) + '\n';
    const QString logPath = scratch.filePath("mixed.jsonl");
    QFile::remove(logPath);
    const CliRun run = runCli({ "apply", writePlan(plan), "--format", "json", "--log", logPath });
    QVERIFY2(run.exitCode == 1, run.text());
    const QJsonArray lines = QJsonDocument::fromJson(run.out)["lines"].toArray();
    QCOMPARE(lines.size(), order.size());
    for (int i = 0; i < order.size(); ++i) {
        const QJsonObject line = lines.at(i).toObject();
        const QString detail = line["state"].toString() + ": " + line["detail"].toString();
        const double after = line["offset_s_after"].toDouble(-1000);
        if (order.at(i) == "A") {
            QCOMPARE(detail, "done: stored address 10.77.2.1");
            QCOMPARE(after, -1000.0);
        } else if (order.at(i) == "B") {
            // Its own clock, read before: right, so nothing is sent to it.
            const QString before = detail.section("its clock is ", 1).section(' ', 0, 0);
            QVERIFY2(detail.startsWith("in-effect: ") && qAbs(before.toDouble()) < 2,
                     qPrintable(detail));
        } else if (order.at(i) == "C") {
            QVERIFY2(detail.startsWith("done: clock set, ") && qAbs(after) < 2, qPrintable(detail));
        } else {
            QVERIFY2(detail.startsWith("failed: its clock is +") && qAbs(after - 50) < 1,
                     qPrintable(detail));
        }
    }
    // One log entry per command, each with its own device's clock (0: set, to the second).
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QMap<QString, QString> verdicts;
    for (const QByteArray &text : log.readAll().split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(text).object();
        const double offset = entry["verify"]["offset_s"].toDouble();
        if (!entry.isEmpty())
            verdicts.insert(
                entry["device"]["name"].toString(),
                QStringLiteral("%1 %2 %3")
                    .arg(entry["command"].toString(), entry["verify"]["result"].toString())
                    .arg(qAbs(offset) < 2 ? 0 : qRound(offset)));
    }
    QCOMPARE(verdicts,
             (QMap<QString, QString> { { "A", "set-address passed 0" },
                                       { "C", "set-time passed 0" },
                                       { "DEAF", "set-time failed 50" } }));
}

// The commands go out, and each one the log could not take is named: no audit trail is lost
// without a word.
void tst_CliPlan::logOnAFullDisk()
{
    const QString path = writePlan("serial,new_address,set_time\n1,10.77.2.1,no\n6,,yes\n");
    const CliRun run = runCli({ "apply", path, "--log", "/dev/full" });
    QVERIFY2(run.exitCode == 7, run.text());
    QVERIFY2(run.err.contains("sent, not logged: set-address to A, serial 1, 10.77.1.1: cannot "
                              "write the log /dev/full"),
             run.text());
    QVERIFY2(run.err.contains("sent, not logged: set-time to DEAF, serial 6, 10.77.1.6"),
             run.text());
    QVERIFY2(run.out.contains("2 command(s) sent, not logged"), run.text());
    QCOMPARE(commandCount(), 2);
}

// A device that takes its new address but never answers SNTP: its clock cannot be verified,
// which is no failure, and the line says what did take effect.
void tst_CliPlan::silentClockCannotBeVerified()
{
    const QString path = writePlan("serial,new_address,set_time\n1,10.77.2.1,yes\n");
    const CliRun run = runCli({ "apply", path });
    QVERIFY2(run.exitCode == 4, run.text());
    QVERIFY2(run.out.startsWith("cannot verify line 2: MUTE, serial 1, 10.77.1.1: stored address "
                                "10.77.2.1; clock: cannot verify over SNTP, "),
             run.text());
    QVERIFY2(run.out.contains("1 line(s): 0 done, 0 already in effect, 0 failed, 1 cannot verify, "
                              "0 skipped; 2 command(s) sent in "),
             run.text());
    QCOMPARE(commandCount(), 2);
}

void tst_CliPlan::planTakesFreeAddresses_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("newAddresses"); // in the devices' order
    QTest::addColumn<QString>("message");

    // The segment's addresses up to 10.77.1.50 that no device has belong to hosts that answer
    // ARP and nothing else, 10.77.1.30, which C stores, among them.
    QTest::newRow("devices keep addresses of the range they hold, unless another host does")
        << "10.77.1.1-10.77.1.60" << 0
        << QStringList { "10.77.1.1", "10.77.1.2", "10.77.1.51", "10.77.1.4",
                         "10.77.1.5", "10.77.1.6", "10.77.1.7" }
        << "C, serial 3, 10.77.1.3 is given another address than the one it stores: "
           "10.77.1.30 is in use: a host at ";
    QTest::newRow("addresses in use skipped")
        << "10.77.1.3-10.77.1.60" << 0
        << QStringList { "10.77.1.51", "10.77.1.52", "10.77.1.53", "10.77.1.4",
                         "10.77.1.5",  "10.77.1.6",  "10.77.1.7" }
        << "not handed out: 10.77.1.8 is in use: a host at ";
    QTest::newRow("every address held by another host")
        << "10.77.1.8-10.77.1.12" << 6 << QStringList {}
        << "no free address of 10.77.1.8-10.77.1.12";
    QTest::newRow("range too small")
        << "10.77.9.1-10.77.9.3" << 6 << QStringList { "10.77.9.1", "10.77.9.2", "10.77.9.3" }
        << "not planned: D2, serial 4, 10.77.1.5: no free address of "
           "10.77.9.1-10.77.9.3 left in 10.77.0.0/16";
    // No device could use it: bad usage, said once rather than once per device.
    QTest::newRow("range outside the subnet")
        << "10.78.0.1-10.78.0.9" << 2 << QStringList {}
        << "the range 10.78.0.1-10.78.0.9 is outside 10.77.0.0/16, the subnet of the devices";
}

void tst_CliPlan::planTakesFreeAddresses()
{
    QFETCH(QString, range);
    QFETCH(int, exitCode);
    QFETCH(QStringList, newAddresses);
    QFETCH(QString, message);
    const CliRun run = runCli({ "plan", "--range", range });
    QVERIFY2(run.exitCode == exitCode, run.text());
    QVERIFY2(QString::fromUtf8(run.err).contains(message), run.text());
    // D1 and D2 share serial 4: a plan that gives D2 an address says apply will refuse it.
    if (newAddresses.size() > 4)
        QVERIFY2(run.err.count("serial 4 answers at more than one address") == 1, run.text());
    QVERIFY2(exitCode != 2 || QString::fromUtf8(run.err).count(message) == 1, run.text());
    QStringList planned;
    for (const QString &line : QString::fromUtf8(run.out).split("\r\n", Qt::SkipEmptyParts).mid(1))
        planned.append(line.split(',').value(4));
    QCOMPARE(planned, newAddresses);
    QCOMPARE(commandCount(), 0);
}

// Every address of a range is asked, those at the edges of the probe's batches of 256 too: hosts
// hold the first and last of the first batch and the first and last of the second.
void tst_CliPlan::rangePastOneBatch()
{
    const QStringList held { "10.77.20.0", "10.77.20.255", "10.77.21.0", "10.77.21.43" };
    const QString deviceNamespace = Segment::deviceNamespaces().first();
    for (const QString &address : held)
        QCOMPARE(QProcess::execute("ip",
                                   { "-n", deviceNamespace, "addr", "add", address + "/16", "dev",
                                     "dev1", "noprefixroute" }),
                 0);
    const CliRun run = runCli({ "plan", "--range", "10.77.20.0-10.77.21.103" }, {}, 120000);
    for (const QString &address : held)
        QProcess::execute("ip",
                          { "-n", deviceNamespace, "addr", "del", address + "/16", "dev", "dev1" });
    QVERIFY2(run.exitCode == 0, run.text());
    QSet<QString> planned;
    for (const QString &line : QString::fromUtf8(run.out).split("\r\n", Qt::SkipEmptyParts).mid(1))
        planned.insert(line.split(',').value(4));
    QSet<QString> expected;
    for (quint32 i = 0; expected.size() < wideFleetSize; ++i) {
        const QString address = QHostAddress((10u << 24 | 77u << 16 | 20u << 8) + i).toString();
        if (!held.contains(address))
            expected.insert(address);
    }
    QCOMPARE(planned, expected);
    for (const QString &address : held)
        QVERIFY2(run.err.contains("not handed out: " + address.toUtf8() + " is in use: a host at "),
                 qPrintable(address));
}

void tst_CliPlan::unusablePlans_data()
{
    QTest::addColumn<QByteArray>("plan"); // empty: no such file
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("no such file") << QByteArray() << 2 << "cannot read the plan";
    QTest::newRow("no new_address column") << QByteArray("serial,address\n1,10.77.2.1\n") << 6
                                           << "line 1: the header has no \"new_address\" column";
    QTest::newRow("column named twice") << QByteArray("serial,new_address,serial\n1,10.77.2.1,1\n")
                                        << 6 << "line 1: column \"serial\" is named twice";
    QTest::newRow("quote left open")
        << QByteArray("serial,new_address\n\"1,10.77.2.1\n") << 6 << "line 2: a quote is opened";
    QTest::newRow("header only") << QByteArray("serial,new_address\r\n") << 6 << "it has no lines";
}

void tst_CliPlan::unusablePlans()
{
    QFETCH(QByteArray, plan);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const QString path = plan.isEmpty() ? scratch.filePath("missing.csv") : writePlan(plan);
    const CliRun run = runCli({ "apply", path });
    QVERIFY2(run.exitCode == exitCode, run.text());
    QVERIFY2(QString::fromUtf8(run.err).contains(message), run.text());
    // The plan is read before anything else: not even a probe goes out.
    QVERIFY(simulator->sync(workstation, QHostAddress::Broadcast, 4800));
    QCOMPARE(simulator->events("probe").size(), 0);
}

QTEST_GUILESS_MAIN(tst_CliPlan)
#include "tst_cliplan.moc"
