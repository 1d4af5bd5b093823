#ifndef CLOCKSURVEY_H
#define CLOCKSURVEY_H

#include "pacer.h"
#include "sntpquery.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>

// Reads many devices' clocks over SNTP at once: at most `concurrency` queries outstanding and at
// most `ratePerSecond` started per second (plus a small burst; Pacer), so that a large
// segment is neither flooded nor waited on one device at a time. Each query has its own timeout and
// retries (SntpQuery).
class ClockSurvey : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        int concurrency = 64;
        int ratePerSecond = 500;
        int timeoutMs = 1000;
        int retries = 1;
        quint16 port = 123;
    };

    // Where to ask: the device's address, and this machine's address it was heard on.
    struct Target
    {
        QHostAddress server;
        QHostAddress from;
    };

    explicit ClockSurvey(const Settings &settings, QObject *parent = nullptr);

    // Queries every target; finished() follows once all have ended (at once, and never from
    // inside start(), when there are none).
    void start(const QList<Target> &targets);
    // start(), and back once finished() came.
    void runToEnd(const QList<Target> &targets);

    // One result per target, in the targets' order; complete after finished().
    const QList<SntpQuery::Result> &results() const { return m_results; }
    int done() const { return m_done; }
    // Requests sent, retries included.
    int requests() const { return m_requests; }
    qint64 elapsedMs() const { return m_elapsedMs; }

signals:
    void progressed(int done, int total);
    void finished();

private:
    void launch(int index);
    void onQueryFinished(SntpQuery *query, const SntpQuery::Result &result);

    Settings m_settings;
    QList<Target> m_targets;
    QList<SntpQuery::Result> m_results;
    QList<SntpQuery *> m_idle; // owned by this object as their parent
    QHash<SntpQuery *, int> m_running; // query -> target index
    Pacer m_pacer;
    QElapsedTimer m_clock;
    int m_done = 0;
    int m_requests = 0;
    qint64 m_elapsedMs = 0;
};

#endif // CLOCKSURVEY_H
