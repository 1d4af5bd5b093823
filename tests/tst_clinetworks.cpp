#include "clirun.h"
#include "segment.h"
#include "simulatorprocess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// setuptool-cli on workstations with other networks than the one segment of tst_cli: each
// function runs in a registration of its own, whose segment is made for it.
class tst_CliNetworks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twoSegments();
    void noAddress();
};

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

QTEST_GUILESS_MAIN(tst_CliNetworks)
#include "tst_clinetworks.moc"
