#include "ui_setuptool.h"

#include <QSignalSpy>
#include <QTest>

// The main window's form on a bare QMainWindow: what setupUi builds before the window
// class changes anything.
class tst_MainForm : public QObject
{
    Q_OBJECT

private slots:
    void objectName_data();
    void objectName();
    void widgetsByName_data();
    void widgetsByName();
    void layoutTree();
    void properties();
    void texts();
    void noConnections();
    void retranslateRestoresFirstTexts();
};

void tst_MainForm::objectName_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unnamed window") << QString() << QStringLiteral("setuptool");
    QTest::newRow("named window keeps its name")
        << QStringLiteral("other") << QStringLiteral("other");
}

void tst_MainForm::objectName()
{
    QFETCH(QString, given);
    QFETCH(QString, expected);
    QMainWindow window;
    window.setObjectName(given);
    Ui::setuptool ui;
    ui.setupUi(&window);
    QCOMPARE(window.objectName(), expected);
}

void tst_MainForm::widgetsByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    const std::pair<const char *, const char *> objects[] = {
        { "centralWidget", "QWidget" },      { "gridLayout", "QGridLayout" },
        { "verticalLayout", "QVBoxLayout" }, { "horizontalLayout", "QHBoxLayout" },
        { "readytostartLabel", "QLabel" },   { "receiveLabel", "QLabel" },
        { "listWidget", "QListWidget" },     { "horizontalLayout_2", "QHBoxLayout" },
        { "scanPushButton", "QPushButton" }, { "scanprogressBar", "QProgressBar" },
        { "quitPushButton", "QPushButton" }, { "menuBar", "QMenuBar" },
        { "statusBar", "QStatusBar" },
    };
    for (const auto &[name, className] : objects)
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(className);
}

void tst_MainForm::widgetsByName()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QMainWindow window;
    Ui::setuptool ui;
    ui.setupUi(&window);
    QObject *object = window.findChild<QObject *>(name);
    QVERIFY2(object, qPrintable(name));
    QCOMPARE(QString::fromLatin1(object->metaObject()->className()), className);
}

void tst_MainForm::layoutTree()
{
    QMainWindow window;
    Ui::setuptool ui;
    ui.setupUi(&window);

    QCOMPARE(window.centralWidget(), ui.centralWidget);
    QCOMPARE(window.menuBar(), ui.menuBar);
    QCOMPARE(window.statusBar(), ui.statusBar);
    QCOMPARE(ui.centralWidget->layout(), ui.gridLayout);

    QCOMPARE(ui.gridLayout->count(), 1);
    int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
    ui.gridLayout->getItemPosition(0, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({ row, column, rowSpan, columnSpan }), QList<int>({ 0, 0, 1, 1 }));
    QCOMPARE(ui.gridLayout->itemAt(0)->layout(), ui.verticalLayout);
    QCOMPARE(ui.gridLayout->spacing(), 6);
    QCOMPARE(ui.gridLayout->contentsMargins(), QMargins(11, 11, 11, 11));

    QCOMPARE(ui.verticalLayout->count(), 3);
    QCOMPARE(ui.verticalLayout->itemAt(0)->layout(), ui.horizontalLayout);
    QCOMPARE(ui.verticalLayout->itemAt(1)->widget(), ui.listWidget);
    QCOMPARE(ui.verticalLayout->itemAt(2)->layout(), ui.horizontalLayout_2);

    QCOMPARE(ui.horizontalLayout->count(), 3);
    QCOMPARE(ui.horizontalLayout->itemAt(0)->widget(), ui.readytostartLabel);
    QCOMPARE(ui.horizontalLayout->itemAt(1)->spacerItem(), ui.horizontalSpacer);
    QCOMPARE(ui.horizontalLayout->itemAt(2)->widget(), ui.receiveLabel);
    QCOMPARE(ui.horizontalSpacer->sizeHint(), QSize(40, 20));
    QCOMPARE(ui.horizontalSpacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(ui.horizontalSpacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);

    QCOMPARE(ui.horizontalLayout_2->count(), 3);
    QCOMPARE(ui.horizontalLayout_2->itemAt(0)->widget(), ui.scanPushButton);
    QCOMPARE(ui.horizontalLayout_2->itemAt(1)->widget(), ui.scanprogressBar);
    QCOMPARE(ui.horizontalLayout_2->itemAt(2)->widget(), ui.quitPushButton);

    for (QLayout *layout :
         { static_cast<QLayout *>(ui.verticalLayout), static_cast<QLayout *>(ui.horizontalLayout),
           static_cast<QLayout *>(ui.horizontalLayout_2) })
        QCOMPARE(layout->spacing(), 6);
}

void tst_MainForm::properties()
{
    QMainWindow window;
    Ui::setuptool ui;
    ui.setupUi(&window);

    QCOMPARE(window.size(), QSize(289, 325));
    QCOMPARE(window.maximumSize(), QSize(700, 700));
    QCOMPARE(ui.menuBar->geometry(), QRect(0, 0, 289, 21));
    QCOMPARE(ui.scanprogressBar->minimum(), 0);
    QCOMPARE(ui.scanprogressBar->maximum(), 100);
    QCOMPARE(ui.scanprogressBar->value(), 24);
    QVERIFY(!ui.scanprogressBar->isTextVisible());
    QCOMPARE(ui.listWidget->count(), 0);
    QVERIFY(ui.menuBar->actions().isEmpty());

    window.resize(2000, 2000);
    QCOMPARE(window.size(), QSize(700, 700));
}

void tst_MainForm::texts()
{
    QMainWindow window;
    Ui::setuptool ui;
    ui.setupUi(&window);
    QCOMPARE(window.windowTitle(), QStringLiteral("setuptool"));
    QCOMPARE(ui.readytostartLabel->text(), QStringLiteral("TextLabel"));
    QCOMPARE(ui.receiveLabel->text(), QStringLiteral("TextLabel"));
    QCOMPARE(ui.scanPushButton->text(), QStringLiteral("Scan"));
    QCOMPARE(ui.quitPushButton->text(), QStringLiteral("Quit"));
}

void tst_MainForm::noConnections()
{
    QMainWindow window;
    Ui::setuptool ui;
    ui.setupUi(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTest::mouseClick(ui.quitPushButton, Qt::LeftButton);
    QTest::mouseClick(ui.scanPushButton, Qt::LeftButton);
    QVERIFY(window.isVisible());
    QCOMPARE(ui.scanPushButton->text(), QStringLiteral("Scan"));
}

void tst_MainForm::retranslateRestoresFirstTexts()
{
    QMainWindow window;
    Ui::setuptool ui;
    ui.setupUi(&window);
    window.setWindowTitle(QStringLiteral("changed"));
    ui.readytostartLabel->setText(QStringLiteral("changed"));
    ui.scanPushButton->setText(QStringLiteral("Stop"));

    ui.retranslateUi(&window);

    QCOMPARE(window.windowTitle(), QStringLiteral("setuptool"));
    QCOMPARE(ui.readytostartLabel->text(), QStringLiteral("TextLabel"));
    QCOMPARE(ui.scanPushButton->text(), QStringLiteral("Scan"));
}

QTEST_MAIN(tst_MainForm)
#include "tst_mainform.moc"
