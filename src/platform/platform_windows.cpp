#include "platform.h"

#include <cstdio>
#include <io.h>
#include <system_error>
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

// Windows' own words for a system error code, as the control panel would show them.
static QString systemMessage(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = QString::fromWCharArray(text, int(length)).trimmed();
    LocalFree(text);
    return message.isEmpty() ? QStringLiteral("error %1").arg(code)
                             : QStringLiteral("%1 (error %2)").arg(message).arg(code);
}

// Only ERROR_BAD_NET_NAME means that the request went out and nobody answered. Windows gives
// ERROR_GEN_FAILURE as well for a target on another subnet and for a source address that is no
// longer this machine's (after a DHCP change): taken for "free", a held address would be handed
// out, so that and every other error cannot tell.
static AddressUse askArp(quint32 address, quint32 local)
{
    ULONG hardware[2] = {};
    ULONG length = sizeof hardware;
    const DWORD status = SendARP(htonl(address), htonl(local), hardware, &length);
    if (status == NO_ERROR && length > 0) {
        const QByteArray bytes(reinterpret_cast<const char *>(hardware), int(length));
        return { AddressUse::State::InUse, QString::fromLatin1(bytes.toHex(':')), QString() };
    }
    if (status == ERROR_BAD_NET_NAME)
        return { AddressUse::State::Free, QString(), QString() };
    if (status == ERROR_NOT_SUPPORTED)
        return { AddressUse::State::CannotTell, QString(),
                 QStringLiteral("this system does not resolve addresses for programs (SendARP is "
                                "not supported)") };
    return { AddressUse::State::CannotTell, QString(),
             QStringLiteral("SendARP: %1").arg(systemMessage(status)) };
}

// SendARP asks once and waits for the answer (about three seconds for an address nobody holds),
// so many addresses are asked at once, each from a thread of its own. A machine short of threads
// gets fewer at a time: what could not be started is asked in the next round, and when not even
// one thread starts, this thread asks the next address itself.
QList<AddressUse> probeAddresses(const QList<quint32> &addresses, quint32 local, int)
{
    std::vector<AddressUse> uses(size_t(addresses.size()));
    constexpr qsizetype parallel = 64;
    qsizetype next = 0;
    while (next < addresses.size()) {
        std::vector<std::thread> askers;
        askers.reserve(size_t(parallel));
        const qsizetype end = qMin(addresses.size(), next + parallel);
        for (qsizetype i = next; i < end; ++i) {
            try {
                askers.emplace_back([&uses, &addresses, local, i] {
                    uses[size_t(i)] = askArp(addresses.at(i), local);
                });
            } catch (const std::system_error &) {
                break;
            }
        }
        if (askers.empty()) {
            uses[size_t(next)] = askArp(addresses.at(next), local);
            ++next;
        }
        for (std::thread &asker : askers)
            asker.join();
        next += qsizetype(askers.size());
    }
    return QList<AddressUse>(uses.begin(), uses.end());
}

} // namespace Platform
