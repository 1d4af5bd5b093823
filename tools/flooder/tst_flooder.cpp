// Drives the built flooder over loopback only: it sends from and to 127.0.0.1, on a port the
// test has just taken, so nothing leaves this machine's loopback interface.

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>

#include <optional>

namespace {

const QString fakeDevice = QStringLiteral("name=FAKE-1,ip=10.77.200.1,serial=900001,uptime=3");

// FAKE-1's reply as the tool's wire layout has it, scrambled.
QByteArray fakeReply()
{
    QByteArray reply(64, '\0');
    reply.replace(0, 6, "FAKE-1");
    const char address[] = { 10, 77, char(200), 1 };
    reply.replace(14, 4, address, 4);
    reply.replace(19, 4, address, 4);
    reply[23] = 3; // uptime, little-endian
    reply[31] = char(900001 & 0xFF);
    reply[32] = char((900001 >> 8) & 0xFF);
    reply[33] = char(900001 >> 16);
    for (char &byte : reply)
        byte = char(byte ^ 0xA7);
    return reply;
}

// Everything that arrives on a loopback port the flood is aimed at.
class Receiver
{
public:
    Receiver()
    {
        socket.bind(QHostAddress::LocalHost, 0);
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 * 1024 * 1024);
        QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [this] {
            while (socket.hasPendingDatagrams())
                datagrams.append(socket.receiveDatagram().data());
        });
    }

    QStringList target() const
    {
        return { QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                 QStringLiteral("--to"),   QStringLiteral("127.0.0.1"),
                 QStringLiteral("--port"), QString::number(socket.localPort()) };
    }

    QUdpSocket socket;
    QList<QByteArray> datagrams;
};

struct FloodRun
{
    int exitCode = -1;
    std::optional<QJsonObject> summary;
    QByteArray errors;
};

// Runs the flooder to its end, serving events meanwhile so the receiver keeps reading.
FloodRun flood(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(FLOODER_PATH), arguments);
    FloodRun run;
    if (!process.waitForStarted(5000)
        || !QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 30000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.errors = process.readAllStandardError();
    const QJsonDocument document = QJsonDocument::fromJson(process.readAllStandardOutput());
    if (document.isObject())
        run.summary = document.object();
    return run;
}

qint64 sent(const QJsonObject &summary, const char *kind)
{
    return summary.value(QLatin1String("sent")).toObject().value(QLatin1String(kind)).toInteger();
}

} // namespace

// The flood tests of the window count on the flooder's summary, so it is checked against what
// arrives; and a mistyped command must not flood a segment.
class tst_Flooder : public QObject
{
    Q_OBJECT

private slots:
    void sendsWhatItCounts();
    void refusesBadOrUnboundedFloods_data();
    void refusesBadOrUnboundedFloods();
};

void tst_Flooder::sendsWhatItCounts()
{
    Receiver receiver;
    const FloodRun run = flood(receiver.target()
                               + QStringList { "--count", "600", "--duration", "1", "--mix",
                                               "empty=1,short=1,63=1,65=1,max=1,random=1,replay=1",
                                               "--random-max", "100", "--device", fakeDevice });
    QVERIFY2(run.summary, run.errors.constData());
    QCOMPARE(run.exitCode, 0);
    const QJsonObject &summary = *run.summary;
    QCOMPARE(summary.value(QLatin1String("sent_total")).toInteger(), 600);
    QCOMPARE(summary.value(QLatin1String("send_errors")).toInteger(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(receiver.datagrams.size(), 600, 5000);

    const QByteArray reply = fakeReply();
    qint64 empty = 0, shortOnes = 0, length63 = 0, length64 = 0, length65 = 0, maxSize = 0,
           other = 0;
    qint64 replays = 0;
    for (const QByteArray &datagram : std::as_const(receiver.datagrams)) {
        const qsizetype size = datagram.size();
        empty += size == 0;
        shortOnes += size >= 1 && size <= 62;
        length63 += size == 63;
        length64 += size == 64;
        length65 += size == 65;
        maxSize += size == 65507;
        other += size > 65 && size != 65507;
        replays += datagram == reply;
    }
    const qint64 random = sent(summary, "random");
    // Random ones may have any of the lengths up to 100; the others have theirs exactly.
    QCOMPARE(maxSize, sent(summary, "max"));
    QCOMPARE(replays, sent(summary, "replay"));
    QVERIFY(replays > 0);
    QCOMPARE(empty + shortOnes + length63 + length64 + length65 + other, 600 - maxSize);
    QVERIFY(empty >= sent(summary, "empty") && empty <= sent(summary, "empty") + random);
    QVERIFY(shortOnes >= sent(summary, "short") && shortOnes <= sent(summary, "short") + random);
    QVERIFY(length63 >= sent(summary, "63") && length63 <= sent(summary, "63") + random);
    QVERIFY(length65 >= sent(summary, "65") && length65 <= sent(summary, "65") + random);
    QCOMPARE(length64 - replays + length65 - sent(summary, "65") + other,
             summary.value(QLatin1String("random_64_or_more")).toInteger());
    QCOMPARE(summary.value(QLatin1String("full_size_junk")).toInteger(),
             sent(summary, "65") + sent(summary, "max")
                 + summary.value(QLatin1String("random_64_or_more")).toInteger());
}

void tst_Flooder::refusesBadOrUnboundedFloods_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("too many") << QStringList { "--count", "1000001" };
    QTest::newRow("too long") << QStringList { "--duration", "61" };
    QTest::newRow("replay with nothing to replay") << QStringList { "--mix", "replay=1" };
    QTest::newRow("datagram larger than UDP allows") << QStringList { "--random-max", "65508" };
    QTest::newRow("no kind to send") << QStringList { "--mix", "empty=0" };
    QTest::newRow("count is no number") << QStringList { "--count", "12x" };
    QTest::newRow("unknown option") << QStringList { "--rate", "5" };
    // Read by the companion's address rule: no shorthand, which would still mean loopback here.
    QTest::newRow("shorthand address") << QStringList { "--to", "127.1" };
}

void tst_Flooder::refusesBadOrUnboundedFloods()
{
    QFETCH(QStringList, arguments);
    Receiver receiver;
    const FloodRun run = flood(receiver.target() + arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(!run.summary);
    QVERIFY2(run.errors.startsWith("flooder: "), run.errors.constData());
    // A datagram sent before the refusal would be waiting by now.
    QVERIFY(!receiver.socket.hasPendingDatagrams() && receiver.datagrams.isEmpty());
}

QTEST_GUILESS_MAIN(tst_Flooder)
#include "tst_flooder.moc"
