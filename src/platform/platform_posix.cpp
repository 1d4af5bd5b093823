#include "platform.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QList>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

bool stderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

void keepRunningWhenReaderGone()
{
    std::signal(SIGPIPE, SIG_IGN);
}

int descriptorsLeft()
{
    constexpr qint64 plenty = 1 << 20;
    struct rlimit limit = {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return int(plenty);
    const qint64 open
        = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
    return int(std::clamp<qint64>(qint64(limit.rlim_cur) - open, 0, plenty));
}

// Linux counts the datagrams it dropped on a socket in /proc/net/udp ("drops", the last column),
// found by the socket's inode. SO_RXQ_OVFL gives the same counter, but only as ancillary data
// beside a datagram read, which QUdpSocket does not hand on, and never for drops after the last
// datagram read; the table, read once the scan is over, holds them all.
std::optional<qint64> receiveDrops(qintptr descriptor)
{
    struct stat status
    {
    };
    if (fstat(int(descriptor), &status) != 0)
        return std::nullopt;
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray inode = QByteArray::number(quint64(status.st_ino));
    table.readLine();
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        if (fields.size() >= 13 && fields.at(9) == inode)
            return fields.at(12).toLongLong();
    }
    return std::nullopt;
}

int fullReceiveBuffer(int asked)
{
    // The kernel takes at most half of INT_MAX before doubling; anything larger is never granted.
    return asked > INT_MAX / 2 ? INT_MAX : 2 * asked;
}

QString receiveDropsUnavailable()
{
    return QString();
}

ReceiveBufferCap receiveBufferCap(int bytes)
{
    return { QStringLiteral("net.core.rmem_max"),
             QStringLiteral("sysctl -w net.core.rmem_max=%1").arg(bytes) };
}

QString udpPortHolderCommand(quint16 port)
{
    return QStringLiteral("ss -ulpn sport = :%1").arg(port);
}

QString hostRouteCommand(const QString &address, const QString &interfaceName, int)
{
    return QStringLiteral("ip route add %1/32 dev %2").arg(address, interfaceName);
}

// Linux reports ICMP errors to a UDP socket only when it is connected (or asks with
// IP_RECVERR); the companion's sockets are neither.
void keepReadingAfterIcmpErrors(qintptr)
{ }

namespace {

    // The kernel asks three times, a second apart (neigh mcast_solicit, retrans_time), and gives
    // an address up after about three seconds; a host on the link answers the first request
    // within milliseconds, and two seconds leave room for the second if the first was lost.
    constexpr int answerWaitMs = 2000;
    constexpr int pollMs = 50;
    // How long an earlier resolution of the kernel's may still run: three requests a second
    // apart, then it gives up.
    constexpr int resolutionMs = 3500;

    // Each probe takes a neighbour entry until it is garbage-collected; a quarter of the
    // table's hard limit (gc_thresh3) at a time leaves room for the workstation's own traffic.
    // A network namespace does not show the limit; it is the kernel's default, 1024, there.
    int batchSize()
    {
        QFile limit(QStringLiteral("/proc/sys/net/ipv4/neigh/default/gc_thresh3"));
        const int entries = limit.open(QIODevice::ReadOnly) ? limit.readAll().trimmed().toInt() : 0;
        return qBound(16, (entries > 0 ? entries : 1024) / 4, 256);
    }

    // The complete entries of the kernel's ARP table on the interface named `device`: address
    // and hardware address. The table names the interface itself, never the label an address of
    // it may carry (ws1, not ws1:1).
    std::optional<QHash<quint32, QString>> resolved(const QByteArray &device)
    {
        QFile table(QStringLiteral("/proc/net/arp"));
        if (!table.open(QIODevice::ReadOnly))
            return std::nullopt;
        QHash<quint32, QString> entries;
        table.readLine();
        for (QByteArray line = table.readLine(); !line.isEmpty(); line = table.readLine()) {
            // IP address, HW type, Flags, HW address, Mask, Device
            const QList<QByteArray> fields = line.simplified().split(' ');
            constexpr int complete = 0x2; // ATF_COM
            in_addr address {};
            if (fields.size() < 6 || fields.at(5) != device
                || !(fields.at(2).toInt(nullptr, 16) & complete)
                || inet_pton(AF_INET, fields.at(0).constData(), &address) != 1)
                continue;
            entries.insert(ntohl(address.s_addr), QString::fromLatin1(fields.at(3)));
        }
        return entries;
    }

    // The addresses on interface `index` that the kernel is still resolving (an ARP request of
    // an earlier datagram unanswered so far), from an rtnetlink dump, which needs no privilege.
    // A datagram to such an address starts no request of its own: it waits for the earlier
    // resolution, whose last request may have gone out before a host took the address.
    QSet<quint32> stillResolving(int index)
    {
        QSet<quint32> addresses;
        const int link = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (link < 0)
            return addresses;
        struct
        {
            nlmsghdr header;
            ndmsg neighbour;
        } request {};
        request.header.nlmsg_len = sizeof request;
        request.header.nlmsg_type = RTM_GETNEIGH;
        request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        request.neighbour.ndm_family = AF_INET;
        if (send(link, &request, sizeof request, 0) < 0) {
            close(link);
            return addresses;
        }
        alignas(nlmsghdr) char buffer[16384];
        for (bool done = false; !done;) {
            const ssize_t size = recv(link, buffer, sizeof buffer, 0);
            if (size <= 0)
                break;
            int left = int(size);
            for (auto *header = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(header, left);
                 header = NLMSG_NEXT(header, left)) {
                if (header->nlmsg_type == NLMSG_DONE || header->nlmsg_type == NLMSG_ERROR) {
                    done = true;
                    break;
                }
                const auto *neighbour = static_cast<const ndmsg *>(NLMSG_DATA(header));
                if (header->nlmsg_type != RTM_NEWNEIGH || neighbour->ndm_ifindex != index
                    || !(neighbour->ndm_state & NUD_INCOMPLETE))
                    continue;
                int attributesLeft = int(NLMSG_PAYLOAD(header, sizeof(ndmsg)));
                for (auto *attribute = reinterpret_cast<const rtattr *>(
                         reinterpret_cast<const char *>(neighbour) + NLMSG_ALIGN(sizeof(ndmsg)));
                     RTA_OK(attribute, attributesLeft);
                     attribute = RTA_NEXT(attribute, attributesLeft)) {
                    if (attribute->rta_type == NDA_DST && RTA_PAYLOAD(attribute) == 4) {
                        quint32 address = 0;
                        std::memcpy(&address, RTA_DATA(attribute), 4);
                        addresses.insert(ntohl(address));
                    }
                }
            }
        }
        close(link);
        return addresses;
    }

    void cannotTell(QList<AddressUse> &uses, qsizetype from, qsizetype to, const QString &why)
    {
        for (qsizetype i = from; i < to; ++i)
            uses[i] = { AddressUse::State::CannotTell, QString(), why };
    }

    // Sends a datagram to each address of `asked` from `local`, pinned to the interface, and
    // waits for the kernel's ARP table to resolve them. False when no socket could be made; every
    // address from the first asked on then cannot be told.
    bool askAndWait(QList<AddressUse> &uses, const QList<quint32> &addresses,
                    const QList<qsizetype> &asked, quint32 local, int interfaceIndex,
                    const QByteArray &device)
    {
        // A socket per batch: each datagram waiting for an address that nobody answers for
        // stays charged to its socket's send buffer until the kernel gives the address up, a
        // few seconds later, and would hold the next batch back.
        const int descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in from {};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(local);
        // The datagrams, and so the kernel's ARP requests, leave by the device's interface even
        // where another interface on the same subnet holds the preferred route.
        const uint32_t pinned = htonl(uint32_t(interfaceIndex));
        if (descriptor < 0
            || bind(descriptor, reinterpret_cast<const sockaddr *>(&from), sizeof from) != 0
            || setsockopt(descriptor, IPPROTO_IP, IP_UNICAST_IF, &pinned, sizeof pinned) != 0) {
            cannotTell(uses, asked.constFirst(), uses.size(),
                       QStringLiteral("cannot send from %1: %2")
                           .arg(QString::fromLocal8Bit(device),
                                QString::fromLocal8Bit(std::strerror(errno))));
            if (descriptor >= 0)
                close(descriptor);
            return false;
        }
        for (const qsizetype i : asked) {
            sockaddr_in to {};
            to.sin_family = AF_INET;
            to.sin_port = htons(9);
            to.sin_addr.s_addr = htonl(addresses.at(i));
            if (sendto(descriptor, "", 0, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to)
                < 0)
                uses[i] = { AddressUse::State::CannotTell, QString(),
                            QString::fromLocal8Bit(std::strerror(errno)) };
            else
                uses[i] = { AddressUse::State::Free, QString(), QString() };
        }
        close(descriptor);
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            const auto table = resolved(device);
            if (!table) {
                for (const qsizetype i : asked)
                    uses[i] = { AddressUse::State::CannotTell, QString(),
                                QStringLiteral("/proc/net/arp cannot be read") };
                break;
            }
            bool open = false;
            for (const qsizetype i : asked) {
                if (uses.at(i).state != AddressUse::State::Free)
                    continue;
                const auto entry = table->constFind(addresses.at(i));
                if (entry != table->constEnd())
                    uses[i] = { AddressUse::State::InUse, *entry, QString() };
                else
                    open = true;
            }
            // What has not answered by now counts as free.
            if (!open || waited.elapsed() >= answerWaitMs)
                break;
            QThread::msleep(pollMs);
        }
        return true;
    }

} // namespace

QList<AddressUse> probeAddresses(const QList<quint32> &addresses, quint32 local, int interfaceIndex)
{
    QList<AddressUse> uses(addresses.size());
    char name[IF_NAMESIZE] = {};
    if (interfaceIndex <= 0 || !if_indextoname(unsigned(interfaceIndex), name)) {
        cannotTell(uses, 0, uses.size(),
                   QStringLiteral("the interface of this workstation's address is gone"));
        return uses;
    }
    const QByteArray device(name);
    const int batch = batchSize();
    for (qsizetype first = 0; first < addresses.size(); first += batch) {
        const qsizetype end = qMin(addresses.size(), first + batch);
        QList<qsizetype> asked;
        for (qsizetype i = first; i < end; ++i)
            asked.append(i);
        const QSet<quint32> resolving = stillResolving(interfaceIndex);
        if (!askAndWait(uses, addresses, asked, local, interfaceIndex, device))
            return uses;
        // An address the kernel was already resolving got no request of ours: once that earlier
        // resolution is over (it gives up after about three seconds), ask it afresh.
        QList<qsizetype> again;
        for (const qsizetype i : std::as_const(asked)) {
            if (uses.at(i).state == AddressUse::State::Free && resolving.contains(addresses.at(i)))
                again.append(i);
        }
        if (again.isEmpty())
            continue;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < resolutionMs) {
            const QSet<quint32> still = stillResolving(interfaceIndex);
            if (std::none_of(again.cbegin(), again.cend(),
                             [&](qsizetype i) { return still.contains(addresses.at(i)); }))
                break;
            QThread::msleep(pollMs);
        }
        if (!askAndWait(uses, addresses, again, local, interfaceIndex, device))
            return uses;
    }
    return uses;
}

} // namespace Platform
