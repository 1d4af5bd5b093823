#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Turns SIGTERM and SIGINT into a Qt signal.  The handler itself only writes
// a byte into a socket pair; everything else happens in the event loop.
// Only one instance may exist at a time.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool isActive() const { return m_notifier != nullptr; }

signals:
    void terminationRequested();

private:
    void drain();

    std::unique_ptr<QSocketNotifier> m_notifier;
};

#endif // SIGNALWATCHER_H
