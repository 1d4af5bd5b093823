#ifndef TOKENBUCKET_H
#define TOKENBUCKET_H

#include <QtGlobal>

// Allows `ratePerSecond` events a second on average and at most `depth` at once: after a pause
// (a late timer, an event loop stalled by a slow terminal or a debugger) only `depth` events may
// go at once, not the whole backlog, so no second ever carries more than rate + depth events.
// Times are the caller's monotonic clock in nanoseconds, which keeps the rule testable.
class TokenBucket
{
public:
    TokenBucket(int ratePerSecond, int depth);

    // The depth a sender ticking every `tickMs` needs to reach its rate: two ticks' worth.
    static int depthFor(int ratePerSecond, int tickMs);

    void start(qint64 nowNs);
    // Takes one token when one is there.
    bool take(qint64 nowNs);

private:
    qint64 m_intervalNs;
    qint64 m_burstNs; // how far ahead of the even schedule the events may run
    qint64 m_dueNs = 0; // when the next event is due on the even schedule
};

#endif // TOKENBUCKET_H
