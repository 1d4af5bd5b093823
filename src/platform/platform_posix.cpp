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

} // namespace Platform
