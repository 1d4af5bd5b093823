#ifndef UNITFIXTURES_H
#define UNITFIXTURES_H

// Devices and clock readings made by hand, for the companion's unit tests: no scan, no socket.

#include "clockreport.h"

#include <QStringList>

namespace UnitFixtures {

// 10.77.0.1/16 on ws1, where every device below was heard.
inline LocalAddress workstation()
{
    LocalAddress local;
    local.address = QHostAddress(QStringLiteral("10.77.0.1"));
    local.prefixLength = 16;
    local.interfaceName = QStringLiteral("ws1");
    return local;
}

inline DeviceEntry device(qint32 serial, const QString &current, const QByteArray &name,
                          const QString &stored = QString(), bool ntp = true)
{
    DeviceEntry entry;
    entry.reply.serial = serial;
    entry.reply.currentAddress = QHostAddress(current).toIPv4Address();
    entry.reply.storedAddress = QHostAddress(stored.isEmpty() ? current : stored).toIPv4Address();
    entry.reply.name = name.leftJustified(13, '\0');
    entry.reply.ntp = ntp;
    entry.reply.uptime = 5;
    entry.heardOn = workstation();
    return entry;
}

// One device per description, serial i + 1 at 10.77.1.(i + 1), named "D|(i + 1)", and what its
// clock answered: "off" (NTP off), "zero" (reports 0.0.0.0), "kiss" (kiss-of-death RATE), "silent",
// or "ok|s16|leap3 OFFSET DELAY" (an answer; stratum 16 or leap indicator 3: unsynchronised).
inline ClockReport report(const QStringList &descriptions)
{
    QList<DeviceEntry> devices;
    QList<SntpQuery::Result> results;
    for (int i = 0; i < descriptions.size(); ++i) {
        const QStringList words = descriptions.at(i).split(QLatin1Char(' '));
        const QString kind = words.first();
        devices.append(device(i + 1,
                              kind == "zero" ? "0.0.0.0" : QStringLiteral("10.77.1.%1").arg(i + 1),
                              "D|" + QByteArray::number(i + 1), QString(), kind != "off"));
        if (kind == "off" || kind == "zero")
            continue;
        SntpQuery::Result result;
        result.attempts = kind == "silent" ? 2 : 1;
        result.kissOfDeath = kind == "kiss";
        result.answered = words.size() == 3;
        result.referenceId = result.kissOfDeath ? "RATE" : "GPS";
        result.error = kind == "silent" ? "no answer after 2 tries" : "";
        if (result.answered) {
            result.stratum = kind == "s16" ? 16 : 1;
            result.leap = kind == "leap3" ? 3 : 0;
            result.offsetSeconds = words.at(1).toDouble();
            result.delaySeconds = words.at(2).toDouble();
        }
        results.append(result);
    }
    return ClockReport::build(devices, results);
}

} // namespace UnitFixtures

#endif // UNITFIXTURES_H
