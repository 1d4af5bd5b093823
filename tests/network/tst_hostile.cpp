#include "flooderprocess.h"
#include "netcounters.h"
#include "scanwindow.h"
#include "segment.h"
#include "simulatorprocess.h"
#include "waitwhile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimer>

#include <optional>

namespace {

// Datagrams that reached the workstation but never its sockets: dropped for a full receive
// buffer, or max-size ones whose fragments could not all be put together.
qint64 lostDatagrams()
{
    return netCounter(QStringLiteral("Udp"), QStringLiteral("RcvbufErrors"))
        + netCounter(QStringLiteral("Ip"), QStringLiteral("ReasmFails"));
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
                                QStringLiteral(
                                    "name=FAKE-2,ip=10.77.200.2,serial=900002,uptime=5") };

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
    void scanDuringFlood_data();
    void scanDuringFlood();
};

void tst_Hostile::initTestCase()
{
    REQUIRE_SEGMENT();
    QVERIFY2(!qEnvironmentVariableIsEmpty("FLOODER"), "FLOODER must name the flooder program");
    QVERIFY(!FlooderProcess::source().isEmpty());
}

void tst_Hostile::scanDuringFlood_data()
{
    QTest::addColumn<QStringList>("flood");
    QTest::addColumn<bool>("fakes");

    // The tool makes a row of any datagram of 64 bytes or more, so junk of that size is
    // listed by design; what must never make a row is anything shorter.
    QTest::newRow("junk shorter than a reply") << QStringList {
        "--count",      "5000", "--duration", "4", "--mix", "empty=1,short=4,63=1,random=2",
        "--random-max", "63"
    } << false;
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

    SimulatorProcess simulator;
    QVERIFY2(simulator.start(realDeviceArguments()), simulator.errors().constData());
    ScanWindow ui;
    QVERIFY(ui.complete());
    const qint64 lostBefore = lostDatagrams();
    const qint64 residentBefore = residentKb();

    TickWatch ticks;
    ui.clickScan();
    FlooderProcess flooder;
    QVERIFY(flooder.start(flood << "--seed"
                                << "7"));
    // Thousands of datagrams take a sanitizer build on a busy machine a while to read: the
    // waits below last as long as the reading goes on.
    const auto reading = [&ui] { return std::make_pair(ui.progress->value(), ui.received()); };
    QVERIFY(waitWhileProgressing([&ui] { return !ui.scanning(); }, reading));
    QCOMPARE(ui.progress->value(), 5);
    QCOMPARE(ui.stateLabel->text(), QStringLiteral("Ready to scan"));
    const std::optional<QJsonObject> summary = flooder.summary();
    QVERIFY2(summary, flooder.errors().constData());
    QCOMPARE(summary->value(QLatin1String("send_errors")).toInteger(), 0);

    // Everything that arrived is read, after the scan too: the window never stops reading.
    QVERIFY(simulator.waitForCount(QStringLiteral("reply"), 15, 5000));
    const qint64 arrived = summary->value(QLatin1String("sent_total")).toInteger() + 15;
    QVERIFY2(waitWhileProgressing(
                 [&] { return ui.received() + (lostDatagrams() - lostBefore) >= arrived; },
                 [&] { return ui.received() + lostDatagrams(); }),
             qPrintable(QStringLiteral("%1 of %2 read").arg(ui.received()).arg(arrived)));
    QVERIFY(waitWhileProgressing([&ui] { return !ui.repliesPending(); },
                                 [&ui] { return ui.received(); }));
    const qint64 lost = lostDatagrams() - lostBefore;
    QVERIFY(ui.received() <= arrived);
    if (lost == 0)
        QCOMPARE(ui.received(), arrived);
    else
        qWarning("the kernel dropped %lld datagrams; rows from junk are only bounded", lost);

    const QStringList rows = ui.rows();
    QStringList junkRows = rows;
    for (const QString &title : realTitles()) {
        QCOMPARE(rows.count(title), 1);
        junkRows.removeAll(title);
    }
    if (fakes) {
        QVERIFY(FlooderProcess::sent(*summary, "replay") > 0);
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
    const QRegularExpression junkTitle(
        QStringLiteral("^[\\x{0}-\\x{ff}]{13}@(\\d{1,3}\\.){3}\\d{1,3}$"));
    for (const QString &row : std::as_const(junkRows))
        QVERIFY2(junkTitle.match(row).hasMatch(), qPrintable(row));

    qInfo("read %d datagrams, %lld lost; %lld rows (%lld from junk); worst 10 ms tick gap %lld ms "
          "over %d ticks; resident memory %lld -> %lld KiB",
          ui.received(), lost, qint64(rows.size()), qint64(junkRows.size()), ticks.worstGapMs,
          ticks.ticks, residentBefore, residentKb());

    // The window still scans normally once the flood is over.
    ui.clickScan();
    QVERIFY(waitWhileProgressing([&] { return ui.list->count() == realTitles().size(); }, reading));
    ui.clickScan();
    QCOMPARE(ui.rows(), realTitles());
}

QTEST_MAIN(tst_Hostile)
#include "tst_hostile.moc"
