#include "latencyprobe.h"
#include "scandriver.h"

#include "settingsform.h"
#include "setuptool.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

void printLine(const QJsonObject &object)
{
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The buffer a socket gets from the kernel when nobody asks for one: Linux doubles what
// setsockopt(SO_RCVBUF) is given, so half of net.core.rmem_default restores the default.
int osDefaultReplyBuffer()
{
    QFile file(QStringLiteral("/proc/sys/net/core/rmem_default"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const int bytes = file.readAll().trimmed().toInt();
    return bytes > 0 ? bytes / 2 : -1;
}

QJsonObject figuresJson(int scan, const ScanDriver::ScanFigures &figures)
{
    return { { QStringLiteral("scan"), scan },
             { QStringLiteral("rows"), figures.rows },
             { QStringLiteral("duplicate_rows"), figures.duplicateRows },
             { QStringLiteral("first_probe_to_last_row_ms"), figures.firstProbeToLastRowMs },
             { QStringLiteral("cpu_ms"), figures.cpuMs },
             { QStringLiteral("rss_kb"), figures.rssKb },
             { QStringLiteral("peak_rss_kb"), figures.peakRssKb } };
}

void writeRowTimes(QFile &file, const ScanDriver &driver, int scan)
{
    const QVector<qint64> &times = driver.rowTimesUs();
    for (int row = 0; row < times.size(); ++row) {
        // The names' NUL padding would only get in the way of whoever reads this.
        QString text = driver.rowText(row);
        text.remove(QChar(0));
        const QJsonObject line { { QStringLiteral("scan"), scan },
                                 { QStringLiteral("row"), row },
                                 { QStringLiteral("at_us"), times.at(row) },
                                 { QStringLiteral("text"), text } };
        file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    }
    file.flush();
}

// The main window and every settings window on screen, as PNG files in `directory`.
void saveScreenshots(QWidget *window, const QDir &directory)
{
    const QString path = directory.filePath(QStringLiteral("main-window.png"));
    window->grab().save(path);
    printLine({ { QStringLiteral("screenshot"), path } });
    int shown = 0;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *widget : windows) {
        if (!qobject_cast<SettingsForm *>(widget) || !widget->isVisible())
            continue;
        const QString settingsPath
            = directory.filePath(QStringLiteral("settings-%1.png").arg(++shown));
        widget->grab().save(settingsPath);
        printLine({ { QStringLiteral("screenshot"), settingsPath } });
    }
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
        "first probe to the last new row, CPU ms of the scan, resident and peak memory (KiB),\n"
        "and the receive buffer the kernel gives the reply sockets (bytes)."));
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
    const QCommandLineOption replyBufferOption(
        QStringLiteral("reply-buffer"),
        QStringLiteral("Before scanning, set the receive buffer of the window's reply sockets "
                       "to BYTES (as setsockopt(SO_RCVBUF) takes it), or to the system's "
                       "default with 'os-default', to compare with what the tool asks for."),
        QStringLiteral("BYTES"));
    const QCommandLineOption rowTimesOption(
        QStringLiteral("row-times"),
        QStringLiteral("Write one JSON line per listed row into FILE: scan, row, wall-clock "
                       "time of its insertion (at_us, microseconds since the epoch), text."),
        QStringLiteral("FILE"));
    const QCommandLineOption settleOption(
        QStringLiteral("settle"),
        QStringLiteral("After each scan, keep the window reading until its reply sockets are "
                       "empty (at most 60 s) and print a second line of figures "
                       "(\"settled\": true) counted from the scan's start; --row-times then "
                       "also has the rows listed after the scan."));
    const QCommandLineOption latencyOption(
        QStringLiteral("latency-probe"),
        QStringLiteral("Run a 10 ms timer on the window's thread during each scan and add the "
                       "worst delay of its ticks beyond 10 ms (worst_timer_delay_ms) and their "
                       "count (timer_ticks) to the figures."));
    parser.addOptions({ scansOption, settingsOption, screenshotOption, stayOption,
                        replyBufferOption, rowTimesOption, settleOption, latencyOption });
    parser.process(app);

    setuptool window;
    window.show();
    ScanDriver driver(&window);

    if (parser.isSet(replyBufferOption)) {
        const QString value = parser.value(replyBufferOption);
        bool ok = true;
        const int bytes
            = value == QLatin1String("os-default") ? osDefaultReplyBuffer() : value.toInt(&ok);
        if (!ok || bytes <= 0 || driver.setReplyBufferSize(bytes) == 0) {
            std::fprintf(stderr, "scandriver: cannot set the reply buffer to '%s'\n",
                         qPrintable(value));
            return 2;
        }
    }

    QFile rowTimes;
    if (parser.isSet(rowTimesOption)) {
        rowTimes.setFileName(parser.value(rowTimesOption));
        if (!rowTimes.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            std::fprintf(stderr, "scandriver: cannot write %s: %s\n",
                         qPrintable(rowTimes.fileName()), qPrintable(rowTimes.errorString()));
            return 2;
        }
    }

    const auto *receiveLabel = window.findChild<QLabel *>(QStringLiteral("receiveLabel"));
    std::unique_ptr<LatencyProbe> probe;
    if (parser.isSet(latencyOption))
        probe = std::make_unique<LatencyProbe>();

    const int scans = parser.value(scansOption).toInt();
    const int settings = parser.value(settingsOption).toInt();
    QTimer::singleShot(0, &app, [&] {
        for (int i = 1; i <= scans; ++i) {
            const qint64 rssBeforeKb = ScanDriver::statusKb("VmRSS");
            if (probe)
                probe->start();
            const ScanDriver::ScanFigures figures = driver.scan();
            if (probe)
                probe->stop();
            for (int row = 0; row < settings; ++row)
                driver.openSettings(row);
            QJsonObject scanLine = figuresJson(i, figures);
            scanLine.insert(QStringLiteral("reply_buffer"), driver.replyBufferSize());
            // What the window's receive label counts: every datagram read, listed or not.
            scanLine.insert(QStringLiteral("received"),
                            receiveLabel->text().section(QLatin1Char(' '), -1).toInt());
            scanLine.insert(QStringLiteral("rss_before_kb"), rssBeforeKb);
            if (probe) {
                scanLine.insert(QStringLiteral("worst_timer_delay_ms"), probe->worstDelayMs());
                scanLine.insert(QStringLiteral("timer_ticks"), probe->tickCount());
            }
            printLine(scanLine);
            if (parser.isSet(settleOption)) {
                bool drained = false;
                QJsonObject settledLine = figuresJson(i, driver.settle(60000, &drained));
                settledLine.insert(QStringLiteral("settled"), true);
                settledLine.insert(QStringLiteral("drained"), drained);
                printLine(settledLine);
            }
            if (rowTimes.isOpen())
                writeRowTimes(rowTimes, driver, i);
        }
        if (parser.isSet(screenshotOption))
            saveScreenshots(&window, QDir(parser.value(screenshotOption)));
        if (!parser.isSet(stayOption))
            app.quit();
    });
    return app.exec();
}
