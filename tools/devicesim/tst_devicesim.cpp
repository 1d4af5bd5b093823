// Drives the built simulator over loopback only: device addresses are taken
// from 127.0.0.0/8, which Linux routes to lo as a whole, and replies are sent
// to 127.0.0.1 instead of the broadcast address.

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSet>
#include <QStringList>
#include <QTemporaryFile>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <csignal>

namespace {

const QString DeviceA = QStringLiteral("127.0.0.2");
const QString DeviceB = QStringLiteral("127.0.0.3");

QByteArray masked(QByteArray bytes)
{
    for (char &byte : bytes)
        byte = char(quint8(byte) ^ 0xA7);
    return bytes;
}

// The reply layout written out by hand from the byte table: the name field,
// then the fixed fields in wire order; the trailing 29 unused bytes are added.
QByteArray expectedReply(const char *hex)
{
    QByteArray reply = QByteArray::fromHex(hex);
    reply.append(QByteArray(29, '\0'));
    return reply;
}

quint16 freePort(const QHostAddress &address)
{
    QUdpSocket probe;
    probe.bind(address, 0);
    return probe.localPort();
}

// A client's SNTP request: the first byte (leap, version, mode), a poll exponent of 6 and
// `transmit` as the client's transmit timestamp; the rest zero.
QByteArray sntpRequest(quint8 first, const QByteArray &transmit = QByteArray(8, '\x5a'),
                       int size = 48)
{
    QByteArray request(size, '\0');
    request[0] = char(first);
    if (size > 2)
        request[2] = 6;
    if (size >= 48)
        request.replace(40, 8, transmit);
    return request;
}

// Seconds since the Unix epoch of an NTP timestamp (seconds since 1900 and a binary fraction),
// taken in the era around now.
double unixSecondsOf(const QByteArray &timestamp)
{
    const qint64 seconds = qint64(qFromBigEndian<quint32>(timestamp.constData())) - 2208988800LL;
    const double fraction = qFromBigEndian<quint32>(timestamp.constData() + 4) / 4294967296.0;
    return double(seconds < 0 ? seconds + (1LL << 32) : seconds) + fraction;
}

double nowSeconds()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

qint32 uptimeOf(const QByteArray &plainReply)
{
    return qint32(quint32(quint8(plainReply.at(23))) | quint32(quint8(plainReply.at(24))) << 8
                  | quint32(quint8(plainReply.at(25))) << 16
                  | quint32(quint8(plainReply.at(26))) << 24);
}

// One simulator process plus the workstation side of the conversation.
class SimulatorRun
{
public:
    SimulatorRun()
    {
        listener.bind(QHostAddress::LocalHost, 0);
        devicePort = listener.localPort();
        probePort = freePort(QHostAddress::AnyIPv4);
        // Never the real port 123, which another run or a time service may hold.
        sntpPort = freePort(QHostAddress::AnyIPv4);
        QObject::connect(&listener, &QUdpSocket::readyRead, &listener, [this] {
            while (listener.hasPendingDatagrams())
                replies.append(listener.receiveDatagram());
        });
        // Only SNTP answers come back to the sending socket.
        sender.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&sender, &QUdpSocket::readyRead, &sender, [this] {
            while (sender.hasPendingDatagrams())
                sntpAnswers.append(sender.receiveDatagram());
        });
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            while (process.canReadLine())
                events.append(QJsonDocument::fromJson(process.readLine()).object());
        });
    }

    ~SimulatorRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(5000);
        }
    }

    void start(const QStringList &arguments)
    {
        process.start(QStringLiteral(DEVICESIM_PATH),
                      QStringList { QStringLiteral("--probe-port"), QString::number(probePort),
                                    QStringLiteral("--device-port"), QString::number(devicePort),
                                    QStringLiteral("--sntp-port"), QString::number(sntpPort),
                                    QStringLiteral("--reply-address"), QStringLiteral("127.0.0.1") }
                          + arguments);
    }

    QList<QJsonObject> eventsOf(const char *kind) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject &event : events) {
            if (event.value(QLatin1String("event")).toString() == QLatin1String(kind))
                found.append(event);
        }
        return found;
    }

    bool isReady() const { return !eventsOf("ready").isEmpty(); }

    // Waits for the simulator's "ready" line or its exit, not for a fixed time: a busy
    // machine running the other suites in parallel may take seconds to start a process.
    bool waitUntilReady()
    {
        const QDeadlineTimer deadline(std::chrono::minutes(2));
        while (!isReady() && process.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(20);
        if (!isReady())
            qWarning("the simulator is not ready: %s", process.readAllStandardError().constData());
        return isReady();
    }

    void probe(const QByteArray &text = QByteArrayLiteral("Broadcast message 0"))
    {
        sender.writeDatagram(text, QHostAddress::LocalHost, probePort);
    }

    void command(const QString &address, const QByteArray &bytes)
    {
        sender.writeDatagram(bytes, QHostAddress(address), devicePort);
    }

    void sntp(const QString &address, const QByteArray &bytes)
    {
        sender.writeDatagram(bytes, QHostAddress(address), sntpPort);
    }

    QList<QByteArray> plainRepliesFrom(const QString &address) const
    {
        QList<QByteArray> found;
        for (const QNetworkDatagram &datagram : replies) {
            if (datagram.senderAddress() == QHostAddress(address)
                && datagram.senderPort() == devicePort)
                found.append(masked(datagram.data()));
        }
        return found;
    }

    QProcess process;
    QUdpSocket listener;
    QUdpSocket sender;
    quint16 devicePort = 0;
    quint16 probePort = 0;
    quint16 sntpPort = 0;
    QList<QNetworkDatagram> replies;
    QList<QNetworkDatagram> sntpAnswers;
    QList<QJsonObject> events;
};

} // namespace

class TestDeviceSim : public QObject
{
    Q_OBJECT

private slots:
    void replyBytes_data();
    void replyBytes();
    void probeAndReplyEvents();
    void settingsChangeStoredAddressOnly();
    void deviceIgnoringCommandsKeepsItsSettings();
    void setTimeIsLogged_data();
    void setTimeIsLogged();
    void junkIsRejected_data();
    void junkIsRejected();
    void repeatSendsIdenticalCopies_data();
    void repeatSendsIdenticalCopies();
    void delayedRepliesAllArrive();
    void sharedAddressAnswersForEveryDevice();
    void twoThousandDevicesAnswerOneProbe();
    void uptimeAdvancesInWholeHours();
    void signalsEndCleanly_data();
    void signalsEndCleanly();
    void invalidOptionsExitWithTwo_data();
    void invalidOptionsExitWithTwo();
    void unconfiguredAddressFailsToBind();
    void sntpAnswers_data();
    void sntpAnswers();
    void sntpJunkIsRejected_data();
    void sntpJunkIsRejected();
    void sntpOnlyWhereServed();
    void sntpFollowsSetTimeAndDelay();
};

void TestDeviceSim::replyBytes_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("every field")
        << QStringLiteral("name=ALPHA,ip=127.0.0.2,eeprom=192.168.10.20,serial=123456,"
                          "uptime=77,ntp=1,mbtcp=0,melsec=1,gps=0")
        << QByteArray()
        << expectedReply("414c504841 0000000000000000 00 c0a80a14 00 7f000002 4d000000"
                         "01 00 01 00 40e20100");
    QTest::newRow("eeprom defaults to the current address")
        << QStringLiteral("name=B,ip=127.0.0.2,serial=1,uptime=0,ntp=0,mbtcp=1,melsec=0,gps=1")
        << QByteArray()
        << expectedReply("42 000000000000000000000000 00 7f000002 00 7f000002 00000000"
                         "00 01 00 01 01000000");
    QTest::newRow("raw flag bytes and negative numbers")
        << QStringLiteral("name=N,ip=127.0.0.2,eeprom=1.2.3.4,serial=-2,uptime=-1,"
                          "ntp=2,mbtcp=255,melsec=0,gps=128")
        << QByteArray()
        << expectedReply("4e 000000000000000000000000 00 01020304 00 7f000002 ffffffff"
                         "02 ff 00 80 feffffff");
    QTest::newRow("32-bit extremes")
        << QStringLiteral("name=X,ip=127.0.0.2,eeprom=255.254.253.252,serial=2147483647,"
                          "uptime=-2147483648,ntp=0,mbtcp=0,melsec=0,gps=0")
        << QByteArray()
        << expectedReply("58 000000000000000000000000 00 fffefdfc 00 7f000002 00000080"
                         "00 00 00 00 ffffff7f");
    QTest::newRow("name of exactly 13")
        << QStringLiteral("name=ABCDEFGHIJKLM,ip=127.0.0.2,serial=0,uptime=0,ntp=0,mbtcp=0,"
                          "melsec=0,gps=0")
        << QByteArray()
        << expectedReply("4142434445464748494a4b4c4d 00 7f000002 00 7f000002 00000000"
                         "00 00 00 00 00000000");
    QTest::newRow("long name cut to 13")
        << QStringLiteral("name=ABCDEFGHIJKLMNOPQRS,ip=127.0.0.2,serial=0,uptime=0,ntp=0,"
                          "mbtcp=0,melsec=0,gps=0")
        << QByteArray()
        << expectedReply("4142434445464748494a4b4c4d 00 7f000002 00 7f000002 00000000"
                         "00 00 00 00 00000000");
    QTest::newRow("empty name") << QStringLiteral(
        "name=,ip=127.0.0.2,serial=0,uptime=0,ntp=0,mbtcp=0,melsec=0,gps=0")
                                << QByteArray()
                                << expectedReply(
                                       "00000000000000000000000000 00 7f000002 00 7f000002 00000000"
                                       "00 00 00 00 00000000");
    QTest::newRow("Latin-1 and control bytes from a config file")
        << QString()
        << QByteArrayLiteral(R"({"devices":[{"name":"Z\u00fcr\u0001\u00ff","ip":"127.0.0.2",)"
                             R"("eeprom":"10.20.30.40","serial":-300,"uptime":3,)"
                             R"("ntp":true,"mbtcp":0,"melsec":1,"gps":1}]})")
        << expectedReply("5afc7201ff 0000000000000000 00 0a141e28 00 7f000002 03000000"
                         "01 00 01 01 d4feffff");
}

void TestDeviceSim::replyBytes()
{
    QFETCH(QString, device);
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, expected);
    QCOMPARE(expected.size(), 64);

    QTemporaryFile configFile;
    QStringList arguments;
    if (!device.isEmpty())
        arguments << QStringLiteral("--device") << device;
    if (!config.isEmpty()) {
        QVERIFY(configFile.open());
        configFile.write(config);
        configFile.close();
        arguments << QStringLiteral("--config") << configFile.fileName();
    }

    SimulatorRun sim;
    sim.start(arguments);
    QVERIFY(sim.waitUntilReady());
    sim.probe();
    QTRY_COMPARE(sim.plainRepliesFrom(DeviceA).size(), 1);
    QCOMPARE(sim.plainRepliesFrom(DeviceA).constFirst().toHex(' '), expected.toHex(' '));
}

void TestDeviceSim::probeAndReplyEvents()
{
    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"), QStringLiteral("name=Zürich,ip=127.0.0.2"),
                QStringLiteral("--device"), QStringLiteral("name=Bern,ip=127.0.0.3") });
    QVERIFY(sim.waitUntilReady());
    const QJsonObject ready = sim.eventsOf("ready").constFirst();
    QCOMPARE(ready.value(QLatin1String("devices")).toInt(), 2);
    QCOMPARE(ready.value(QLatin1String("probe_port")).toInt(), sim.probePort);
    QCOMPARE(ready.value(QLatin1String("device_port")).toInt(), sim.devicePort);

    sim.probe("Broadcast message 4711");
    QTRY_COMPARE(sim.eventsOf("reply").size(), 2);
    const QJsonObject probe = sim.eventsOf("probe").constFirst();
    QCOMPARE(probe.value(QLatin1String("text")).toString(),
             QStringLiteral("Broadcast message 4711"));
    QCOMPARE(probe.value(QLatin1String("from")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(probe.value(QLatin1String("from_port")).toInt(), sim.sender.localPort());

    QSet<QString> seen;
    for (const QJsonObject &reply : sim.eventsOf("reply")) {
        seen.insert(reply.value(QLatin1String("device")).toString() + QLatin1Char('@')
                    + reply.value(QLatin1String("ip")).toString());
        QCOMPARE(reply.value(QLatin1String("to")).toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(reply.value(QLatin1String("port")).toInt(), sim.devicePort);
        QCOMPARE(reply.value(QLatin1String("probe")).toString(),
                 QStringLiteral("Broadcast message 4711"));
    }
    QCOMPARE(
        seen,
        (QSet<QString> { QStringLiteral("Zürich@127.0.0.2"), QStringLiteral("Bern@127.0.0.3") }));
    QTRY_COMPARE(sim.plainRepliesFrom(DeviceA).size(), 1);
    QCOMPARE(sim.plainRepliesFrom(DeviceA).constFirst().left(7), QByteArray("Z\xfcrich\0", 7));
}

void TestDeviceSim::settingsChangeStoredAddressOnly()
{
    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"), QStringLiteral("name=A,ip=127.0.0.2"),
                QStringLiteral("--device"), QStringLiteral("name=B,ip=127.0.0.3") });
    QVERIFY(sim.waitUntilReady());

    sim.command(DeviceA, masked(QByteArray("stsets\x01\x01\x00\x01\x0a\x00\x00\x07", 14)));
    QTRY_COMPARE(sim.eventsOf("command").size(), 1);
    const QJsonObject command = sim.eventsOf("command").constFirst();
    QCOMPARE(command.value(QLatin1String("kind")).toString(), QStringLiteral("settings"));
    QCOMPARE(command.value(QLatin1String("options")).toArray(), (QJsonArray { 1, 1, 0, 1 }));
    QCOMPARE(command.value(QLatin1String("address")).toString(), QStringLiteral("10.0.0.7"));
    QCOMPARE(command.value(QLatin1String("device")).toString(), QStringLiteral("A"));
    QCOMPARE(command.value(QLatin1String("at")).toString(), DeviceA);
    QCOMPARE(command.value(QLatin1String("from")).toString(), QStringLiteral("127.0.0.1"));

    sim.probe();
    QTRY_COMPARE(sim.replies.size(), 2);
    const QByteArray a = sim.plainRepliesFrom(DeviceA).constFirst();
    QCOMPARE(a.mid(14, 4).toHex(), QByteArray("0a000007"));
    QCOMPARE(a.mid(19, 4).toHex(), QByteArray("7f000002"));
    const QByteArray b = sim.plainRepliesFrom(DeviceB).constFirst();
    QCOMPARE(b.mid(14, 4).toHex(), QByteArray("7f000003"));
}

void TestDeviceSim::deviceIgnoringCommandsKeepsItsSettings()
{
    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"),
                QStringLiteral("name=A,ip=127.0.0.2,ntp=1,offset=50,commands=0") });
    QVERIFY(sim.waitUntilReady());

    sim.command(DeviceA, masked(QByteArray("stsets\x01\x01\x00\x01\x0a\x00\x00\x07", 14)));
    sim.command(DeviceA, masked(QByteArrayLiteral("sttime") + QByteArray::fromHex("80a0b16a")));
    QTRY_COMPARE(sim.eventsOf("command").size(), 2);
    for (const QJsonObject &command : sim.eventsOf("command")) {
        QVERIFY(command.value(QLatin1String("ignored")).toBool());
        QVERIFY(!command.contains(QLatin1String("address")));
        QVERIFY(!command.contains(QLatin1String("clock_offset")));
    }
    QCOMPARE(sim.eventsOf("command").at(1).value(QLatin1String("kind")).toString(),
             QStringLiteral("set-time"));

    sim.probe();
    QTRY_COMPARE(sim.replies.size(), 1);
    QCOMPARE(sim.plainRepliesFrom(DeviceA).constFirst().mid(14, 4).toHex(), QByteArray("7f000002"));
}

void TestDeviceSim::setTimeIsLogged_data()
{
    QTest::addColumn<QByteArray>("seconds");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("ordinary") << QByteArray::fromHex("80a0b16a") << qint64(1790025856);
    QTest::newRow("all bits set, unsigned")
        << QByteArray::fromHex("ffffffff") << qint64(4294967295);
    QTest::newRow("zero") << QByteArray::fromHex("00000000") << qint64(0);
}

void TestDeviceSim::setTimeIsLogged()
{
    QFETCH(QByteArray, seconds);
    QFETCH(qint64, expected);

    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"), QStringLiteral("name=A,ip=127.0.0.2"),
                QStringLiteral("--device"), QStringLiteral("name=B,ip=127.0.0.3") });
    QVERIFY(sim.waitUntilReady());
    sim.command(DeviceB, masked(QByteArrayLiteral("sttime") + seconds));
    QTRY_COMPARE(sim.eventsOf("command").size(), 1);
    const QJsonObject command = sim.eventsOf("command").constFirst();
    QCOMPARE(command.value(QLatin1String("kind")).toString(), QStringLiteral("set-time"));
    QCOMPARE(command.value(QLatin1String("seconds")).toInteger(), expected);
    QCOMPARE(command.value(QLatin1String("device")).toString(), QStringLiteral("B"));
    QCOMPARE(command.value(QLatin1String("at")).toString(), DeviceB);
}

void TestDeviceSim::junkIsRejected_data()
{
    QTest::addColumn<bool>("toProbePort");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty command") << false << QByteArray() << QStringLiteral("empty");
    QTest::newRow("9 bytes") << false << QByteArray(9, 'x') << QStringLiteral("unknown command");
    QTest::newRow("13 bytes") << false << QByteArray(13, '\0') << QStringLiteral("unknown command");
    QTest::newRow("15 bytes") << false << QByteArray(15, '\xff')
                              << QStringLiteral("unknown command");
    QTest::newRow("64 bytes") << false << QByteArray(64, 'R') << QStringLiteral("unknown command");
    QTest::newRow("65507 bytes") << false << QByteArray(65507, 'J')
                                 << QStringLiteral("unknown command");
    QTest::newRow("3 bytes") << false << QByteArray("abc") << QStringLiteral("too short");
    QTest::newRow("set-time one byte long")
        << false << masked("sttime12345") << QStringLiteral("10 bytes");
    QTest::newRow("set-time one byte short")
        << false << masked("sttime123") << QStringLiteral("10 bytes");
    QTest::newRow("settings one byte short")
        << false << masked("stsets1234567") << QStringLiteral("14 bytes");
    QTest::newRow("settings of a reply's size")
        << false << masked("stsets" + QByteArray(58, 'a')) << QStringLiteral("14 bytes");
    QTest::newRow("command word not masked")
        << false << QByteArray("sttime\0\0\0\0", 10) << QStringLiteral("not masked");
    QTest::newRow("empty probe") << true << QByteArray() << QStringLiteral("not a discovery probe");
    QTest::newRow("probe without number separator")
        << true << QByteArray("Broadcast message") << QStringLiteral("not a discovery probe");
    QTest::newRow("probe in lower case")
        << true << QByteArray("broadcast message 0") << QStringLiteral("not a discovery probe");
    QTest::newRow("masked probe") << true << masked("Broadcast message 0")
                                  << QStringLiteral("not a discovery probe");
    QTest::newRow("65507 bytes to the probe port")
        << true << QByteArray(65507, '\0') << QStringLiteral("not a discovery probe");
}

void TestDeviceSim::junkIsRejected()
{
    QFETCH(bool, toProbePort);
    QFETCH(QByteArray, datagram);
    QFETCH(QString, reason);

    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"), QStringLiteral("name=A,ip=127.0.0.2") });
    QVERIFY(sim.waitUntilReady());
    if (toProbePort)
        sim.probe(datagram);
    else
        sim.command(DeviceA, datagram);

    QTRY_COMPARE(sim.eventsOf("rejected").size(), 1);
    const QJsonObject rejected = sim.eventsOf("rejected").constFirst();
    QVERIFY2(rejected.value(QLatin1String("reason")).toString().contains(reason),
             qPrintable(rejected.value(QLatin1String("reason")).toString()));
    QCOMPARE(rejected.value(QLatin1String("length")).toInt(), datagram.size());
    QCOMPARE(rejected.value(QLatin1String("port")).toInt(),
             toProbePort ? sim.probePort : sim.devicePort);
    QCOMPARE(rejected.value(QLatin1String("from")).toString(), QStringLiteral("127.0.0.1"));
    if (!toProbePort)
        QCOMPARE(rejected.value(QLatin1String("at")).toString(), DeviceA);
    QVERIFY(sim.eventsOf("command").isEmpty());
    QVERIFY(sim.eventsOf("reply").isEmpty());

    // Still alive and still answering.
    sim.probe();
    QTRY_COMPARE(sim.plainRepliesFrom(DeviceA).size(), 1);
    QCOMPARE(sim.process.state(), QProcess::Running);
}

void TestDeviceSim::repeatSendsIdenticalCopies_data()
{
    QTest::addColumn<int>("repeat");
    QTest::newRow("once") << 1;
    QTest::newRow("three times") << 3;
}

void TestDeviceSim::repeatSendsIdenticalCopies()
{
    QFETCH(int, repeat);

    SimulatorRun sim;
    sim.start({ QStringLiteral("--repeat"), QString::number(repeat), QStringLiteral("--device"),
                QStringLiteral("name=A,ip=127.0.0.2"), QStringLiteral("--device"),
                QStringLiteral("name=B,ip=127.0.0.3") });
    QVERIFY(sim.waitUntilReady());
    sim.probe();
    QTRY_COMPARE(sim.replies.size(), 2 * repeat);
    QCOMPARE(sim.eventsOf("reply").size(), 2 * repeat);
    for (const QString &address : { DeviceA, DeviceB }) {
        const QList<QByteArray> copies = sim.plainRepliesFrom(address);
        QCOMPARE(copies.size(), repeat);
        QCOMPARE(QSet<QByteArray>(copies.begin(), copies.end()).size(), 1);
    }
}

void TestDeviceSim::delayedRepliesAllArrive()
{
    SimulatorRun sim;
    sim.start({ QStringLiteral("--max-delay"), QStringLiteral("300"), QStringLiteral("--seed"),
                QStringLiteral("7"), QStringLiteral("--count"), QStringLiteral("20"),
                QStringLiteral("--first-ip"), QStringLiteral("127.2.0.1") });
    QVERIFY(sim.waitUntilReady());
    sim.probe();
    QTRY_COMPARE(sim.replies.size(), 20);
    QSet<QString> sources;
    for (const QNetworkDatagram &datagram : std::as_const(sim.replies))
        sources.insert(datagram.senderAddress().toString());
    QCOMPARE(sources.size(), 20);
    QVERIFY(sources.contains(QStringLiteral("127.2.0.20")));
}

void TestDeviceSim::sharedAddressAnswersForEveryDevice()
{
    // Factory-fresh devices often share one address; each still answers.
    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"), QStringLiteral("name=A,ip=127.0.0.2,serial=1"),
                QStringLiteral("--device"), QStringLiteral("name=B,ip=127.0.0.2,serial=2") });
    QVERIFY(sim.waitUntilReady());
    sim.probe();
    QTRY_COMPARE(sim.plainRepliesFrom(DeviceA).size(), 2);

    sim.command(DeviceA, masked(QByteArray("stsets\x01\x01\x00\x01\x0a\x00\x00\x09", 14)));
    QTRY_COMPARE(sim.eventsOf("command").size(), 2);
    QSet<QString> devices;
    for (const QJsonObject &command : sim.eventsOf("command"))
        devices.insert(command.value(QLatin1String("device")).toString());
    QCOMPARE(devices, (QSet<QString> { QStringLiteral("A"), QStringLiteral("B") }));
}

void TestDeviceSim::twoThousandDevicesAnswerOneProbe()
{
    SimulatorRun sim;
    sim.start({ QStringLiteral("--count"), QStringLiteral("2000"), QStringLiteral("--first-ip"),
                QStringLiteral("127.1.0.1") });
    QVERIFY(sim.waitUntilReady());
    QCOMPARE(sim.eventsOf("ready").constFirst().value(QLatin1String("devices")).toInt(), 2000);
    sim.probe();
    QTRY_COMPARE_WITH_TIMEOUT(sim.eventsOf("reply").size(), 2000, 30000);
    QVERIFY(sim.eventsOf("send-failed").isEmpty());

    QSet<QString> addresses;
    QSet<QString> names;
    for (const QJsonObject &reply : sim.eventsOf("reply")) {
        addresses.insert(reply.value(QLatin1String("ip")).toString());
        names.insert(reply.value(QLatin1String("device")).toString());
    }
    QCOMPARE(addresses.size(), 2000);
    QCOMPARE(names.size(), 2000);
    // Host bytes 255 and 0 are skipped: 254 devices fit per /24.
    QVERIFY(addresses.contains(QStringLiteral("127.1.0.254")));
    QVERIFY(!addresses.contains(QStringLiteral("127.1.0.255")));
    QVERIFY(!addresses.contains(QStringLiteral("127.1.1.0")));
    QVERIFY(addresses.contains(QStringLiteral("127.1.1.1")));
    QVERIFY(addresses.contains(QStringLiteral("127.1.7.222"))); // 7 * 254 + 222 = 2000
    QVERIFY(!addresses.contains(QStringLiteral("127.1.7.223")));
    QVERIFY(names.contains(QStringLiteral("DEV-0001")));
    QVERIFY(names.contains(QStringLiteral("DEV-2000")));
    // The loopback receive buffer may drop part of such a burst; some must arrive.
    QTRY_VERIFY(!sim.replies.isEmpty());
}

void TestDeviceSim::uptimeAdvancesInWholeHours()
{
    SimulatorRun sim;
    sim.start({ QStringLiteral("--hour-ms"), QStringLiteral("300"), QStringLiteral("--device"),
                QStringLiteral("name=A,ip=127.0.0.2,uptime=5") });
    QVERIFY(sim.waitUntilReady());
    const auto latestUptime = [&sim] {
        const QList<QByteArray> seen = sim.plainRepliesFrom(DeviceA);
        return seen.isEmpty() ? 0 : uptimeOf(seen.constLast());
    };
    // One probe each time the condition is polled.
    QTRY_VERIFY_WITH_TIMEOUT((sim.probe(), latestUptime() >= 8), 20000);

    QList<qint32> uptimes;
    for (const QByteArray &reply : sim.plainRepliesFrom(DeviceA))
        uptimes.append(uptimeOf(reply));
    QVERIFY2(uptimes.constFirst() == 5 || uptimes.constFirst() == 6,
             qPrintable(QString::number(uptimes.constFirst())));
    QVERIFY(std::is_sorted(uptimes.begin(), uptimes.end()));
    // Probes within the same hour see the same value.
    QVERIFY(QSet<qint32>(uptimes.begin(), uptimes.end()).size() < uptimes.size());
}

void TestDeviceSim::signalsEndCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestDeviceSim::signalsEndCleanly()
{
    QFETCH(int, signalNumber);

    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"), QStringLiteral("ip=127.0.0.2") });
    QVERIFY(sim.waitUntilReady());
    QCOMPARE(::kill(pid_t(sim.process.processId()), signalNumber), 0);
    QVERIFY(sim.process.waitForFinished(5000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
}

void TestDeviceSim::invalidOptionsExitWithTwo_data()
{
    QTest::addColumn<QStringList>("arguments");

    const auto device = [](const char *fields) {
        return QStringList { QStringLiteral("--device"), QString::fromUtf8(fields) };
    };
    QTest::newRow("no devices") << QStringList();
    QTest::newRow("octet above 255") << device("ip=127.0.0.256");
    // The simulator reads addresses by the companion's rules: inet_aton would take 010 as octal.
    QTest::newRow("leading zero") << device("ip=127.0.0.010");
    QTest::newRow("blank around it")
        << QStringList { QStringLiteral("--count"), QStringLiteral("1"),
                         QStringLiteral("--first-ip"), QStringLiteral(" 127.0.0.2") };
    QTest::newRow("no ip") << device("name=A");
    QTest::newRow("flag above a byte") << device("ip=127.0.0.2,gps=256");
    QTest::newRow("unknown key") << device("ip=127.0.0.2,colour=red");
    QTest::newRow("offset not a number") << device("ip=127.0.0.2,offset=soon");
    QTest::newRow("offset past the era") << device("ip=127.0.0.2,offset=3e9");
    QTest::newRow("leap above 3") << device("ip=127.0.0.2,leap=4");
    QTest::newRow("kiss code of five") << device("ip=127.0.0.2,kiss=RATES");
    QTest::newRow("SNTP port past 65535") << device("ip=127.0.0.2")
            + QStringList { QStringLiteral("--sntp-port"), QStringLiteral("65536") };
    QTest::newRow("count past the address space")
        << QStringList { QStringLiteral("--count"), QStringLiteral("3"),
                         QStringLiteral("--first-ip"), QStringLiteral("255.255.255.253") };
    QTest::newRow("repeat of zero")
        << device("ip=127.0.0.2") + QStringList { QStringLiteral("--repeat"), QStringLiteral("0") };
    QTest::newRow("unknown option")
        << device("ip=127.0.0.2") + QStringList { QStringLiteral("--bogus") };
    QTest::newRow("missing config")
        << QStringList { QStringLiteral("--config"), QStringLiteral("/nonexistent/devices.json") };
}

void TestDeviceSim::invalidOptionsExitWithTwo()
{
    QFETCH(QStringList, arguments);

    QProcess process;
    process.start(QStringLiteral(DEVICESIM_PATH), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(!process.readAllStandardError().isEmpty());
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

void TestDeviceSim::unconfiguredAddressFailsToBind()
{
    // 192.0.2.0/24 is reserved for documentation and never configured here;
    // binding fails before anything could be sent.
    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"), QStringLiteral("ip=192.0.2.1") });
    QTRY_COMPARE(sim.process.state(), QProcess::NotRunning);
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 1);
    QCOMPARE(sim.eventsOf("bind-failed").size(), 1);
    QCOMPARE(sim.eventsOf("bind-failed").constFirst().value(QLatin1String("address")).toString(),
             QStringLiteral("192.0.2.1"));
    QVERIFY(!sim.isReady());
}

void TestDeviceSim::sntpAnswers_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<quint8>("requestFirst");
    QTest::addColumn<quint8>("answerFirst");
    QTest::addColumn<int>("stratum");
    QTest::addColumn<QByteArray>("referenceId");
    QTest::addColumn<double>("clockOffset");

    // First bytes: leap (2 bits), version (3), mode (3); 0x23 is a version 4 client request.
    QTest::newRow("synchronised, stratum 1") << QStringLiteral("ntp=1") << quint8(0x23)
                                             << quint8(0x24) << 1 << QByteArray("SIM\0", 4) << 0.0;
    QTest::newRow("version 3 answered in kind, clock ahead")
        << QStringLiteral("ntp=1,offset=30.5") << quint8(0x1b) << quint8(0x1c) << 1
        << QByteArray("SIM\0", 4) << 30.5;
    QTest::newRow("stratum 2 names its source, clock behind")
        << QStringLiteral("ntp=1,stratum=2,offset=-3600.25") << quint8(0x23) << quint8(0x24) << 2
        << QByteArray::fromHex("c0000201") << -3600.25;
    QTest::newRow("not synchronised") << QStringLiteral("ntp=1,stratum=16,leap=3") << quint8(0x23)
                                      << quint8(0xe4) << 16 << QByteArray("INIT") << 0.0;
    QTest::newRow("leap second announced") << QStringLiteral("ntp=1,leap=1") << quint8(0x23)
                                           << quint8(0x64) << 1 << QByteArray("SIM\0", 4) << 0.0;
    QTest::newRow("kiss-of-death") << QStringLiteral("ntp=1,kiss=RATE") << quint8(0x23)
                                   << quint8(0x24) << 0 << QByteArray("RATE") << 0.0;
}

void TestDeviceSim::sntpAnswers()
{
    QFETCH(QString, keys);
    QFETCH(quint8, requestFirst);
    QFETCH(quint8, answerFirst);
    QFETCH(int, stratum);
    QFETCH(QByteArray, referenceId);
    QFETCH(double, clockOffset);

    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"), QStringLiteral("name=A,ip=127.0.0.2,") + keys });
    QVERIFY(sim.waitUntilReady());
    const QByteArray transmit = QByteArray::fromHex("e5a1b2c3d4e5f607");
    const double sentAt = nowSeconds();
    sim.sntp(DeviceA, sntpRequest(requestFirst, transmit));
    QTRY_COMPARE(sim.sntpAnswers.size(), 1);
    const double receivedAt = nowSeconds();

    const QNetworkDatagram datagram = sim.sntpAnswers.constFirst();
    QCOMPARE(datagram.senderAddress(), QHostAddress(DeviceA));
    QCOMPARE(datagram.senderPort(), sim.sntpPort);
    const QByteArray answer = datagram.data();
    QCOMPARE(answer.size(), 48);
    QCOMPARE(quint8(answer.at(0)), answerFirst);
    QCOMPARE(int(quint8(answer.at(1))), stratum);
    QCOMPARE(int(answer.at(2)), 6); // poll, copied
    QCOMPARE(answer.mid(12, 4), referenceId);
    QCOMPARE(answer.mid(24, 8).toHex(), transmit.toHex()); // originate
    // Receive and transmit on the device's clock, in order; the reference time only when
    // synchronised.
    const double receive = unixSecondsOf(answer.mid(32, 8));
    const double transmitted = unixSecondsOf(answer.mid(40, 8));
    QVERIFY2(receive >= sentAt + clockOffset - 0.01
                 && transmitted <= receivedAt + clockOffset + 0.01,
             qPrintable(QStringLiteral("%1 .. %2 not within %3 .. %4")
                            .arg(receive, 0, 'f', 3)
                            .arg(transmitted, 0, 'f', 3)
                            .arg(sentAt + clockOffset, 0, 'f', 3)
                            .arg(receivedAt + clockOffset, 0, 'f', 3)));
    QVERIFY(receive <= transmitted);
    const bool synchronised = stratum >= 1 && stratum <= 15 && (answerFirst >> 6) != 3;
    QCOMPARE(answer.mid(16, 8) == QByteArray(8, '\0'), !synchronised);

    QTRY_COMPARE(sim.eventsOf("sntp").size(), 1);
    const QJsonObject event = sim.eventsOf("sntp").constFirst();
    QCOMPARE(event.value(QLatin1String("answered")).toBool(), true);
    QCOMPARE(event.value(QLatin1String("device")).toString(), QStringLiteral("A"));
    QCOMPARE(event.value(QLatin1String("at")).toString(), DeviceA);
    QCOMPARE(event.value(QLatin1String("from_port")).toInt(), sim.sender.localPort());
    QCOMPARE(event.value(QLatin1String("stratum")).toInt(), stratum);
    QCOMPARE(event.value(QLatin1String("clock_offset")).toDouble(), clockOffset);
}

void TestDeviceSim::sntpJunkIsRejected_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("reason");

    QTest::newRow("47 bytes") << sntpRequest(0x23, {}, 47) << QStringLiteral("too short");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("too short");
    QTest::newRow("a server's answer") << sntpRequest(0x24) << QStringLiteral("mode 4");
    QTest::newRow("symmetric active") << sntpRequest(0x21) << QStringLiteral("mode 1");
    QTest::newRow("broadcast") << sntpRequest(0x25) << QStringLiteral("mode 5");
    QTest::newRow("version 0") << sntpRequest(0x03) << QStringLiteral("version 0");
    QTest::newRow("version 7") << sntpRequest(0x3b) << QStringLiteral("version 7");
}

void TestDeviceSim::sntpJunkIsRejected()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, reason);

    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"), QStringLiteral("name=A,ip=127.0.0.2,ntp=1") });
    QVERIFY(sim.waitUntilReady());
    sim.sntp(DeviceA, datagram);
    QTRY_COMPARE(sim.eventsOf("rejected").size(), 1);
    const QJsonObject rejected = sim.eventsOf("rejected").constFirst();
    QVERIFY2(rejected.value(QLatin1String("reason")).toString().contains(reason),
             qPrintable(rejected.value(QLatin1String("reason")).toString()));
    QCOMPARE(rejected.value(QLatin1String("port")).toInt(), sim.sntpPort);
    QCOMPARE(rejected.value(QLatin1String("length")).toInt(), datagram.size());

    // Nothing answered it, and a real request after it is answered.
    sim.sntp(DeviceA, sntpRequest(0x23));
    QTRY_COMPARE(sim.sntpAnswers.size(), 1);
    QCOMPARE(quint8(sim.sntpAnswers.constFirst().data().at(0)), quint8(0x24));
    QCOMPARE(sim.eventsOf("sntp").size(), 1);
}

void TestDeviceSim::sntpOnlyWhereServed()
{
    // A has NTP on but its SNTP answers switched off; B has NTP off; C shares B's address
    // with NTP on, so that address is served, by C alone.
    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"), QStringLiteral("name=A,ip=127.0.0.2,ntp=1,sntp=0"),
                QStringLiteral("--device"), QStringLiteral("name=B,ip=127.0.0.3,ntp=0"),
                QStringLiteral("--device"), QStringLiteral("name=D,ip=127.0.0.4,ntp=0"),
                QStringLiteral("--device"), QStringLiteral("name=C,ip=127.0.0.3,ntp=1") });
    QVERIFY(sim.waitUntilReady());
    QCOMPARE(sim.eventsOf("ready").constFirst().value(QLatin1String("sntp_addresses")).toInt(), 2);

    sim.sntp(QStringLiteral("127.0.0.4"), sntpRequest(0x23)); // no socket: nothing logged
    sim.sntp(DeviceA, sntpRequest(0x23));
    sim.sntp(DeviceB, sntpRequest(0x23));
    QTRY_COMPARE(sim.eventsOf("sntp").size(), 2);
    QTRY_COMPARE(sim.sntpAnswers.size(), 1);
    QCOMPARE(sim.sntpAnswers.constFirst().senderAddress(), QHostAddress(DeviceB));

    QSet<QString> logged;
    for (const QJsonObject &event : sim.eventsOf("sntp")) {
        logged.insert(event.value(QLatin1String("device")).toString() + QLatin1Char(':')
                      + (event.value(QLatin1String("answered")).toBool()
                             ? QStringLiteral("answered")
                             : event.value(QLatin1String("reason")).toString()));
    }
    QCOMPARE(logged,
             (QSet<QString> { QStringLiteral("A:SNTP off"), QStringLiteral("C:answered") }));

    // --sntp-port 0 serves no SNTP at all.
    SimulatorRun unserved;
    unserved.start({ QStringLiteral("--sntp-port"), QStringLiteral("0"), QStringLiteral("--device"),
                     QStringLiteral("name=A,ip=127.0.0.2,ntp=1") });
    QVERIFY(unserved.waitUntilReady());
    QCOMPARE(unserved.eventsOf("ready").constFirst().value(QLatin1String("sntp_addresses")).toInt(),
             0);
}

void TestDeviceSim::sntpFollowsSetTimeAndDelay()
{
    SimulatorRun sim;
    sim.start({ QStringLiteral("--device"),
                QStringLiteral("name=A,ip=127.0.0.2,ntp=1,offset=100,sntp_delay=300") });
    QVERIFY(sim.waitUntilReady());

    // Set to 1000 s ago: the clock reads that second, .000, when the command arrives.
    const qint64 setTo = QDateTime::currentSecsSinceEpoch() - 1000;
    QByteArray seconds(4, '\0');
    qToLittleEndian(quint32(setTo), seconds.data());
    sim.command(DeviceA, masked(QByteArrayLiteral("sttime") + seconds));
    QTRY_COMPARE(sim.eventsOf("command").size(), 1);

    QElapsedTimer waited;
    waited.start();
    const double sentAt = nowSeconds();
    sim.sntp(DeviceA, sntpRequest(0x23));
    QTRY_COMPARE(sim.sntpAnswers.size(), 1);
    QVERIFY2(waited.elapsed() >= 300, qPrintable(QString::number(waited.elapsed())));
    const QByteArray answer = sim.sntpAnswers.constFirst().data();
    const double receive = unixSecondsOf(answer.mid(32, 8));
    const double transmit = unixSecondsOf(answer.mid(40, 8));
    // The device held the request for its delay, and its clock is 1000 s (and under a second
    // more, the part of the second the command left out) behind.
    QVERIFY2(transmit - receive >= 0.3, qPrintable(QString::number(transmit - receive)));
    const double offset = receive - sentAt;
    QVERIFY2(offset > -1001.05 && offset < -999.95, qPrintable(QString::number(offset, 'f', 3)));
    QCOMPARE(sim.eventsOf("sntp").constFirst().value(QLatin1String("delay_ms")).toInt(), 300);
}

QTEST_GUILESS_MAIN(TestDeviceSim)
#include "tst_devicesim.moc"
