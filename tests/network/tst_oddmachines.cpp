#include "settingsform.h"

#include "netcounters.h"
#include "scanwindow.h"
#include "segment.h"
#include "simulatorprocess.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A UDP socket as a program that does not share its port opens it: bound to the wildcard
// address without SO_REUSEADDR.
class ExclusiveSocket
{
public:
    explicit ExclusiveSocket(quint16 port)
        // Not inherited by the simulator started later, or the port would outlive close().
        : descriptor(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        bound = descriptor >= 0
            && ::bind(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address)
                == 0;
    }
    ~ExclusiveSocket() { close(); }
    ExclusiveSocket(const ExclusiveSocket &) = delete;
    ExclusiveSocket &operator=(const ExclusiveSocket &) = delete;

    // Datagrams waiting, read and counted.
    int drain()
    {
        char buffer[2048];
        int count = 0;
        while (::recv(descriptor, buffer, sizeof buffer, 0) >= 0)
            ++count;
        return count;
    }

    void close()
    {
        if (descriptor >= 0)
            ::close(descriptor);
        descriptor = -1;
    }

    int descriptor;
    bool bound = false;
};

void click(SettingsForm *window, const char *button)
{
    QTest::mouseClick(window->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
}

QStringList twoDevices()
{
    return {
        QStringLiteral("--device"),
        QStringLiteral("name=GONE,serial=31,uptime=1,ip=%1").arg(Segment::deviceAddress(1, 0)),
        QStringLiteral("--device"),
        QStringLiteral("name=STAYS,serial=32,uptime=1,ip=%1").arg(Segment::deviceAddress(1, 1))
    };
}

QStringList twoTitles()
{
    return { deviceTitle(QStringLiteral("GONE"), Segment::deviceAddress(1, 0)),
             deviceTitle(QStringLiteral("STAYS"), Segment::deviceAddress(1, 1)) };
}

// The workstation's neighbour table state of `address` ("REACHABLE", "FAILED", ...), or empty.
QString neighbourState(const QString &address)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), { QStringLiteral("neigh"), QStringLiteral("show"), address });
    if (!ip.waitForFinished(5000))
        return QString();
    return QString::fromLatin1(ip.readAllStandardOutput())
        .simplified()
        .section(QLatin1Char(' '), -1);
}

// Runs `ip` with `arguments` on the device namespace of segment 1.
bool deviceNamespaceIp(const QStringList &arguments)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"),
             QStringList { QStringLiteral("-n"), Segment::deviceNamespaces().value(0) }
                 + arguments);
    return ip.waitForFinished(5000) && ip.exitStatus() == QProcess::NormalExit
        && ip.exitCode() == 0;
}

} // namespace

// Machines set up in ways the tool does not expect: its reply port held by another program,
// and devices that vanish between the scan and a command to them.
class tst_OddMachines : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void replyPortTakenByAnotherProgram();
    void deviceVanishedBeforeCommand_data();
    void deviceVanishedBeforeCommand();
};

void tst_OddMachines::initTestCase()
{
    REQUIRE_SEGMENT();
}

void tst_OddMachines::cleanup()
{
    for (SettingsForm *window : ScanWindow::settingsWindows())
        window->close();
}

// On Linux a port bound without SO_REUSEADDR cannot be shared at all: the tool's reply socket
// stays unbound, the probes still go out, and the other program gets every reply.
void tst_OddMachines::replyPortTakenByAnotherProgram()
{
    ExclusiveSocket holder(7800);
    QVERIFY(holder.bound);
    // Reading from the socket that could not be bound would be a misuse Qt warns about.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("hasPendingDatagrams|readDatagram")));

    SimulatorProcess simulator;
    QVERIFY(simulator.start(twoDevices()));
    {
        ScanWindow ui;
        QVERIFY(ui.complete());
        ui.clickScan();
        QVERIFY(ui.waitUntilIdle());
        QCOMPARE(ui.progress->value(), 5);
        QCOMPARE(ui.stateLabel->text(), QStringLiteral("Ready to scan"));
        QCOMPARE(simulator.events(QStringLiteral("probe")).size(), 5);
        QVERIFY(simulator.waitForCount(QStringLiteral("reply"), 10));
        int heldReplies = 0;
        QTRY_COMPARE(heldReplies += holder.drain(), 10);
        QCOMPARE(ui.list->count(), 0);
        QCOMPARE(ui.receiveLabel->text(), QString());

        // A second scan runs as well.
        ui.clickScan();
        QVERIFY(ui.waitUntilIdle());
        QCOMPARE(ui.list->count(), 0);
    }

    // Once the other program has let go, a newly started tool lists the devices.
    holder.close();
    ScanWindow ui;
    ui.clickScan();
    QTRY_COMPARE_WITH_TIMEOUT(ui.rows(), twoTitles(), 3000);
    ui.clickScan();
}

void tst_OddMachines::deviceVanishedBeforeCommand_data()
{
    QTest::addColumn<bool>("addressRemoved");
    // The device's host answers its commands with ICMP port unreachable, which comes back to
    // the tool's reply socket.
    QTest::newRow("device program stopped") << false;
    // Nothing answers at all: the address no longer resolves.
    QTest::newRow("device address removed") << true;
}

void tst_OddMachines::deviceVanishedBeforeCommand()
{
    QFETCH(bool, addressRemoved);
    const QString gone = Segment::deviceAddress(1, 0);

    SimulatorProcess simulator;
    QVERIFY(simulator.start(twoDevices()));
    ScanWindow ui;
    ui.clickScan();
    QTRY_COMPARE_WITH_TIMEOUT(ui.rows(), twoTitles(), 3000);
    ui.clickScan();
    SettingsForm *window = ui.openRow(0);
    QVERIFY(window);

    const qint64 unreachableBefore
        = netCounter(QStringLiteral("Icmp"), QStringLiteral("InDestUnreachs"));
    if (addressRemoved) {
        QVERIFY(deviceNamespaceIp({ "address", "del", gone + "/16", "dev", "dev1" }));
        // Forget what the workstation knew of the address, so that the commands have to look it
        // up anew and nobody answers.
        QProcess flush;
        flush.start(
            QStringLiteral("ip"),
            { QStringLiteral("neigh"), QStringLiteral("flush"), QStringLiteral("to"), gone });
        QVERIFY(flush.waitForFinished(5000) && flush.exitCode() == 0);
    } else {
        simulator.stop();
    }

    // Each click returns at once and the window goes on serving events.
    bool served = false;
    click(window, "setTimePushButton");
    click(window, "sendPushButton");
    QTimer::singleShot(0, window, [&served] { served = true; });
    QTRY_VERIFY_WITH_TIMEOUT(served, 1000);
    if (!addressRemoved) {
        QTRY_VERIFY_WITH_TIMEOUT(
            netCounter(QStringLiteral("Icmp"), QStringLiteral("InDestUnreachs"))
                >= unreachableBefore + 2,
            3000);
    } else {
        // The neighbour lookup gives up on the address after its retries.
        QTRY_COMPARE_WITH_TIMEOUT(neighbourState(gone), QStringLiteral("FAILED"), 10000);
        QVERIFY(deviceNamespaceIp(
            { "address", "add", gone + "/16", "brd", "+", "dev", "dev1", "noprefixroute" }));
    }
    // Once more: the host still answers "unreachable", or the device is back.
    click(window, "setTimePushButton");
    if (!addressRemoved) {
        QTRY_VERIFY_WITH_TIMEOUT(
            netCounter(QStringLiteral("Icmp"), QStringLiteral("InDestUnreachs"))
                >= unreachableBefore + 3,
            3000);
    } else {
        QVERIFY(simulator.waitForCount(QStringLiteral("command"), 1));
    }

    // The reply socket still reads every reply, and commands still reach the devices.
    if (!addressRemoved)
        QVERIFY(simulator.start(twoDevices()));
    simulator.clear();
    ui.clickScan();
    QTRY_COMPARE_WITH_TIMEOUT(ui.rows(), twoTitles(), 3000);
    QVERIFY(ui.waitUntilIdle());
    QCOMPARE(ui.receiveLabel->text(), QStringLiteral("Receive: 10"));
    click(window, "setTimePushButton");
    QVERIFY(simulator.waitFor([&gone](const QJsonObject &event) {
        return SimulatorProcess::kind(event) == QLatin1String("command")
            && event.value(QLatin1String("at")).toString() == gone;
    }));
}

QTEST_MAIN(tst_OddMachines)
#include "tst_oddmachines.moc"
