#include "settingsform.h"
#include "ui_settingsform.h"

#include "ntpserver.h"

#include "devicereply.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QValidator>
#include <QtEndian>

namespace {

QSharedPointer<NTPserver> record(const DeviceReply &reply)
{
    QByteArray datagram = reply.scrambled();
    return QSharedPointer<NTPserver>::create(datagram, nullptr);
}

QByteArray plain(const QByteArray &command)
{
    return DeviceReply::scramble(command);
}

} // namespace

// The settings window without a network: its form, what it shows of a record, and the
// command bytes it builds.
class tst_SettingsForm : public QObject
{
    Q_OBJECT

private slots:
    void formObjectName_data();
    void formObjectName();
    void formTree();
    void formProperties();
    void formTexts();
    void formAddressFieldStaysNarrow();

    void selectionsFollowFlags_data();
    void selectionsFollowFlags();
    void infoLines_data();
    void infoLines();
    void validator_data();
    void validator();
    void tabOrder();

    void setTimeCommand_data();
    void setTimeCommand();
    void settingsCommand_data();
    void settingsCommand();
};

void tst_SettingsForm::formObjectName_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unnamed") << QString() << QStringLiteral("SettingsForm");
    QTest::newRow("named keeps its name") << QStringLiteral("mine") << QStringLiteral("mine");
}

void tst_SettingsForm::formObjectName()
{
    QFETCH(QString, given);
    QFETCH(QString, expected);
    QWidget window;
    window.setObjectName(given);
    Ui::SettingsForm ui;
    ui.setupUi(&window);
    QCOMPARE(window.objectName(), expected);
}

void tst_SettingsForm::formTree()
{
    QWidget window;
    Ui::SettingsForm ui;
    ui.setupUi(&window);

    QCOMPARE(window.layout(), ui.gridLayout_2);
    QCOMPARE(ui.gridLayout_2->count(), 1);
    QCOMPARE(ui.gridLayout_2->itemAt(0)->layout(), ui.verticalLayout_2);

    QCOMPARE(ui.verticalLayout_2->count(), 4);
    QCOMPARE(ui.verticalLayout_2->itemAt(0)->layout(), ui.gridLayout);
    QCOMPARE(ui.verticalLayout_2->itemAt(1)->layout(), ui.horizontalLayout);
    QCOMPARE(ui.verticalLayout_2->itemAt(2)->layout(), ui.horizontalLayout_2);
    QCOMPARE(ui.verticalLayout_2->itemAt(3)->layout(), ui.verticalLayout);

    // The service grid in add order, each with its cell.
    const QList<std::pair<QObject *, QPoint>> grid = {
        { ui.mbtcpComboBox, { 1, 1 } },  { ui.label, { 0, 0 } },
        { ui.label_2, { 1, 0 } },        { ui.label_3, { 2, 0 } },
        { ui.melsecComboBox, { 2, 1 } }, { nullptr, { 2, 2 } },
        { ui.ntpComboBox, { 0, 1 } },    { ui.label_6, { 3, 0 } },
        { ui.gpsComboBox, { 3, 1 } },
    };
    QCOMPARE(ui.gridLayout->count(), int(grid.size()));
    for (int i = 0; i < grid.size(); ++i) {
        QLayoutItem *item = ui.gridLayout->itemAt(i);
        if (grid.at(i).first)
            QCOMPARE(static_cast<QObject *>(item->widget()), grid.at(i).first);
        else
            QCOMPARE(item->spacerItem(), ui.horizontalSpacer_2);
        int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
        ui.gridLayout->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QPoint(row, column), grid.at(i).second);
        QCOMPARE(QSize(rowSpan, columnSpan), QSize(1, 1));
    }

    QCOMPARE(ui.horizontalLayout->count(), 3);
    QCOMPARE(ui.horizontalLayout->itemAt(0)->widget(), ui.label_4);
    QCOMPARE(ui.horizontalLayout->itemAt(1)->widget(), ui.ipAddressLineEdit);
    QCOMPARE(ui.horizontalLayout->itemAt(2)->spacerItem(), ui.horizontalSpacer);

    const QList<QPushButton *> buttons
        = { ui.sendPushButton, ui.receivePushButton, ui.importPushButton, ui.exportPushButton,
            ui.setTimePushButton };
    QCOMPARE(ui.horizontalLayout_2->count(), int(buttons.size()));
    for (int i = 0; i < buttons.size(); ++i)
        QCOMPARE(ui.horizontalLayout_2->itemAt(i)->widget(), buttons.at(i));

    QCOMPARE(ui.verticalLayout->count(), 2);
    QCOMPARE(ui.verticalLayout->itemAt(0)->widget(), ui.label_5);
    QCOMPARE(ui.verticalLayout->itemAt(1)->widget(), ui.generalInfoTextEdit);

    for (QSpacerItem *spacer : { ui.horizontalSpacer, ui.horizontalSpacer_2 }) {
        QCOMPARE(spacer->sizeHint(), QSize(40, 20));
        QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    }

    // Every widget and layout is named as its member.
    const QStringList names = { "gridLayout_2",
                                "verticalLayout_2",
                                "gridLayout",
                                "mbtcpComboBox",
                                "label",
                                "label_2",
                                "label_3",
                                "melsecComboBox",
                                "ntpComboBox",
                                "label_6",
                                "gpsComboBox",
                                "horizontalLayout",
                                "label_4",
                                "ipAddressLineEdit",
                                "horizontalLayout_2",
                                "sendPushButton",
                                "receivePushButton",
                                "importPushButton",
                                "exportPushButton",
                                "setTimePushButton",
                                "verticalLayout",
                                "label_5",
                                "generalInfoTextEdit" };
    for (const QString &name : names)
        QVERIFY2(window.findChild<QObject *>(name), qPrintable(name));
}

void tst_SettingsForm::formProperties()
{
    QWidget window;
    Ui::SettingsForm ui;
    ui.setupUi(&window);

    QCOMPARE(window.size(), QSize(446, 409));
    for (QComboBox *box : { ui.ntpComboBox, ui.mbtcpComboBox, ui.melsecComboBox, ui.gpsComboBox })
        QCOMPARE(box->count(), 0);

    const QList<QWidget *> widgets
        = window.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(widgets.size(), 17);
    for (QWidget *widget : widgets) {
        const bool disabled = widget == ui.melsecComboBox || widget == ui.generalInfoTextEdit;
        QCOMPARE(widget->isEnabled(), !disabled);
    }

    QCOMPARE(ui.ipAddressLineEdit->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(ui.ipAddressLineEdit->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(ui.ipAddressLineEdit->maximumSize(), QSize(100, 16777213));
    QCOMPARE(ui.ipAddressLineEdit->inputMask(), QString());
    QVERIFY(!ui.generalInfoTextEdit->acceptDrops());
    QVERIFY(!ui.generalInfoTextEdit->isUndoRedoEnabled());
    QVERIFY(!ui.generalInfoTextEdit->acceptRichText());
    QVERIFY(!ui.generalInfoTextEdit->isReadOnly());
}

void tst_SettingsForm::formTexts()
{
    QWidget window;
    Ui::SettingsForm ui;
    ui.setupUi(&window);

    QCOMPARE(window.windowTitle(), QStringLiteral("NTP Server settings"));
    const QList<std::pair<QString, QString>> texts = {
        { ui.label->text(), "NTP" },
        { ui.label_2->text(), "Modbus TCP" },
        { ui.label_3->text(), "MELSEC" },
        { ui.label_6->text(), "GPS" },
        { ui.label_4->text(), "IP Address  " },
        { ui.label_5->text(), "General info" },
        { ui.sendPushButton->text(), "Send" },
        { ui.receivePushButton->text(), "Receive" },
        { ui.importPushButton->text(), "Import" },
        { ui.exportPushButton->text(), "Export" },
        { ui.setTimePushButton->text(), "Set Time" },
    };
    for (const auto &[actual, expected] : texts)
        QCOMPARE(actual, expected);

    // retranslateUi puts back texts only; the line edit's text and the box's content stay.
    ui.ipAddressLineEdit->setText(QStringLiteral("10.0.0.1"));
    ui.generalInfoTextEdit->setPlainText(QStringLiteral("facts"));
    ui.sendPushButton->setText(QStringLiteral("changed"));
    ui.retranslateUi(&window);
    QCOMPARE(ui.sendPushButton->text(), QStringLiteral("Send"));
    QCOMPARE(ui.ipAddressLineEdit->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(ui.generalInfoTextEdit->toPlainText(), QStringLiteral("facts"));
}

void tst_SettingsForm::formAddressFieldStaysNarrow()
{
    QWidget window;
    Ui::SettingsForm ui;
    ui.setupUi(&window);
    window.resize(1600, 900);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(ui.ipAddressLineEdit->width() <= 100);
    QVERIFY(ui.generalInfoTextEdit->height() > 400);
}

void tst_SettingsForm::selectionsFollowFlags_data()
{
    QTest::addColumn<QList<int>>("flagBytes");
    QTest::addColumn<QStringList>("shown");

    const QString on = QStringLiteral("Enabled");
    const QString off = QStringLiteral("Disabled");
    QTest::newRow("ntp and gps") << QList<int> { 1, 0, 0, 1 } << QStringList { on, off, off, on };
    QTest::newRow("all off") << QList<int> { 0, 0, 0, 0 } << QStringList { off, off, off, off };
    QTest::newRow("raw bytes 2 and 255")
        << QList<int> { 2, 255, 1, 0 } << QStringList { on, on, on, off };
    QTest::newRow("modbus and melsec")
        << QList<int> { 0, 1, 1, 0 } << QStringList { off, on, on, off };
}

void tst_SettingsForm::selectionsFollowFlags()
{
    QFETCH(QList<int>, flagBytes);
    QFETCH(QStringList, shown);

    DeviceReply reply;
    for (int k = 0; k < 4; ++k)
        reply.flags[k] = quint8(flagBytes.at(k));
    SettingsForm window(record(reply));

    const QStringList names = { "ntpComboBox", "mbtcpComboBox", "melsecComboBox", "gpsComboBox" };
    for (int k = 0; k < 4; ++k) {
        auto *box = window.findChild<QComboBox *>(names.at(k));
        QVERIFY(box);
        QCOMPARE(box->count(), 2);
        QCOMPARE(box->itemText(0), QStringLiteral("Disabled"));
        QCOMPARE(box->itemText(1), QStringLiteral("Enabled"));
        QCOMPARE(box->currentText(), shown.at(k));
    }
    QVERIFY(!window.findChild<QComboBox *>(QStringLiteral("melsecComboBox"))->isEnabled());
    QVERIFY(!window.parentWidget());
    QVERIFY(window.isWindow());
}

void tst_SettingsForm::infoLines_data()
{
    QTest::addColumn<qint32>("serial");
    QTest::addColumn<qint32>("uptime");
    QTest::addColumn<QString>("expected");

    QTest::newRow("ordinary")
        << 123456 << 48 << "Current IP:192.168.1.20\nEEPROM IP:10.0.0.7\nSerial:123456\nUptime: 48";
    QTest::newRow("serial of four 0xFF bytes")
        << -1 << 0 << "Current IP:192.168.1.20\nEEPROM IP:10.0.0.7\nSerial:-1\nUptime: 0";
    QTest::newRow("negative uptime")
        << 7 << -300 << "Current IP:192.168.1.20\nEEPROM IP:10.0.0.7\nSerial:7\nUptime: -300";
}

void tst_SettingsForm::infoLines()
{
    QFETCH(qint32, serial);
    QFETCH(qint32, uptime);
    QFETCH(QString, expected);

    DeviceReply reply;
    reply.name = "<b>bold</b>";
    reply.current = { 192, 168, 1, 20 };
    reply.eeprom = { 10, 0, 0, 7 };
    reply.serial = serial;
    reply.uptime = uptime;
    SettingsForm window(record(reply));

    auto *info = window.findChild<QTextEdit *>(QStringLiteral("generalInfoTextEdit"));
    auto *address = window.findChild<QLineEdit *>(QStringLiteral("ipAddressLineEdit"));
    QVERIFY(info && address);
    QCOMPARE(info->toPlainText(), expected);
    QVERIFY(!info->isEnabled());
    QCOMPARE(address->text(), QStringLiteral("192.168.1.20"));
    QVERIFY(address->hasAcceptableInput());
}

void tst_SettingsForm::validator_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");

    QTest::newRow("ordinary") << "10.0.0.7" << int(QValidator::Acceptable);
    QTest::newRow("leading zeros") << "007.010.000.255" << int(QValidator::Acceptable);
    QTest::newRow("top octet 255") << "255.255.255.255" << int(QValidator::Acceptable);
    QTest::newRow("octet 256") << "10.0.0.256" << int(QValidator::Invalid);
    QTest::newRow("octet 300 first") << "300.1.1.1" << int(QValidator::Invalid);
    QTest::newRow("three parts") << "1.2.3" << int(QValidator::Intermediate);
    QTest::newRow("empty last part") << "10.0.0." << int(QValidator::Intermediate);
    QTest::newRow("five parts") << "1.2.3.4.5" << int(QValidator::Invalid);
    QTest::newRow("letters") << "ten.0.0.1" << int(QValidator::Invalid);
    QTest::newRow("four digits") << "1000.0.0.1" << int(QValidator::Invalid);
}

void tst_SettingsForm::validator()
{
    QFETCH(QString, text);
    QFETCH(int, state);

    SettingsForm window(record(DeviceReply()));
    auto *address = window.findChild<QLineEdit *>(QStringLiteral("ipAddressLineEdit"));
    QVERIFY(address && address->validator());
    int position = 0;
    QCOMPARE(int(address->validator()->validate(text, position)), state);
}

void tst_SettingsForm::tabOrder()
{
    SettingsForm window(record(DeviceReply()));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QStringList expected = { "mbtcpComboBox",     "ntpComboBox",      "gpsComboBox",
                                   "ipAddressLineEdit", "sendPushButton",   "receivePushButton",
                                   "importPushButton",  "exportPushButton", "setTimePushButton" };
    QWidget *widget = window.findChild<QWidget *>(expected.first());
    QVERIFY(widget);
    for (const QString &name : expected) {
        QCOMPARE(widget->objectName(), name);
        do {
            widget = widget->nextInFocusChain();
        } while (!(widget->isEnabled() && widget->focusPolicy() & Qt::TabFocus)
                 || widget == &window);
    }
    QCOMPARE(widget->objectName(), expected.first());
}

void tst_SettingsForm::setTimeCommand_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QByteArray>("clock");

    QTest::newRow("256 s after the epoch") << qint64(256) << QByteArray("\x00\x01\x00\x00", 4);
    QTest::newRow("2^32 + 5 is cut to 32 bits")
        << (qint64(1) << 32) + 5 << QByteArray("\x05\x00\x00\x00", 4);
    QTest::newRow("a day in 2026") << qint64(1796601600) << QByteArray("\x00\xf7\x15\x6b", 4);
    QTest::newRow("epoch") << qint64(0) << QByteArray(4, '\0');
}

void tst_SettingsForm::setTimeCommand()
{
    QFETCH(qint64, seconds);
    QFETCH(QByteArray, clock);

    const QByteArray command = SettingsForm::setTimeCommand(seconds);
    QCOMPARE(command.size(), 10);
    QCOMPARE(plain(command), QByteArray("sttime") + clock);
    // Scrambled on the wire: 's' ^ 0xA7.
    QCOMPARE(quint8(command.at(0)), quint8(0xD4));
}

void tst_SettingsForm::settingsCommand_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("address");

    QTest::newRow("10.0.0.7") << "10.0.0.7" << QByteArray("\x0a\x00\x00\x07", 4);
    QTest::newRow("leading zeros") << "192.168.001.020" << QByteArray("\xc0\xa8\x01\x14", 4);
    QTest::newRow("empty last part gives 0") << "10.0.0." << QByteArray("\x0a\x00\x00\x00", 4);
    QTest::newRow("missing parts give 0") << "1.2.3" << QByteArray("\x01\x02\x03\x00", 4);
    QTest::newRow("empty text") << "" << QByteArray(4, '\0');
    QTest::newRow("part that is no number gives 0")
        << "10.x.0.9" << QByteArray("\x0a\x00\x00\x09", 4);
    QTest::newRow("extra parts are not read") << "1.2.3.4.5" << QByteArray("\x01\x02\x03\x04", 4);
}

void tst_SettingsForm::settingsCommand()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, address);

    const QByteArray command = SettingsForm::settingsCommand(text);
    QCOMPARE(command.size(), 14);
    QCOMPARE(plain(command), QByteArray("stsets\x01\x01\x00\x01", 10) + address);
}

QTEST_MAIN(tst_SettingsForm)
#include "tst_settingsform.moc"
