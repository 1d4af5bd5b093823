#include "settingsform.h"

#include "devicereply.h"
#include "flooderprocess.h"
#include "scanwindow.h"
#include "segment.h"
#include "simulatorprocess.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <functional>
#include <limits>
#include <optional>

#include <unistd.h>

namespace {

constexpr quint16 ProbePort = 4800;
constexpr quint16 DevicePort = 7800;

// ---- capturing ------------------------------------------------------------------------------

// tcpdump on the workstation's side of segment 1 (ws1), in the namespace the test runs in,
// writing every IPv4 frame to a capture file. It also prints each packet as it writes it, so
// the test can wait until what it sent is in the file.
class Capture
{
public:
    ~Capture() { stop(); }

    // Starts tcpdump and waits until it is really capturing. `snaplen` 0 keeps whole frames.
    bool start(const QString &file, int snaplen = 0)
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] {
            while (process.canReadLine())
                lines.append(QString::fromLatin1(process.readLine()));
        });
        QObject::connect(&process, &QProcess::readyReadStandardError, [this] {
            errors.append(QString::fromLocal8Bit(process.readAllStandardError()));
        });
        // -Z root: write the file as root (tcpdump would otherwise switch to its own user);
        // -U -l: write and print each packet at once; -B: 32 MiB of kernel buffer, for floods.
        QStringList arguments { "-i",    "ws1", "-n",   "-l",      "-U", "-B",
                                "32768", "-Z",  "root", "--print", "-w", file };
        if (snaplen > 0)
            arguments << "-s" << QString::number(snaplen);
        arguments << "ip";
        process.start(QStringLiteral("tcpdump"), arguments);
        if (!process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor(
                   [this] {
                       return errors.contains(QLatin1String("listening on"))
                           || process.state() == QProcess::NotRunning;
                   },
                   10000)
            && process.state() == QProcess::Running;
    }

    // UDP datagrams to one of `ports` written so far. A fragmented datagram counts once: only
    // its first fragment names the port.
    int datagramsTo(const QList<quint16> &ports) const
    {
        QStringList numbers;
        for (quint16 port : ports)
            numbers.append(QString::number(port));
        const QRegularExpression toPort(QStringLiteral("\\.(%1): UDP").arg(numbers.join('|')));
        return int(std::count_if(lines.cbegin(), lines.cend(), [&](const QString &line) {
            return toPort.match(line).hasMatch();
        }));
    }

    bool waitForDatagrams(int count, const QList<quint16> &ports = { ProbePort, DevicePort })
    {
        return QTest::qWaitFor([&] { return datagramsTo(ports) >= count; }, 15000);
    }

    // Ends the capture; false if tcpdump failed or the kernel dropped packets it should have
    // captured.
    bool stop()
    {
        if (process.state() == QProcess::NotRunning)
            return false;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(3000);
            return false;
        }
        errors.append(QString::fromLocal8Bit(process.readAllStandardError()));
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0
            && errors.contains(
                QRegularExpression(QStringLiteral("(^|\n)0 packets dropped by kernel")));
    }

    QString errors;

private:
    QProcess process;
    QStringList lines;
};

// ---- decoding -------------------------------------------------------------------------------

// One decoded frame: field name -> its values, in tree order.
using Frame = QHash<QString, QStringList>;

// The first value of `field` in `frame`; a null string when the frame has no such field.
QString value(const Frame &frame, const QString &field)
{
    return frame.value(field).value(0);
}

bool has(const Frame &frame, const QString &field)
{
    return frame.contains(field);
}

const QStringList dissectorFields {
    "setuptool.type",       "setuptool.length",
    "setuptool.probe.text", "setuptool.probe.number",
    "setuptool.name",       "setuptool.unread.after_name",
    "setuptool.ip_stored",  "setuptool.unread.after_stored",
    "setuptool.ip_current", "setuptool.uptime",
    "setuptool.ntp",        "setuptool.modbus_tcp",
    "setuptool.melsec",     "setuptool.gps",
    "setuptool.serial",     "setuptool.unread.tail",
    "setuptool.command",    "setuptool.time",
    "setuptool.time_utc",   "setuptool.option1",
    "setuptool.option2",    "setuptool.option3",
    "setuptool.option4",    "setuptool.ip_new",
    "setuptool.data",       "setuptool.malformed",
    "setuptool.truncated",  "setuptool.stored_differs",
};

const QStringList frameFields { "frame.number",  "frame.cap_len",      "_ws.col.Info", "ip.src",
                                "ip.dst",        "udp.srcport",        "udp.dstport",  "udp.length",
                                "_ws.malformed", "_ws.expert.message", "_ws.lua.error" };

// How tshark is run: directly, or, where it refuses Lua scripts given on its command line to
// root, as the unprivileged user nobody (initTestCase finds out).
QStringList tsharkCommand { QStringLiteral("tshark") };
QProcessEnvironment tsharkEnvironment = QProcessEnvironment::systemEnvironment();

struct TsharkRun
{
    bool finished = false;
    int exitCode = -1;
    QByteArray output;
    QString errors;
};

TsharkRun runTshark(const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(tsharkEnvironment);
    process.start(tsharkCommand.first(), tsharkCommand.mid(1) + arguments);
    TsharkRun run;
    run.finished = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.output = process.readAllStandardOutput();
    // Every tshark started as root says so; nothing else may appear.
    run.errors
        = QString::fromLocal8Bit(process.readAllStandardError())
              .remove(QRegularExpression(QStringLiteral("Running as user \"root\"[^\n]*\n?")))
              .trimmed();
    return run;
}

QString dissectorPath()
{
    return qEnvironmentVariable("DISSECTOR");
}

// The protocols tshark registers with the dissector loaded, and what it said on stderr.
TsharkRun protocolList()
{
    return runTshark({ "-G", "protocols", "-X", "lua_script:" + dissectorPath() });
}

bool registersProtocol(const TsharkRun &run)
{
    const QList<QByteArray> lines = run.output.split('\n');
    return run.finished && run.exitCode == 0 && run.errors.isEmpty()
        && std::count_if(
               lines.cbegin(), lines.cend(),
               [](const QByteArray &line) { return line.split('\t').value(2) == "setuptool"; })
        == 1;
}

// Decodes `file` with the dissector, every frame with the fields above; `extra` are further
// tshark options (preferences). Nothing, with a warning, when tshark fails, says anything on
// stderr or shows any trace of a Lua error.
std::optional<QList<Frame>> decode(const QString &file, const QStringList &extra = {})
{
    QStringList arguments { "-r", file, "-n", "-X", "lua_script:" + dissectorPath(), "-T", "json" };
    for (const QString &field : frameFields + dissectorFields)
        arguments << "-e" << field;
    const TsharkRun run = runTshark(arguments + extra);
    const auto fail = [&](const char *what) {
        qWarning("tshark %s (exit code %d): %s", what, run.exitCode, qPrintable(run.errors));
        return std::nullopt;
    };
    if (!run.finished || run.exitCode != 0)
        return fail("failed");
    if (!run.errors.isEmpty())
        return fail("complained");
    if (run.output.contains("Lua Error") || run.output.contains("_ws.lua.error"))
        return fail("reports a Lua error");
    const QJsonDocument document = QJsonDocument::fromJson(run.output);
    if (!document.isArray())
        return fail("printed no JSON array");

    QList<Frame> frames;
    for (const QJsonValue packet : document.array()) {
        const QJsonObject layers
            = packet.toObject().value("_source").toObject().value("layers").toObject();
        Frame frame;
        for (auto it = layers.begin(); it != layers.end(); ++it) {
            QStringList values;
            for (const QJsonValue item : it.value().toArray())
                values.append(item.toString());
            frame.insert(it.key(), values);
        }
        frames.append(frame);
    }
    return frames;
}

// The frames of UDP datagrams to or from one of `ports`, whole or reassembled.
QList<Frame> framesOn(const QList<Frame> &frames,
                      const QList<quint16> &ports = { ProbePort, DevicePort })
{
    QList<Frame> matching;
    for (const Frame &frame : frames) {
        if (ports.contains(value(frame, "udp.dstport").toUShort())
            || ports.contains(value(frame, "udp.srcport").toUShort()))
            matching.append(frame);
    }
    return matching;
}

QList<Frame> framesOfType(const QList<Frame> &frames, const QString &type)
{
    QList<Frame> matching;
    for (const Frame &frame : frames) {
        if (value(frame, "setuptool.type") == type)
            matching.append(frame);
    }
    return matching;
}

QString describe(const Frame &frame)
{
    QStringList parts;
    for (const QString &field : frameFields + dissectorFields) {
        if (has(frame, field))
            parts.append(field + "=" + frame.value(field).join(QLatin1Char('|')));
    }
    return parts.join(QLatin1String(", "));
}

// Wireshark's text for a UTC time of whole seconds: "Dec  7, 2023 00:00:00.000000000 UTC".
QString wiresharkUtc(qint64 seconds)
{
    const QDateTime time = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    return QStringLiteral("%1 %2, %3 %4.000000000 UTC")
        .arg(QLocale::c().toString(time, QStringLiteral("MMM")))
        .arg(time.date().day(), 2)
        .arg(time.date().year())
        .arg(time.toString(QStringLiteral("HH:mm:ss")));
}

QString flag(int byte)
{
    return byte != 0 ? QStringLiteral("1") : QStringLiteral("0");
}

// ---- what goes on the wire ------------------------------------------------------------------

// A device of the simulated fleet, as the simulator is told it.
struct Device
{
    QString name;
    int index; // its address: Segment::deviceAddress(1, index)
    QString eeprom; // stored address; empty: the same as the current one
    qint32 serial;
    qint32 uptime;
    int ntp, mbtcp, melsec, gps;

    QString address() const { return Segment::deviceAddress(1, index); }
    QString stored() const { return eeprom.isEmpty() ? address() : eeprom; }

    QStringList arguments() const
    {
        QString fields
            = QStringLiteral("name=%1,ip=%2,serial=%3,uptime=%4,ntp=%5,mbtcp=%6,melsec=%7,gps=%8")
                  .arg(name, address())
                  .arg(serial)
                  .arg(uptime)
                  .arg(ntp)
                  .arg(mbtcp)
                  .arg(melsec)
                  .arg(gps);
        if (!eeprom.isEmpty())
            fields += ",eeprom=" + eeprom;
        return { QStringLiteral("--device"), fields };
    }
};

constexpr qint32 Largest = std::numeric_limits<qint32>::max();
constexpr qint32 Smallest = std::numeric_limits<qint32>::min();

const QList<Device> fleet {
    { "DEV-0001", 0, {}, 1234, 87600, 1, 0, 0, 1 },
    // Told to move: its stored address is not the one it answers on.
    { "MOVED", 1, "10.77.9.9", -42, 0, 0, 1, 200, 0 },
    { "ABCDEFGHIJKLM", 2, {}, Largest, -1, 1, 1, 1, 1 }, // a name of all 13 bytes
    { QStringLiteral("Zeitgeber-S\u00fcd"), 3, {}, Smallest, 3, 0, 0, 0, 0 }, // Latin-1
};

const Device *deviceNamed(const QString &name)
{
    for (const Device &device : fleet) {
        if (device.name == name)
            return &device;
    }
    return nullptr;
}

QByteArray scrambled(const QByteArray &plain)
{
    return DeviceReply::scramble(plain);
}

QByteArray littleEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<quint32>(value, bytes.data());
    return bytes;
}

// The fake devices the flooder replays replies of; 10.77.200.x is no device address.
const QStringList fakeDevices {
    "name=FAKE-1,ip=10.77.200.1,serial=900001,uptime=3,ntp=1",
    "name=FAKE-2,ip=10.77.200.2,eeprom=10.77.200.9,serial=-900002,uptime=5,gps=7"
};

// A datagram the test sends itself, and what the capture must show of it.
struct Datagram
{
    quint16 port; // destination: the probe or the device port
    QByteArray payload;
    QString type; // setuptool.type
    QList<QPair<QString, QString>> fields = {}; // a null value: the field must be absent
};

} // namespace

Q_DECLARE_METATYPE(Datagram)

// The Wireshark dissector (wireshark/setuptool.lua) run by the real tshark over captures taken
// on the workstation's side of a virtual segment: what the programs we ship send must decode to
// exactly what was sent, and nothing else on the ports may make the dissector fail.
class tst_Dissector : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void scanAndCommandsDecode();
    void oddDatagramsAreMalformed_data();
    void oddDatagramsAreMalformed();
    void portsFollowPreferences();

private:
    QString captureFile(const QString &name) const { return directory->filePath(name + ".pcap"); }

    std::unique_ptr<QTemporaryDir> directory;
};

void tst_Dissector::initTestCase()
{
    REQUIRE_SEGMENT();
    QVERIFY2(QFile::exists(dissectorPath()), "DISSECTOR must name wireshark/setuptool.lua");
    QVERIFY2(!qEnvironmentVariableIsEmpty("FLOODER"), "FLOODER must name the flooder program");
    QVERIFY2(!QStandardPaths::findExecutable("tshark").isEmpty(),
             "tshark is missing: scripts/setup-deps installs it");
    QVERIFY2(!QStandardPaths::findExecutable("tcpdump").isEmpty(),
             "tcpdump is missing: scripts/setup-deps installs it");

    // Debian's tshark runs Lua scripts named on its command line also for root (its init.lua
    // sets run_user_scripts_when_superuser). Where that is switched off, or where an installed
    // copy of the dissector clashes with the one under test, tshark runs as nobody instead: it
    // then ignores root's configuration and takes its plugin folder from WIRESHARK_PLUGIN_DIR,
    // here an empty one.
    TsharkRun run = protocolList();
    if (!registersProtocol(run) && geteuid() == 0) {
        qInfo("tshark as root does not load %s cleanly (%s); running it as nobody",
              qPrintable(dissectorPath()), qPrintable(run.errors));
        static QTemporaryDir home;
        QVERIFY(home.isValid());
        QFile::setPermissions(home.path(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                  | QFileDevice::WriteOther | QFileDevice::ExeOther);
        QVERIFY(QDir(home.path()).mkpath("plugins"));
        tsharkCommand = QStringList { "setpriv", "--reuid=nobody", "--regid=nogroup",
                                      "--clear-groups", "tshark" };
        tsharkEnvironment.insert("HOME", home.path());
        tsharkEnvironment.insert("WIRESHARK_PLUGIN_DIR", home.filePath("plugins"));
        run = protocolList();
    }
    QVERIFY2(registersProtocol(run),
             qPrintable("tshark does not load the dissector: " + run.errors));
}

void tst_Dissector::init()
{
    // Readable by all, in case tshark runs as nobody.
    directory = std::make_unique<QTemporaryDir>();
    QVERIFY(directory->isValid());
    QVERIFY(QFile::setPermissions(directory->path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                      | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                      | QFileDevice::ExeOther));
}

// A scan of the simulated fleet by the real main window, then Set Time and Send from a settings
// window: every decoded field against what the simulator logged and what was sent.
void tst_Dissector::scanAndCommandsDecode()
{
    Capture capture;
    QVERIFY2(capture.start(captureFile("scan")), qPrintable(capture.errors));

    SimulatorProcess simulator;
    QStringList arguments;
    for (const Device &device : fleet)
        arguments += device.arguments();
    QVERIFY2(simulator.start(arguments), simulator.errors().constData());

    ScanWindow ui;
    QVERIFY(ui.complete());
    ui.clickScan();
    QVERIFY(ui.waitUntilIdle());
    QCOMPARE(ui.list->count(), fleet.size());
    const int probes = int(simulator.events("probe").size());
    QCOMPARE(probes, 5);
    QVERIFY(simulator.waitForCount("reply", probes * int(fleet.size())));

    // Set Time, then Send with an edited address, from the first device's window.
    const Device &target = fleet.first();
    const int row = int(ui.rows().indexOf(deviceTitle(target.name, target.address())));
    QVERIFY(row >= 0);
    SettingsForm *window = ui.openRow(row);
    QVERIFY(window);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    QTest::mouseClick(window->findChild<QPushButton *>("setTimePushButton"), Qt::LeftButton);
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    QVERIFY(simulator.waitForCount("command", 1));
    const QString newAddress = QStringLiteral("10.77.3.3");
    auto *field = window->findChild<QLineEdit *>("ipAddressLineEdit");
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, newAddress);
    QTest::mouseClick(window->findChild<QPushButton *>("sendPushButton"), Qt::LeftButton);
    QVERIFY(simulator.waitForCount("command", 2));
    window->close();

    const QList<QJsonObject> probeEvents = simulator.events("probe");
    const QList<QJsonObject> replyEvents = simulator.events("reply");
    const QList<QJsonObject> commandEvents = simulator.events("command");
    QCOMPARE(commandEvents.size(), 2);
    const int datagrams = int(probeEvents.size() + replyEvents.size() + commandEvents.size());
    QVERIFY(capture.waitForDatagrams(datagrams));
    QVERIFY2(capture.stop(), qPrintable(capture.errors));

    const std::optional<QList<Frame>> decoded = decode(captureFile("scan"));
    QVERIFY(decoded);
    const QList<Frame> frames = framesOn(*decoded);
    QCOMPARE(frames.size(), datagrams);
    for (const Frame &frame : frames) {
        QVERIFY2(!has(frame, "_ws.malformed") && !has(frame, "setuptool.truncated"),
                 qPrintable(describe(frame)));
        QCOMPARE(value(frame, "setuptool.length").toInt(), value(frame, "udp.length").toInt() - 8);
    }

    // Probes, in the order the devices got them.
    const QList<Frame> probeFrames = framesOfType(frames, "probe");
    QCOMPARE(probeFrames.size(), probes);
    for (int i = 0; i < probes; ++i) {
        const Frame &frame = probeFrames.at(i);
        const QJsonObject &event = probeEvents.at(i);
        QCOMPARE(value(frame, "setuptool.probe.text"), event.value("text").toString());
        QCOMPARE(value(frame, "setuptool.probe.number"), QString::number(i));
        QCOMPARE(value(frame, "ip.src"), event.value("from").toString());
        QCOMPARE(value(frame, "udp.srcport"), QString::number(event.value("from_port").toInt()));
        QCOMPARE(value(frame, "ip.dst"), QStringLiteral("255.255.255.255"));
        QCOMPARE(value(frame, "udp.dstport"), QString::number(ProbePort));
        QCOMPARE(value(frame, "_ws.col.Info"), QStringLiteral("Probe %1").arg(i));
    }

    // Replies: the same devices and addresses as the simulator logged, each field as it was
    // told the device.
    const QList<Frame> replyFrames = framesOfType(frames, "reply");
    QStringList decodedReplies, loggedReplies;
    for (const Frame &frame : replyFrames)
        decodedReplies.append(value(frame, "setuptool.name") + " @ " + value(frame, "ip.src")
                              + " -> " + value(frame, "ip.dst") + ":"
                              + value(frame, "udp.dstport"));
    for (const QJsonObject &event : replyEvents)
        loggedReplies.append(event.value("device").toString() + " @ " + event.value("ip").toString()
                             + " -> " + event.value("to").toString() + ":"
                             + QString::number(event.value("port").toInt()));
    decodedReplies.sort();
    loggedReplies.sort();
    QCOMPARE(decodedReplies, loggedReplies);
    const QString zeroTail = QByteArray(29, '\0').toHex();
    for (const Frame &frame : replyFrames) {
        const Device *device = deviceNamed(value(frame, "setuptool.name"));
        QVERIFY2(device, qPrintable(describe(frame)));
        QCOMPARE(value(frame, "setuptool.length"), QStringLiteral("64"));
        QCOMPARE(value(frame, "setuptool.ip_current"), device->address());
        QCOMPARE(value(frame, "setuptool.ip_stored"), device->stored());
        QCOMPARE(value(frame, "setuptool.uptime"), QString::number(device->uptime));
        QCOMPARE(value(frame, "setuptool.serial"), QString::number(device->serial));
        QCOMPARE(value(frame, "setuptool.ntp"), flag(device->ntp));
        QCOMPARE(value(frame, "setuptool.modbus_tcp"), flag(device->mbtcp));
        QCOMPARE(value(frame, "setuptool.melsec"), flag(device->melsec));
        QCOMPARE(value(frame, "setuptool.gps"), flag(device->gps));
        QCOMPARE(value(frame, "setuptool.unread.after_name"), QStringLiteral("00"));
        QCOMPARE(value(frame, "setuptool.unread.after_stored"), QStringLiteral("00"));
        QCOMPARE(value(frame, "setuptool.unread.tail"), zeroTail);
        QCOMPARE(value(frame, "udp.srcport"), QString::number(DevicePort));
        QCOMPARE(has(frame, "setuptool.stored_differs"), !device->eeprom.isEmpty());
        const QString stored
            = device->eeprom.isEmpty() ? QString() : " (stored " + device->eeprom + ")";
        QCOMPARE(value(frame, "_ws.col.Info"),
                 QStringLiteral("Reply %1 @ %2%3, serial %4")
                     .arg(device->name, device->address(), stored)
                     .arg(device->serial));
    }

    // The two commands, to the device's current address from the workstation's reply socket.
    const QList<Frame> setTimeFrames = framesOfType(frames, "set-time");
    const QList<Frame> settingsFrames = framesOfType(frames, "settings");
    QCOMPARE(setTimeFrames.size(), 1);
    QCOMPARE(settingsFrames.size(), 1);
    const QJsonObject setTimeEvent = commandEvents.at(0);
    const QJsonObject settingsEvent = commandEvents.at(1);
    QCOMPARE(setTimeEvent.value("kind").toString(), QStringLiteral("set-time"));
    QCOMPARE(settingsEvent.value("kind").toString(), QStringLiteral("settings"));
    for (const auto &[frame, event] : { std::pair { setTimeFrames.first(), setTimeEvent },
                                        std::pair { settingsFrames.first(), settingsEvent } }) {
        QCOMPARE(value(frame, "ip.dst"), event.value("at").toString());
        QCOMPARE(value(frame, "ip.dst"), target.address());
        QCOMPARE(value(frame, "ip.src"), event.value("from").toString());
        QCOMPARE(value(frame, "udp.srcport"), QString::number(event.value("from_port").toInt()));
        QCOMPARE(value(frame, "udp.srcport"), QString::number(DevicePort));
        QCOMPARE(value(frame, "udp.dstport"), QString::number(DevicePort));
    }

    const Frame &setTime = setTimeFrames.first();
    const qint64 seconds = qint64(setTimeEvent.value("seconds").toDouble());
    QVERIFY(seconds >= before && seconds <= after);
    QCOMPARE(value(setTime, "setuptool.length"), QStringLiteral("10"));
    QCOMPARE(value(setTime, "setuptool.command"), QStringLiteral("sttime"));
    QCOMPARE(value(setTime, "setuptool.time"), QString::number(seconds));
    QCOMPARE(value(setTime, "setuptool.time_utc"), wiresharkUtc(seconds));
    QCOMPARE(
        value(setTime, "_ws.col.Info"),
        QStringLiteral("Set time %1 (%2 UTC)")
            .arg(seconds)
            .arg(QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString("yyyy-MM-dd HH:mm:ss")));

    const Frame &settings = settingsFrames.first();
    const QJsonArray options = settingsEvent.value("options").toArray();
    QCOMPARE(options, QJsonArray({ 1, 1, 0, 1 }));
    QCOMPARE(value(settings, "setuptool.length"), QStringLiteral("14"));
    QCOMPARE(value(settings, "setuptool.command"), QStringLiteral("stsets"));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(value(settings, QStringLiteral("setuptool.option%1").arg(i + 1)),
                 QString::number(options.at(i).toInt()));
    QCOMPARE(value(settings, "setuptool.ip_new"), settingsEvent.value("address").toString());
    QCOMPARE(value(settings, "setuptool.ip_new"), newAddress);
    QCOMPARE(value(settings, "_ws.col.Info"),
             "Settings: store " + newAddress + ", options 1 1 0 1");
}

void tst_Dissector::oddDatagramsAreMalformed_data()
{
    QTest::addColumn<QStringList>("flood");
    QTest::addColumn<QList<Datagram>>("datagrams");
    QTest::addColumn<int>("snaplen");

    DeviceReply reply;
    reply.name = "HAND-BUILT";
    reply.current = { 10, 77, 1, 9 };
    reply.eeprom = { 10, 77, 5, 5 };
    reply.serial = 77;
    reply.uptime = 12;
    const QByteArray fullReply = reply.scrambled();
    const QByteArray setTime = scrambled("sttime" + littleEndian32(0xFFFFFFFFu));
    const QByteArray settings
        = scrambled(QByteArray("stsets\x01\x01\x00\x01", 10) + QByteArray("\x0a\x4d\x03\x03", 4));
    const QString malformed = QStringLiteral("malformed");
    const QString none; // a field that must be absent

    QTest::newRow("flooder: junk of every length")
        << QStringList { "--count", "200",   "--duration",
                         "1",       "--mix", "empty=1,short=4,63=1,65=1,max=1,random=2" }
        << QList<Datagram> {} << 0;
    QTest::newRow("flooder: replayed replies among junk")
        << QStringList { "--count",    "200",
                         "--duration", "1",
                         "--mix",      "empty=1,short=2,63=1,65=1,replay=4",
                         "--device",   fakeDevices.at(0),
                         "--device",   fakeDevices.at(1) }
        << QList<Datagram> {} << 0;

    QTest::newRow("short")
            << QStringList {}
            << QList<Datagram> {
                   { DevicePort, {}, malformed, { { "setuptool.length", "0" } } },
                   { DevicePort, "\x01", malformed, { { "setuptool.data", "01" } } },
                   { DevicePort, scrambled("sttim"), malformed },
                   { DevicePort, scrambled("sttime"), malformed, { { "setuptool.command", none } } },
                   { DevicePort, setTime.left(9), malformed, { { "setuptool.time", none } } },
                   { ProbePort, {}, malformed },
                   { ProbePort, "Broadcast", malformed },
                   { ProbePort, "Broadcast message ", malformed },
                   { ProbePort, "Broadcast message x", malformed, { { "setuptool.probe.number", none } } },
               }
            << 0;

    QTest::newRow("long")
            << QStringList {}
            << QList<Datagram> {
                   { DevicePort, setTime + '\0', malformed, { { "setuptool.time", none } } },
                   { DevicePort, settings + '\0', malformed, { { "setuptool.ip_new", none } } },
                   { DevicePort, fullReply.left(63), malformed, { { "setuptool.name", none } } },
                   { DevicePort, fullReply + '\0', malformed, { { "setuptool.name", none } } },
                   { DevicePort, QByteArray(1472, 'x'), malformed, { { "setuptool.length", "1472" } } },
                   { DevicePort, QByteArray(65507, char(0xA7)), malformed, { { "setuptool.length", "65507" } } },
                   { ProbePort, "Broadcast message 99999999999", malformed },
                   { ProbePort, "Broadcast message 1" + QByteArray(65507 - 19, '1'), malformed },
               }
            << 0;

    QTest::newRow("command words")
            << QStringList {}
            << QList<Datagram> {
                   { DevicePort, "sttime" + littleEndian32(1), malformed }, // not scrambled
                   { DevicePort, scrambled("sttime" + QByteArray(8, '\0')), malformed },
                   { DevicePort, scrambled("stsets" + QByteArray(4, '\0')), malformed },
                   { DevicePort, scrambled("setime" + QByteArray(4, '\0')), malformed },
                   { DevicePort, scrambled("STSETS" + QByteArray(8, '\0')), malformed },
                   // What is right next to them decodes.
                   { DevicePort,
                     setTime,
                     "set-time",
                     { { "setuptool.time", "4294967295" }, { "setuptool.time_utc", wiresharkUtc(0xFFFFFFFFLL) } } },
                   { DevicePort, settings, "settings", { { "setuptool.ip_new", "10.77.3.3" }, { "setuptool.option3", "0" } } },
                   { DevicePort, fullReply, "reply", { { "setuptool.name", "HAND-BUILT" }, { "setuptool.serial", "77" } } },
               }
            << 0;

    // Ethernet, IPv4 and UDP headers take 42 bytes of a frame.
    QTest::newRow("cut by the capture after 20 bytes")
            << QStringList {}
            << QList<Datagram> {
                   { DevicePort,
                     fullReply,
                     "reply",
                     { { "setuptool.name", "HAND-BUILT" },
                       { "setuptool.ip_stored", "10.77.5.5" },
                       { "setuptool.ip_current", none },
                       { "setuptool.serial", none },
                       { "setuptool.truncated", "1" },
                       { "_ws.col.Info", "Reply HAND-BUILT [cut short by the capture]" } } },
                   { DevicePort, settings, "settings", { { "setuptool.ip_new", "10.77.3.3" }, { "setuptool.truncated", none } } },
                   { DevicePort, fullReply + '\0', malformed, { { "setuptool.truncated", "1" } } },
                   { DevicePort, QByteArray(1472, 'x'), malformed, { { "setuptool.truncated", "1" } } },
                   { ProbePort, "Broadcast message 3", "probe", { { "setuptool.probe.number", "3" } } },
               }
            << 42 + 20;

    QTest::newRow("cut by the capture after 3 bytes")
            << QStringList {}
            << QList<Datagram> {
                   { DevicePort, setTime, "unknown", { { "setuptool.command", none }, { "setuptool.truncated", "1" } } },
                   { DevicePort, fullReply, "reply", { { "setuptool.name", none }, { "setuptool.truncated", "1" } } },
                   { ProbePort,
                     "Broadcast message 3",
                     "probe",
                     { { "setuptool.probe.text", "Bro" }, { "setuptool.probe.number", none }, { "setuptool.truncated", "1" } } },
                   { ProbePort, "Bxoadcast message 3", malformed, { { "setuptool.truncated", "1" } } },
                   { DevicePort, {}, malformed, { { "setuptool.truncated", none } } },
                   { DevicePort, "\x01", malformed, { { "setuptool.truncated", none } } },
               }
            << 42 + 3;
}

// Junk from the flooder and hand-built datagrams of wrong lengths, wrong words and cut short
// by the capture: tshark shows every one, with no Lua error, and marks what is no message of
// the protocol as malformed.
void tst_Dissector::oddDatagramsAreMalformed()
{
    QFETCH(QStringList, flood);
    QFETCH(QList<Datagram>, datagrams);
    QFETCH(int, snaplen);

    Capture capture;
    QVERIFY2(capture.start(captureFile("odd"), snaplen), qPrintable(capture.errors));

    std::optional<QJsonObject> summary;
    if (!flood.isEmpty()) {
        FlooderProcess flooder;
        if (flooder.start(flood << "--seed"
                                << "7"))
            summary = flooder.summary();
        QVERIFY2(summary, flooder.errors().constData());
        QCOMPARE(summary->value("send_errors").toInteger(), 0);
    }
    const int flooded = summary ? summary->value("sent_total").toInt() : 0;

    QUdpSocket sender;
    QVERIFY(sender.bind(Segment::workstationAddresses().first(), 0));
    for (const Datagram &datagram : datagrams)
        QCOMPARE(sender.writeDatagram(datagram.payload, QHostAddress::Broadcast, datagram.port),
                 datagram.payload.size());

    QVERIFY(capture.waitForDatagrams(flooded + int(datagrams.size())));
    QVERIFY2(capture.stop(), qPrintable(capture.errors));
    const std::optional<QList<Frame>> decoded = decode(captureFile("odd"));
    QVERIFY(decoded);
    const QList<Frame> frames = framesOn(*decoded);
    QCOMPARE(frames.size(), flooded + datagrams.size());

    // Every datagram on the ports is shown, and malformed exactly when it is no message.
    for (const Frame &frame : frames) {
        const QString type = value(frame, "setuptool.type");
        QVERIFY2(!type.isEmpty(), qPrintable(describe(frame)));
        QCOMPARE(frame.value("setuptool.type").size(), 1);
        QCOMPARE(value(frame, "setuptool.length").toInt(), value(frame, "udp.length").toInt() - 8);
        const bool isMalformed = type == QLatin1String("malformed");
        QVERIFY2(has(frame, "_ws.malformed") == isMalformed, qPrintable(describe(frame)));
        QVERIFY2(has(frame, "setuptool.malformed") == isMalformed, qPrintable(describe(frame)));
        if (isMalformed)
            QVERIFY2(!value(frame, "_ws.expert.message").isEmpty(), qPrintable(describe(frame)));
        const int payloadCaptured = value(frame, "frame.cap_len").toInt() - 42;
        const bool cut = snaplen > 0 && payloadCaptured < value(frame, "setuptool.length").toInt();
        QVERIFY2(has(frame, "setuptool.truncated") == cut, qPrintable(describe(frame)));
    }

    // The hand-built ones, in the order they were sent.
    QList<Frame> ours;
    for (const Frame &frame : frames) {
        if (value(frame, "ip.src") == Segment::workstationAddresses().first().toString())
            ours.append(frame);
    }
    QCOMPARE(ours.size(), datagrams.size());
    for (int i = 0; i < datagrams.size(); ++i) {
        const Datagram &datagram = datagrams.at(i);
        const Frame &frame = ours.at(i);
        QCOMPARE(value(frame, "udp.dstport"), QString::number(datagram.port));
        QCOMPARE(value(frame, "setuptool.length"), QString::number(datagram.payload.size()));
        QVERIFY2(value(frame, "setuptool.type") == datagram.type, qPrintable(describe(frame)));
        for (const auto &[field, expected] : datagram.fields) {
            if (expected.isNull())
                QVERIFY2(!has(frame, field), qPrintable(field + " in " + describe(frame)));
            else
                QVERIFY2(value(frame, field) == expected,
                         qPrintable(field + " in " + describe(frame)));
        }
    }

    // The flood: every datagram it sent, the largest reassembled, the replayed replies as the
    // fake devices were described.
    if (summary) {
        QList<Frame> flood;
        for (const Frame &frame : frames) {
            if (value(frame, "ip.src") == FlooderProcess::source())
                flood.append(frame);
        }
        QCOMPARE(flood.size(), flooded);
        const auto count = [&](const std::function<bool(const Frame &)> &predicate) {
            return qint64(std::count_if(flood.cbegin(), flood.cend(), predicate));
        };
        QCOMPARE(count([](const Frame &f) { return value(f, "setuptool.length") == "65507"; }),
                 FlooderProcess::sent(*summary, "max"));
        QVERIFY(count([](const Frame &f) { return value(f, "setuptool.length") == "0"; })
                >= FlooderProcess::sent(*summary, "empty"));
        QCOMPARE(
            count([](const Frame &f) { return value(f, "setuptool.name").startsWith("FAKE-"); }),
            FlooderProcess::sent(*summary, "replay"));
        for (const Frame &frame : flood) {
            const int length = value(frame, "setuptool.length").toInt();
            // Random bytes of a command's length are not a command: their word is wrong.
            QVERIFY2(value(frame, "setuptool.type") == (length == 64 ? "reply" : "malformed"),
                     qPrintable(describe(frame)));
            if (value(frame, "setuptool.name") == "FAKE-1") {
                QCOMPARE(value(frame, "setuptool.ip_current"), QStringLiteral("10.77.200.1"));
                QCOMPARE(value(frame, "setuptool.ip_stored"), QStringLiteral("10.77.200.1"));
                QCOMPARE(value(frame, "setuptool.serial"), QStringLiteral("900001"));
                QCOMPARE(value(frame, "setuptool.uptime"), QStringLiteral("3"));
                QCOMPARE(QStringList(
                             { value(frame, "setuptool.ntp"), value(frame, "setuptool.modbus_tcp"),
                               value(frame, "setuptool.melsec"), value(frame, "setuptool.gps") }),
                         QStringList({ "1", "0", "0", "0" }));
            } else if (value(frame, "setuptool.name") == "FAKE-2") {
                QCOMPARE(value(frame, "setuptool.ip_current"), QStringLiteral("10.77.200.2"));
                QCOMPARE(value(frame, "setuptool.ip_stored"), QStringLiteral("10.77.200.9"));
                QVERIFY(has(frame, "setuptool.stored_differs"));
                QCOMPARE(value(frame, "setuptool.serial"), QStringLiteral("-900002"));
                QCOMPARE(value(frame, "setuptool.uptime"), QStringLiteral("5"));
                QCOMPARE(QStringList(
                             { value(frame, "setuptool.ntp"), value(frame, "setuptool.modbus_tcp"),
                               value(frame, "setuptool.melsec"), value(frame, "setuptool.gps") }),
                         QStringList({ "0", "0", "0", "1" }));
            }
        }
    }
}

// Devices set to other ports: decoded once the preferences name those ports, and only then.
void tst_Dissector::portsFollowPreferences()
{
    constexpr quint16 probePort = 4801;
    constexpr quint16 devicePort = 7801;
    Capture capture;
    QVERIFY2(capture.start(captureFile("ports")), qPrintable(capture.errors));
    SimulatorProcess simulator;
    const Device &device = fleet.at(1);
    QVERIFY2(simulator.start(device.arguments()
                             + QStringList { "--probe-port", QString::number(probePort),
                                             "--device-port", QString::number(devicePort) }),
             simulator.errors().constData());

    QUdpSocket prober;
    QVERIFY(prober.bind(Segment::workstationAddresses().first(), probePort));
    QCOMPARE(prober.writeDatagram("Broadcast message 0", QHostAddress::Broadcast, probePort), 19);
    QVERIFY(simulator.waitForCount("reply", 1));
    QVERIFY(capture.waitForDatagrams(2, { probePort, devicePort }));
    QVERIFY2(capture.stop(), qPrintable(capture.errors));

    const std::optional<QList<Frame>> standard = decode(captureFile("ports"));
    QVERIFY(standard);
    QCOMPARE(framesOn(*standard, { probePort, devicePort }).size(), 2);
    for (const Frame &frame : *standard)
        QVERIFY2(!has(frame, "setuptool.type"), qPrintable(describe(frame)));

    const std::optional<QList<Frame>> moved
        = decode(captureFile("ports"),
                 { "-o", QStringLiteral("setuptool.probe_port:%1").arg(probePort), "-o",
                   QStringLiteral("setuptool.device_port:%1").arg(devicePort) });
    QVERIFY(moved);
    const QList<Frame> frames = framesOn(*moved, { probePort, devicePort });
    QCOMPARE(frames.size(), 2);
    QCOMPARE(value(frames.at(0), "setuptool.type"), QStringLiteral("probe"));
    QCOMPARE(value(frames.at(0), "setuptool.probe.number"), QStringLiteral("0"));
    QCOMPARE(value(frames.at(1), "setuptool.type"), QStringLiteral("reply"));
    QCOMPARE(value(frames.at(1), "setuptool.name"), device.name);
    QCOMPARE(value(frames.at(1), "setuptool.ip_stored"), device.eeprom);
}

QTEST_MAIN(tst_Dissector)
#include "tst_dissector.moc"
