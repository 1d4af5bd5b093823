#include "clocksurvey.h"

#include "eventloop.h"

#include <QTimer>

#include <algorithm>

namespace {

int paceIntervalMs(int ratePerSecond)
{
    return std::clamp(1000 / std::max(1, ratePerSecond), 1, 1000);
}

} // namespace

ClockSurvey::ClockSurvey(const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_pace(new QTimer(this))
    , m_bucket(
          settings.ratePerSecond,
          TokenBucket::depthFor(settings.ratePerSecond, paceIntervalMs(settings.ratePerSecond)))
{
    m_settings.concurrency = std::max(1, m_settings.concurrency);
    m_settings.ratePerSecond = std::max(1, m_settings.ratePerSecond);
    // A coarse timer would let the queries bunch up at each of its ticks; the rate is meant to
    // spread them.
    m_pace->setTimerType(Qt::PreciseTimer);
    m_pace->setInterval(paceIntervalMs(m_settings.ratePerSecond));
    connect(m_pace, &QTimer::timeout, this, &ClockSurvey::launchDue);
}

void ClockSurvey::start(const QList<Target> &targets)
{
    m_targets = targets;
    m_results = QList<SntpQuery::Result>(targets.size());
    m_next = 0;
    m_done = 0;
    m_requests = 0;
    m_clock.start();
    m_bucket.start(m_clock.nsecsElapsed());
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
    m_pace->start();
    launchDue();
}

void ClockSurvey::launchDue()
{
    // A token is taken only for a query that can start, so a full pool does not waste the rate.
    while (m_next < m_targets.size() && !m_idle.isEmpty() && m_bucket.take(m_clock.nsecsElapsed()))
        launch(m_idle.takeLast());
    if (m_next >= m_targets.size())
        m_pace->stop();
}

void ClockSurvey::launch(SntpQuery *query)
{
    const int index = m_next++;
    m_running.insert(query, index);
    const Target &target = m_targets.at(index);
    query->start(target.server, m_settings.port, target.from, m_settings.timeoutMs,
                 m_settings.retries);
}

void ClockSurvey::onQueryFinished(SntpQuery *query, const SntpQuery::Result &result)
{
    const int index = m_running.take(query);
    m_results[index] = result;
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
    launchDue();
}

void ClockSurvey::runToEnd(const QList<Target> &targets)
{
    EventLoop::runUntil(this, &ClockSurvey::finished, [&] { start(targets); });
}
