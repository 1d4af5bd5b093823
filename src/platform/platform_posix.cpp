#include "platform.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QList>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
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
// found by the socket's inode.
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
    return 2 * asked;
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

    // The kernel asks twice, a second apart (neigh retrans_time), before it gives an address up;
    // a host on the link answers the first request within milliseconds.
    constexpr int answerWaitMs = 2000;
    constexpr int pollMs = 50;

    // Each probe takes a neighbour entry until it is garbage-collected; a quarter of the
    // table's hard limit (gc_thresh3) at a time leaves room for the workstation's own traffic.
    // A network namespace does not show the limit; it is the kernel's default, 1024, there.
    int batchSize()
    {
        QFile limit(QStringLiteral("/proc/sys/net/ipv4/neigh/default/gc_thresh3"));
        const int entries = limit.open(QIODevice::ReadOnly) ? limit.readAll().trimmed().toInt() : 0;
        return qBound(16, (entries > 0 ? entries : 1024) / 4, 256);
    }

    QString interfaceOf(quint32 local)
    {
        ifaddrs *list = nullptr;
        if (getifaddrs(&list) != 0)
            return QString();
        QString name;
        for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
            if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET
                && ntohl(reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr.s_addr)
                    == local) {
                name = QString::fromLocal8Bit(entry->ifa_name);
                break;
            }
        }
        freeifaddrs(list);
        return name;
    }

    // The complete entries of the kernel's ARP table on `device`: address and hardware address.
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

    void cannotTell(QList<AddressUse> &uses, qsizetype from, qsizetype to, const QString &why)
    {
        for (qsizetype i = from; i < to; ++i)
            uses[i] = { AddressUse::State::CannotTell, QString(), why };
    }

} // namespace

QList<AddressUse> probeAddresses(const QList<quint32> &addresses, quint32 local)
{
    QList<AddressUse> uses(addresses.size());
    const QByteArray device = interfaceOf(local).toLocal8Bit();
    if (device.isEmpty()) {
        cannotTell(uses, 0, uses.size(),
                   QStringLiteral("no interface has this workstation's address"));
        return uses;
    }
    const int batch = batchSize();
    for (qsizetype first = 0; first < addresses.size(); first += batch) {
        const qsizetype end = qMin(addresses.size(), first + batch);
        // A socket per batch: each datagram waiting for an address that nobody answers for
        // stays charged to its socket's send buffer until the kernel gives the address up, a
        // few seconds later, and would hold the next batch back.
        const int descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in from {};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(local);
        if (descriptor < 0
            || bind(descriptor, reinterpret_cast<const sockaddr *>(&from), sizeof from) != 0) {
            cannotTell(uses, first, uses.size(),
                       QStringLiteral("cannot send from %1: %2")
                           .arg(QString::fromLocal8Bit(device),
                                QString::fromLocal8Bit(std::strerror(errno))));
            if (descriptor >= 0)
                close(descriptor);
            return uses;
        }
        for (qsizetype i = first; i < end; ++i) {
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
                cannotTell(uses, first, end, QStringLiteral("/proc/net/arp cannot be read"));
                break;
            }
            bool open = false;
            for (qsizetype i = first; i < end; ++i) {
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
    }
    return uses;
}

} // namespace Platform
