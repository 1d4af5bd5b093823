#ifndef LATENCYPROBE_H
#define LATENCYPROBE_H

#include <QElapsedTimer>
#include <QTimer>

#include <cmath>

// A 10 ms timer on the window's thread: how late its ticks come shows how long that thread
// was kept from serving events, e.g. by a flood of datagrams on the reply port.
class LatencyProbe
{
public:
    static constexpr int intervalMs = 10;

    LatencyProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(intervalMs);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] { tick(); });
    }

    void start()
    {
        ticks = 0;
        worstGapNs = 0;
        clock.start();
        lastNs = 0;
        timer.start();
    }

    void stop()
    {
        // A stall at the very end shows in the gap up to now.
        tick();
        --ticks;
        timer.stop();
    }

    // The longest wait between two ticks beyond the interval, in ms (0.1 ms steps).
    double worstDelayMs() const
    {
        const double beyond = double(worstGapNs) / 1e6 - intervalMs;
        return std::round(qMax(beyond, 0.0) * 10.0) / 10.0;
    }

    int tickCount() const { return ticks; }

private:
    void tick()
    {
        const qint64 now = clock.nsecsElapsed();
        worstGapNs = qMax(worstGapNs, now - lastNs);
        lastNs = now;
        ++ticks;
    }

    QTimer timer;
    QElapsedTimer clock;
    qint64 lastNs = 0;
    qint64 worstGapNs = 0;
    int ticks = 0;
};

#endif // LATENCYPROBE_H
