#include "clockreport.h"

#include <algorithm>
#include <cmath>

QString ClockReading::stateName(State state)
{
    switch (state) {
    case State::Synchronised:
        return QStringLiteral("ok");
    case State::Unsynchronised:
        return QStringLiteral("unsynchronised");
    case State::NoAnswer:
        return QStringLiteral("no-answer");
    case State::NotCheckable:
        break;
    }
    return QStringLiteral("not-checkable");
}

bool ClockReport::checkable(const DeviceEntry &device, QString *reason)
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

namespace {

ClockReading read(const DeviceEntry &device, const SntpQuery::Result &result)
{
    ClockReading reading { device, ClockReading::State::Synchronised, QString(), result };
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

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 == 1 ? values.at(middle)
                                  : (values.at(middle - 1) + values.at(middle)) / 2;
}

} // namespace

ClockReport ClockReport::build(const QList<DeviceEntry> &devices,
                               const QList<SntpQuery::Result> &results)
{
    ClockReport report;
    report.found = int(devices.size());
    int asked = 0;
    QList<double> delays;
    for (const DeviceEntry &device : devices) {
        QString reason;
        if (!checkable(device, &reason)) {
            report.readings.append({ device, ClockReading::State::NotCheckable, reason, {} });
            ++report.notCheckable;
            continue;
        }
        const ClockReading reading = read(device, results.value(asked++));
        ++report.checked;
        if (reading.state == ClockReading::State::NoAnswer)
            ++report.unanswered;
        else
            ++report.answered;
        if (reading.state == ClockReading::State::Unsynchronised)
            ++report.unsynchronised;
        if (reading.hasFigures()) {
            delays.append(reading.sntp.delaySeconds);
            const double offset = std::fabs(reading.sntp.offsetSeconds);
            if (!report.worstOffset
                || offset > std::fabs(report.readings.at(*report.worstOffset).sntp.offsetSeconds))
                report.worstOffset = int(report.readings.size());
        }
        report.readings.append(reading);
    }
    if (!delays.isEmpty()) {
        report.medianDelaySeconds = median(delays);
        report.maxDelaySeconds = *std::max_element(delays.cbegin(), delays.cend());
    }
    return report;
}
