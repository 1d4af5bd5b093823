#include "clockreport.h"

namespace ClockCheck {

bool checkable(const DeviceEntry &device, QString *reason)
{
    if (!device.reply.ntp) {
        *reason = QStringLiteral("NTP service off");
        return false;
    }
    if (device.reply.currentAddress == 0) {
        *reason = QStringLiteral("reports address 0.0.0.0: nowhere to ask");
        return false;
    }
    return true;
}

ClockReading read(const DeviceEntry &device, const SntpQuery::Result &result)
{
    const SntpReading sntp { result.answered, result.offsetSeconds, result.delaySeconds,
                             result.stratum,  result.leap,          result.referenceId,
                             result.attempts, result.kissOfDeath };
    ClockReading reading { device, ClockReading::State::Synchronised, QString(), sntp };
    if (result.kissOfDeath) {
        reading.state = ClockReading::State::Unsynchronised;
        reading.reason
            = QStringLiteral("refuses to serve time (kiss-of-death %1)").arg(result.referenceId);
    } else if (!result.answered) {
        reading.state = ClockReading::State::NoAnswer;
        reading.reason = result.error;
    } else if (!result.synchronised()) {
        reading.state = ClockReading::State::Unsynchronised;
        reading.reason = result.stratum > 15
            ? QStringLiteral("not synchronised (stratum %1)").arg(result.stratum)
            : QStringLiteral("not synchronised (leap indicator 3)");
    }
    return reading;
}

ClockReport report(const QList<DeviceEntry> &devices, const QList<SntpQuery::Result> &results)
{
    QList<ClockReading> readings;
    int asked = 0;
    for (const DeviceEntry &device : devices) {
        QString reason;
        if (checkable(device, &reason))
            readings.append(read(device, results.value(asked++)));
        else
            readings.append({ device, ClockReading::State::NotCheckable, reason, {} });
    }
    return ClockReport::of(readings);
}

} // namespace ClockCheck
