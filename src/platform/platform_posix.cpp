#include "platform.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

bool stderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
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

} // namespace Platform
