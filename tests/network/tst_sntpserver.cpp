// The simulated devices' time service read by real SNTP clients from Debian (ntpdig and its
// ntpdate front end, package ntpsec-ntpdate), from the workstation side of the virtual segment.
// The clients only query: ntpdig without -S/-s and ntpdate with -q never set the clock, which
// the namespaces share with the machine.

#include "segment.h"
#include "simulatorprocess.h"

#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

struct Device
{
    const char *keys;
    double offset;
};

// Device i of the segment: its keys and the offset its clock starts with.
const Device devices[] = {
    { "name=ON-TIME,ntp=1", 0 },
    { "name=AHEAD,ntp=1,offset=30.5", 30.5 },
    { "name=BEHIND,ntp=1,offset=-3600", -3600 },
    { "name=NO-NTP,ntp=0,offset=10", 0 },
    { "name=UNSYNCED,ntp=1,stratum=16,leap=3", 0 },
    { "name=KISSING,ntp=1,kiss=RATE", 0 },
};

QString findProgram(const QString &name)
{
    return QStandardPaths::findExecutable(
        name, { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin") });
}

struct ClientRun
{
    int exitCode = -1;
    QString output; // stdout and stderr
};

// Runs a client to the end: both give up after a one-second timeout.
ClientRun runClient(const QString &client, const QString &address)
{
    const QStringList arguments = client == QLatin1String("ntpdig")
        ? QStringList { QStringLiteral("-j"), QStringLiteral("-t"), QStringLiteral("1"), address }
        : QStringList { QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("1"), address };
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(findProgram(client), arguments);
    ClientRun run;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        run.output = QStringLiteral("%1 did not finish").arg(client);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return run;
}

// What a client reports: the offset, its synchronisation distance (half the round trip plus
// the server's dispersion: how far off the offset can be, as the client worked it out from this
// exchange) and the stratum. ntpdig -j writes a JSON object (the distance in its "precision"
// field), ntpdate a line such as
// "2026-12-07 13:22:00.131242 (+0000) +30.500113 +/- 0.000170 10.77.1.2 s1 no-leap".
struct Report
{
    double offset = 0;
    double distance = 0;
    int stratum = 0;
};

bool readReport(const QString &client, const QString &output, Report *report)
{
    if (client == QLatin1String("ntpdig")) {
        const QJsonObject json = QJsonDocument::fromJson(output.toUtf8()).object();
        if (!json.contains(QLatin1String("offset")))
            return false;
        report->offset = json.value(QLatin1String("offset")).toDouble();
        report->distance = json.value(QLatin1String("precision")).toDouble();
        report->stratum = json.value(QLatin1String("stratum")).toInt();
        return true;
    }
    static const QRegularExpression line(
        QStringLiteral(R"(([-+]\d+\.\d+) \+/- (\d+\.\d+) \S+ s(\d+))"));
    const QRegularExpressionMatch match = line.match(output);
    if (!match.hasMatch())
        return false;
    report->offset = match.captured(1).toDouble();
    report->distance = match.captured(2).toDouble();
    report->stratum = match.captured(3).toInt();
    return true;
}

int sntpEventsAt(const SimulatorProcess &simulator, const QString &address)
{
    int count = 0;
    for (const QJsonObject &event : simulator.events(QStringLiteral("sntp")))
        count += event.value(QLatin1String("at")).toString() == address ? 1 : 0;
    return count;
}

} // namespace

class tst_SntpServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void clientsReadTheDeviceClock_data();
    void clientsReadTheDeviceClock();
    void clientsGetNoTimeFrom_data();
    void clientsGetNoTimeFrom();

private:
    void addRows(const QList<int> &indexes);

    SimulatorProcess simulator;
};

void tst_SntpServer::initTestCase()
{
    REQUIRE_SEGMENT();
    for (const char *client : { "ntpdig", "ntpdate" }) {
        QVERIFY2(!findProgram(QLatin1String(client)).isEmpty(),
                 qPrintable(QStringLiteral("%1 is missing; scripts/setup-deps installs it "
                                           "(package ntpsec-ntpdate)")
                                .arg(QLatin1String(client))));
    }
    QStringList arguments;
    for (int i = 0; i < int(std::size(devices)); ++i)
        arguments << QStringLiteral("--device")
                  << QStringLiteral("%1,ip=%2")
                         .arg(QLatin1String(devices[i].keys), Segment::deviceAddress(1, i));
    QVERIFY2(simulator.start(arguments), simulator.errors().constData());
    // Every device but the one without NTP has a socket for SNTP.
    const QJsonObject ready = simulator.events(QStringLiteral("ready")).constFirst();
    QCOMPARE(ready.value(QLatin1String("sntp_addresses")).toInt(), int(std::size(devices)) - 1);
}

void tst_SntpServer::addRows(const QList<int> &indexes)
{
    QTest::addColumn<QString>("client");
    QTest::addColumn<int>("device");
    for (const char *client : { "ntpdig", "ntpdate" }) {
        for (const int i : indexes) {
            QTest::addRow("%s %s", client,
                          QByteArray(devices[i].keys).split(',').at(0).mid(5).constData())
                << QString::fromLatin1(client) << i;
        }
    }
}

void tst_SntpServer::clientsReadTheDeviceClock_data()
{
    addRows({ 0, 1, 2 });
}

void tst_SntpServer::clientsReadTheDeviceClock()
{
    QFETCH(QString, client);
    QFETCH(int, device);
    const QString address = Segment::deviceAddress(1, device);
    const int eventsBefore = sntpEventsAt(simulator, address);

    const ClientRun run = runClient(client, address);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    Report report;
    QVERIFY2(readReport(client, run.output, &report), qPrintable(run.output));
    // The device's clock runs on this machine's clock, so the offset is exact but for what the
    // exchange could not tell apart: a reply held up on a busy machine (tenths of a second) is
    // off by up to the distance the client reports with it. A millisecond more for the
    // timestamps' rounding.
    QVERIFY2(qAbs(report.offset - devices[device].offset) <= report.distance + 0.001,
             qPrintable(QStringLiteral("%1 says %2 s +/- %3 s, the device's clock is %4 s off")
                            .arg(client)
                            .arg(report.offset, 0, 'f', 6)
                            .arg(report.distance, 0, 'f', 6)
                            .arg(devices[device].offset)));
    QCOMPARE(report.stratum, 1);

    // The device logged the request it answered.
    QVERIFY(QTest::qWaitFor([&] { return sntpEventsAt(simulator, address) > eventsBefore; }));
    const QJsonObject event = simulator.events(QStringLiteral("sntp")).constLast();
    QCOMPARE(event.value(QLatin1String("answered")).toBool(), true);
    QCOMPARE(event.value(QLatin1String("from")).toString(),
             Segment::workstationAddresses().constFirst().toString());
}

void tst_SntpServer::clientsGetNoTimeFrom_data()
{
    addRows({ 3, 4, 5 });
}

void tst_SntpServer::clientsGetNoTimeFrom()
{
    QFETCH(QString, client);
    QFETCH(int, device);
    const QString address = Segment::deviceAddress(1, device);
    const int eventsBefore = sntpEventsAt(simulator, address);

    const ClientRun run = runClient(client, address);
    Report report;
    QVERIFY2(run.exitCode != 0 && !readReport(client, run.output, &report), qPrintable(run.output));
    // The device without NTP has no time service at all; the other two answer, and the client
    // refuses their answers for what they say.
    if (device == 3) {
        QCOMPARE(sntpEventsAt(simulator, address), eventsBefore);
    } else {
        QVERIFY(QTest::qWaitFor([&] { return sntpEventsAt(simulator, address) > eventsBefore; }));
        QVERIFY2(run.output.contains(device == 4 ? QLatin1String("stratum too high")
                                                 : QLatin1String("KOD")),
                 qPrintable(run.output));
    }
}

QTEST_GUILESS_MAIN(tst_SntpServer)
#include "tst_sntpserver.moc"
