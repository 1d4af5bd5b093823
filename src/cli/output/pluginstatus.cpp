#include "pluginstatus.h"

#include "units.h"

#include <QStringList>

#include <cmath>

namespace PluginStatus {

namespace {

    const char *const service = "CLOCK";

    // Long output past this many device lines ends in a count instead: on a large segment every
    // device may fail at once (the time source gone), and an engine stores and mails the long
    // output of each check; 2,000 lines of it help nobody. The first lines name the devices.
    constexpr int longOutputDevices = 50;

    QString statusWord(Status status)
    {
        switch (status) {
        case Status::Ok:
            return QStringLiteral("OK");
        case Status::Warning:
            return QStringLiteral("WARNING");
        case Status::Critical:
            return QStringLiteral("CRITICAL");
        case Status::Unknown:
            break;
        }
        return QStringLiteral("UNKNOWN");
    }

    // Performance data values: plain decimals (no exponent, no sign for magnitudes), seconds.
    QString number(double value)
    {
        return QString::number(value, 'f', 6);
    }

    // A threshold as typed, to the microsecond: "0.5", "2", "0.00001", never an exponent,
    // which performance data does not allow.
    QString threshold(double seconds)
    {
        QString text = number(seconds);
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        return text;
    }

    QString perfdata(const ClockReport &report, const Thresholds &thresholds)
    {
        const QString worst = report.worstOffset
            ? number(std::fabs(report.readings.at(*report.worstOffset).sntp.offsetSeconds))
                + QLatin1Char('s')
            : QStringLiteral("U");
        const auto delay = [](const std::optional<double> &value) {
            return value ? number(*value) + QLatin1Char('s') : QStringLiteral("U");
        };
        return QStringLiteral("devices=%1 checked=%2 answered=%3 unsynchronised=%4 unanswered=%5 "
                              "not_checkable=%6 worst_offset=%7;%8;%9;0; median_delay=%10;;;0; "
                              "max_delay=%11;;;0;")
            .arg(report.found)
            .arg(report.checked)
            .arg(report.answered)
            .arg(report.unsynchronised)
            .arg(report.unanswered)
            .arg(report.notCheckable)
            .arg(worst, threshold(thresholds.warnSeconds), threshold(thresholds.critSeconds),
                 delay(report.medianDelaySeconds), delay(report.maxDelaySeconds));
    }

    QString plural(int count, const char *one, const char *many)
    {
        return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
    }

    QString describe(const ClockReading &reading)
    {
        return QStringLiteral("%1 (serial %2, %3)")
            .arg(safeName(reading.device))
            .arg(reading.device.reply.serial)
            .arg(reading.device.address());
    }

} // namespace

QString safeName(const DeviceEntry &device)
{
    return device.label().replace(QLatin1Char('|'), QStringLiteral("\\x7c"));
}

int exitCode(Status status)
{
    return int(status);
}

Verdict judge(const ClockReport &report, const Thresholds &thresholds)
{
    if (report.checked == 0)
        return unknown(report.found == 0
                           ? QStringLiteral("no device answered the scan")
                           : QStringLiteral("no device to check: NTP is off on all %1 found")
                                 .arg(report.found));

    QStringList details; // one line per device that is not OK
    int critical = 0; // offsets at or beyond crit
    int warning = 0; // offsets at or beyond warn, below crit
    for (const ClockReading &reading : report.readings) {
        switch (reading.state) {
        case ClockReading::State::NotCheckable:
            continue;
        case ClockReading::State::NoAnswer:
            details.append(
                QStringLiteral("%1: no answer: %2").arg(describe(reading), reading.reason));
            continue;
        case ClockReading::State::Unsynchronised:
            details.append(
                QStringLiteral("%1: unsynchronised: %2").arg(describe(reading), reading.reason));
            continue;
        case ClockReading::State::Synchronised:
            break;
        }
        const double offset = std::fabs(reading.sntp.offsetSeconds);
        const bool crit = offset >= thresholds.critSeconds;
        if (!crit && offset < thresholds.warnSeconds)
            continue;
        ++(crit ? critical : warning);
        details.append(QStringLiteral("%1: offset %2 (%3 %4 s)")
                           .arg(describe(reading),
                                Units::signedSeconds(reading.sntp.offsetSeconds, 3),
                                crit ? QStringLiteral("critical at") : QStringLiteral("warning at"),
                                threshold(crit ? thresholds.critSeconds : thresholds.warnSeconds)));
    }

    Verdict verdict;
    QStringList problems;
    if (report.unanswered > 0)
        problems.append(plural(report.unanswered, "not answering", "not answering"));
    if (report.unsynchronised > 0)
        problems.append(plural(report.unsynchronised, "unsynchronised", "unsynchronised"));
    if (critical > 0)
        problems.append(QStringLiteral("%1 off by %2 s or more")
                            .arg(critical)
                            .arg(threshold(thresholds.critSeconds)));
    if (warning > 0)
        problems.append(QStringLiteral("%1 off by %2 s or more")
                            .arg(warning)
                            .arg(threshold(thresholds.warnSeconds)));
    if (report.unanswered > 0 || report.unsynchronised > 0 || critical > 0)
        verdict.status = Status::Critical;
    else if (warning > 0)
        verdict.status = Status::Warning;
    else
        verdict.status = Status::Ok;

    QString summary = plural(report.checked, "device checked", "devices checked");
    if (!problems.isEmpty())
        summary = QStringLiteral("%1 (%2)").arg(problems.join(QStringLiteral(", ")), summary);
    if (report.worstOffset) {
        const ClockReading &worst = report.readings.at(*report.worstOffset);
        summary
            += QStringLiteral(", worst offset %1 (%2)")
                   .arg(Units::signedSeconds(worst.sntp.offsetSeconds, 3), safeName(worst.device));
    }
    verdict.text = QStringLiteral("%1 %2 - %3 | %4\n")
                       .arg(QLatin1String(service), statusWord(verdict.status), summary,
                            perfdata(report, thresholds));
    // A device may put '|' in its kiss code too; in a long-output line it would start
    // performance data.
    for (QString line : details.mid(0, longOutputDevices))
        verdict.text += line.replace(QLatin1Char('|'), QStringLiteral("\\x7c")) + QLatin1Char('\n');
    if (const qsizetype more = details.size() - longOutputDevices; more > 0)
        verdict.text
            += QStringLiteral("and %1 more %2 not OK (setuptool-cli check lists every one)\n")
                   .arg(more)
                   .arg(QLatin1String(more == 1 ? "device" : "devices"));
    if (report.notCheckable > 0)
        verdict.text += QStringLiteral("%1 not checkable (NTP off), not counted as failing\n")
                            .arg(plural(report.notCheckable, "device", "devices"));
    return verdict;
}

Verdict unknown(const QString &why)
{
    QString line = why;
    line.replace(QLatin1Char('|'), QLatin1Char('/')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return { Status::Unknown,
             QStringLiteral("%1 UNKNOWN - %2\n").arg(QLatin1String(service), line.trimmed()) };
}

} // namespace PluginStatus
