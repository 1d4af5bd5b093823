#include "settingsform.h"

#include "scanwindow.h"
#include "segment.h"
#include "simulatorprocess.h"

#include <QDateTime>
#include <QPushButton>
#include <QTimeZone>

namespace {

// The set-time command must carry seconds since the epoch, whatever the workstation's zone.
// The runs of this test are registered with a zone each (TZ), some with a fake clock started
// shortly before a daylight-saving change (libfaketime), so that a command carrying the local
// wall-clock time would be off by the zone's offset, before or after the change.
qint64 offsetNow()
{
    return QDateTime::currentDateTime().offsetFromUtc();
}

} // namespace

class tst_SetTime : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void setTimeCarriesEpochSeconds();

private:
    // Clicks Set Time and checks the seconds the device got against the workstation's clock.
    void setTimeOnce(SimulatorProcess &simulator, SettingsForm *window, int commandsBefore);
};

void tst_SetTime::initTestCase()
{
    REQUIRE_SEGMENT();
    // A run in UTC could not tell epoch seconds from local ones.
    QVERIFY2(offsetNow() != 0 || qEnvironmentVariableIsSet("FAKETIME"),
             qPrintable(QStringLiteral("the zone %1 is UTC now; run with TZ set to another")
                            .arg(QString::fromLocal8Bit(qgetenv("TZ")))));
    QVERIFY2(QTimeZone::systemTimeZone().isValid(), qgetenv("TZ").constData());
    // A fake clock that did not take would test the real date instead.
    if (qEnvironmentVariableIsSet("SETTIME_FAKE_START")) {
        const qint64 start = qgetenv("SETTIME_FAKE_START").toLongLong();
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QVERIFY2(
            now >= start && now < start + 60,
            qPrintable(
                QStringLiteral("the clock reads %1, not shortly after %2").arg(now).arg(start)));
    }
}

void tst_SetTime::cleanup()
{
    for (SettingsForm *window : ScanWindow::settingsWindows())
        window->close();
}

void tst_SetTime::setTimeOnce(SimulatorProcess &simulator, SettingsForm *window, int commandsBefore)
{
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("setTimePushButton")),
                      Qt::LeftButton);
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    QVERIFY(simulator.waitForCount(QStringLiteral("command"), commandsBefore + 1, 3000));
    const QJsonObject command = simulator.events(QStringLiteral("command")).at(commandsBefore);
    QCOMPARE(command.value(QLatin1String("kind")).toString(), QStringLiteral("set-time"));
    const qint64 seconds = command.value(QLatin1String("seconds")).toInteger();
    qInfo("local time %s (UTC%+lld s): the device got %lld",
          qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)), offsetNow(), seconds);
    QVERIFY2(
        seconds >= quint32(before) && seconds <= quint32(after),
        qPrintable(
            QStringLiteral("%1 is not between %2 and %3").arg(seconds).arg(before).arg(after)));
}

void tst_SetTime::setTimeCarriesEpochSeconds()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start(
        { "--device", "name=CLOCK,serial=42,uptime=1,ip=" + Segment::deviceAddress(1, 0) }));
    ScanWindow ui;
    ui.clickScan();
    QTRY_COMPARE_WITH_TIMEOUT(ui.list->count(), 1, 3000);
    ui.clickScan();
    SettingsForm *window = ui.openRow(0);
    QVERIFY(window);

    const qint64 offsetBefore = offsetNow();
    setTimeOnce(simulator, window, 0);
    if (!qEnvironmentVariableIsSet("SETTIME_FAKE_START"))
        return;

    // Across the daylight-saving change the fake clock started before.
    QTRY_VERIFY_WITH_TIMEOUT(offsetNow() != offsetBefore, 60000);
    setTimeOnce(simulator, window, 1);
}

QTEST_MAIN(tst_SetTime)
#include "tst_settime.moc"
