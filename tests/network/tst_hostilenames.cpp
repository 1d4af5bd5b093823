#include "settingsform.h"

#include "devicereply.h"
#include "scanwindow.h"
#include "segment.h"
#include "simulatorprocess.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTemporaryFile>
#include <QTextEdit>
#include <QUdpSocket>

namespace {

// Every text a widget and its children show or announce: titles, tips, labels, buttons,
// fields, lists and documents (both as plain text and as the HTML they hold).
QStringList shownTexts(QWidget *root)
{
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    QStringList texts;
    for (QWidget *widget : std::as_const(widgets)) {
        texts << widget->windowTitle() << widget->toolTip() << widget->statusTip()
              << widget->whatsThis() << widget->accessibleName() << widget->accessibleDescription();
        if (auto *label = qobject_cast<QLabel *>(widget))
            texts << label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            texts << button->text();
        if (auto *field = qobject_cast<QLineEdit *>(widget))
            texts << field->text() << field->placeholderText();
        if (auto *document = qobject_cast<QTextEdit *>(widget))
            texts << document->toPlainText() << document->toHtml();
        if (auto *box = qobject_cast<QComboBox *>(widget)) {
            for (int i = 0; i < box->count(); ++i)
                texts << box->itemText(i);
        }
    }
    return texts;
}

bool anyContains(const QStringList &texts, const QString &part)
{
    return std::any_of(texts.cbegin(), texts.cend(),
                       [&part](const QString &text) { return text.contains(part); });
}

// The list shows the row exactly as the reply named it, and only as plain text.
void verifyPlainRow(ScanWindow &ui, const QString &title)
{
    QCOMPARE(ui.list->count(), 1);
    const QListWidgetItem *item = ui.list->item(0);
    QCOMPARE(item->text(), title);
    QCOMPARE(item->text().size(), 13 + 1 + title.section(QLatin1Char('@'), -1).size());
    QVERIFY(!item->data(Qt::ToolTipRole).isValid());
    QVERIFY(!item->data(Qt::StatusTipRole).isValid());
    QVERIFY(!item->data(Qt::WhatsThisRole).isValid());
    // Rows are painted by the standard delegate, which lays out plain text only (a line
    // feed becomes a line separator), with no widget of their own that could interpret it.
    const auto *delegate = qobject_cast<QStyledItemDelegate *>(ui.list->itemDelegate());
    QVERIFY(delegate);
    QCOMPARE(delegate->metaObject()->className(), "QStyledItemDelegate");
    QString painted = title;
    painted.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QCOMPARE(delegate->displayText(item->data(Qt::DisplayRole), QLocale()), painted);
    QVERIFY(!ui.list->indexWidget(ui.list->model()->index(0, 0)));
}

// Nothing of the name reaches a title, a tip, a label or the settings window's document.
void verifyNameStaysInTheList(ScanWindow &ui, const QString &marker, const QString &address,
                              qint32 serial, qint32 uptime)
{
    QCOMPARE(ui.window.windowTitle(), QStringLiteral("Vandrel ntp setuptool"));
    if (!marker.isEmpty())
        QVERIFY(!anyContains(shownTexts(&ui.window), marker));

    SettingsForm *window = ui.openRow(0);
    QVERIFY(window);
    const auto *info = window->findChild<QTextEdit *>(QStringLiteral("generalInfoTextEdit"));
    QCOMPARE(info->toPlainText(),
             QStringLiteral("Current IP:%1\nEEPROM IP:%1\nSerial:%2\nUptime: %3")
                 .arg(address)
                 .arg(serial)
                 .arg(uptime));
    QCOMPARE(window->windowTitle(), QStringLiteral("NTP Server settings"));
    if (!marker.isEmpty()) {
        QVERIFY(!anyContains(shownTexts(window), marker));
        QVERIFY(!anyContains(shownTexts(&ui.window), marker));
    }
}

} // namespace

// Device names are whatever bytes a reply carries. They must be listed as the 13 Latin-1
// characters they are, never interpreted as markup, and never shown anywhere else.
class tst_HostileNames : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void nameShownAsPlainText_data();
    void nameShownAsPlainText();
    void simulatedDeviceWithHostileName();
};

void tst_HostileNames::initTestCase()
{
    REQUIRE_SEGMENT();
}

void tst_HostileNames::cleanup()
{
    for (SettingsForm *window : ScanWindow::settingsWindows())
        window->close();
}

void tst_HostileNames::nameShownAsPlainText_data()
{
    QTest::addColumn<QByteArray>("name");
    // Text that must show up nowhere but in the row, or empty where the name has none.
    QTest::addColumn<QString>("marker");

    QTest::newRow("bold tag") << QByteArray("<b>bold</b>") << QStringLiteral("bold");
    QTest::newRow("rich text document") << QByteArray("<qt>RICH</qt>") << QStringLiteral("RICH");
    QTest::newRow("image tag") << QByteArray("<img src=x>") << QStringLiteral("img");
    QTest::newRow("entities") << QByteArray("&amp;&lt;&#65") << QStringLiteral("amp;");
    QTest::newRow("NUL inside") << QByteArray("NUL\0INSIDE\0X", 12) << QStringLiteral("INSIDE");
    QTest::newRow("all NUL") << QByteArray(13, '\0') << QString();
    QTest::newRow("control characters")
        << QByteArray("\x1b[31mRED\n\r\t\x01\x7f") << QStringLiteral("RED");
    QTest::newRow("Latin-1 high half")
        << QByteArray("\x80\x85\x9f\xa0\xa9\xad\xc0\xe9\xf7\xfe\xffHI")
        << QString::fromLatin1("\xe9\xf7\xfe");
    QTest::newRow("13 characters, no padding")
        << QByteArray("ABCDEFGHIJKLM") << QStringLiteral("DEFGH");
    QTest::newRow("an address inside") << QByteArray("x@10.9.8.7") << QStringLiteral("10.9.8.7");
}

void tst_HostileNames::nameShownAsPlainText()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, marker);

    ScanWindow ui;
    DeviceReply reply;
    reply.name = name;
    reply.current = reply.eeprom = { 10, 77, 1, 42 };
    reply.serial = 4242;
    reply.uptime = 17;

    // Straight from the workstation, as any program on the segment could send it.
    QUdpSocket sender;
    QVERIFY(sender.bind(Segment::workstationAddresses().first(), 0));
    QCOMPARE(sender.writeDatagram(reply.scrambled(), QHostAddress::Broadcast, 7800), 64);
    QTRY_COMPARE_WITH_TIMEOUT(ui.list->count(), 1, 3000);

    const QString title = deviceTitle(QString::fromLatin1(name), QStringLiteral("10.77.1.42"));
    verifyPlainRow(ui, title);
    QCOMPARE(ui.receiveLabel->text(), QStringLiteral("Receive: 1"));
    verifyNameStaysInTheList(ui, marker, QStringLiteral("10.77.1.42"), 4242, 17);
}

// The same through a whole scan, from a simulated device configured with JSON escapes.
void tst_HostileNames::simulatedDeviceWithHostileName()
{
    const QString name = QStringLiteral("<i>") + QChar(0) + QStringLiteral("&lt;") + QChar(0xE9)
        + QChar(0x85) + QChar(0x07) + QChar(0xFF) + QLatin1Char('<');
    QTemporaryFile config;
    QVERIFY(config.open());
    config.write(QStringLiteral(R"({"devices":[{"name":"<i>\u0000&lt;\u00e9\u0085\u0007\u00ff<",)"
                                R"("ip":"%1","serial":5150,"uptime":9}]})")
                     .arg(Segment::deviceAddress(1, 0))
                     .toUtf8());
    config.close();

    SimulatorProcess simulator;
    QVERIFY2(simulator.start({ "--config", config.fileName() }), simulator.errors().constData());
    ScanWindow ui;
    ui.clickScan();
    QTRY_COMPARE_WITH_TIMEOUT(ui.list->count(), 1, 3000);
    ui.clickScan();

    QCOMPARE(name.size(), 13);
    verifyPlainRow(ui, deviceTitle(name, Segment::deviceAddress(1, 0)));
    verifyNameStaysInTheList(ui, QStringLiteral("&lt;"), Segment::deviceAddress(1, 0), 5150, 9);
}

QTEST_MAIN(tst_HostileNames)
#include "tst_hostilenames.moc"
