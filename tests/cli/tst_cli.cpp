#include "settingsform.h"

#include "clirun.h"
#include "segment.h"
#include "simulatorprocess.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <csignal>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray hostileName("=\x1b[2J\"a\",\x9b", 10);

QJsonObject device(const QByteArray &name, const char *ip, int serial, const QJsonObject &more = {})
{
    // Uptimes that make the TWINs' serial XOR uptime equal: 6 ^ 3 == 5 ^ 0.
    QJsonObject object { { "name", QString::fromLatin1(name) },
                         { "ip", ip },
                         { "serial", serial },
                         { "uptime",
                           serial == 6       ? 3
                               : serial == 5 ? 0
                                             : 1 },
                         { "ntp", 1 } };
    for (auto it = more.begin(); it != more.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

// Serial -> note codes, the way every output format lists them.
using Notes = QMap<int, QString>;

// The fleet: two devices whose serial XOR uptime (the window's signature) collide, an address
// conflict, a restart pending, a device outside the subnet, a hostile name, one with NTP off,
// one that ignores commands.
const Notes fleetNotes { { 100, "" },
                         { 6, "" },
                         { 5, "" },
                         { 7, "address-conflict" },
                         { 8, "address-conflict" },
                         { 9, "pending-restart" },
                         { 10, "outside-subnet" },
                         { 12, "" },
                         { 13, "" },
                         { 14, "" },
                         { 15, "" },
                         { 16, "" } };

QJsonArray fleet()
{
    return { device("CLOCK-A", "10.77.1.1", 100),
             device("TWIN", "10.77.1.2", 6),
             device("TWIN", "10.77.1.3", 5),
             device("CONFLICT", "10.77.1.4", 7),
             device("CONFLICT", "10.77.1.4", 8),
             device("MOVED", "10.77.1.5", 9, { { "eeprom", "10.77.1.50" } }),
             device("FAR", "192.168.5.5", 10),
             device(hostileName, "10.77.1.8", 12),
             device("QUIET", "10.77.1.9", 13, { { "ntp", 0 } }),
             device("LATE", "10.77.1.10", 14, { { "offset", 3600 } }),
             device("MUTE", "10.77.1.11", 15, { { "sntp", 0 } }),
             device("DEAF", "10.77.1.12", 16, { { "commands", 0 } }) };
}

QStringList csvCells(const QString &line)
{
    QStringList cells { QString() };
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted && c == u'"' && line.mid(i + 1, 1) == QLatin1String("\""))
            cells.last() += line.at(++i);
        else if (c == u'"')
            quoted = !quoted;
        else if (c == u',' && !quoted)
            cells.append(QString());
        else
            cells.last() += c;
    }
    return cells;
}

// What the output says: the note codes of every device, and how the hostile name was shown.
Notes notesOf(const QString &format, const QByteArray &out, QString *shownName)
{
    Notes notes;
    if (format == "json") {
        const QJsonObject document = QJsonDocument::fromJson(out).object();
        if (document.value("format") != "setuptool-cli/scan" || document.value("version") != 2)
            return {};
        for (const QJsonValue value : document.value("devices").toArray()) {
            QStringList codes;
            for (const QJsonValue note : value["notes"].toArray())
                codes.append(note["code"].toString());
            notes.insert(value["serial"].toInt(), codes.join(' '));
            if (value["serial"].toInt() == 12)
                *shownName = value["name"].toString();
        }
        return notes;
    }
    const QStringList lines = QString::fromUtf8(out).split(format == "csv" ? "\r\n" : "\n");
    for (const QString &line : lines.mid(1)) {
        if (line.isEmpty())
            break;
        const QStringList cells
            = format == "csv" ? csvCells(line) : line.split(' ', Qt::SkipEmptyParts);
        const int serial = cells.value(3).toInt();
        const QString table = cells.value(7) == "-" ? QString() : cells.value(7);
        notes.insert(serial, format == "csv" ? cells.value(11) : QString(table).replace(',', ' '));
        if (serial == 12)
            *shownName = cells.value(0);
    }
    return notes;
}

bool holdsControls(const QByteArray &out)
{
    for (int i = 0; i < out.size(); ++i) {
        const uchar byte = uchar(out.at(i));
        if ((byte < 0x20 && byte != '\n' && byte != '\r') || byte == 0x7f
            || (byte == 0xc2 && i + 1 < out.size() && uchar(out.at(i + 1)) < 0xa0))
            return true;
    }
    return false;
}

const QHostAddress workstation1(QStringLiteral("10.77.0.1"));

// setuptool-cli with its stdout on a full disk ("full") or on a pipe whose reader is gone
// ("gone"), as `| head` leaves it once it has its lines.
CliRun runWithStdout(QStringList arguments, const QString &stdoutTo)
{
    if (!arguments.contains("--help"))
        arguments << "--wait"
                  << "500";
    QProcess process;
    if (stdoutTo == "full")
        process.setStandardOutputFile("/dev/full");
    else
        process.setChildProcessModifier([] {
            int ends[2];
            if (::pipe(ends) == 0) {
                ::close(ends[0]);
                ::dup2(ends[1], STDOUT_FILENO);
            }
        });
    process.start(qEnvironmentVariable("SETUPTOOL_CLI"), arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        process.kill();
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
             {},
             process.readAllStandardError() };
}

} // namespace

// setuptool-cli driven as a user drives it, against simulated devices in the virtual segment.
class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void scanFormats_data();
    void scanFormats();
    void commands_data();
    void commands();
    void dryRunSendsNothing_data();
    void dryRunSendsNothing();
    void refusals_data();
    void refusals();
    void storedAddressAgain_data();
    void storedAddressAgain();
    void lateHostSeenWithoutRoot();
    void lostResults_data();
    void lostResults();
    void portsTaken_data();
    void portsTaken();
    void replyBufferWarnings_data();
    void replyBufferWarnings();
    void documentsMatchSchema();

private:
    QTemporaryDir scratch;
    std::unique_ptr<SimulatorProcess> simulator;
};

void tst_Cli::initTestCase()
{
    REQUIRE_SEGMENT();
    QVERIFY(!qEnvironmentVariableIsEmpty("SETUPTOOL_CLI"));
    QVERIFY(scratch.isValid());
    QFile config(scratch.filePath("fleet.json"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QJsonDocument(QJsonObject { { "devices", fleet() } }).toJson());
    // The device outside the subnet answers from an address its namespace has on the segment.
    QCOMPARE(qEnvironmentVariableIntValue("VSEG_SEGMENTS"), 1);
    QCOMPARE(QProcess::execute("ip",
                               { "-n", Segment::deviceNamespaces().first(), "addr", "add",
                                 "192.168.5.5/32", "dev", "dev1" }),
             0);
}

void tst_Cli::init()
{
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start({ "--config", scratch.filePath("fleet.json") }));
}

void tst_Cli::cleanup()
{
    simulator.reset();
    QFile::remove(scratch.filePath("commands.jsonl"));
}

void tst_Cli::scanFormats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("shownName");
    QTest::addColumn<int>("probes");
    QTest::newRow("table") << "table"
                           << "=\\x1b[2J\"a\",\\x9b" << 1;
    QTest::newRow("json") << "json" << QString::fromLatin1(hostileName) << 2;
    QTest::newRow("csv") << "csv"
                         << "'=\\x1b[2J\"a\",\\x9b" << 1;
}

void tst_Cli::scanFormats()
{
    QFETCH(QString, format);
    QFETCH(QString, shownName);
    QFETCH(int, probes);
    const CliRun run = runCli(
        { "scan", "--format", format, "--probes", QString::number(probes), "--interval", "100" });
    QVERIFY2(run.exitCode == 0, run.text().constData());
    QVERIFY(simulator->sync(workstation1, QHostAddress::Broadcast, 4800));
    QCOMPARE(simulator->events("probe").size(), probes);
    QString name;
    QCOMPARE(notesOf(format, run.out, &name), fleetNotes);
    QCOMPARE(name, shownName);
    QVERIFY2(!holdsControls(run.out), run.out.toHex(' ').constData());
    // The formula guard: the cell starts with a quote, not with '='.
    if (format == "csv")
        QVERIFY(run.out.contains("\r\n\"'="));
    // Progress only goes to a terminal; what stderr holds is messages.
    QVERIFY2(!run.err.contains("scanning"), run.err.constData());
}

void tst_Cli::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("at"); // where the command must arrive
    QTest::addColumn<QString>("verify"); // the log's verify result ...
    QTest::addColumn<QString>("saw"); // ... and part of what it says it saw
    QTest::newRow("set-time by serial") << QStringList { "set-time", "100" } << 0 << "10.77.1.1"
                                        << "not-requested"
                                        << "";
    // The workstation has no route to it: the command leaves through the interface it was heard
    // on all the same.
    QTest::newRow("set-time outside the subnet, no route")
        << QStringList { "set-time", "FAR" } << 0 << "192.168.5.5"
        << "not-requested"
        << "";
    QTest::newRow("set-time, NTP off, verify")
        << QStringList { "set-time", "QUIET", "--verify" } << 4 << "10.77.1.9"
        << "cannot-verify"
        << "NTP service is off";
    QTest::newRow("set-time an hour late, verified")
        << QStringList { "set-time", "LATE", "--verify" } << 0 << "10.77.1.10"
        << "passed"
        << "s from ours";
    // A device set to the second runs a fraction of a second behind: no tolerance fails.
    QTest::newRow("set-time, verify without tolerance")
        << QStringList { "set-time", "LATE", "--verify", "--tolerance", "0" } << 1 << "10.77.1.10"
        << "failed"
        << "s from ours (tolerance 0 s";
    QTest::newRow("set-time, SNTP silent, verify")
        << QStringList { "set-time", "MUTE", "--verify" } << 4 << "10.77.1.11"
        << "cannot-verify"
        << "no usable SNTP answer";
    QTest::newRow("set-address by name")
        << QStringList { "set-address", "CLOCK-A", "10.77.1.20" } << 0 << "10.77.1.1"
        << "not-requested"
        << "";
    QTest::newRow("set-address of one twin, verified")
        << QStringList { "set-address", "10.77.1.3", "10.77.1.21", "--verify" } << 0 << "10.77.1.3"
        << "passed"
        << "stored address 10.77.1.21";
    // It logs the command and ignores it: the rescan must see the old stored address.
    QTest::newRow("set-address ignored, verify")
        << QStringList { "set-address", "DEAF", "10.77.1.23", "--verify" } << 1 << "10.77.1.12"
        << "failed"
        << "still reports stored address 10.77.1.12";
    QTest::newRow("set-address in a conflict, by serial, as JSON")
        << QStringList { "set-address", "8", "10.77.1.22", "--format", "json" } << 0 << "10.77.1.4"
        << "not-requested"
        << "";
    QTest::newRow("set-time by serial, as CSV")
        << QStringList { "set-time", "100", "--format", "csv" } << 0 << "10.77.1.1"
        << "not-requested"
        << "";
    // "text" is what set-address called its table before every command had the same formats.
    QTest::newRow("set-address by name, as text")
        << QStringList { "set-address", "CLOCK-A", "10.77.1.20", "--format", "text" } << 0
        << "10.77.1.1"
        << "not-requested"
        << "";
    QTest::newRow("set-address forced")
        << QStringList { "set-address", "9", "10.77.255.255", "--force" } << 0 << "10.77.1.5"
        << "not-requested"
        << "";
    QTest::newRow("set-address forced over a pending address")
        << QStringList { "set-address", "100", "10.77.1.50", "--force" } << 0 << "10.77.1.1"
        << "not-requested"
        << "";
    QTest::newRow("set-address forced over a silent host")
        << QStringList { "set-address", "100", "10.77.1.16", "--force" } << 0 << "10.77.1.1"
        << "not-requested"
        << "";
}

void tst_Cli::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, at);
    QFETCH(QString, verify);
    QFETCH(QString, saw);
    const QString logPath = scratch.filePath("commands.jsonl");
    const bool noRoute = QByteArray(QTest::currentDataTag()).contains("no route");
    if (noRoute)
        QCOMPARE(QProcess::execute("ip", { "route", "del", "default" }), 0);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const CliRun run = runCli(arguments + QStringList { "--log", logPath });
    if (noRoute)
        QCOMPARE(QProcess::execute("ip", { "route", "add", "default", "dev", "ws1" }), 0);
    QVERIFY2(run.exitCode == exitCode, run.text().constData());

    QVERIFY(simulator->waitForCount("command", 1));
    const QJsonObject command = simulator->events("command").first();
    const bool setTime = arguments.first() == "set-time";
    QCOMPARE(command["kind"].toString(), setTime ? "set-time" : "settings");
    QCOMPARE(command["at"].toString(), at);
    QCOMPARE(command["from"].toString(), workstation1.toString());
    QCOMPARE(command["from_port"].toInt(), 7800);
    if (setTime)
        QVERIFY(command["seconds"].toInteger() >= before
                && command["seconds"].toInteger() <= QDateTime::currentSecsSinceEpoch());
    else if (!command["ignored"].toBool()) // an ignored command's bytes are checked below
        QCOMPARE(command["address"].toString(), arguments.at(2));

    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    QCOMPARE(lines.size(), 2);
    const QJsonObject entry = QJsonDocument::fromJson(lines.first()).object();
    QCOMPARE(entry["heard_on"]["address"].toString(), workstation1.toString());
    QCOMPARE(entry["device"]["address"].toString(), at);
    QCOMPARE(entry["verify"]["result"].toString(), verify);
    QVERIFY2(entry["verify"]["detail"].toString().contains(saw), lines.first().constData());
    // The very bytes the window sends for the same command.
    const QByteArray windowBytes = setTime
        ? SettingsForm::setTimeCommand(command["seconds"].toInteger())
        : SettingsForm::settingsCommand(arguments.at(2));
    QCOMPARE(entry["bytes_hex"].toString().toLatin1(), windowBytes.toHex());
    if (arguments.contains("json")) {
        QCOMPARE(QJsonDocument::fromJson(run.out)["bytes_hex"], entry["bytes_hex"]);
    } else if (arguments.contains("csv")) {
        // A header and one row, the columns named as the JSON keys.
        const QList<QByteArray> csv = run.out.split('\n');
        QCOMPARE(csv.size(), 3);
        const QList<QByteArray> columns = csv.first().trimmed().split(',');
        const QList<QByteArray> cells = csv.at(1).trimmed().split(',');
        QCOMPARE(cells.size(), columns.size());
        QCOMPARE(cells.at(columns.indexOf("bytes_hex")), entry["bytes_hex"].toString().toLatin1());
        QCOMPARE(cells.at(columns.indexOf("device_address")), at.toLatin1());
    } else
        QVERIFY2(run.out.contains("from 10.77.0.1 (ws1)"), run.out.constData());
}

void tst_Cli::dryRunSendsNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("scrambled");
    QTest::addColumn<QByteArray>("sentOnly"); // what the summary says went out
    QTest::newRow("set-time") << QStringList { "set-time", "100", "--dry-run" } << QByteArray()
                              << QByteArray("(dry run: no command sent; sent only the scan's "
                                            "probes)");
    QTest::newRow("set-address") << QStringList { "set-address", "100", "10.77.1.30", "--dry-run" }
                                 << SettingsForm::settingsCommand("10.77.1.30").toHex(' ')
                                 << QByteArray("sent only the scan's probes and, to ask whether "
                                               "another host holds 10.77.1.30, a datagram to "
                                               "its UDP port 9 and the kernel's ARP requests)");
}

void tst_Cli::dryRunSendsNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, scrambled);
    QFETCH(QByteArray, sentOnly);
    const QString logPath = scratch.filePath("commands.jsonl");
    const CliRun run = runCli(arguments + QStringList { "--log", logPath });
    QVERIFY2(run.exitCode == 0, run.text().constData());
    const QList<QByteArray> lines = run.out.split('\n');
    QVERIFY2(lines.size() == 4 && lines.at(0).endsWith(sentOnly)
                 && lines.at(1).startsWith("plain:     73 74"),
             run.out.constData());
    if (!scrambled.isEmpty())
        QCOMPARE(lines.at(2), "scrambled: " + scrambled);
    QVERIFY(simulator->sync(workstation1, QHostAddress("10.77.1.1"), 7800));
    QVERIFY(simulator->events("command").isEmpty());
    QVERIFY(!QFile::exists(logPath) || QFileInfo(logPath).size() == 0);
}

void tst_Cli::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    const auto address = [](const QString &text) {
        return QStringList { "set-address", "100", text };
    };
    QTest::newRow("no command") << QStringList {} << 2 << "no command";
    QTest::newRow("unknown command") << QStringList { "frobnicate" } << 2 << "unknown command";
    QTest::newRow("unknown option") << QStringList { "scan", "--bogus" } << 2 << "'bogus'";
    QTest::newRow("bad format") << QStringList { "scan", "--format", "xml" } << 2 << "table, json";
    QTest::newRow("no probes") << QStringList { "scan", "--probes", "0" } << 2 << "--probes";
    QTest::newRow("foreign --from")
        << QStringList { "scan", "--from", "10.99.0.1" } << 2 << "10.77.0.1 (ws1)";
    QTest::newRow("missing address") << QStringList { "set-address", "100" } << 2 << "ADDRESS";
    QTest::newRow("dry run and verify")
        << QStringList { "set-time", "100", "--dry-run", "--verify" } << 2 << "--verify";
    QTest::newRow("bad tolerance")
        << QStringList { "set-time", "100", "--tolerance", "x" } << 2 << "--tolerance";
    // Every offset compares false with NaN: such a tolerance would fail every clock.
    QTest::newRow("tolerance not a number")
        << QStringList { "set-time", "100", "--tolerance", "nan" } << 2 << "--tolerance";
    for (const char *text : { "10.77.1", "10.77.1.256", "10.077.1.2", "0x0a.77.1.2", " 10.77.1.2",
                              "10.77.1.2/16", "" })
        QTest::addRow("address \"%s\"", text) << address(text) << 2 << "not an IPv4 address";
    for (const char *text : { "0.0.0.0", "255.255.255.255", "224.0.0.5", "127.0.0.1", "10.77.0.0",
                              "10.77.255.255", "10.78.1.1" })
        QTest::addRow("refused %s", text) << address(text) << 2 << "refused";
    // The segment's addresses past the fleet's belong to a host that answers ARP and nothing else.
    QTest::newRow("held by a silent host")
        << address("10.77.1.16") << 2 << "10.77.1.16 is in use: a host at ";
    QTest::newRow("held by this workstation") << address("10.77.0.1") << 2 << "this workstation";
    // Two devices would share it once both restart.
    QTest::newRow("another device's pending address")
        << address("10.77.1.50") << 2
        << "refused: 10.77.1.50 is in use by MOVED, serial 9, 10.77.1.5, as its stored address, "
           "which it takes at its next restart (--force sends it all the same)";
    QTest::newRow("another device's address")
        << address("10.77.1.9") << 2 << "10.77.1.9 is in use by QUIET, serial 13, 10.77.1.9";
    QTest::newRow("unknown device")
        << QStringList { "set-time", "4242" } << 3 << "CLOCK-A, serial 100, 10.77.1.1";
    QTest::newRow("name in the wrong case")
        << QStringList { "set-time", "clock-a" } << 3 << "did you mean CLOCK-A?";
    QTest::newRow("ambiguous name")
        << QStringList { "set-time", "TWIN" } << 3 << "TWIN, serial 5, 10.77.1.3";
    QTest::newRow("ambiguous address")
        << QStringList { "set-time", "10.77.1.4" } << 3 << "CONFLICT, serial 8, 10.77.1.4";
}

void tst_Cli::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    const CliRun run = runCli(arguments);
    QVERIFY2(run.exitCode == exitCode, run.text().constData());
    QVERIFY2(run.err.contains(says.toUtf8()), run.text().constData());
    QVERIFY(run.out.isEmpty());
    QVERIFY(simulator->sync(workstation1, QHostAddress("10.77.1.1"), 7800));
    QVERIFY(simulator->events("command").isEmpty());
}

void tst_Cli::storedAddressAgain_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("sent") << QStringList {};
    QTest::newRow("dry run") << QStringList { "--dry-run" };
    QTest::newRow("verified") << QStringList { "--verify" };
}

// MOVED stores 10.77.1.50 for its restart: asked to store it again, nothing changes, nothing is
// sent, and that is no error.
void tst_Cli::storedAddressAgain()
{
    QFETCH(QStringList, options);
    const CliRun run = runCli(QStringList { "set-address", "MOVED", "10.77.1.50" } + options);
    QVERIFY2(run.exitCode == 0, run.text().constData());
    QCOMPARE(run.out,
             "MOVED, serial 9, 10.77.1.5 stores 10.77.1.50 already: nothing changes, no command "
             "sent (--force sends it all the same)\n");
    QVERIFY(simulator->sync(workstation1, QHostAddress("10.77.1.1"), 7800));
    QVERIFY(simulator->events("command").isEmpty());
}

// A host that answers ARP 400 ms late still holds its address, and the probe needs no
// privilege to see it: run as nobody, from a copy nobody may execute (the checkout may lie in a
// private folder).
void tst_Cli::lateHostSeenWithoutRoot()
{
    QProcess host;
    host.start("ip",
               { "netns", "exec", Segment::deviceNamespaces().first(), "python3",
                 QString::fromLocal8Bit(qgetenv("LATE_RESPONDER")), "10.77.1.200", "400", "dev1" });
    QVERIFY(host.waitForReadyRead(10000));
    QTemporaryDir folder;
    QVERIFY(QFile::setPermissions(folder.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                      | QFile::ReadOther | QFile::ExeOther));
    const QString cli = folder.filePath("setuptool-cli");
    QVERIFY(QFile::copy(QString::fromLocal8Bit(qgetenv("SETUPTOOL_CLI")), cli));
    QProcess process;
    process.start("setpriv",
                  { "--reuid=65534", "--regid=65534", "--clear-groups", "--", cli, "set-address",
                    "100", "10.77.1.200", "--wait", "500" });
    QVERIFY(process.waitForFinished(30000));
    const QByteArray err = process.readAllStandardError();
    QVERIFY2(process.exitCode() == 2, err.constData());
    QVERIFY2(err.contains("10.77.1.200 is in use: a host at "), err.constData());
    host.kill();
    host.waitForFinished();
}

void tst_Cli::lostResults_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("stdoutTo");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says"); // stderr's last error line; empty: no error line at all
    QTest::addColumn<int>("commands"); // sent to the devices

    const QString full = "cannot write the results to stdout: No space left on device";
    QTest::newRow("scan as JSON, disk full")
        << QStringList { "scan", "--format", "json" } << "full" << 8 << full << 0;
    QTest::newRow("plan, disk full")
        << QStringList { "plan", "--range", "10.77.2.1-10.77.2.50" } << "full" << 8 << full << 0;
    QTest::newRow("help, disk full") << QStringList { "--help" } << "full" << 8 << full << 0;
    QTest::newRow("set-time, disk full")
        << QStringList { "set-time", "100" } << "full" << 8 << full << 1;
    QTest::newRow("scan, reader gone") << QStringList { "scan" } << "gone" << 8 << "" << 0;
    QTest::newRow("check as a plugin, disk full")
        << QStringList { "check", "--warn", "1", "--crit", "2" } << "full" << 3 << full << 0;
    const QString unlogged = "sent, not logged: %1 to CLOCK-A, serial 100, 10.77.1.1: cannot "
                             "write the log /dev/full: No space left on device";
    QTest::newRow("set-time, log on a full disk")
        << QStringList { "set-time", "100", "--log", "/dev/full" } << "full" << 7
        << unlogged.arg("set-time") << 1;
    // The run goes on without its reader, verifies, and says what the log lacks.
    QTest::newRow("set-address verified, reader gone, log on a full disk")
        << QStringList { "set-address", "100", "10.77.1.40", "--verify", "--log", "/dev/full" }
        << "gone" << 7 << unlogged.arg("set-address") << 1;
}

// Results that cannot be written are no success: the run says so and fails, but goes on to
// log what it sends; a reader that has gone needs no message.
void tst_Cli::lostResults()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, stdoutTo);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(int, commands);
    const CliRun run = runWithStdout(arguments, stdoutTo);
    QVERIFY2(run.exitCode == exitCode, run.text().constData());
    QStringList errors;
    for (const QString &line : QString::fromUtf8(run.err).split('\n', Qt::SkipEmptyParts)) {
        // Only the program's own sentences, never a warning of Qt's.
        QVERIFY2(line.startsWith("setuptool-cli"), qPrintable(line));
        if (!line.startsWith("setuptool-cli: warning:"))
            errors.append(line);
    }
    if (says.isEmpty())
        QCOMPARE(errors, QStringList());
    else
        QCOMPARE(errors.value(errors.size() - 1), "setuptool-cli: " + says);
    QVERIFY(simulator->sync(workstation1, QHostAddress("10.77.1.1"), 7800));
    QCOMPARE(simulator->events("command").size(), commands);
}

void tst_Cli::portsTaken_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("shared");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::newRow("device port held alone") << 7800 << false << 5 << "port 7800";
    // As the window holds it: both programs hear every reply.
    QTest::newRow("device port shared") << 7800 << true << 0 << "";
    QTest::newRow("probe port held alone") << 4800 << false << 0 << "probing from another port";
}

void tst_Cli::portsTaken()
{
    QFETCH(int, port);
    QFETCH(bool, shared);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    // Another program's socket on the wildcard address, with or without SO_REUSEADDR.
    const int descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int reuse = shared ? 1 : 0;
    QCOMPARE(::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse), 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    QCOMPARE(::bind(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    const CliRun run = runCli({ "scan", "--format", "csv" });
    char buffer[128];
    const bool otherHeard = ::recv(descriptor, buffer, sizeof buffer, MSG_DONTWAIT) > 0;
    ::close(descriptor);
    QVERIFY2(run.exitCode == exitCode, run.text().constData());
    QVERIFY2(run.err.contains(says.toUtf8()), run.text().constData());
    if (exitCode == 0)
        QCOMPARE(run.out.count("\r\n"), 1 + int(fleetNotes.size()));
    if (shared)
        QVERIFY(otherHeard);
}

// The reply buffer is worth a warning only when replies were lost or it cannot hold a reply from
// every device heard. Linux grants twice the request up to net.core.rmem_max, which a namespace
// cannot lower, so the request moves around the cap instead; a loss is made real by stopping
// the program while a flood fills its buffer, as a busy workstation would hold it up.
void tst_Cli::replyBufferWarnings_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("held"); // stopped while the flood comes in
    QTest::addColumn<QStringList>("codes");
    QFile setting(QStringLiteral("/proc/sys/net/core/rmem_max"));
    QVERIFY(setting.open(QIODevice::ReadOnly));
    const qint64 cap = setting.readAll().trimmed().toLongLong();
    QVERIFY(cap > 4096 && cap < (1 << 30));
    const auto asking = [](qint64 bytes) {
        return QStringList { "--reply-buffer", QString::number(bytes) };
    };
    QTest::newRow("default request") << QStringList {} << false << QStringList {};
    QTest::newRow("capped, room for every reply") << asking(cap + 1) << false << QStringList {};
    QTest::newRow("capped far below the request") << asking(1 << 30) << false << QStringList {};
    QTest::newRow("too small for the devices heard")
        << asking(1024) << false << QStringList { "reply-buffer-small" };
    QTest::newRow("replies lost") << asking(64 * 1024) << true << QStringList { "replies-dropped" };
}

void tst_Cli::replyBufferWarnings()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, held);
    QFETCH(QStringList, codes);
    QProcess cli;
    cli.start(qEnvironmentVariable("SETUPTOOL_CLI"),
              QStringList { "scan", "--format", "json", "--wait", "1000" } + arguments);
    if (held) {
        // The probe goes out once the reply port is open.
        QVERIFY(simulator->waitForCount("probe", 1));
        QCOMPARE(::kill(pid_t(cli.processId()), SIGSTOP), 0);
        QUdpSocket flood;
        for (int i = 0; i < 1000; ++i)
            flood.writeDatagram(QByteArray(64, 'x'), QHostAddress::LocalHost, 7800);
        QCOMPARE(::kill(pid_t(cli.processId()), SIGCONT), 0);
    }
    QVERIFY(cli.waitForFinished(30000));
    const QByteArray out = cli.readAllStandardOutput();
    const QByteArray err = cli.readAllStandardError();
    QVERIFY2(cli.exitCode() == 0, err.constData());
    const QJsonDocument document = QJsonDocument::fromJson(out);
    QStringList found;
    for (const QJsonValue note : document["notes"].toArray())
        found.append(note["code"].toString());
    // The devices answer in a burst, which a buffer too small for them may lose part of too.
    if (codes == QStringList { "reply-buffer-small" })
        found.removeAll("replies-dropped");
    QCOMPARE(found, codes);
    QCOMPARE(err.isEmpty(), codes.isEmpty());
    const QJsonObject statistics = document["statistics"].toObject();
    QCOMPARE(statistics["reply_buffer_asked_bytes"].toInteger(),
             arguments.isEmpty() ? 4 * 1024 * 1024 : arguments.last().toLongLong());
    QVERIFY(statistics["reply_buffer_bytes"].toInteger() > 0);
    if (held)
        QVERIFY(statistics["dropped"].toInteger() > 0);
    else if (codes.isEmpty())
        QCOMPARE(statistics["dropped"].toInteger(), 0);
}

// Every document each command prints, and the command log's lines, against the schema kept
// with the docs: the devices of the fleet give each document its odd values (a hostile name,
// silence, NTP off, no device at all for a plan line), and each command is run the ways that
// change its document (a dry run, an address stored already, verified or not, refused).
void tst_Cli::documentsMatchSchema()
{
    const QString plan = scratch.filePath("plan.csv");
    const QString refused = scratch.filePath("refused.csv");
    const QString log = scratch.filePath("commands.jsonl");
    QFile file(plan);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("serial,new_address,set_time\n100,10.77.2.1,yes\n15,,yes\n13,10.77.2.3,no\n");
    file.close();
    file.setFileName(refused);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("serial,new_address\n100,10.77.2.9\n99,10.77.2.10\n");
    file.close();
    const QList<QStringList> runs {
        { "scan" },
        { "check" },
        { "set-time", "100", "--verify", "--log", log },
        { "set-time", "MUTE", "--verify" },
        { "set-time", "QUIET" },
        { "set-address", "CLOCK-A", "10.77.1.20", "--dry-run" },
        { "set-address", "MOVED", "10.77.1.50" },
        { "set-address", "10.77.1.3", "10.77.1.21", "--verify", "--log", log },
        { "plan", "--range", "10.77.3.1-10.77.3.40", "--set-time" },
        { "plan", "--range", "10.77.3.1-10.77.3.2" },
        { "apply", refused },
        { "apply", plan, "--dry-run" },
        { "apply", plan, "--log", log },
    };
    QStringList documents;
    for (const QStringList &arguments : runs) {
        const CliRun run = runCli(arguments + QStringList { "--format", "json" });
        QVERIFY2(run.exitCode != 2 && run.exitCode != 5 && !run.out.isEmpty(),
                 run.text().constData());
        documents.append(scratch.filePath(QStringLiteral("document%1.json").arg(documents.size())));
        QFile out(documents.last());
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(run.out);
    }
    const QString schema = qEnvironmentVariable("JSON_SCHEMA");
    for (const QStringList &files : { documents, QStringList { "--log", log } }) {
        QProcess validator;
        validator.setProcessChannelMode(QProcess::MergedChannels);
        validator.start(qEnvironmentVariable("JSON_VALIDATOR"), QStringList { schema } + files);
        QVERIFY(validator.waitForFinished(60000));
        QVERIFY2(validator.exitStatus() == QProcess::NormalExit && validator.exitCode() == 0,
                 validator.readAll().constData());
    }
}

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
