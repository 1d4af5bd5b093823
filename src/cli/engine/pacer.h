#ifndef PACER_H
#define PACER_H

#include "tokenbucket.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// Calls a function for items 0..count-1 in order from the running event loop, at most
// `ratePerSecond` calls a second on average and never more than a few (TokenBucket) at once,
// also after the event loop was held up: the first at once, the rest as their time comes.
// The one pace of the companion: apply's commands and check's SNTP queries both keep it.
class Pacer : public QObject
{
    Q_OBJECT

public:
    explicit Pacer(int ratePerSecond, QObject *parent = nullptr);

    // finished() follows the last call (at once, from the event loop, when count is 0).
    void start(int count, const std::function<void(int index)> &call);
    // Holds the calls back, without spending the rate, while `ready` says no; poke() once it
    // may say yes again. ClockSurvey holds its queries so while its pool is busy.
    void setReady(const std::function<bool()> &ready) { m_ready = ready; }
    void poke() { callDue(); }
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }

signals:
    void finished();

private:
    void callDue();

    TokenBucket m_bucket;
    int m_count = 0;
    int m_next = 0;
    std::function<void(int)> m_call;
    std::function<bool()> m_ready;
    QTimer m_tick;
    QElapsedTimer m_clock;
};

#endif // PACER_H
