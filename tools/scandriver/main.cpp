#include "scandriver.h"

#include "settingsform.h"
#include "setuptool.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

void printLine(const QJsonObject &object)
{
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("scandriver"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Runs the set-up tool's main window and scans with it from outside, without a user.\n"
            "Prints one JSON line of figures per scan: rows listed, duplicate rows, ms from the\n"
            "first probe to the last new row, CPU ms of the scan, resident and peak memory (KiB)."));
    parser.addHelpOption();
    const QCommandLineOption scansOption(QStringLiteral("scans"),
                                         QStringLiteral("Scans to run in a row (default 1)."),
                                         QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption settingsOption(
            QStringLiteral("open-settings"),
            QStringLiteral("Settings windows to open after each scan, one per row from the top."),
            QStringLiteral("K"), QStringLiteral("0"));
    const QCommandLineOption screenshotOption(
            QStringLiteral("screenshot"),
            QStringLiteral("Write PNG screenshots of the main window and the open settings\n"
                           "windows into DIR after the last scan."),
            QStringLiteral("DIR"));
    const QCommandLineOption stayOption(QStringLiteral("stay"),
                                        QStringLiteral("Keep the window open after the scans."));
    parser.addOptions({ scansOption, settingsOption, screenshotOption, stayOption });
    parser.process(app);

    setuptool window;
    window.show();
    ScanDriver driver(&window);

    const int scans = parser.value(scansOption).toInt();
    const int settings = parser.value(settingsOption).toInt();
    QTimer::singleShot(0, &app, [&] {
        for (int i = 1; i <= scans; ++i) {
            const ScanDriver::ScanFigures figures = driver.scan();
            for (int row = 0; row < settings; ++row)
                driver.openSettings(row);
            printLine({ { QStringLiteral("scan"), i },
                        { QStringLiteral("rows"), figures.rows },
                        { QStringLiteral("duplicate_rows"), figures.duplicateRows },
                        { QStringLiteral("first_probe_to_last_row_ms"), figures.firstProbeToLastRowMs },
                        { QStringLiteral("cpu_ms"), figures.cpuMs },
                        { QStringLiteral("rss_kb"), figures.rssKb },
                        { QStringLiteral("peak_rss_kb"), figures.peakRssKb } });
        }
        if (parser.isSet(screenshotOption)) {
            const QDir directory(parser.value(screenshotOption));
            const QString path = directory.filePath(QStringLiteral("main-window.png"));
            window.grab().save(path);
            printLine({ { QStringLiteral("screenshot"), path } });
            int shown = 0;
            const QWidgetList windows = QApplication::topLevelWidgets();
            for (QWidget *widget : windows) {
                if (!qobject_cast<SettingsForm *>(widget) || !widget->isVisible())
                    continue;
                const QString settingsPath =
                        directory.filePath(QStringLiteral("settings-%1.png").arg(++shown));
                widget->grab().save(settingsPath);
                printLine({ { QStringLiteral("screenshot"), settingsPath } });
            }
        }
        if (!parser.isSet(stayOption))
            app.quit();
    });
    return app.exec();
}
