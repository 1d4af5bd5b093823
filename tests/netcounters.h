#ifndef NETCOUNTERS_H
#define NETCOUNTERS_H

#include <QFile>
#include <QString>
#include <QStringList>

// A counter of the current network namespace's statistics from /proc/net/snmp, for example
// ("Udp", "RcvbufErrors") or ("Icmp", "InDestUnreachs"); -1 when it cannot be read.
inline qint64 netCounter(const QString &group, const QString &name)
{
    QFile file(QStringLiteral("/proc/net/snmp"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QStringList names;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QStringList words
            = QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.value(0) != group + QLatin1Char(':'))
            continue;
        if (names.isEmpty()) {
            names = words;
            continue;
        }
        return words.value(names.indexOf(name)).toLongLong();
    }
    return -1;
}

#endif // NETCOUNTERS_H
