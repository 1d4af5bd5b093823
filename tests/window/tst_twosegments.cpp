#include "deviceprotocol.h"
#include "scanwindow.h"
#include "segment.h"
#include "simulatorprocess.h"

// A workstation on two device networks at once (a laptop on a plant and an office network):
// one scan must probe both and list the devices of both.
class tst_TwoSegments : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scanListsBothSegments();
};

void tst_TwoSegments::initTestCase()
{
    REQUIRE_SEGMENT();
    QCOMPARE(Segment::deviceNamespaces().size(), 2);
    QCOMPARE(Segment::workstationAddresses().size(), 2);
}

void tst_TwoSegments::scanListsBothSegments()
{
    SimulatorProcess plant;
    SimulatorProcess office;
    QVERIFY(plant.start(
        { "--device", "name=PLANT-1,serial=11,uptime=1,ip=" + Segment::deviceAddress(1, 0),
          "--device", "name=PLANT-2,serial=12,uptime=1,ip=" + Segment::deviceAddress(1, 1) },
        1));
    QVERIFY(office.start(
        { "--device", "name=OFFICE-1,serial=21,uptime=1,ip=" + Segment::deviceAddress(2, 0) }, 2));

    ScanWindow ui;
    ui.clickScan();
    QVERIFY(ui.waitUntilIdle());

    const QStringList expected { deviceTitle("OFFICE-1", Segment::deviceAddress(2, 0)),
                                 deviceTitle("PLANT-1", Segment::deviceAddress(1, 0)),
                                 deviceTitle("PLANT-2", Segment::deviceAddress(1, 1)) };
    const auto sortedRows = [&ui] {
        QStringList rows = ui.rows();
        rows.sort();
        return rows;
    };
    QTRY_COMPARE(sortedRows(), expected);

    // Each network got its five probes, from the workstation's own address on it.
    const QList<QHostAddress> addresses = Segment::workstationAddresses();
    const std::pair<SimulatorProcess *, QHostAddress> sides[]
        = { { &plant, addresses.at(0) }, { &office, addresses.at(1) } };
    for (const auto &[simulator, address] : sides) {
        QVERIFY(simulator->sync(address, QHostAddress::Broadcast, DeviceProtocol::probePort));
        const QList<QJsonObject> probes = simulator->events(QStringLiteral("probe"));
        QCOMPARE(probes.size(), 5);
        for (int i = 0; i < probes.size(); ++i) {
            QCOMPARE(probes.at(i).value(QLatin1String("text")).toString(),
                     QStringLiteral("Broadcast message %1").arg(i));
            QCOMPARE(probes.at(i).value(QLatin1String("from")).toString(), address.toString());
        }
    }
}

QTEST_MAIN(tst_TwoSegments)
#include "tst_twosegments.moc"
