#include "tokenbucket.h"

#include <algorithm>

namespace {

constexpr qint64 nsPerSecond = 1000000000;

} // namespace

TokenBucket::TokenBucket(int ratePerSecond, int depth)
    : m_intervalNs(nsPerSecond / std::max(1, ratePerSecond))
    , m_burstNs(m_intervalNs * (std::max(1, depth) - 1))
{ }

int TokenBucket::depthFor(int ratePerSecond, int tickMs)
{
    return std::max(2, int(2 * qint64(ratePerSecond) * tickMs / 1000));
}

void TokenBucket::start(qint64 nowNs)
{
    m_dueNs = nowNs;
}

bool TokenBucket::take(qint64 nowNs)
{
    // The generic cell rate algorithm: an event may run at most `depth - 1` intervals ahead of
    // its place on the even schedule; after a pause the schedule starts again from now, so the
    // events the pause held back are not made up in one burst.
    if (nowNs < m_dueNs - m_burstNs)
        return false;
    m_dueNs = std::max(m_dueNs, nowNs) + m_intervalNs;
    return true;
}
