#include "netcounters.h"
#include "scanwindow.h"

#include <QFile>
#include <QNetworkInterface>
#include <QUdpSocket>

namespace {

// Local ports of the UDP sockets open in this namespace.
QList<quint16> udpPorts()
{
    QList<quint16> ports;
    QFile file(QStringLiteral("/proc/net/udp"));
    if (!file.open(QIODevice::ReadOnly))
        return ports;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines.mid(1)) {
        const QByteArray local = line.simplified().split(' ').value(1);
        if (!local.isEmpty())
            ports.append(quint16(local.split(':').value(1).toUInt(nullptr, 16)));
    }
    return ports;
}

} // namespace

// A workstation with no network but the loopback interface: the window must open, run its
// scans to the end, send nothing and list nothing.
class tst_LoopbackOnly : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowHasNoSockets();
    void scanRunsItsSixTicks();
    void stopAndScanAgain();
};

void tst_LoopbackOnly::initTestCase()
{
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (!address.isLoopback())
            QFAIL("must run where only loopback addresses exist: tests/segment/vsegment "
                  "--loopback-only");
    }
}

void tst_LoopbackOnly::windowHasNoSockets()
{
    ScanWindow ui;
    QVERIFY(ui.complete());
    // Loopback addresses get no probe or reply socket, so there is none at all.
    QVERIFY(ui.window.findChildren<QUdpSocket *>().isEmpty());
    QVERIFY(!udpPorts().contains(4800));
    QVERIFY(!udpPorts().contains(7800));
    QCOMPARE(ui.stateLabel->text(), QStringLiteral("Ready to scan"));
}

void tst_LoopbackOnly::scanRunsItsSixTicks()
{
    ScanWindow ui;
    QList<int> progress;
    QObject::connect(ui.progress, &QProgressBar::valueChanged, ui.progress,
                     [&progress](int value) { progress.append(value); });
    const qint64 udpOut = netCounter(QStringLiteral("Udp"), QStringLiteral("OutDatagrams"));
    const qint64 ipOut = netCounter(QStringLiteral("Ip"), QStringLiteral("OutRequests"));
    QVERIFY(udpOut >= 0 && ipOut >= 0);

    ui.clickScan();
    QCOMPARE(ui.stateLabel->text(), QStringLiteral("Scanning"));
    QCOMPARE(ui.scanButton->text(), QStringLiteral("Stop"));
    QVERIFY(ui.waitUntilIdle());

    // The bar counts the five probe cycles though no probe can go anywhere; the sixth tick
    // ends the scan.
    QCOMPARE(progress, QList<int>({ 0, 1, 2, 3, 4, 5 }));
    QCOMPARE(ui.progress->value(), 5);
    QCOMPARE(ui.stateLabel->text(), QStringLiteral("Ready to scan"));
    QCOMPARE(ui.scanButton->text(), QStringLiteral("Start"));
    QCOMPARE(ui.list->count(), 0);
    QCOMPARE(ui.receiveLabel->text(), QString());
    // Nothing left this namespace's IP stack, not even on loopback.
    QCOMPARE(netCounter(QStringLiteral("Udp"), QStringLiteral("OutDatagrams")), udpOut);
    QCOMPARE(netCounter(QStringLiteral("Ip"), QStringLiteral("OutRequests")), ipOut);
}

void tst_LoopbackOnly::stopAndScanAgain()
{
    ScanWindow ui;
    ui.clickScan();
    QTRY_COMPARE_WITH_TIMEOUT(ui.progress->value(), 2, 5000);
    ui.clickScan();
    QCOMPARE(ui.stateLabel->text(), QStringLiteral("Ready to scan"));
    QCOMPARE(ui.progress->value(), 5);

    ui.clickScan();
    QCOMPARE(ui.progress->value(), 0);
    QVERIFY(ui.waitUntilIdle());
    QCOMPARE(ui.progress->value(), 5);
    QCOMPARE(ui.list->count(), 0);
}

QTEST_MAIN(tst_LoopbackOnly)
#include "tst_loopbackonly.moc"
