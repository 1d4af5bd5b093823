#include "pacer.h"

namespace {

// Short enough that a rate of a few hundred a second goes out evenly, long enough not to spin.
constexpr int tickMs = 5;

} // namespace

Pacer::Pacer(int ratePerSecond, QObject *parent)
    : QObject(parent)
    , m_ratePerSecond(qMax(1, ratePerSecond))
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
    m_tick.start();
    QTimer::singleShot(0, this, &Pacer::callDue);
}

void Pacer::callDue()
{
    // Calls allowed so far: one at once, then one per 1/rate second since the start.
    const qint64 allowed = 1 + m_clock.elapsed() * m_ratePerSecond / 1000;
    while (m_next < m_count && m_next < allowed)
        m_call(m_next++);
    if (m_next >= m_count && m_tick.isActive()) {
        m_tick.stop();
        emit finished();
    }
}
