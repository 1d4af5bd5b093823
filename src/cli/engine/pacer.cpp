#include "pacer.h"

namespace {

// Short enough that a rate of a few hundred a second goes out evenly, long enough not to spin.
constexpr int tickMs = 5;

} // namespace

Pacer::Pacer(int ratePerSecond, QObject *parent)
    : QObject(parent)
    , m_bucket(ratePerSecond, TokenBucket::depthFor(ratePerSecond, tickMs))
{
    m_tick.setInterval(tickMs);
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
    while (m_next < m_count && m_bucket.take(m_clock.nsecsElapsed()))
        m_call(m_next++);
    if (m_next >= m_count && m_tick.isActive()) {
        m_tick.stop();
        emit finished();
    }
}
