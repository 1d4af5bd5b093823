#ifndef CLOCKSURVEY_H
#define CLOCKSURVEY_H

#include "checkrun.h"
#include "pacer.h"
#include "sntpport.h"
#include "sntpquery.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>

// Reads many devices' clocks over SNTP at once: at most `concurrency` queries outstanding and at
// most `ratePerSecond` started per second (plus a small burst; Pacer), so that a large
// segment is neither flooded nor waited on one device at a time. Each query has its own timeout and
// retries (SntpQuery). stop() ends it early, as a deadline does.
class ClockSurvey : public QObject
{
    Q_OBJECT
public:
    using Settings = ClockSurveySettings;

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
    // Asks no more: every target not read yet gets a result without an answer that says
    // `reason`, and finished() follows at once. Nothing when finished() came already.
    void stop(const QString &reason);

    // The queries to keep outstanding so that `ratePerSecond` is never held back by devices
    // that do not answer (each holds its place for every try's timeout), within the sockets
    // this process may still open, each query having one, and within `socketCap`.
    static int concurrencyFor(int ratePerSecond, int timeoutMs, int retries, int socketCap = 1024);

    // One result per target, in the targets' order; complete after finished().
    const QList<SntpQuery::Result> &results() const { return m_results; }
    int done() const { return m_done; }
    // Requests sent, retries included.
    int requests() const { return m_requests; }
    qint64 elapsedMs() const { return m_elapsedMs; }
    // Whether stop() ended it, and how many targets it left unread.
    bool stopped() const { return m_stopped; }
    int notRead() const { return m_notRead; }

signals:
    void progressed(int done, int total);
    void finished();

private:
    void launch(int index);
    void onQueryFinished(SntpQuery *query, const SntpQuery::Result &result);

    Settings m_settings;
    QList<Target> m_targets;
    QList<SntpQuery::Result> m_results;
    QList<bool> m_read; // by target: its query ended
    QList<SntpQuery *> m_idle; // owned by this object as their parent
    QHash<SntpQuery *, int> m_running; // query -> target index
    Pacer m_pacer;
    bool m_stopped = false;
    int m_notRead = 0;
    QElapsedTimer m_clock;
    int m_done = 0;
    int m_requests = 0;
    qint64 m_elapsedMs = 0;
};

#endif // CLOCKSURVEY_H
