#ifndef PLATFORM_H
#define PLATFORM_H

#include <QString>
#include <QtGlobal>

#include <optional>

// What the companion needs from the operating system beyond Qt. One implementation per system
// (platform_posix.cpp, platform_windows.cpp); callers never include a system header.
namespace Platform {

// Whether standard error is a terminal, where a progress line may be rewritten in place.
bool stderrIsTerminal();

// How many datagrams the system dropped on the bound UDP socket `descriptor` because its receive
// buffer was full; nothing when it cannot be told.
std::optional<qint64> receiveDrops(qintptr descriptor);

// The receive buffer a socket has when the system grants all of `asked`: Linux doubles a request
// (the other half is its bookkeeping), Windows grants it as asked.
int fullReceiveBuffer(int asked);

// Empty where the system keeps that count; otherwise a sentence saying that it does not, for the
// scan's notes.
QString receiveDropsUnavailable();

} // namespace Platform

#endif // PLATFORM_H
