#ifndef UNITFIXTURES_H
#define UNITFIXTURES_H

// Devices and clock readings made by hand, for the companion's unit tests: no scan, no socket.

#include "clockreading.h"

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

// One device per description, serial i + 1 at 10.77.1.(i + 1), named "D|(i + 1)": "off" (NTP
// off), "zero" (reports 0.0.0.0), else a device with NTP on.
inline QList<DeviceEntry> devices(const QStringList &descriptions)
{
    QList<DeviceEntry> entries;
    for (int i = 0; i < descriptions.size(); ++i) {
        const QString kind = descriptions.at(i).section(QLatin1Char(' '), 0, 0);
        entries.append(device(i + 1,
                              kind == "zero" ? "0.0.0.0" : QStringLiteral("10.77.1.%1").arg(i + 1),
                              "D|" + QByteArray::number(i + 1), QString(), kind != "off"));
    }
    return entries;
}

// The devices() of the descriptions with their clocks read as the check reads them: "off" and
// "zero" not checkable, "kiss" (kiss-of-death RATE), "silent", or "ok|s16|leap3 OFFSET DELAY" (an
// answer; stratum 16 or leap indicator 3: unsynchronised). Made by hand, so that what writes a
// report is tested without what reads the clocks.
inline ClockReport report(const QStringList &descriptions)
{
    using State = ClockReading::State;
    const QList<DeviceEntry> entries = devices(descriptions);
    QList<ClockReading> readings;
    for (int i = 0; i < descriptions.size(); ++i) {
        const QStringList words = descriptions.at(i).split(QLatin1Char(' '));
        const QString kind = words.first();
        ClockReading reading { entries.at(i), State::NotCheckable, QString(), {} };
        if (kind == "off" || kind == "zero") {
            reading.reason
                = kind == "off" ? "NTP service off" : "reports address 0.0.0.0: nowhere to ask";
            readings.append(reading);
            continue;
        }
        SntpReading &sntp = reading.sntp;
        sntp.attempts = kind == "silent" ? 2 : 1;
        sntp.kissOfDeath = kind == "kiss";
        sntp.answered = words.size() == 3;
        sntp.referenceId = sntp.kissOfDeath ? "RATE" : "GPS";
        if (sntp.answered) {
            sntp.stratum = kind == "s16" ? 16 : 1;
            sntp.leap = kind == "leap3" ? 3 : 0;
            sntp.offsetSeconds = words.at(1).toDouble();
            sntp.delaySeconds = words.at(2).toDouble();
        }
        reading.state = kind == "ok" ? State::Synchronised
            : kind == "silent"       ? State::NoAnswer
                                     : State::Unsynchronised;
        reading.reason = kind == "kiss" ? "refuses to serve time (kiss-of-death RATE)"
            : kind == "silent"          ? "no answer after 2 tries"
            : kind == "s16"             ? "not synchronised (stratum 16)"
            : kind == "leap3"           ? "not synchronised (leap indicator 3)"
                                        : "";
        readings.append(reading);
    }
    return ClockReport::of(readings);
}

} // namespace UnitFixtures

#endif // UNITFIXTURES_H
