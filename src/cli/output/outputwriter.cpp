#include "outputwriter.h"

#include "jsontext.h"
#include "textescape.h"

#include <QJsonArray>
#include <QJsonObject>

#include <optional>

namespace {

QStringList serviceNames(const DeviceProtocol::Reply &reply)
{
    QStringList names;
    if (reply.ntp)
        names.append(QStringLiteral("ntp"));
    if (reply.mbtcp)
        names.append(QStringLiteral("mbtcp"));
    if (reply.melsec)
        names.append(QStringLiteral("melsec"));
    if (reply.gps)
        names.append(QStringLiteral("gps"));
    return names;
}

QStringList noteCodes(const DeviceEntry &device)
{
    QStringList codes;
    for (const HealthNote &note : device.notes)
        codes.append(note.code);
    return codes;
}

QJsonObject deviceJson(const DeviceEntry &device)
{
    const DeviceProtocol::Reply &reply = device.reply;
    return {
        { QStringLiteral("name"), QString::fromLatin1(device.name()) },
        { QStringLiteral("name_hex"), TextEscape::hex(reply.name, false) },
        { QStringLiteral("serial"), reply.serial },
        { QStringLiteral("address"), device.address() },
        { QStringLiteral("stored_address"), device.storedAddress() },
        { QStringLiteral("uptime_hours"), reply.uptime },
        { QStringLiteral("services"),
          QJsonObject { { QStringLiteral("ntp"), reply.ntp },
                        { QStringLiteral("mbtcp"), reply.mbtcp },
                        { QStringLiteral("melsec"), reply.melsec },
                        { QStringLiteral("gps"), reply.gps } } },
        { QStringLiteral("heard_on"), device.heardOn.toJson() },
        { QStringLiteral("replies"), device.replies },
        { QStringLiteral("first_reply_ms"), device.firstReplyMs },
        { QStringLiteral("notes"), OutputWriter::notesJson(device.notes) },
    };
}

QString padded(const QString &text, int width)
{
    return text.leftJustified(width, QLatin1Char(' '));
}

} // namespace

QString OutputWriter::aligned(const QList<QStringList> &rows)
{
    QList<int> widths(rows.isEmpty() ? 0 : rows.first().size(), 0);
    for (const QStringList &row : rows) {
        for (int column = 0; column < row.size() && column < widths.size(); ++column)
            widths[column] = qMax(widths.at(column), int(row.at(column).size()));
    }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (int column = 0; column < row.size(); ++column) {
            const bool last = column == row.size() - 1;
            line += last ? row.at(column) : padded(row.at(column), widths.value(column) + 2);
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}

QJsonArray OutputWriter::notesJson(const QList<HealthNote> &notes)
{
    QJsonArray array;
    for (const HealthNote &note : notes)
        array.append(QJsonObject { { QStringLiteral("code"), note.code },
                                   { QStringLiteral("text"), note.text } });
    return array;
}

QJsonArray OutputWriter::scannedFromJson(const QList<LocalAddress> &from)
{
    QJsonArray array;
    for (const LocalAddress &local : from)
        array.append(local.toJson());
    return array;
}

std::unique_ptr<OutputWriter> OutputWriter::create(Format format)
{
    switch (format) {
    case Format::Json:
        return std::make_unique<JsonWriter>();
    case Format::Csv:
        return std::make_unique<CsvWriter>();
    case Format::Table:
        break;
    }
    return std::make_unique<TableWriter>();
}

QByteArray TableWriter::write(const ScanReport &report) const
{
    QList<QStringList> rows { { QStringLiteral("NAME"), QStringLiteral("ADDRESS"),
                                QStringLiteral("STORED"), QStringLiteral("SERIAL"),
                                QStringLiteral("UPTIME"), QStringLiteral("SERVICES"),
                                QStringLiteral("HEARD ON"), QStringLiteral("NOTES") } };
    for (const DeviceEntry &device : report.devices) {
        const QStringList services = serviceNames(device.reply);
        const QStringList codes = noteCodes(device);
        rows.append({ device.shownName(), device.address(), device.storedAddress(),
                      QString::number(device.reply.serial),
                      QString::number(device.reply.uptime) + QLatin1Char('h'),
                      services.isEmpty() ? QStringLiteral("-") : services.join(QLatin1Char(',')),
                      device.heardOn.address.toString(),
                      codes.isEmpty() ? QStringLiteral("-") : codes.join(QLatin1Char(',')) });
    }
    QString text = aligned(rows);
    bool first = true;
    for (const DeviceEntry &device : report.devices) {
        for (const HealthNote &note : device.notes) {
            if (first)
                text += QLatin1Char('\n');
            first = false;
            text += QStringLiteral("%1 (serial %2): %3\n")
                        .arg(device.address())
                        .arg(device.reply.serial)
                        .arg(note.text);
        }
    }
    return text.toUtf8();
}

QByteArray JsonWriter::write(const ScanReport &report) const
{
    QJsonArray devices;
    for (const DeviceEntry &device : report.devices)
        devices.append(deviceJson(device));
    const ScanFigures &figures = report.figures;
    const QJsonObject statistics {
        { QStringLiteral("probes"), figures.probesSent },
        { QStringLiteral("datagrams"), figures.datagrams },
        { QStringLiteral("not_replies"), figures.notReplies },
        { QStringLiteral("heard_elsewhere"), figures.elsewhere },
        { QStringLiteral("reply_buffer_bytes"), figures.replyBufferBytes },
        { QStringLiteral("reply_buffer_asked_bytes"), figures.replyBufferAskedBytes },
        { QStringLiteral("dropped"),
          figures.dropped < 0 ? QJsonValue() : QJsonValue(figures.dropped) },
        { QStringLiteral("last_new_device_ms"),
          report.lastNewDeviceMs < 0 ? QJsonValue() : QJsonValue(report.lastNewDeviceMs) },
    };
    const QJsonObject document {
        { QStringLiteral("format"), QStringLiteral("setuptool-cli/scan") },
        { QStringLiteral("version"), JsonText::version },
        { QStringLiteral("scanned_from"), scannedFromJson(report.scannedFrom) },
        { QStringLiteral("devices"), devices },
        { QStringLiteral("notes"), OutputWriter::notesJson(report.notes) },
        { QStringLiteral("statistics"), statistics },
    };
    return JsonText::document(document);
}

QByteArray CsvWriter::write(const ScanReport &report) const
{
    using TextEscape::CellKind;
    using TextEscape::csvCell;
    QString text = QStringLiteral("name,address,stored_address,serial,uptime_hours,ntp,mbtcp,"
                                  "melsec,gps,heard_on,interface,notes\r\n");
    const auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    for (const DeviceEntry &device : report.devices) {
        const DeviceProtocol::Reply &reply = device.reply;
        const QStringList cells {
            csvCell(device.shownName()),
            device.address(),
            device.storedAddress(),
            csvCell(QString::number(reply.serial), CellKind::Number),
            csvCell(QString::number(reply.uptime), CellKind::Number),
            flag(reply.ntp),
            flag(reply.mbtcp),
            flag(reply.melsec),
            flag(reply.gps),
            device.heardOn.address.toString(),
            csvCell(device.heardOn.interfaceName),
            csvCell(noteCodes(device).join(QLatin1Char(' '))),
        };
        text += cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text.toUtf8();
}
