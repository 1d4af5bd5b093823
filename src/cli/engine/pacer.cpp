#include "pacer.h"

#include <algorithm>

namespace {

// Short enough that a high rate goes out evenly (one token a tick, up to 5 ms), long enough not
// to spin.
int tickMs(int ratePerSecond)
{
    return std::clamp(1000 / std::max(1, ratePerSecond), 1, 5);
}

} // namespace

Pacer::Pacer(int ratePerSecond, QObject *parent)
    : QObject(parent)
    , m_bucket(std::max(1, ratePerSecond),
               TokenBucket::depthFor(std::max(1, ratePerSecond), tickMs(ratePerSecond)))
{
    // A coarse timer would let the calls bunch up at each of its ticks; the rate is meant to
    // spread them.
    m_tick.setInterval(tickMs(ratePerSecond));
    m_tick.setTimerType(Qt::PreciseTimer);
    connect(&m_tick, &QTimer::timeout, this, &Pacer::callDue);
}

void Pacer::start(int count, const std::function<void(int)> &call)
{
    m_count = count;
    m_next = 0;
    m_call = call;
    m_clock.start();
    m_bucket.start(m_clock.nsecsElapsed());
    m_tick.start();
    QTimer::singleShot(0, this, &Pacer::callDue);
}

void Pacer::callDue()
{
    // A token is taken only for a call that can be made, so a wait does not waste the rate.
    while (m_next < m_count && (!m_ready || m_ready()) && m_bucket.take(m_clock.nsecsElapsed()))
        m_call(m_next++);
    if (m_next >= m_count && m_tick.isActive()) {
        m_tick.stop();
        emit finished();
    }
}
