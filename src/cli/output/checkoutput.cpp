#include "checkoutput.h"

#include "csvtable.h"
#include "jsontext.h"
#include "outputwriter.h"
#include "textescape.h"
#include "units.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

using State = ClockReading::State;

QString seconds(double value)
{
    return QStringLiteral("%1 s").arg(value, 0, 'f', 6);
}

// The table's CLOCK column: the state's name in words, a state to act on in capitals so the
// eye finds it.
QString stateText(State state)
{
    const QString words
        = ClockReading::stateName(state).replace(QLatin1Char('-'), QLatin1Char(' '));
    return state == State::Unsynchronised || state == State::NoAnswer ? words.toUpper() : words;
}

QJsonValue optionalSeconds(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

QJsonObject deviceJson(const ClockReading &reading)
{
    const DeviceEntry &device = reading.device;
    QJsonObject object {
        { QStringLiteral("name"), QString::fromLatin1(device.name()) },
        { QStringLiteral("name_hex"), TextEscape::hex(device.reply.name, false) },
        { QStringLiteral("serial"), device.reply.serial },
        { QStringLiteral("address"), device.address() },
        { QStringLiteral("heard_on"), device.heardOn.toJson() },
        { QStringLiteral("state"), ClockReading::stateName(reading.state) },
        { QStringLiteral("reason"),
          reading.reason.isEmpty() ? QJsonValue() : QJsonValue(reading.reason) },
        { QStringLiteral("attempts"), reading.sntp.attempts },
    };
    const bool figures = reading.hasFigures();
    const bool heard = figures || reading.sntp.kissOfDeath;
    object.insert(QStringLiteral("offset_s"),
                  figures ? QJsonValue(reading.sntp.offsetSeconds) : QJsonValue());
    object.insert(QStringLiteral("delay_s"),
                  figures ? QJsonValue(reading.sntp.delaySeconds) : QJsonValue());
    object.insert(QStringLiteral("stratum"),
                  heard ? QJsonValue(reading.sntp.stratum) : QJsonValue());
    object.insert(QStringLiteral("leap"), heard ? QJsonValue(reading.sntp.leap) : QJsonValue());
    object.insert(QStringLiteral("reference_id"),
                  heard ? QJsonValue(reading.sntp.referenceId) : QJsonValue());
    return object;
}

} // namespace

namespace CheckOutput {

QByteArray table(const CheckRun &run)
{
    const ClockReport &report = run.report;
    QList<QStringList> rows {
        { QStringLiteral("NAME"), QStringLiteral("ADDRESS"), QStringLiteral("SERIAL"),
          QStringLiteral("CLOCK"), QStringLiteral("OFFSET"), QStringLiteral("DELAY"),
          QStringLiteral("STRATUM"), QStringLiteral("LEAP"), QStringLiteral("DETAIL") }
    };
    const QString none = QStringLiteral("-");
    for (const ClockReading &reading : report.readings) {
        const SntpReading &sntp = reading.sntp;
        const bool figures = reading.hasFigures();
        const bool heard = figures || sntp.kissOfDeath;
        rows.append({ reading.device.shownName(), reading.device.address(),
                      QString::number(reading.device.reply.serial), stateText(reading.state),
                      figures ? Units::signedSeconds(sntp.offsetSeconds) : none,
                      figures ? seconds(sntp.delaySeconds) : none,
                      heard ? QString::number(sntp.stratum) : none,
                      heard ? QString::number(sntp.leap) : none,
                      reading.reason.isEmpty() ? none : reading.reason });
    }
    QString text = OutputWriter::aligned(rows);
    text += QStringLiteral("\nfound %1, checked %2, answered %3, unsynchronised %4, no answer %5, "
                           "not checkable %6\n")
                .arg(report.found)
                .arg(report.checked)
                .arg(report.answered)
                .arg(report.unsynchronised)
                .arg(report.unanswered)
                .arg(report.notCheckable);
    if (report.worstOffset) {
        const ClockReading &worst = report.readings.at(*report.worstOffset);
        text += QStringLiteral("worst offset %1 (%2, serial %3, %4); median delay %5\n")
                    .arg(Units::signedSeconds(worst.sntp.offsetSeconds), worst.device.label())
                    .arg(worst.device.reply.serial)
                    .arg(worst.device.address(), seconds(*report.medianDelaySeconds));
    } else {
        text += QStringLiteral("no clock read\n");
    }
    const DevicePresence &presence = run.presence;
    if (!presence.missing.isEmpty())
        text += QStringLiteral("expected, did not answer the scan: %1\n")
                    .arg(presence.missing.join(QStringLiteral(", ")));
    if (presence.heard < presence.minDevices)
        text += QStringLiteral("%1 devices answered the scan, at least %2 expected\n")
                    .arg(presence.heard)
                    .arg(presence.minDevices);
    if (!presence.unexpected.isEmpty())
        text += QStringLiteral("answered, not expected: %1\n").arg(presence.unexpected.size());
    if (run.deadlinePassed)
        text += QStringLiteral("deadline of %1 s passed: %2 not read, counted as no answer\n")
                    .arg(*run.deadlineMs / 1000.0)
                    .arg(run.notRead);
    return text.toUtf8();
}

QByteArray json(const CheckRun &run)
{
    const ClockReport &report = run.report;
    QJsonArray devices;
    for (const ClockReading &reading : report.readings)
        devices.append(deviceJson(reading));
    QJsonValue worst;
    std::optional<double> worstOffset;
    if (report.worstOffset) {
        const ClockReading &reading = report.readings.at(*report.worstOffset);
        worstOffset = reading.sntp.offsetSeconds;
        worst = reading.device.identityJson();
    }
    const QJsonObject summary {
        { QStringLiteral("found"), report.found },
        { QStringLiteral("checked"), report.checked },
        { QStringLiteral("answered"), report.answered },
        { QStringLiteral("unsynchronised"), report.unsynchronised },
        { QStringLiteral("no_answer"), report.unanswered },
        { QStringLiteral("not_checkable"), report.notCheckable },
        { QStringLiteral("worst_offset_s"), optionalSeconds(worstOffset) },
        { QStringLiteral("worst_offset_device"), worst },
        { QStringLiteral("median_delay_s"), optionalSeconds(report.medianDelaySeconds) },
        { QStringLiteral("max_delay_s"), optionalSeconds(report.maxDelaySeconds) },
        { QStringLiteral("missing"), run.presence.missingCount() },
        { QStringLiteral("not_read_before_deadline"), run.notRead },
    };
    const QJsonObject settings {
        { QStringLiteral("timeout_ms"), run.settings.timeoutMs },
        { QStringLiteral("retries"), run.settings.retries },
        { QStringLiteral("concurrency"), run.settings.concurrency },
        { QStringLiteral("rate"), run.settings.ratePerSecond },
        { QStringLiteral("deadline_ms"),
          run.deadlineMs ? QJsonValue(*run.deadlineMs) : QJsonValue() },
        { QStringLiteral("min_devices"), run.presence.minDevices },
    };
    QJsonArray unexpected;
    for (int index : run.presence.unexpected)
        unexpected.append(report.readings.at(index).device.identityJson());
    const QJsonObject statistics {
        { QStringLiteral("requests"), run.requests },
        { QStringLiteral("survey_ms"), run.surveyMs },
    };
    const QJsonObject document {
        { QStringLiteral("format"), QStringLiteral("setuptool-cli/check") },
        { QStringLiteral("version"), JsonText::version },
        { QStringLiteral("scanned_from"), OutputWriter::scannedFromJson(run.scannedFrom) },
        { QStringLiteral("devices"), devices },
        { QStringLiteral("summary"), summary },
        { QStringLiteral("settings"), settings },
        { QStringLiteral("statistics"), statistics },
        { QStringLiteral("notes"), OutputWriter::notesJson(run.notes) },
        { QStringLiteral("missing"), QJsonArray::fromStringList(run.presence.missing) },
        { QStringLiteral("unexpected"), unexpected },
    };
    return JsonText::document(document);
}

QByteArray csv(const CheckRun &run)
{
    QList<QJsonObject> devices;
    for (const ClockReading &reading : run.report.readings)
        devices.append(deviceJson(reading));
    return CsvTable::write(devices,
                           { QStringLiteral("name"), QStringLiteral("address"),
                             QStringLiteral("serial"), QStringLiteral("state") });
}

QByteArray write(const CheckRun &run, Options::Format format)
{
    switch (format) {
    case Options::Format::Json:
        return json(run);
    case Options::Format::Csv:
        return csv(run);
    case Options::Format::Table:
        break;
    }
    return table(run);
}

QString progress(int done, int total)
{
    return QStringLiteral("reading clocks: %1/%2").arg(done).arg(total);
}

QString problem(const CheckRun &run, CheckOutcome outcome)
{
    switch (outcome) {
    case CheckOutcome::DevicesMissing: {
        const int missing = run.presence.missingCount();
        return QStringLiteral("%1 expected %2 did not answer the scan")
            .arg(missing)
            .arg(QLatin1String(missing == 1 ? "device" : "devices"));
    }
    case CheckOutcome::NothingToCheck:
        return run.report.found == 0
            ? QStringLiteral("no device answered")
            : QStringLiteral("no device to check: NTP is off on all %1 found")
                  .arg(run.report.found);
    case CheckOutcome::Unsynchronised:
    case CheckOutcome::Unanswered:
    case CheckOutcome::Passed:
        break;
    }
    return QString();
}

} // namespace CheckOutput
