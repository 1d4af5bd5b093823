// The product's SNTP client against three servers: chronyd, a real NTP server run in a device
// namespace of the virtual segment with a configuration of the test's own (local clock, no
// upstream servers, never touching the clock); the simulated devices; and a hostile server in
// this test that answers every way an answer can be wrong.

#include "deviceprotocol.h"
#include "segment.h"
#include "simulatorprocess.h"
#include "sntpquery.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtEndian>

#include <cmath>

namespace {

// Runs one query to its end and checks that it ends once, never from inside start(). The time
// from start() to finished(), as this side saw it, goes to `tookSeconds`.
SntpQuery::Result query(const QHostAddress &server, quint16 port, int timeoutMs, int retries,
                        const QHostAddress &from = QHostAddress(), double *tookSeconds = nullptr)
{
    SntpQuery query;
    QSignalSpy finished(&query, &SntpQuery::finished);
    QElapsedTimer clock;
    clock.start();
    query.start(server, port, from, timeoutMs, retries);
    if (!finished.isEmpty()) {
        qWarning("finished() came from inside start()");
        return {};
    }
    if (!finished.wait(timeoutMs * (retries + 1) + 5000)) {
        qWarning("finished() never came");
        return {};
    }
    if (tookSeconds)
        *tookSeconds = clock.nsecsElapsed() / 1e9;
    return finished.constFirst().constFirst().value<SntpQuery::Result>();
}

// Every server here reads the same clock as the client, so an offset is the server's own one
// but for what one exchange cannot tell apart: a reply held up on its way back looks like a
// server clock running behind. So up to half the round trip (tenths of a second on a busy
// machine), and the millisecond the servers' timestamps are rounded to.
bool offsetWithin(const SntpQuery::Result &result, double serverOffset)
{
    return std::fabs(result.offsetSeconds - serverOffset) <= result.delaySeconds / 2 + 0.002;
}

QString describe(const SntpQuery::Result &result)
{
    return QStringLiteral("answered %1, error \"%2\", offset %3 s, delay %4 s, stratum %5, "
                          "leap %6, version %7, reference %8, attempts %9")
        .arg(result.answered)
        .arg(result.error)
        .arg(result.offsetSeconds, 0, 'f', 6)
        .arg(result.delaySeconds, 0, 'f', 6)
        .arg(result.stratum)
        .arg(result.leap)
        .arg(result.version)
        .arg(result.referenceId)
        .arg(result.attempts);
}

// Our clock as an NTP timestamp (seconds since 1900 . binary fraction), to the millisecond.
quint64 ntpNow()
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    return quint64(ms / 1000 + 2208988800LL) << 32 | (quint64(ms % 1000) << 32) / 1000;
}

// What a hostile server does with each request it gets.
enum class Hostile {
    Honest,
    Short,
    ShortThenHonest,
    Empty,
    Long,
    ClientMode,
    VersionZero,
    Version2,
    Version3,
    ReceiveAfterTransmit,
    ZeroTransmit,
    KissRate,
    WrongOriginate,
    FromAnotherPort,
    Noise,
    Silent,
    StaleThenHonest,
    SilentFirst,
    Stratum16,
    Leap3,
};

// A server on the workstation's loopback that answers as told.
class HostileServer : public QObject
{
public:
    explicit HostileServer(Hostile behaviour)
        : behaviour(behaviour)
    {
        socket.bind(QHostAddress::LocalHost, 0);
        other.bind(QHostAddress::LocalHost, 0);
        connect(&socket, &QUdpSocket::readyRead, this, &HostileServer::answer);
    }

    quint16 port() const { return socket.localPort(); }

    int requests = 0;

private:
    // An honest answer: version 4 server, stratum 2 with its source's address, our time.
    static QByteArray honest(const QByteArray &request)
    {
        QByteArray answer(48, '\0');
        answer[0] = char(0x24);
        answer[1] = 2;
        answer[2] = request.at(2);
        answer[3] = char(-20);
        answer.replace(12, 4, QByteArray::fromHex("0a4d00fe")); // 10.77.0.254
        QByteArray now(8, '\0');
        qToBigEndian(ntpNow(), now.data());
        answer.replace(16, 8, now);
        answer.replace(24, 8, request.mid(40, 8));
        answer.replace(32, 8, now);
        answer.replace(40, 8, now);
        return answer;
    }

    void answer()
    {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram request = socket.receiveDatagram();
            ++requests;
            if (request.data().size() != 48)
                continue;
            QByteArray reply = honest(request.data());
            QUdpSocket *from = &socket;
            switch (behaviour) {
            case Hostile::Honest:
                break;
            case Hostile::Short:
                reply.truncate(20);
                break;
            case Hostile::ShortThenHonest:
                socket.writeDatagram(reply.left(20), request.senderAddress(), request.senderPort());
                break;
            case Hostile::Empty:
                reply.clear();
                break;
            case Hostile::Long: // an extension field after the answer
                reply.append(QByteArray::fromHex("000100100000000000000000"));
                break;
            case Hostile::ClientMode:
                reply[0] = char(0x23);
                break;
            case Hostile::VersionZero:
                reply[0] = char(0x04);
                break;
            case Hostile::Version2:
                reply[0] = char(0x14);
                break;
            case Hostile::Version3:
                reply[0] = char(0x1c);
                break;
            case Hostile::ReceiveAfterTransmit: {
                QByteArray later(8, '\0');
                qToBigEndian(ntpNow() + (quint64(1) << 32), later.data());
                reply.replace(32, 8, later);
                break;
            }
            case Hostile::ZeroTransmit:
                reply.replace(40, 8, QByteArray(8, '\0'));
                break;
            case Hostile::KissRate:
                reply[1] = 0;
                reply.replace(12, 4, "RATE");
                break;
            case Hostile::WrongOriginate:
                reply[31] = char(reply.at(31) ^ 1);
                break;
            case Hostile::FromAnotherPort:
                from = &other;
                break;
            case Hostile::Noise:
                reply.fill('\xff');
                break;
            case Hostile::Silent:
                continue;
            case Hostile::StaleThenHonest: {
                QByteArray stale = reply;
                stale.replace(24, 8, QByteArray::fromHex("e000000012345678"));
                socket.writeDatagram(stale, request.senderAddress(), request.senderPort());
                break;
            }
            case Hostile::SilentFirst:
                if (requests == 1)
                    continue;
                break;
            case Hostile::Stratum16:
                reply[1] = 16;
                break;
            case Hostile::Leap3:
                reply[0] = char(0xe4);
                break;
            }
            from->writeDatagram(reply, request.senderAddress(), request.senderPort());
        }
    }

    Hostile behaviour;
    QUdpSocket socket;
    QUdpSocket other;
};

// Device i of the simulated segment, for the rows of againstSimulator().
const char *const simulatedDevices[] = {
    "name=ON-TIME,ntp=1",
    "name=AHEAD,ntp=1,offset=30.5",
    "name=BEHIND,ntp=1,offset=-3600",
    "name=UNSYNCED,ntp=1,stratum=16,leap=3",
    "name=LEAP3,ntp=1,leap=3",
    "name=KISSING,ntp=1,kiss=RATE",
    "name=NO-NTP,ntp=0",
    "name=NO-SNTP,ntp=1,sntp=0",
    "name=SLOW,ntp=1,sntp_delay=450",
    "name=TOO-SLOW,ntp=1,sntp_delay=1000",
    "name=SET-ME,ntp=1,offset=5",
};
constexpr int setMeDevice = 10;
// After the simulated devices above: one whose clock lies an hour past the end of the first NTP
// era, 2036-02-07 06:28:16 UTC, when the 32 bits of NTP seconds wrap.
constexpr int pastEraDevice = int(std::size(simulatedDevices));
constexpr qint64 eraEnd = 2085978496; // Unix seconds

// The NTP timestamp of a Unix time: seconds modulo the era, binary fraction.
quint64 ntpStamp(double unixSeconds)
{
    const double whole = std::floor(unixSeconds);
    return (quint64(qint64(whole) + 2208988800LL) & 0xFFFFFFFFu) << 32
        | quint64((unixSeconds - whole) * 4294967296.0);
}

} // namespace

class tst_SntpQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hostileServer_data();
    void hostileServer();
    void refusedStarts_data();
    void refusedStarts();
    void againstChrony();
    void againstSimulator_data();
    void againstSimulator();
    void setTimeMovesTheDeviceClock();
    void eraArithmetic_data();
    void eraArithmetic();

private:
    SimulatorProcess simulator;
    double pastEraOffset = 0; // of the device past the era's end
};

void tst_SntpQuery::initTestCase()
{
    REQUIRE_SEGMENT();
    QStringList arguments;
    for (int i = 0; i < int(std::size(simulatedDevices)); ++i)
        arguments << QStringLiteral("--device")
                  << QStringLiteral("%1,ip=%2")
                         .arg(QLatin1String(simulatedDevices[i]), Segment::deviceAddress(1, i));
    pastEraOffset = double(eraEnd + 3600) - double(QDateTime::currentMSecsSinceEpoch()) / 1000;
    arguments << QStringLiteral("--device")
              << QStringLiteral("name=PAST-2036,ntp=1,offset=%1,ip=%2")
                     .arg(pastEraOffset, 0, 'f', 3)
                     .arg(Segment::deviceAddress(1, pastEraDevice));
    QVERIFY2(simulator.start(arguments), simulator.errors().constData());
}

void tst_SntpQuery::hostileServer_data()
{
    QTest::addColumn<Hostile>("behaviour");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("synchronised");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<QString>("error");

    QTest::newRow("honest") << Hostile::Honest << true << true << 1 << QString();
    // Too short to carry our transmit time: not an answer, whoever sent it.
    QTest::newRow("20 bytes") << Hostile::Short << false << false << 2
                              << QStringLiteral("no answer after 2 tries (2 ignored");
    QTest::newRow("empty") << Hostile::Empty << false << false << 2
                           << QStringLiteral("no answer after 2 tries (2 ignored");
    QTest::newRow("20 bytes, then ours")
        << Hostile::ShortThenHonest << true << true << 1 << QString();
    QTest::newRow("extension field after 48 bytes")
        << Hostile::Long << true << true << 1 << QString();
    QTest::newRow("client mode") << Hostile::ClientMode << false << false << 1
                                 << QStringLiteral("not a server answer (mode 3)");
    QTest::newRow("version 0") << Hostile::VersionZero << false << false << 1
                               << QStringLiteral("answer of NTP version 0");
    QTest::newRow("version 2") << Hostile::Version2 << false << false << 1
                               << QStringLiteral("answer of NTP version 2");
    QTest::newRow("version 3") << Hostile::Version3 << true << true << 1 << QString();
    QTest::newRow("received after it was sent")
        << Hostile::ReceiveAfterTransmit << false << false << 1
        << QStringLiteral("receive time after transmit time");
    QTest::newRow("zero transmit time")
        << Hostile::ZeroTransmit << false << false << 1 << QStringLiteral("zero transmit time");
    QTest::newRow("kiss-of-death")
        << Hostile::KissRate << false << false << 1 << QStringLiteral("kiss-of-death RATE");
    // Answers that answer none of our requests are ignored; the query waits on and retries.
    QTest::newRow("wrong originate") << Hostile::WrongOriginate << false << false << 2
                                     << QStringLiteral("no answer after 2 tries");
    QTest::newRow("from another port") << Hostile::FromAnotherPort << false << false << 2
                                       << QStringLiteral("no answer after 2 tries");
    QTest::newRow("48 bytes of noise")
        << Hostile::Noise << false << false << 2 << QStringLiteral("no answer after 2 tries");
    QTest::newRow("silence") << Hostile::Silent << false << false << 2
                             << QStringLiteral("no answer after 2 tries");
    QTest::newRow("stale answer, then ours")
        << Hostile::StaleThenHonest << true << true << 1 << QString();
    QTest::newRow("answers the second try")
        << Hostile::SilentFirst << true << true << 2 << QString();
    // Answered, but the server says its time is not to be trusted.
    QTest::newRow("stratum 16") << Hostile::Stratum16 << true << false << 1
                                << QStringLiteral("stratum 16: not synchronised");
    QTest::newRow("leap indicator 3") << Hostile::Leap3 << true << false << 1
                                      << QStringLiteral("leap indicator 3: not synchronised");
}

void tst_SntpQuery::hostileServer()
{
    QFETCH(Hostile, behaviour);
    QFETCH(bool, answered);
    QFETCH(bool, synchronised);
    QFETCH(int, attempts);
    QFETCH(QString, error);

    HostileServer server(behaviour);
    const SntpQuery::Result result = query(QHostAddress::LocalHost, server.port(), 300, 1);
    QVERIFY2(result.answered == answered && result.synchronised() == synchronised
                 && result.attempts == attempts && result.error.startsWith(error)
                 && (!error.isEmpty() || result.error.isEmpty()),
             qPrintable(describe(result)));
    QCOMPARE(server.requests, attempts);
    if (answered) {
        // The honest part of every answer: our own clock, from the server's source.
        QVERIFY2(offsetWithin(result, 0), qPrintable(describe(result)));
        QCOMPARE(result.referenceId, QStringLiteral("10.77.0.254"));
        QCOMPARE(result.version, behaviour == Hostile::Version3 ? 3 : 4);
    }
    if (behaviour == Hostile::KissRate) {
        QCOMPARE(result.stratum, 0);
        QCOMPARE(result.referenceId, QStringLiteral("RATE"));
    }
}

void tst_SntpQuery::refusedStarts_data()
{
    QTest::addColumn<QHostAddress>("server");
    QTest::addColumn<QHostAddress>("from");
    QTest::addColumn<QString>("error");

    QTest::newRow("no server") << QHostAddress() << QHostAddress()
                               << QStringLiteral("no server address");
    // Reserved for documentation, never an address of this machine.
    QTest::newRow("from an address not ours")
        << QHostAddress(QHostAddress::LocalHost) << QHostAddress(QStringLiteral("192.0.2.1"))
        << QStringLiteral("cannot send from 192.0.2.1");
}

void tst_SntpQuery::refusedStarts()
{
    QFETCH(QHostAddress, server);
    QFETCH(QHostAddress, from);
    QFETCH(QString, error);

    const SntpQuery::Result result = query(server, 123, 300, 1, from);
    QVERIFY2(!result.answered && result.error.startsWith(error) && result.attempts == 0,
             qPrintable(describe(result)));
}

void tst_SntpQuery::againstChrony()
{
    // scripts/setup-deps unpacks chrony's package there rather than install its service.
    const QString chronyd = qEnvironmentVariable(
        "CHRONYD", QStringLiteral("/var/cache/setuptool/chrony/usr/sbin/chronyd"));
    QVERIFY2(QFileInfo(chronyd).isExecutable(),
             qPrintable(chronyd + QStringLiteral(" is missing; scripts/setup-deps unpacks it")));
    // The device namespace's own address, where no simulated device answers.
    const QString address = Segment::words("VSEG_DEVICE_HOSTS").constFirst();

    // Its own clock only (local), no upstream server, no command sockets, every file in the
    // temporary folder: nothing it does leaves the namespace or meets another chronyd.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile config(folder.filePath(QStringLiteral("chrony.conf")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("local stratum 8\n"
                                "allow\n"
                                "bindaddress %1\n"
                                "port 123\n"
                                "cmdport 0\n"
                                "bindcmdaddress /\n"
                                "pidfile %2\n")
                     .arg(address, folder.filePath(QStringLiteral("chronyd.pid")))
                     .toUtf8());
    config.close();
    QProcess chrony;
    chrony.setProcessChannelMode(QProcess::MergedChannels);
    // -x: it never sets the clock, which the namespaces share with the machine. -u root: it
    // keeps the test's user instead of dropping to _chrony, a user only chrony's install script
    // makes (the package is unpacked, not installed, so that user may not exist).
    chrony.start(QStringLiteral("ip"),
                 { QStringLiteral("netns"), QStringLiteral("exec"),
                   Segment::deviceNamespaces().constFirst(), chronyd, QStringLiteral("-f"),
                   config.fileName(), QStringLiteral("-d"), QStringLiteral("-x"),
                   QStringLiteral("-u"), QStringLiteral("root") });
    QVERIFY(chrony.waitForStarted());

    // It answers once it has read its configuration and bound its socket.
    SntpQuery::Result result;
    double tookSeconds = 0;
    const bool answered = QTest::qWaitFor(
        [&] {
            result = query(QHostAddress(address), 123, 300, 0, QHostAddress(), &tookSeconds);
            return result.answered || chrony.state() != QProcess::Running;
        },
        15000);
    chrony.terminate();
    chrony.waitForFinished(5000);
    const QByteArray log = chrony.readAll();
    QVERIFY2(answered && result.answered, qPrintable(describe(result) + "\n" + log));

    qInfo("chronyd: %s", qPrintable(describe(result)));
    QVERIFY2(result.synchronised() && result.error.isEmpty(), qPrintable(describe(result)));
    QCOMPARE(result.stratum, 8);
    QCOMPARE(result.version, 4);
    QCOMPARE(result.leap, 0);
    QCOMPARE(result.attempts, 1);
    // Same clock on both sides, a virtual link between them; the round trip is at most what
    // this side measured around the whole query.
    QVERIFY2(offsetWithin(result, 0), qPrintable(describe(result)));
    QVERIFY2(result.delaySeconds >= 0 && result.delaySeconds <= tookSeconds,
             qPrintable(describe(result) + QStringLiteral(", query took %1 s").arg(tookSeconds)));
}

void tst_SntpQuery::againstSimulator_data()
{
    QTest::addColumn<int>("device");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("synchronised");
    QTest::addColumn<double>("offset");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<QString>("error");

    QTest::newRow("on time") << 0 << 500 << true << true << 0.0 << 1 << QString();
    QTest::newRow("30.5 s ahead") << 1 << 500 << true << true << 30.5 << 1 << QString();
    QTest::newRow("an hour behind") << 2 << 500 << true << true << -3600.0 << 1 << QString();
    QTest::newRow("stratum 16, leap 3")
        << 3 << 500 << true << false << 0.0 << 1 << QStringLiteral("stratum 16: not synchronised");
    QTest::newRow("leap 3") << 4 << 500 << true << false << 0.0 << 1
                            << QStringLiteral("leap indicator 3: not synchronised");
    QTest::newRow("kiss-of-death")
        << 5 << 500 << false << false << 0.0 << 1 << QStringLiteral("kiss-of-death RATE");
    QTest::newRow("NTP off") << 6 << 300 << false << false << 0.0 << 2
                             << QStringLiteral("no answer after 2 tries");
    QTest::newRow("SNTP off") << 7 << 300 << false << false << 0.0 << 2
                              << QStringLiteral("no answer after 2 tries");
    // The answer to the first try arrives after the second went out, and still counts.
    QTest::newRow("late answer to the first try")
        << 8 << 300 << true << true << 0.0 << 2 << QString();
    QTest::newRow("too late for both tries")
        << 9 << 300 << false << false << 0.0 << 2 << QStringLiteral("no answer after 2 tries");
    QTest::newRow("past the NTP era") << pastEraDevice << 500 << true << true
                                      << std::round(pastEraOffset * 1000) / 1000 << 1 << QString();
}

void tst_SntpQuery::againstSimulator()
{
    QFETCH(int, device);
    QFETCH(int, timeoutMs);
    QFETCH(bool, answered);
    QFETCH(bool, synchronised);
    QFETCH(double, offset);
    QFETCH(int, attempts);
    QFETCH(QString, error);

    const QHostAddress workstation = Segment::workstationAddresses().constFirst();
    double tookSeconds = 0;
    const SntpQuery::Result result = query(QHostAddress(Segment::deviceAddress(1, device)), 123,
                                           timeoutMs, 1, workstation, &tookSeconds);
    QVERIFY2(result.answered == answered && result.synchronised() == synchronised
                 && result.attempts == attempts && result.error.startsWith(error)
                 && (!error.isEmpty() || result.error.isEmpty()),
             qPrintable(describe(result)));
    if (answered) {
        QVERIFY2(offsetWithin(result, offset), qPrintable(describe(result)));
        QVERIFY2(
            result.delaySeconds >= 0 && result.delaySeconds <= tookSeconds,
            qPrintable(describe(result) + QStringLiteral(", query took %1 s").arg(tookSeconds)));
    }
}

void tst_SntpQuery::setTimeMovesTheDeviceClock()
{
    // What a technician's check after Set Time sees: the device two hours behind, as told.
    const QHostAddress device(Segment::deviceAddress(1, setMeDevice));
    QUdpSocket sender;
    QVERIFY(sender.bind(Segment::workstationAddresses().constFirst(), 0));
    const qint64 setTo = QDateTime::currentSecsSinceEpoch() - 7200;
    const QByteArray command = DeviceProtocol::setTimeCommand(setTo);
    QCOMPARE(sender.writeDatagram(command, device, DeviceProtocol::devicePort), command.size());
    QVERIFY(simulator.waitFor([](const QJsonObject &event) {
        return SimulatorProcess::kind(event) == QLatin1String("command")
            && event.value(QLatin1String("device")).toString() == QLatin1String("SET-ME");
    }));

    const SntpQuery::Result result = query(device, 123, 500, 1);
    // The command carries whole seconds: the device's clock lost the fraction of the second
    // the command was sent in.
    QVERIFY2(result.synchronised() && result.offsetSeconds > -7201.05
                 && result.offsetSeconds < -7199.95,
             qPrintable(describe(result)));
}

// Answers whose times lie on both sides of the end of the first NTP era: the 32-bit seconds
// wrap to 0, and the client works with differences of timestamps, which stay right across it.
void tst_SntpQuery::eraArithmetic_data()
{
    // Unix seconds: our request sent, the server's receive and transmit, its answer arrived.
    QTest::addColumn<double>("sent");
    QTest::addColumn<double>("received");
    QTest::addColumn<double>("transmitted");
    QTest::addColumn<double>("arrived");
    QTest::addColumn<double>("offset");
    QTest::addColumn<double>("delay");
    const double end = double(eraEnd);
    QTest::newRow("server past the end, an hour ahead")
        << end - 10 << end + 3590.25 << end + 3590.5 << end - 9.25 << 3600.0 << 0.5;
    QTest::newRow("workstation past the end, server 20 s behind")
        << end + 5 << end - 14.75 << end - 14.5 << end + 5.75 << -20.0 << 0.5;
    QTest::newRow("server receives before the end and answers after it")
        << end - 1 << end - 0.5 << end + 0.5 << end + 1 << 0.0 << 1.0;
    QTest::newRow("both past the end") << end + 7 << end + 12 << end + 12 << end + 7 << 5.0 << 0.0;
    // A workstation of today and a device ten years ahead: no era of theirs is the same.
    QTest::newRow("server ten years ahead")
        << 1.8e9 << 1.8e9 + 315576000.5 << 1.8e9 + 315576000.5 << 1.8e9 + 1 << 315576000.0 << 1.0;
}

void tst_SntpQuery::eraArithmetic()
{
    QFETCH(double, sent);
    QFETCH(double, received);
    QFETCH(double, transmitted);
    QFETCH(double, arrived);
    QFETCH(double, offset);
    QFETCH(double, delay);
    const SntpQuery::Sent request { ntpStamp(sent) | 0x1234, ntpStamp(sent) };
    QByteArray answer(48, '\0');
    answer[0] = char(0x24); // no leap warning, version 4, server
    answer[1] = 1;
    qToBigEndian(request.stamp, answer.data() + 24);
    qToBigEndian(ntpStamp(received), answer.data() + 32);
    qToBigEndian(ntpStamp(transmitted), answer.data() + 40);
    const std::optional<SntpQuery::Result> result
        = SntpQuery::judge(answer, { request }, ntpStamp(arrived));
    QVERIFY(result);
    QVERIFY2(result->synchronised() && result->error.isEmpty()
                 && std::fabs(result->offsetSeconds - offset) < 1e-6
                 && std::fabs(result->delaySeconds - delay) < 1e-6,
             qPrintable(describe(*result)));
}

QTEST_GUILESS_MAIN(tst_SntpQuery)
#include "tst_sntpquery.moc"
