#include "planoutput.h"

#include "addressrules.h"
#include "addresswords.h"
#include "jsontext.h"
#include "outputwriter.h"
#include "textescape.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

namespace PlanOutput {

namespace {

    QString yesNo(bool yes)
    {
        return yes ? QStringLiteral("yes") : QStringLiteral("no");
    }

    QByteArray table(const QList<PlanRow> &rows)
    {
        QList<QStringList> lines { { QStringLiteral("SERIAL"), QStringLiteral("NAME"),
                                     QStringLiteral("ADDRESS"), QStringLiteral("STORED"),
                                     QStringLiteral("NEW ADDRESS"), QStringLiteral("SET TIME") } };
        for (const PlanRow &row : rows)
            lines.append({ QString::number(row.serial), row.name, row.currentAddress,
                           row.storedAddress, AddressRules::format(row.newAddress),
                           yesNo(row.setTime) });
        return OutputWriter::aligned(lines).toUtf8();
    }

    QByteArray json(const QList<PlanRow> &rows, quint32 first, quint32 last)
    {
        QJsonArray lines;
        for (const PlanRow &row : rows)
            lines.append(QJsonObject {
                { QStringLiteral("serial"), row.serial },
                { QStringLiteral("name"), row.sentName },
                { QStringLiteral("current_address"), row.currentAddress },
                { QStringLiteral("stored_address"), row.storedAddress },
                { QStringLiteral("new_address"), AddressRules::format(row.newAddress) },
                { QStringLiteral("set_time"), row.setTime },
            });
        return JsonText::document({
            { QStringLiteral("format"), QStringLiteral("setuptool-cli/plan") },
            { QStringLiteral("version"), JsonText::version },
            { QStringLiteral("range"),
              QJsonObject { { QStringLiteral("first"), AddressRules::format(first) },
                            { QStringLiteral("last"), AddressRules::format(last) } } },
            { QStringLiteral("lines"), lines },
        });
    }

} // namespace

QByteArray write(const QList<PlanRow> &rows, quint32 first, quint32 last, Options::Format format)
{
    switch (format) {
    case Options::Format::Json:
        return json(rows, first, last);
    case Options::Format::Table:
        return table(rows);
    case Options::Format::Csv:
        break;
    }
    return csv(rows);
}

QByteArray csv(const QList<PlanRow> &rows)
{
    using TextEscape::CellKind;
    using TextEscape::csvCell;
    QString text = QStringLiteral("serial,name,current_address,stored_address,new_address,"
                                  "set_time\r\n");
    for (const PlanRow &row : rows) {
        const QStringList cells {
            csvCell(QString::number(row.serial), CellKind::Number),
            csvCell(row.name),
            row.currentAddress,
            row.storedAddress,
            AddressRules::format(row.newAddress),
            yesNo(row.setTime),
        };
        text += cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

QString nothingHeard()
{
    return QStringLiteral("no device answered: the plan is empty");
}

QString rangeOutside(quint32 first, quint32 last, const QStringList &subnets)
{
    QStringList named = subnets;
    const QString lastSubnet = named.takeLast();
    return QStringLiteral("the range %1-%2 is outside %3, the %4 of the devices")
        .arg(AddressRules::format(first), AddressRules::format(last),
             named.isEmpty()
                 ? lastSubnet
                 : named.join(QStringLiteral(", ")) + QStringLiteral(" and ") + lastSubnet,
             named.isEmpty() ? QStringLiteral("subnet") : QStringLiteral("subnets"));
}

QString notPlanned(const UnplannedDevice &device, quint32 first, quint32 last)
{
    switch (device.reason) {
    case UnplannedDevice::Reason::Unreachable:
        break;
    case UnplannedDevice::Reason::RangeUsedUp:
        return QStringLiteral("not planned: %1: no free address of %2-%3 left in %4, the subnet "
                              "it was heard on")
            .arg(device.device, AddressRules::format(first), AddressRules::format(last),
                 device.subnet);
    }
    return QStringLiteral("not planned: %1: it reports 0.0.0.0 as its address, no command can "
                          "reach it")
        .arg(device.device);
}

QString warning(const PlanWarning &warning)
{
    switch (warning.kind) {
    case PlanWarning::Kind::KeptAddressInUse:
        return QStringLiteral("%1 is given another address than the one it stores: %2")
            .arg(warning.device, AddressWords::inUse(warning.holding));
    case PlanWarning::Kind::NotHandedOut:
        return QStringLiteral("not handed out: %1").arg(AddressWords::inUse(warning.holding));
    case PlanWarning::Kind::SerialTwice:
        break;
    }
    return QStringLiteral("serial %1 answers at more than one address: apply refuses its lines "
                          "until the devices carry serials of their own")
        .arg(warning.serial);
}

} // namespace PlanOutput
