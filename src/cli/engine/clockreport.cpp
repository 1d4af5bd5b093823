#include "clockreport.h"

#include <cmath>

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

CheckOutcome outcome(const ClockReport &report, const DevicePresence &presence)
{
    if (presence.missingCount() > 0)
        return CheckOutcome::DevicesMissing;
    if (report.checked == 0)
        return CheckOutcome::NothingToCheck;
    if (report.unsynchronised > 0)
        return CheckOutcome::Unsynchronised;
    if (report.unanswered > 0)
        return CheckOutcome::Unanswered;
    return CheckOutcome::Passed;
}

ExitStatus exitStatus(CheckOutcome outcome)
{
    switch (outcome) {
    case CheckOutcome::DevicesMissing:
    case CheckOutcome::NothingToCheck:
        return ExitStatus::DeviceNotFound;
    case CheckOutcome::Unsynchronised:
        return ExitStatus::VerifyFailed;
    case CheckOutcome::Unanswered:
        return ExitStatus::CannotVerify;
    case CheckOutcome::Passed:
        break;
    }
    return ExitStatus::Success;
}

PluginFindings pluginFindings(const ClockReport &report, const PluginThresholds &thresholds,
                              const DevicePresence &presence)
{
    using Band = PluginFindings::Band;
    PluginFindings findings;
    findings.bands = QList<Band>(report.readings.size(), Band::Inside);
    const int missing = presence.missingCount();
    if (report.checked == 0 && missing == 0)
        return findings; // nothing to judge: unknown
    int critical = 0;
    int warning = 0;
    for (qsizetype i = 0; i < report.readings.size(); ++i) {
        const ClockReading &reading = report.readings.at(i);
        if (reading.state != ClockReading::State::Synchronised)
            continue;
        const double offset = std::fabs(reading.sntp.offsetSeconds);
        if (thresholds.crit.alerts(offset)) {
            findings.bands[i] = Band::Critical;
            ++critical;
        } else if (thresholds.warn.alerts(offset)) {
            findings.bands[i] = Band::Warning;
            ++warning;
        }
    }
    if (missing > 0 || report.unanswered > 0 || report.unsynchronised > 0 || critical > 0)
        findings.state = PluginState::Critical;
    else if (warning > 0)
        findings.state = PluginState::Warning;
    else
        findings.state = PluginState::Ok;
    return findings;
}

} // namespace ClockCheck
