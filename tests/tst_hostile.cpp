#include "netcounters.h"
#include "scanwindow.h"
#include "segment.h"
#include "simulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>

#include <optional>

namespace {

// The device namespace's own address: floods leave from there, as from a rogue device.
QString floodSource()
{
    return Segment::words("VSEG_DEVICE_HOSTS").value(0);
}

// tools/flooder, run in the device namespace of the segment.
class Flooder
{
public:
    bool start(const QStringList &arguments)
    {
        const QString program = QString::fromLocal8Bit(qgetenv("FLOODER"));
        const QString ns = Segment::deviceNamespaces().value(0);
        if (program.isEmpty() || ns.isEmpty())
            return false;
        process.start(QStringLiteral("ip"), QStringList { QStringLiteral("netns"), QStringLiteral("exec"), ns,
                                                          program, QStringLiteral("--bind"), floodSource() }
                                                    + arguments);
        return process.waitForStarted(5000);
    }

    // Waits, serving events, for the flood to end and returns its summary.
    std::optional<QJsonObject> summary(int timeout = 30000)
    {
        if (!QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; }, timeout))
            return std::nullopt;
        const QJsonDocument document = QJsonDocument::fromJson(process.readAllStandardOutput());
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || !document.isObject())
            return std::nullopt;
        return document.object();
    }

    QByteArray errors() { return process.readAllStandardError(); }
    int exitCode() const { return process.exitCode(); }

private:
    QProcess process;
};

qint64 sent(const QJsonObject &summary, const char *kind)
{
    return summary.value(QLatin1String("sent")).toObject().value(QLatin1String(kind)).toInteger();
}


// Datagrams that reached the workstation but never its sockets: dropped for a full receive
// buffer, or max-size ones whose fragments could not all be put together.
qint64 lostDatagrams()
{
    return netCounter(QStringLiteral("Udp"), QStringLiteral("RcvbufErrors"))
            + netCounter(QStringLiteral("Ip"), QStringLiteral("ReasmFails"));
}

int received(const ScanWindow &ui)
{
    return ui.receiveLabel->text().section(QLatin1Char(' '), -1).toInt();
}

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Ticks every 10 ms on the test's thread, which is the window's; the longest gap between two
// ticks tells how long the window could not serve events.
class TickWatch
{
public:
    TickWatch()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] {
            worstGapMs = qMax(worstGapMs, clock.restart());
            ++ticks;
        });
        clock.start();
        timer.start(10);
    }

    qint64 worstGapMs = 0;
    int ticks = 0;

private:
    QTimer timer;
    QElapsedTimer clock;
};

const QStringList realDevices { QStringLiteral("REAL-ONE"), QStringLiteral("REAL-TWO"),
                                QStringLiteral("REAL-THREE") };

QStringList realDeviceArguments()
{
    QStringList arguments;
    for (int i = 0; i < realDevices.size(); ++i)
        arguments << QStringLiteral("--device")
                  << QStringLiteral("name=%1,ip=%2,serial=%3,uptime=40")
                             .arg(realDevices.at(i), Segment::deviceAddress(1, i))
                             .arg(7001 + i);
    return arguments;
}

QStringList realTitles()
{
    QStringList titles;
    for (int i = 0; i < realDevices.size(); ++i)
        titles.append(deviceTitle(realDevices.at(i), Segment::deviceAddress(1, i)));
    return titles;
}

// Devices that exist only as replies replayed by the flooder; 10.77.200.x is no device address.
const QStringList fakeDevices { QStringLiteral("name=FAKE-1,ip=10.77.200.1,serial=900001,uptime=3"),
                              QStringLiteral("name=FAKE-2,ip=10.77.200.2,serial=900002,uptime=5") };

QStringList fakeArguments()
{
    QStringList arguments;
    for (const QString &fields : fakeDevices)
        arguments << QStringLiteral("--device") << fields;
    return arguments;
}

QStringList fakeTitles()
{
    return { deviceTitle(QStringLiteral("FAKE-1"), QStringLiteral("10.77.200.1")),
             deviceTitle(QStringLiteral("FAKE-2"), QStringLiteral("10.77.200.2")) };
}

} // namespace

// Hostile traffic on the reply port while real (simulated) devices answer a scan: the window
// must list every device once, make no row of what is not a full reply, and keep running.
class tst_Hostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void flooderSendsWhatItCounts();
    void flooderRefusesUnboundedFloods_data();
    void flooderRefusesUnboundedFloods();
    void scanDuringFlood_data();
    void scanDuringFlood();
};

void tst_Hostile::initTestCase()
{
    REQUIRE_SEGMENT();
    QVERIFY2(!qEnvironmentVariableIsEmpty("FLOODER"), "FLOODER must name the flooder program");
    QVERIFY(!floodSource().isEmpty());
}

// The flood tests count on the flooder's summary, so it is checked against what arrives.
void tst_Hostile::flooderSendsWhatItCounts()
{
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress::AnyIPv4, 7801));
    receiver.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 * 1024 * 1024);
    QList<QByteArray> datagrams;
    connect(&receiver, &QUdpSocket::readyRead, &receiver, [&] {
        while (receiver.hasPendingDatagrams())
            datagrams.append(receiver.receiveDatagram().data());
    });

    Flooder flooder;
    QVERIFY(flooder.start({ "--port", "7801", "--count", "600", "--duration", "1", "--mix",
                            "empty=1,short=1,63=1,65=1,max=1,random=1,replay=1", "--random-max", "100",
                            "--device", fakeDevices.first() }));
    const std::optional<QJsonObject> summary = flooder.summary();
    QVERIFY2(summary, flooder.errors().constData());
    QCOMPARE(summary->value(QLatin1String("sent_total")).toInteger(), 600);
    QCOMPARE(summary->value(QLatin1String("send_errors")).toInteger(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(datagrams.size(), 600, 5000);

    // The fake device's reply as the tool's wire layout has it, scrambled.
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

    qint64 empty = 0, shortOnes = 0, length63 = 0, length64 = 0, length65 = 0, maxSize = 0, other = 0;
    qint64 replays = 0;
    for (const QByteArray &datagram : std::as_const(datagrams)) {
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
    const qint64 random = sent(*summary, "random");
    // Random ones may have any of the lengths up to 100; the others have theirs exactly.
    QCOMPARE(maxSize, sent(*summary, "max"));
    QCOMPARE(replays, sent(*summary, "replay"));
    QVERIFY(replays > 0);
    QCOMPARE(empty + shortOnes + length63 + length64 + length65 + other, 600 - maxSize);
    QVERIFY(empty >= sent(*summary, "empty") && empty <= sent(*summary, "empty") + random);
    QVERIFY(shortOnes >= sent(*summary, "short") && shortOnes <= sent(*summary, "short") + random);
    QVERIFY(length63 >= sent(*summary, "63") && length63 <= sent(*summary, "63") + random);
    QVERIFY(length65 >= sent(*summary, "65") && length65 <= sent(*summary, "65") + random);
    QCOMPARE(length64 - replays + length65 - sent(*summary, "65") + other,
             summary->value(QLatin1String("random_64_or_more")).toInteger());
    QCOMPARE(summary->value(QLatin1String("full_size_junk")).toInteger(),
             sent(*summary, "65") + sent(*summary, "max")
                     + summary->value(QLatin1String("random_64_or_more")).toInteger());
}

void tst_Hostile::flooderRefusesUnboundedFloods_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("too many") << QStringList { "--count", "1000001" };
    QTest::newRow("too long") << QStringList { "--duration", "61" };
    QTest::newRow("replay with nothing to replay") << QStringList { "--mix", "replay=1" };
    QTest::newRow("datagram larger than UDP allows") << QStringList { "--random-max", "65508" };
    QTest::newRow("no kind to send") << QStringList { "--mix", "empty=0" };
}

void tst_Hostile::flooderRefusesUnboundedFloods()
{
    QFETCH(QStringList, arguments);
    const qint64 before = netCounter(QStringLiteral("Udp"), QStringLiteral("InDatagrams"));
    Flooder flooder;
    QVERIFY(flooder.start(arguments << "--port" << "7801"));
    QVERIFY(!flooder.summary(10000));
    QCOMPARE(flooder.exitCode(), 2);
    QTest::qWait(200);
    QCOMPARE(netCounter(QStringLiteral("Udp"), QStringLiteral("InDatagrams")), before);
}

void tst_Hostile::scanDuringFlood_data()
{
    QTest::addColumn<QStringList>("flood");
    QTest::addColumn<bool>("fakes");

    // The tool makes a row of any datagram of 64 bytes or more, so junk of that size is
    // listed by design; what must never make a row is anything shorter.
    QTest::newRow("junk shorter than a reply")
            << QStringList { "--count", "5000", "--duration", "4", "--mix",
                             "empty=1,short=4,63=1,random=2", "--random-max", "63" }
            << false;
    QTest::newRow("replayed replies among short junk")
            << (QStringList { "--count", "5000", "--duration", "4", "--mix",
                              "empty=1,short=4,63=1,replay=2" }
                + fakeArguments())
            << true;
    QTest::newRow("full-size junk")
            << QStringList { "--count", "300", "--duration", "4", "--mix", "65=4,max=1,random=4" }
            << false;
    QTest::newRow("every kind")
            << (QStringList { "--count", "3000", "--duration", "4", "--mix",
                              "empty=100,short=400,63=100,65=10,max=2,random=10,replay=95" }
                + fakeArguments())
            << true;
}

void tst_Hostile::scanDuringFlood()
{
    QFETCH(QStringList, flood);
    QFETCH(bool, fakes);

    Simulator simulator;
    QVERIFY2(simulator.start(realDeviceArguments()), simulator.errors().constData());
    ScanWindow ui;
    QVERIFY(ui.complete());
    const qint64 lostBefore = lostDatagrams();
    const qint64 residentBefore = residentKb();

    TickWatch ticks;
    ui.clickScan();
    Flooder flooder;
    QVERIFY(flooder.start(flood << "--seed" << "7"));
    QVERIFY(ui.waitUntilIdle(20000));
    QCOMPARE(ui.progress->value(), 5);
    QCOMPARE(ui.stateLabel->text(), QStringLiteral("Ready to scan"));
    const std::optional<QJsonObject> summary = flooder.summary();
    QVERIFY2(summary, flooder.errors().constData());
    QCOMPARE(summary->value(QLatin1String("send_errors")).toInteger(), 0);

    // Everything that arrived is read, after the scan too: the window never stops reading.
    QVERIFY(simulator.waitForCount(QStringLiteral("reply"), 15, 5000));
    const qint64 arrived = summary->value(QLatin1String("sent_total")).toInteger() + 15;
    QTRY_VERIFY_WITH_TIMEOUT(received(ui) + (lostDatagrams() - lostBefore) >= arrived, 30000);
    QTest::qWait(200);
    const qint64 lost = lostDatagrams() - lostBefore;
    QVERIFY(received(ui) <= arrived);
    if (lost == 0)
        QCOMPARE(received(ui), arrived);
    else
        qWarning("the kernel dropped %lld datagrams; rows from junk are only bounded", lost);

    const QStringList rows = ui.rows();
    QStringList junkRows = rows;
    for (const QString &title : realTitles()) {
        QCOMPARE(rows.count(title), 1);
        junkRows.removeAll(title);
    }
    if (fakes) {
        QVERIFY(sent(*summary, "replay") > 0);
        for (const QString &title : fakeTitles()) {
            QCOMPARE(rows.count(title), 1);
            junkRows.removeAll(title);
        }
    }
    // Every junk datagram of reply size makes one row (the seed gives them distinct
    // signatures); none shorter makes any.
    const qint64 fullSizeJunk = summary->value(QLatin1String("full_size_junk")).toInteger();
    QVERIFY(junkRows.size() <= fullSizeJunk);
    if (lost == 0)
        QCOMPARE(junkRows.size(), fullSizeJunk);
    const QRegularExpression junkTitle(QStringLiteral("^[\\x{0}-\\x{ff}]{13}@(\\d{1,3}\\.){3}\\d{1,3}$"));
    for (const QString &row : std::as_const(junkRows))
        QVERIFY2(junkTitle.match(row).hasMatch(), qPrintable(row));

    qInfo("read %d datagrams, %lld lost; %lld rows (%lld from junk); worst 10 ms tick gap %lld ms "
          "over %d ticks; resident memory %lld -> %lld KiB",
          received(ui), lost, qint64(rows.size()), qint64(junkRows.size()), ticks.worstGapMs,
          ticks.ticks, residentBefore, residentKb());

    // The window still scans normally once the flood is over.
    ui.clickScan();
    QTRY_COMPARE_WITH_TIMEOUT(ui.list->count(), realTitles().size(), 3000);
    ui.clickScan();
    QCOMPARE(ui.rows(), realTitles());
}

QTEST_MAIN(tst_Hostile)
#include "tst_hostile.moc"
