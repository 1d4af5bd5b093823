#ifndef PLATFORM_H
#define PLATFORM_H

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// What the companion needs from the operating system beyond Qt. One implementation per system
// (platform_posix.cpp, platform_windows.cpp); callers never include a system header.
namespace Platform {

// Whether standard error is a terminal, where a progress line may be rewritten in place.
bool stderrIsTerminal();

// Makes a write to a pipe whose reader is gone fail with an error instead of ending the process
// at once, so that a command already sent is still logged.
void keepRunningWhenReaderGone();

// How many more descriptors (sockets) this process may open, as its limit stands now: the
// soft limit on open files less those open; on Windows, where sockets have no such limit,
// a figure no single command needs.
int descriptorsLeft();

// How many datagrams the system dropped on the bound UDP socket `descriptor` because its receive
// buffer was full; nothing when it cannot be told.
std::optional<qint64> receiveDrops(qintptr descriptor);

// The receive buffer a socket has when the system grants all of `asked`: Linux doubles a request
// (the other half is its bookkeeping), Windows grants it as asked.
int fullReceiveBuffer(int asked);

// Empty where the system keeps that count; otherwise a sentence saying that it does not, for the
// scan's notes.
QString receiveDropsUnavailable();

// For messages saying that a socket's receive buffer came out smaller than asked: the system
// setting that caps it, and the command that lets a socket have `bytes` (as root). Both empty
// where no setting caps it.
struct ReceiveBufferCap
{
    QString setting;
    QString raiseCommand;
};
ReceiveBufferCap receiveBufferCap(int bytes);

// A command that shows which program holds UDP `port`.
QString udpPortHolderCommand(quint16 port);

// A command (for an administrator) that routes `address` straight out of the interface with
// `interfaceIndex` (named `interfaceName`), for a device whose address lies outside that
// interface's subnet.
QString hostRouteCommand(const QString &address, const QString &interfaceName, int interfaceIndex);

// Readies a UDP socket that Qt has opened for a read loop: a datagram that an earlier send
// provoked an ICMP error for must not end it.
void keepReadingAfterIcmpErrors(qintptr descriptor);

// Whether some host on a link answers for an IPv4 address.
struct AddressUse
{
    enum class State { Free, InUse, CannotTell };
    State state = State::CannotTell;
    QString hardwareAddress; // of the host that answered, where the system tells it
    QString reason; // why it cannot tell
};

// Asks the link of interface `interfaceIndex`, where this workstation has the address `local`,
// who holds each of `addresses` (IPv4, host order): one empty datagram to each (UDP port 9,
// discard) from `local`, out of that interface whatever the routing table prefers, then the
// system's own address resolution (ARP); only answers heard on that interface count. Needs no
// administrator rights. Blocks, about three seconds per batch of addresses that the system's
// neighbour table has room for. A host that is switched off, or that drops ARP, is not seen.
QList<AddressUse> probeAddresses(const QList<quint32> &addresses, quint32 local,
                                 int interfaceIndex);

} // namespace Platform

#endif // PLATFORM_H
