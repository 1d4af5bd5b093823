#include "clocksurvey.h"

#include "eventloop.h"
#include "platform.h"

#include <QTimer>

#include <algorithm>

ClockSurvey::ClockSurvey(const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_pacer(settings.ratePerSecond)
{
    m_settings.concurrency = std::max(1, m_settings.concurrency);
    m_settings.ratePerSecond = std::max(1, m_settings.ratePerSecond);
    m_pacer.setReady([this] { return !m_stopped && !m_idle.isEmpty(); });
}

void ClockSurvey::start(const QList<Target> &targets)
{
    m_targets = targets;
    m_results = QList<SntpQuery::Result>(targets.size());
    m_read = QList<bool>(targets.size(), false);
    m_done = 0;
    m_requests = 0;
    m_stopped = false;
    m_notRead = 0;
    m_clock.start();
    if (targets.isEmpty()) {
        QTimer::singleShot(0, this, &ClockSurvey::finished);
        return;
    }
    const int pool = std::min(m_settings.concurrency, int(targets.size()));
    while (m_idle.size() + m_running.size() < pool) {
        auto *query = new SntpQuery(this);
        connect(query, &SntpQuery::finished, this,
                [this, query](const SntpQuery::Result &result) { onQueryFinished(query, result); });
        m_idle.append(query);
    }
    m_pacer.start(int(targets.size()), [this](int index) { launch(index); });
}

void ClockSurvey::launch(int index)
{
    SntpQuery *query = m_idle.takeLast();
    m_running.insert(query, index);
    const Target &target = m_targets.at(index);
    query->start(target.server, m_settings.port, target.from, m_settings.timeoutMs,
                 m_settings.retries);
}

void ClockSurvey::onQueryFinished(SntpQuery *query, const SntpQuery::Result &result)
{
    const int index = m_running.take(query);
    m_results[index] = result;
    m_read[index] = true;
    m_requests += result.attempts;
    ++m_done;
    emit progressed(m_done, int(m_targets.size()));
    if (m_done == m_targets.size()) {
        m_elapsedMs = m_clock.elapsed();
        m_idle.append(query);
        emit finished();
        return;
    }
    // SntpQuery allows a new start() from inside its finished(); the freed query may take the
    // next target at once if the rate allows it.
    m_idle.append(query);
    m_pacer.poke();
}

void ClockSurvey::stop(const QString &reason)
{
    if (m_stopped || m_done == m_targets.size())
        return;
    m_stopped = true;
    // A query's socket closes with it; an answer on the way finds no one.
    qDeleteAll(m_running.keys());
    m_running.clear();
    for (qsizetype index = 0; index < m_targets.size(); ++index) {
        if (m_read.at(index))
            continue;
        m_results[index].error = reason;
        ++m_done;
        ++m_notRead;
    }
    m_elapsedMs = m_clock.elapsed();
    emit finished();
}

int ClockSurvey::concurrencyFor(int ratePerSecond, int timeoutMs, int retries, int socketCap)
{
    // A few descriptors stay for what else the process opens (the scan's sockets, a log).
    constexpr int reserve = 64;
    const qint64 busy = (qint64(ratePerSecond) * timeoutMs * (retries + 1) + 999) / 1000;
    const int sockets = std::min(socketCap, Platform::descriptorsLeft() - reserve);
    return int(std::clamp<qint64>(busy, 1, std::max(1, sockets)));
}

void ClockSurvey::runToEnd(const QList<Target> &targets)
{
    EventLoop::runUntil(this, &ClockSurvey::finished, [&] { start(targets); });
}
