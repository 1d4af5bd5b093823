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

    QString perfdata(const ClockReport &report, const Thresholds &thresholds,
                     const DevicePresence &presence)
    {
        const QString worst = report.worstOffset
            ? number(std::fabs(report.readings.at(*report.worstOffset).sntp.offsetSeconds))
                + QLatin1Char('s')
            : QStringLiteral("U");
        const auto delay = [](const std::optional<double> &value) {
            return value ? number(*value) + QLatin1Char('s') : QStringLiteral("U");
        };
        const QString missing = presence.expecting
            ? QStringLiteral(" missing=%1;;0;0;").arg(presence.missingCount())
            : QString();
        return QStringLiteral("devices=%1 checked=%2 answered=%3 unsynchronised=%4 unanswered=%5 "
                              "not_checkable=%6 worst_offset=%7;%8;%9;0; median_delay=%10;;;0; "
                              "max_delay=%11;;;0;%12")
            .arg(report.found)
            .arg(report.checked)
            .arg(report.answered)
            .arg(report.unsynchronised)
            .arg(report.unanswered)
            .arg(report.notCheckable)
            .arg(worst, thresholds.warn.text(), thresholds.crit.text(),
                 delay(report.medianDelaySeconds), delay(report.maxDelaySeconds), missing);
    }

    QString plural(int count, const char *one, const char *many)
    {
        return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
    }

    // At most longOutputDevices of `lines`, then a line that counts the rest.
    QString capped(const QStringList &lines, const char *rest)
    {
        QString text;
        // A device may put '|' in its kiss code too; in a long-output line it would start
        // performance data.
        for (QString line : lines.mid(0, longOutputDevices))
            text += line.replace(QLatin1Char('|'), QStringLiteral("\\x7c")) + QLatin1Char('\n');
        if (const qsizetype more = lines.size() - longOutputDevices; more > 0)
            text += QStringLiteral("and %1 more %2 %3\n")
                        .arg(more)
                        .arg(QLatin1String(more == 1 ? "device" : "devices"), QLatin1String(rest));
        return text;
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

Verdict verdict(const ClockReport &report, const Thresholds &thresholds,
                const PluginFindings &findings, const Circumstances &circumstances)
{
    if (findings.state == Status::Unknown)
        return unknown(report.found == 0
                           ? QStringLiteral("no device answered the scan")
                           : QStringLiteral("no device to check: NTP is off on all %1 found")
                                 .arg(report.found));

    const DevicePresence &presence = circumstances.presence;
    QStringList details; // one line per device that is not OK, missing ones first
    for (const QString &entry : presence.missing)
        details.append(QStringLiteral("%1: expected, did not answer the scan").arg(entry));
    int critical = 0; // offsets outside crit
    int warning = 0; // offsets outside warn, inside crit
    for (qsizetype i = 0; i < report.readings.size(); ++i) {
        const ClockReading &reading = report.readings.at(i);
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
        const PluginFindings::Band band = findings.bands.value(i, PluginFindings::Band::Inside);
        if (band == PluginFindings::Band::Inside)
            continue;
        const bool crit = band == PluginFindings::Band::Critical;
        ++(crit ? critical : warning);
        details.append(QStringLiteral("%1: offset %2 (%3: %4)")
                           .arg(describe(reading),
                                Units::signedSeconds(reading.sntp.offsetSeconds, 3),
                                crit ? QStringLiteral("critical") : QStringLiteral("warning"),
                                (crit ? thresholds.crit : thresholds.warn).breach()));
    }

    Verdict result;
    result.status = findings.state;
    QStringList problems;
    if (!presence.missing.isEmpty())
        problems.append(plural(int(presence.missing.size()), "expected device missing",
                               "expected devices missing"));
    if (presence.heard < presence.minDevices)
        problems.append(QStringLiteral("%1 of at least %2 heard")
                            .arg(plural(presence.heard, "device", "devices"))
                            .arg(presence.minDevices));
    if (report.unanswered > 0)
        problems.append(plural(report.unanswered, "not answering", "not answering"));
    if (circumstances.deadlineMs)
        problems.append(
            QStringLiteral("deadline of %1 s passed").arg(*circumstances.deadlineMs / 1000.0));
    if (report.unsynchronised > 0)
        problems.append(plural(report.unsynchronised, "unsynchronised", "unsynchronised"));
    if (critical > 0)
        problems.append(QStringLiteral("%1 off by %2").arg(critical).arg(thresholds.crit.breach()));
    if (warning > 0)
        problems.append(QStringLiteral("%1 off by %2").arg(warning).arg(thresholds.warn.breach()));

    QString summary = plural(report.checked, "device checked", "devices checked");
    if (!problems.isEmpty())
        summary = QStringLiteral("%1 (%2)").arg(problems.join(QStringLiteral(", ")), summary);
    if (report.worstOffset) {
        const ClockReading &worst = report.readings.at(*report.worstOffset);
        summary
            += QStringLiteral(", worst offset %1 (%2)")
                   .arg(Units::signedSeconds(worst.sntp.offsetSeconds, 3), safeName(worst.device));
    }
    result.text = QStringLiteral("%1 %2 - %3 | %4\n")
                      .arg(QLatin1String(service), statusWord(result.status), summary,
                           perfdata(report, thresholds, presence));
    result.text += capped(details, "not OK (setuptool-cli check lists every one)");
    if (circumstances.deadlineMs)
        result.text += QStringLiteral("%1 not read before the deadline of %2 s, counted as not "
                                      "answering\n")
                           .arg(plural(circumstances.notRead, "device", "devices"))
                           .arg(*circumstances.deadlineMs / 1000.0);
    if (report.notCheckable > 0)
        result.text += QStringLiteral("%1 not checkable (NTP off), not counted as failing\n")
                           .arg(plural(report.notCheckable, "device", "devices"));
    QStringList unexpected;
    for (int index : presence.unexpected)
        unexpected.append(QStringLiteral("%1: answered, not expected (not counted as failing)")
                              .arg(describe(report.readings.at(index))));
    result.text += capped(unexpected, "not expected");
    return result;
}

Verdict unknown(const QString &why)
{
    QString line = why;
    line.replace(QLatin1Char('|'), QLatin1Char('/')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return { Status::Unknown,
             QStringLiteral("%1 UNKNOWN - %2\n").arg(QLatin1String(service), line.trimmed()) };
}

} // namespace PluginStatus
