#include "setuptool.h"

#include "devicereply.h"
#include "deviceprotocol.h"
#include "segment.h"

#include <QDeadlineTimer>
#include <QListWidget>
#include <QProgressBar>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

// The main window as it comes up on a workstation inside the virtual segment.
class tst_SetupTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startupState();
    void socketsPerAddress();
    void onlyLastReplySocketWakesReader();
    void oneDatagramPerSocketPerCall();

private:
    static QList<QUdpSocket *> socketsOnPort(const setuptool &window, quint16 port);
};

void tst_SetupTool::initTestCase()
{
    REQUIRE_SEGMENT();
    QVERIFY(!Segment::workstationAddresses().isEmpty());
}

QList<QUdpSocket *> tst_SetupTool::socketsOnPort(const setuptool &window, quint16 port)
{
    QList<QUdpSocket *> sockets;
    const QList<QUdpSocket *> all = window.findChildren<QUdpSocket *>();
    for (QUdpSocket *socket : all) {
        if (socket->localPort() == port)
            sockets.append(socket);
    }
    return sockets;
}

void tst_SetupTool::startupState()
{
    setuptool window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.windowTitle(), QStringLiteral("Vandrel ntp setuptool"));
    auto *label = window.findChild<QLabel *>(QStringLiteral("readytostartLabel"));
    auto *receiveLabel = window.findChild<QLabel *>(QStringLiteral("receiveLabel"));
    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("scanprogressBar"));
    auto *scan = window.findChild<QPushButton *>(QStringLiteral("scanPushButton"));
    auto *list = window.findChild<QListWidget *>(QStringLiteral("listWidget"));
    QVERIFY(label && receiveLabel && bar && scan && list);

    QCOMPARE(label->text(), QStringLiteral("Ready to scan"));
    QCOMPARE(receiveLabel->text(), QString());
    QCOMPARE(scan->text(), QStringLiteral("Scan"));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 5);
    // The form's 24 lies outside 0..5, so the bar was reset and shows no progress.
    QVERIFY(bar->value() < bar->minimum());
    QCOMPARE(list->count(), 0);

    // Idle: no scan timer runs.
    const QList<QTimer *> timers
        = window.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(!timers.isEmpty());
    for (const QTimer *timer : timers)
        QVERIFY(!timer->isActive());
}

void tst_SetupTool::socketsPerAddress()
{
    const QList<QHostAddress> addresses = Segment::workstationAddresses();
    setuptool window;

    const QList<QUdpSocket *> all = window.findChildren<QUdpSocket *>();
    QCOMPARE(all.size(), 2 * addresses.size());

    // Pairs in address order: the probe socket on its interface address, the reply socket
    // on every address.
    QList<QHostAddress> probeAddresses;
    for (int i = 0; i < all.size(); i += 2) {
        QUdpSocket *probe = all.at(i);
        QUdpSocket *reply = all.at(i + 1);
        QCOMPARE(probe->state(), QAbstractSocket::BoundState);
        QCOMPARE(probe->localPort(), quint16(4800));
        probeAddresses.append(probe->localAddress());
        QCOMPARE(reply->state(), QAbstractSocket::BoundState);
        QCOMPARE(reply->localPort(), quint16(7800));
        QCOMPARE(reply->localAddress(), QHostAddress(QHostAddress::AnyIPv4));
    }
    std::sort(probeAddresses.begin(), probeAddresses.end(),
              [](const QHostAddress &a, const QHostAddress &b) {
                  return a.toIPv4Address() < b.toIPv4Address();
              });
    QList<QHostAddress> expected = addresses;
    std::sort(expected.begin(), expected.end(), [](const QHostAddress &a, const QHostAddress &b) {
        return a.toIPv4Address() < b.toIPv4Address();
    });
    QCOMPARE(probeAddresses, expected);
}

void tst_SetupTool::onlyLastReplySocketWakesReader()
{
    setuptool window;
    auto *list = window.findChild<QListWidget *>(QStringLiteral("listWidget"));
    QVERIFY(list);
    const QList<QUdpSocket *> replySockets = socketsOnPort(window, 7800);
    QCOMPARE(replySockets.size(), Segment::workstationAddresses().size());

    DeviceReply reply;
    reply.name = "WAKE";
    reply.serial = 4711;
    QUdpSocket sender;
    QVERIFY(sender.bind(Segment::workstationAddresses().first(), 0));
    QCOMPARE(sender.writeDatagram(reply.scrambled(), QHostAddress::Broadcast, 7800), qint64(64));

    // Wait for the reply without running the event loop, so that only the signals emitted
    // below can start the reader.
    const QDeadlineTimer deadline(5000);
    auto allPending = [&replySockets] {
        return std::all_of(replySockets.cbegin(), replySockets.cend(),
                           [](QUdpSocket *socket) { return socket->hasPendingDatagrams(); });
    };
    while (!allPending() && !deadline.hasExpired())
        QThread::msleep(10);
    QVERIFY(allPending());

    for (int i = 0; i + 1 < replySockets.size(); ++i) {
        emit replySockets.at(i)->readyRead();
        QCOMPARE(list->count(), 0);
    }
    emit replySockets.last()->readyRead();
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(),
             QStringLiteral("WAKE") + QString(9, QChar(0)) + QStringLiteral("@10.77.1.1"));
    // The one call read one datagram from every reply socket.
    for (QUdpSocket *socket : replySockets)
        QVERIFY(!socket->hasPendingDatagrams());
}

void tst_SetupTool::oneDatagramPerSocketPerCall()
{
    setuptool window;
    auto *list = window.findChild<QListWidget *>(QStringLiteral("listWidget"));
    auto *receiveLabel = window.findChild<QLabel *>(QStringLiteral("receiveLabel"));
    QVERIFY(list && receiveLabel);
    QUdpSocket *last = socketsOnPort(window, 7800).last();
    const int sockets = int(socketsOnPort(window, 7800).size());

    QUdpSocket observer;
    QVERIFY(observer.bind(QHostAddress::AnyIPv4, DeviceProtocol::devicePort,
                          QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
    QUdpSocket sender;
    QVERIFY(sender.bind(Segment::workstationAddresses().first(), 0));
    for (int serial = 1; serial <= 3; ++serial) {
        DeviceReply reply;
        reply.name = "D" + QByteArray::number(serial);
        reply.serial = serial * 1000;
        sender.writeDatagram(reply.scrambled(), QHostAddress::Broadcast, 7800);
    }
    // Every socket on the port gets each broadcast in the same instant, so once a socket of the
    // test's own has all three, the window's have them too. Waiting runs no event loop, so that
    // only the signals emitted below start the reader.
    const QDeadlineTimer deadline(5000);
    int seen = 0;
    while (seen < 3 && !deadline.hasExpired()) {
        if (observer.hasPendingDatagrams()) {
            observer.readDatagram(nullptr, 0);
            ++seen;
        } else {
            QThread::msleep(5);
        }
    }
    QCOMPARE(seen, 3);

    for (int call = 1; call <= 3; ++call) {
        emit last->readyRead();
        QCOMPARE(list->count(), call);
        QCOMPARE(receiveLabel->text(), QStringLiteral("Receive: %1").arg(call * sockets));
    }
    QCOMPARE(list->item(2)->text().left(2), QStringLiteral("D3"));
    QVERIFY(!last->hasPendingDatagrams());
}

QTEST_MAIN(tst_SetupTool)
#include "tst_setuptool.moc"
