#include "platform.h"

#include <cstdio>
#include <io.h>
#include <thread>
#include <vector>
#include <winsock2.h>
#include <iphlpapi.h>
#include <mswsock.h>
#include <windows.h>

namespace Platform {

int descriptorsLeft()
{
    return 1 << 20;
}

// A console window, not a pipe or a file, and one that takes console modes: MSYS terminals
// are pipes and do not count.
bool stderrIsTerminal()
{
    if (!_isatty(_fileno(stderr)))
        return false;
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

// Windows has no signal for it: the write fails.
void keepRunningWhenReaderGone()
{ }

std::optional<qint64> receiveDrops(qintptr)
{
    return std::nullopt;
}

int fullReceiveBuffer(int asked)
{
    return asked;
}

QString receiveDropsUnavailable()
{
    return QStringLiteral("Windows does not tell how many replies it dropped for want of receive "
                          "buffer: if devices are missing, scan again with more --probes");
}

// Windows grants a socket whatever receive buffer it asks for.
ReceiveBufferCap receiveBufferCap(int)
{
    return {};
}

QString udpPortHolderCommand(quint16 port)
{
    return QStringLiteral("netstat -ano -p UDP | findstr :%1").arg(port);
}

// netsh takes the interface's index as well as its name, and Qt's names for interfaces are not
// the ones Windows shows.
QString hostRouteCommand(const QString &address, const QString &, int interfaceIndex)
{
    return QStringLiteral("netsh interface ipv4 add route %1/32 %2")
        .arg(address)
        .arg(interfaceIndex);
}

// A device address with nothing listening answers a command or an SNTP request with an ICMP
// port-unreachable, and Windows (unlike Linux) hands that to the next read of the same UDP
// socket as WSAECONNRESET, which Qt turns into a read error; Qt leaves that reporting on, so it
// is switched off here. Broadcasting needs nothing of ours: Qt sets SO_BROADCAST on every UDP
// socket it opens, and WSAStartup is Qt's too.
void keepReadingAfterIcmpErrors(qintptr descriptor)
{
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(SOCKET(descriptor), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned,
             nullptr, nullptr);
}

// SendARP asks once and waits for the answer (about three seconds for an address nobody holds),
// so many addresses are asked at once, each from a thread of its own.
QList<AddressUse> probeAddresses(const QList<quint32> &addresses, quint32 local, int)
{
    std::vector<AddressUse> uses(size_t(addresses.size()));
    constexpr qsizetype parallel = 64;
    for (qsizetype first = 0; first < addresses.size(); first += parallel) {
        std::vector<std::thread> askers;
        for (qsizetype i = first; i < qMin(addresses.size(), first + parallel); ++i) {
            askers.emplace_back([&uses, &addresses, local, i] {
                ULONG hardware[2] = {};
                ULONG length = sizeof hardware;
                const DWORD status
                    = SendARP(htonl(addresses.at(i)), htonl(local), hardware, &length);
                AddressUse &use = uses[size_t(i)];
                if (status == NO_ERROR && length > 0) {
                    const QByteArray bytes(reinterpret_cast<const char *>(hardware), int(length));
                    use = { AddressUse::State::InUse, QString::fromLatin1(bytes.toHex(':')),
                            QString() };
                } else if (status == ERROR_BAD_NET_NAME || status == ERROR_GEN_FAILURE) {
                    use = { AddressUse::State::Free, QString(), QString() };
                } else if (status == ERROR_NOT_SUPPORTED) {
                    use = { AddressUse::State::CannotTell, QString(),
                            QStringLiteral("this system does not resolve addresses for "
                                           "programs (SendARP is not supported)") };
                } else {
                    use = { AddressUse::State::CannotTell, QString(),
                            QStringLiteral("SendARP failed (error %1)").arg(status) };
                }
            });
        }
        for (std::thread &asker : askers)
            asker.join();
    }
    return QList<AddressUse>(uses.begin(), uses.end());
}

} // namespace Platform
