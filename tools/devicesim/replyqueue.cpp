#include "replyqueue.h"

#include <utility>

ReplyQueue::ReplyQueue(Sender sender, QObject *parent)
    : QObject(parent)
    , m_send(std::move(sender))
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ReplyQueue::sendDue);
}

void ReplyQueue::schedule(int delayMs, Entry entry)
{
    // Entries due at the same time keep their order, so repeated copies
    // of a reply leave back to back.
    m_pending.emplace(m_clock.elapsed() + delayMs, std::move(entry));
    arm();
}

void ReplyQueue::sendDue()
{
    const qint64 now = m_clock.elapsed();
    while (!m_pending.empty() && m_pending.begin()->first <= now) {
        Entry &entry = m_pending.begin()->second;
        if (m_send(entry)) {
            m_pending.erase(m_pending.begin());
            continue;
        }
        if (++entry.attempts >= MaxAttempts) {
            const Entry failed = entry;
            m_pending.erase(m_pending.begin());
            emit gaveUp(failed);
            continue;
        }
        // The rest would most likely fail the same way; give the socket time.
        m_backoffUntil = now + RetryMs;
        break;
    }
    arm();
}

void ReplyQueue::arm()
{
    if (m_pending.empty()) {
        m_timer.stop();
        return;
    }
    const qint64 due = qMax(m_pending.begin()->first, m_backoffUntil);
    m_timer.start(int(qMax<qint64>(0, due - m_clock.elapsed())));
}
