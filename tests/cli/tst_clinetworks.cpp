#include "clirun.h"
#include "segment.h"
#include "simulatorprocess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QUdpSocket>

// setuptool-cli on workstations with other networks than the one segment of tst_cli: each
// function runs in a registration of its own, whose segment is made for it.
class tst_CliNetworks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twoSegments();
    void noAddress();
    void probeOnTheDevicesLink_data();
    void probeOnTheDevicesLink();
};

namespace {

// Runs `ip` with each of `commands` (its arguments, space-separated) in the workstation namespace.
bool ip(const QStringList &commands)
{
    for (const QString &command : commands) {
        QProcess process;
        process.start(QStringLiteral("ip"), command.split(QLatin1Char(' ')));
        if (!process.waitForFinished(10000) || process.exitCode() != 0) {
            qWarning("ip %s: %s", qPrintable(command), process.readAllStandardError().constData());
            return false;
        }
    }
    return true;
}

} // namespace

void tst_CliNetworks::initTestCase()
{
    REQUIRE_SEGMENT();
    QVERIFY(!qEnvironmentVariableIsEmpty("SETUPTOOL_CLI"));
}

void tst_CliNetworks::twoSegments()
{
    QCOMPARE(qEnvironmentVariableIntValue("VSEG_SEGMENTS"), 2);
    SimulatorProcess first;
    SimulatorProcess second;
    QVERIFY(first.start({ "--device", "name=ONE,ip=10.77.1.1,serial=1" }, 1));
    QVERIFY(second.start({ "--device", "name=TWO,ip=10.78.1.1,serial=2" }, 2));
    const auto heard = [](const CliRun &run) {
        QStringList found;
        for (const QJsonValue device : QJsonDocument::fromJson(run.out)["devices"].toArray())
            found.append(device["name"].toString() + "@"
                         + device["heard_on"]["address"].toString());
        return found;
    };
    QCOMPARE(heard(runCli({ "scan", "--format", "json" })),
             QStringList({ "ONE@10.77.0.1", "TWO@10.78.0.1" }));
    QCOMPARE(heard(runCli({ "scan", "--format", "json", "--from", "10.78.0.1" })),
             QStringList { "TWO@10.78.0.1" });

    const CliRun run = runCli({ "set-address", "TWO", "10.78.1.99", "--verify" });
    QVERIFY2(run.exitCode == 0, run.text().constData());
    QVERIFY(second.waitForCount("command", 1));
    QCOMPARE(second.events("command").first()["from"].toString(), "10.78.0.1");
    QVERIFY(first.sync(QHostAddress("10.77.0.1"), QHostAddress("10.77.1.1"), 7800));
    QVERIFY(first.events("command").isEmpty());
}

void tst_CliNetworks::noAddress()
{
    QCOMPARE(qEnvironmentVariableIntValue("VSEG_SEGMENTS"), 0);
    const CliRun run = runCli({ "scan" });
    QVERIFY2(run.exitCode == 5, run.text().constData());
    QVERIFY(run.err.contains("no IPv4 address"));
}

// The in-use probe asks on the link the device was heard on and reads the answers of that link,
// whatever the workstation's addresses are called and whichever adapter the routing table
// prefers. The holder answers ARP and nothing else.
void tst_CliNetworks::probeOnTheDevicesLink_data()
{
    QTest::addColumn<QStringList>("setUp");
    QTest::addColumn<QStringList>("tearDown");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("held");
    QTest::addColumn<int>("askedBeforeMs"); // a datagram to `held` this long before the holder
    // What ifconfig ws1:1 makes: the system lists the address under its label.
    QTest::newRow("labelled workstation address")
        << QStringList { "addr add 10.77.0.5/16 dev ws1 label ws1:1" }
        << QStringList { "addr del 10.77.0.5/16 dev ws1" } << "10.77.0.5"
        << "10.77.1.200" << 0;
    // A second adapter on the same subnet (cable and Wi-Fi on one LAN) whose route to the
    // devices wins; nothing answers on its link.
    QTest::newRow("second adapter with the preferred route")
        << QStringList { "link add wsb type veth peer name wsbpeer", "link set wsbpeer up",
                         "link set wsb up", "addr add 10.77.0.6/16 dev wsb",
                         "route add 10.77.1.0/24 dev wsb src 10.77.0.6" }
        << QStringList { "link del wsb" } << "10.77.0.1"
        << "10.77.1.201" << 0;
    // The host takes the address while the kernel still resolves it for an earlier datagram
    // (another program's, or a run a moment ago) whose last ARP request went unanswered: a new
    // datagram starts no request of its own. Requests 3 s apart leave room on a loaded machine.
    QTest::newRow("host arriving after the kernel's last request")
        << QStringList { "ntable change name arp_cache dev ws1 retrans 3000" }
        << QStringList { "ntable change name arp_cache dev ws1 retrans 1000" } << "10.77.0.1"
        << "10.77.1.202" << 6500;
}

void tst_CliNetworks::probeOnTheDevicesLink()
{
    QFETCH(QStringList, setUp);
    QFETCH(QStringList, tearDown);
    QFETCH(QString, from);
    QFETCH(QString, held);
    QFETCH(int, askedBeforeMs);
    QCOMPARE(qEnvironmentVariableIntValue("VSEG_SEGMENTS"), 1);
    SimulatorProcess simulator;
    QVERIFY(simulator.start({ "--device", "name=ONE,ip=10.77.1.1,serial=1" }));
    CliRun run;
    {
        QVERIFY(ip(setUp));
        const auto undo = qScopeGuard([&tearDown] { ip(tearDown); });
        if (askedBeforeMs > 0) {
            QUdpSocket earlier;
            QCOMPARE(earlier.writeDatagram("", QHostAddress(held), 9), 0);
            QTest::qWait(askedBeforeMs);
        }
        QProcess host;
        host.start("ip",
                   { "netns", "exec", Segment::deviceNamespaces().first(), "python3",
                     QString::fromLocal8Bit(qgetenv("LATE_RESPONDER")), held, "0", "dev1" });
        const auto stop = qScopeGuard([&host] {
            host.kill();
            host.waitForFinished();
        });
        QVERIFY(host.waitForReadyRead(10000));
        run = runCli({ "set-address", "ONE", held, "--from", from });
    }
    QVERIFY2(run.exitCode == 2 && run.err.contains(held.toUtf8() + " is in use: a host at "),
             run.text().constData());
    QVERIFY(simulator.sync(QHostAddress("10.77.0.1"), QHostAddress("10.77.1.1"), 7800));
    QVERIFY(simulator.events("command").isEmpty());
}

QTEST_GUILESS_MAIN(tst_CliNetworks)
#include "tst_clinetworks.moc"
