#ifndef SCANDRIVER_H
#define SCANDRIVER_H

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVector>

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
    // After a scan: serves the window's events until its reply sockets hold nothing more (or
    // `maxMs` have passed; *drained tells which) and returns the figures from the scan's start.
    ScanFigures settle(int maxMs, bool *drained = nullptr);
    // Opens the settings window of `row` as a double-click does.
    bool openSettings(int row);
    // Wall-clock time (microseconds since the epoch) at which each row of the last scan was
    // inserted, by row; comparable with kernel receive timestamps of the replies.
    const QVector<qint64> &rowTimesUs() const { return rowAtUs; }
    QString rowText(int row) const;

    // Sets the receive buffer of the window's reply sockets, as setsockopt(SO_RCVBUF) takes it,
    // and returns how many sockets were changed.
    int setReplyBufferSize(int bytes);
    // The receive buffer the kernel gives the first reply socket now (-1 without one).
    int replyBufferSize() const;

    static qint64 cpuTimeMs();
    static qint64 statusKb(const char *field);

private:
    ScanFigures figuresSoFar() const;

    setuptool *window;
    QListWidget *list;
    QPushButton *scanButton;
    QLabel *stateLabel;
    QProgressBar *progress;
    QElapsedTimer clock;
    qint64 firstProbeAt = -1;
    qint64 lastRowAt = -1;
    qint64 scanCpuStart = 0;
    QVector<qint64> rowAtUs;
};

#endif // SCANDRIVER_H
