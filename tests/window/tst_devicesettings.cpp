#include "settingsform.h"

#include "deviceprotocol.h"
#include "scanwindow.h"
#include "segment.h"
#include "simulatorprocess.h"

#include <QApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

namespace {

QString deviceFields(const QString &name, int index, int serial, int addressIndex = -1)
{
    return QStringLiteral("name=%1,ip=%2,serial=%3,uptime=1")
        .arg(name, Segment::deviceAddress(1, addressIndex < 0 ? index : addressIndex))
        .arg(serial);
}

QString info(SettingsForm *window)
{
    return window->findChild<QTextEdit *>(QStringLiteral("generalInfoTextEdit"))->toPlainText();
}

void click(SettingsForm *window, const char *button)
{
    QTest::mouseClick(window->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
}

void typeAddress(SettingsForm *window, const QString &text)
{
    auto *field = window->findChild<QLineEdit *>(QStringLiteral("ipAddressLineEdit"));
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

// Commands leave through the reply socket the device's reply came in on: from the
// workstation's address on that network, device port.
void verifySentFromReplySocket(const QJsonObject &command)
{
    QCOMPARE(command.value("from").toString(), Segment::workstationAddresses().first().toString());
    QCOMPARE(command.value("from_port").toInt(), int(DeviceProtocol::devicePort));
}

bool scanFor(ScanWindow &ui, int rows)
{
    ui.clickScan();
    const bool found = QTest::qWaitFor([&] { return ui.list->count() >= rows; }, 3000);
    ui.clickScan(); // stop: the rows stay
    return found;
}

} // namespace

// The settings window against simulated devices: what it shows and what reaches the device.
class tst_DeviceSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void setTimeReachesDevice();
    void sendStoresAddress();
    void incompleteAddressSendsNothing_data();
    void incompleteAddressSendsNothing();
    void idleButtonsSendNothing();
    void windowKeepsItsDeviceAfterRescan();
    void rowsWithSameTitleOpenTheirOwnRecords();
    void sameRowTwiceGivesTwoWindows();
};

void tst_DeviceSettings::initTestCase()
{
    REQUIRE_SEGMENT();
}

void tst_DeviceSettings::cleanup()
{
    for (SettingsForm *window : ScanWindow::settingsWindows())
        window->close();
}

void tst_DeviceSettings::setTimeReachesDevice()
{
    SimulatorProcess simulator;
    // OTHER waits to take another address at its next restart: commands still go to the one it
    // answers on now.
    QVERIFY(simulator.start({ "--device", deviceFields("CLOCK", 0, 500), "--device",
                              deviceFields("OTHER", 1, 600) + ",eeprom=10.77.9.9" }));
    ScanWindow ui;
    QVERIFY(scanFor(ui, 2));

    SettingsForm *window = ui.openRow(1);
    QVERIFY(window);
    QVERIFY(info(window).startsWith("Current IP:" + Segment::deviceAddress(1, 1)
                                    + "\nEEPROM IP:10.77.9.9"));

    click(window, "setTimePushButton");
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QVERIFY(simulator.waitForCount(QStringLiteral("command"), 1, 3000));
    const QJsonObject command = simulator.events(QStringLiteral("command")).first();
    QCOMPARE(command.value("kind").toString(), QStringLiteral("set-time"));
    QCOMPARE(command.value("device").toString(), QStringLiteral("OTHER"));
    QCOMPARE(command.value("at").toString(), Segment::deviceAddress(1, 1));
    QVERIFY(qAbs(qint64(command.value("seconds").toDouble()) - now) <= 2);
    verifySentFromReplySocket(command);
}

void tst_DeviceSettings::sendStoresAddress()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start({ "--device", deviceFields("MOVER", 0, 700) }));
    ScanWindow ui;
    QVERIFY(scanFor(ui, 1));

    SettingsForm *window = ui.openRow(0);
    QVERIFY(window);
    typeAddress(window, QStringLiteral("10.0.0.7"));
    click(window, "sendPushButton");

    QVERIFY(simulator.waitForCount(QStringLiteral("command"), 1, 3000));
    const QJsonObject command = simulator.events(QStringLiteral("command")).first();
    QCOMPARE(command.value("kind").toString(), QStringLiteral("settings"));
    QCOMPARE(command.value("options").toArray(), QJsonArray({ 1, 1, 0, 1 }));
    QCOMPARE(command.value("address").toString(), QStringLiteral("10.0.0.7"));
    // It goes to the address the device replied from, not to the new one.
    QCOMPARE(command.value("at").toString(), Segment::deviceAddress(1, 0));
    verifySentFromReplySocket(command);

    // The device now reports the stored address.
    QVERIFY(scanFor(ui, 1));
    SettingsForm *after = ui.openRow(0);
    QVERIFY(after);
    QVERIFY2(info(after).contains(QStringLiteral("EEPROM IP:10.0.0.7")), qPrintable(info(after)));
    QCOMPARE(ui.rows().first(), deviceTitle("MOVER", Segment::deviceAddress(1, 0)));
}

void tst_DeviceSettings::incompleteAddressSendsNothing_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("three parts") << "1.2.3";
    QTest::newRow("empty last part") << "10.0.0.";
    QTest::newRow("empty") << "";
}

void tst_DeviceSettings::incompleteAddressSendsNothing()
{
    QFETCH(QString, typed);
    SimulatorProcess simulator;
    QVERIFY(simulator.start({ "--device", deviceFields("KEEP", 0, 800) }));
    ScanWindow ui;
    QVERIFY(scanFor(ui, 1));

    SettingsForm *window = ui.openRow(0);
    QVERIFY(window);
    typeAddress(window, typed);
    click(window, "sendPushButton");
    // Set Time afterwards proves the path works; commands arrive in the order they were sent,
    // so anything Send had sent would have come first.
    click(window, "setTimePushButton");
    QVERIFY(simulator.waitForCount(QStringLiteral("command"), 1, 3000));
    const QList<QJsonObject> commands = simulator.events(QStringLiteral("command"));
    QCOMPARE(commands.size(), 1);
    QCOMPARE(commands.first().value("kind").toString(), QStringLiteral("set-time"));
    QVERIFY(simulator.events(QStringLiteral("rejected")).isEmpty());
}

void tst_DeviceSettings::idleButtonsSendNothing()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start({ "--device", deviceFields("QUIET", 0, 900) }));
    ScanWindow ui;
    QVERIFY(scanFor(ui, 1));
    SettingsForm *window = ui.openRow(0);
    QVERIFY(window);
    const QString shown = info(window);

    click(window, "receivePushButton");
    click(window, "importPushButton");
    click(window, "exportPushButton");
    click(window, "setTimePushButton");
    QVERIFY(simulator.waitForCount(QStringLiteral("command"), 1, 3000));
    // Whatever the other buttons sent, to the device or to its probe port, is logged by now;
    // the only datagrams the devices did not take are the two that made sure of it.
    const QHostAddress from = Segment::workstationAddresses().first();
    QVERIFY(simulator.sync(from, QHostAddress(Segment::deviceAddress(1, 0)),
                           DeviceProtocol::devicePort));
    QVERIFY(simulator.sync(from, QHostAddress::Broadcast, DeviceProtocol::probePort));
    QCOMPARE(simulator.events(QStringLiteral("command")).size(), 1);
    QCOMPARE(simulator.events(QStringLiteral("rejected")).size(), 2);
    QCOMPARE(info(window), shown);
}

void tst_DeviceSettings::windowKeepsItsDeviceAfterRescan()
{
    SimulatorProcess first;
    QVERIFY(first.start({ "--device", deviceFields("FIRST", 0, 1100) }));
    ScanWindow ui;
    QVERIFY(scanFor(ui, 1));
    SettingsForm *window = ui.openRow(0);
    QVERIFY(window);
    first.stop();

    // The segment now holds another device only; a new scan replaces the list.
    SimulatorProcess second;
    QVERIFY(second.start({ "--device", deviceFields("SECOND", 1, 1200) }));
    QVERIFY(scanFor(ui, 1));
    QCOMPARE(ui.rows(), QStringList { deviceTitle("SECOND", Segment::deviceAddress(1, 1)) });

    QVERIFY(first.start({ "--device", deviceFields("FIRST", 0, 1100) }));
    click(window, "setTimePushButton");
    QVERIFY(first.waitForCount(QStringLiteral("command"), 1, 3000));
    QCOMPARE(first.events(QStringLiteral("command")).first().value("device").toString(),
             QStringLiteral("FIRST"));
    QCOMPARE(second.events(QStringLiteral("command")).size(), 0);
}

void tst_DeviceSettings::rowsWithSameTitleOpenTheirOwnRecords()
{
    // Two devices with one name on one address: the conflict a technician comes to fix.
    SimulatorProcess simulator;
    QVERIFY(simulator.start({ "--device", deviceFields("TWIN", 0, 1301), "--device",
                              deviceFields("TWIN", 1, 1302, 0) }));
    ScanWindow ui;
    QVERIFY(scanFor(ui, 2));
    QCOMPARE(ui.rows().at(0), ui.rows().at(1));

    QStringList serials;
    for (int row = 0; row < 2; ++row) {
        SettingsForm *window = ui.openRow(row);
        QVERIFY(window);
        const QString text = info(window);
        serials.append(text.section(QStringLiteral("Serial:"), 1).section(QLatin1Char('\n'), 0, 0));
    }
    serials.sort();
    QCOMPARE(serials, QStringList({ "1301", "1302" }));
}

void tst_DeviceSettings::sameRowTwiceGivesTwoWindows()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start({ "--device", deviceFields("DOUBLE", 0, 1400) }));
    ScanWindow ui;
    QVERIFY(scanFor(ui, 1));
    SettingsForm *a = ui.openRow(0);
    SettingsForm *b = ui.openRow(0);
    QVERIFY(a && b && a != b);
    QCOMPARE(info(a), info(b));
    QCOMPARE(ScanWindow::settingsWindows().size(), 2);

    // Closing a window only hides it.
    QPointer<SettingsForm> guard(a);
    a->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(guard);
    QVERIFY(!a->isVisible());
}

QTEST_MAIN(tst_DeviceSettings)
#include "tst_devicesettings.moc"
