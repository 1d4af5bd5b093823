#include "clockreading.h"

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

namespace {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 == 1 ? values.at(middle)
                                  : (values.at(middle - 1) + values.at(middle)) / 2;
}

} // namespace

ClockReport ClockReport::of(const QList<ClockReading> &readings)
{
    ClockReport report;
    report.readings = readings;
    report.found = int(readings.size());
    QList<double> delays;
    for (int index = 0; index < readings.size(); ++index) {
        const ClockReading &reading = readings.at(index);
        if (reading.state == ClockReading::State::NotCheckable) {
            ++report.notCheckable;
            continue;
        }
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
                || offset > std::fabs(readings.at(*report.worstOffset).sntp.offsetSeconds))
                report.worstOffset = index;
        }
    }
    if (!delays.isEmpty()) {
        report.medianDelaySeconds = median(delays);
        report.maxDelaySeconds = *std::max_element(delays.cbegin(), delays.cend());
    }
    return report;
}
