#ifndef EVENTLOOP_H
#define EVENTLOOP_H

#include <QEventLoop>
#include <QObject>

// The companion runs one step at a time: a step starts its work, then waits in a local event
// loop, where sockets and timers keep running, until the work says it is done.
namespace EventLoop {

// Connects to `sender`'s `done` signal, calls `start`, and returns once the signal came.
template<typename Sender, typename Signal, typename Start>
void runUntil(const Sender *sender, Signal done, Start start)
{
    QEventLoop loop;
    QObject::connect(sender, done, &loop, &QEventLoop::quit);
    start();
    loop.exec();
}

} // namespace EventLoop

#endif // EVENTLOOP_H
