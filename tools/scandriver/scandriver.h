#ifndef SCANDRIVER_H
#define SCANDRIVER_H

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class setuptool;

// Drives the real main window from outside, the way a technician would: presses Scan, waits for
// the scan to end by itself, and measures what the list shows.
class ScanDriver : public QObject
{
    Q_OBJECT

public:
    struct ScanFigures
    {
        int rows = 0;
        int duplicateRows = 0;
        qint64 firstProbeToLastRowMs = -1;
        qint64 cpuMs = 0;
        qint64 peakRssKb = 0;
        qint64 rssKb = 0;
    };

    explicit ScanDriver(setuptool *window);

    // Runs one full scan and returns once the window is idle again.
    ScanFigures scan();
    // Opens the settings window of `row` as a double-click does.
    bool openSettings(int row);

    static qint64 cpuTimeMs();
    static qint64 statusKb(const char *field);

private:
    setuptool *window;
    QListWidget *list;
    QPushButton *scanButton;
    QLabel *stateLabel;
    QProgressBar *progress;
    QElapsedTimer clock;
    qint64 firstProbeAt = -1;
    qint64 lastRowAt = -1;
};

#endif // SCANDRIVER_H
