#include "scandriver.h"

#include "deviceprotocol.h"
#include "setuptool.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <ctime>

#include <sys/resource.h>

namespace {

qint64 wallClockUs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

QList<QUdpSocket *> replySockets(const setuptool *window)
{
    QList<QUdpSocket *> sockets;
    for (QUdpSocket *socket : window->findChildren<QUdpSocket *>()) {
        if (socket->localPort() == DeviceProtocol::devicePort)
            sockets.append(socket);
    }
    return sockets;
}

// Serves the window's events until `done` holds or `maxMs` have passed.
template<typename Predicate> void serveUntil(Predicate done, int maxMs)
{
    QElapsedTimer waited;
    waited.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || (maxMs >= 0 && waited.elapsed() >= maxMs))
            loop.quit();
    });
    poll.start(20);
    loop.exec();
}

} // namespace

ScanDriver::ScanDriver(setuptool *window)
    : window(window)
    , list(window->findChild<QListWidget *>(QStringLiteral("listWidget")))
    , scanButton(window->findChild<QPushButton *>(QStringLiteral("scanPushButton")))
    , stateLabel(window->findChild<QLabel *>(QStringLiteral("readytostartLabel")))
    , progress(window->findChild<QProgressBar *>(QStringLiteral("scanprogressBar")))
{
    Q_ASSERT(list && scanButton && stateLabel && progress);
    clock.start();
    // The bar reaches 1 right after the first probes went out.
    connect(progress, &QProgressBar::valueChanged, this, [this](int value) {
        if (value == 1 && firstProbeAt < 0)
            firstProbeAt = clock.elapsed();
    });
    connect(list->model(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) {
                lastRowAt = clock.elapsed();
                const qint64 now = wallClockUs();
                if (rowAtUs.size() <= last)
                    rowAtUs.resize(last + 1, -1);
                for (int row = first; row <= last; ++row)
                    rowAtUs[row] = now;
            });
}

ScanDriver::ScanFigures ScanDriver::scan()
{
    firstProbeAt = -1;
    lastRowAt = -1;
    rowAtUs.clear();
    scanCpuStart = cpuTimeMs();

    scanButton->click();
    serveUntil([this] { return stateLabel->text() != QLatin1String("Scanning"); }, -1);
    return figuresSoFar();
}

ScanDriver::ScanFigures ScanDriver::settle(int maxMs, bool *drained)
{
    // The last probe went out a second before the scan ended, so every reply is in by now;
    // the window keeps reading them as long as its reply sockets hold any.
    const QList<QUdpSocket *> sockets = replySockets(window);
    const auto empty = [&sockets] {
        return std::none_of(sockets.cbegin(), sockets.cend(),
                            [](QUdpSocket *socket) { return socket->hasPendingDatagrams(); });
    };
    serveUntil(empty, maxMs);
    if (drained)
        *drained = empty();
    return figuresSoFar();
}

ScanDriver::ScanFigures ScanDriver::figuresSoFar() const
{
    ScanFigures figures;
    figures.rows = list->count();
    QSet<QString> titles;
    for (int i = 0; i < list->count(); ++i)
        titles.insert(list->item(i)->text());
    figures.duplicateRows = figures.rows - int(titles.size());
    if (firstProbeAt >= 0 && lastRowAt >= firstProbeAt)
        figures.firstProbeToLastRowMs = lastRowAt - firstProbeAt;
    figures.cpuMs = cpuTimeMs() - scanCpuStart;
    figures.peakRssKb = statusKb("VmHWM");
    figures.rssKb = statusKb("VmRSS");
    return figures;
}

bool ScanDriver::openSettings(int row)
{
    QListWidgetItem *item = list->item(row);
    if (!item)
        return false;
    emit list->itemDoubleClicked(item);
    return true;
}

QString ScanDriver::rowText(int row) const
{
    const QListWidgetItem *item = list->item(row);
    return item ? item->text() : QString();
}

int ScanDriver::setReplyBufferSize(int bytes)
{
    const QList<QUdpSocket *> sockets = replySockets(window);
    for (QUdpSocket *socket : sockets)
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, bytes);
    return int(sockets.size());
}

int ScanDriver::replyBufferSize() const
{
    const QList<QUdpSocket *> sockets = replySockets(window);
    if (sockets.isEmpty())
        return -1;
    return sockets.first()->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}

qint64 ScanDriver::cpuTimeMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return qint64(t.tv_sec) * 1000 + t.tv_usec / 1000; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

qint64 ScanDriver::statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
