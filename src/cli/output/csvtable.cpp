#include "csvtable.h"

#include "textescape.h"

#include <QJsonArray>
#include <QMap>
#include <QVariant>

namespace {

using TextEscape::CellKind;
using TextEscape::csvCell;

QString cellText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QJsonValue::Double:
        // The shortest text that reads back as the same number, as in the JSON.
        return csvCell(value.toVariant().toString(), CellKind::Number);
    case QJsonValue::String:
        return csvCell(value.toString());
    case QJsonValue::Array: {
        QStringList items;
        for (const QJsonValue &item : value.toArray())
            items.append(item.isString() ? item.toString() : item.toVariant().toString());
        return csvCell(items.join(QStringLiteral("; ")));
    }
    case QJsonValue::Null:
    case QJsonValue::Object:
    case QJsonValue::Undefined:
        break;
    }
    return QString();
}

// The object's cells by column name, nested objects' keys joined to their own.
void flatten(const QJsonObject &object, const QString &prefix, QMap<QString, QString> *cells)
{
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.value().isObject())
            flatten(it.value().toObject(), prefix + it.key() + QLatin1Char('_'), cells);
        else
            cells->insert(prefix + it.key(), cellText(it.value()));
    }
}

} // namespace

namespace CsvTable {

QByteArray write(const QList<QJsonObject> &rows, const QStringList &leading)
{
    QList<QMap<QString, QString>> cells;
    QStringList columns = leading;
    QStringList others;
    for (const QJsonObject &row : rows) {
        QMap<QString, QString> rowCells;
        flatten(row, QString(), &rowCells);
        for (auto it = rowCells.constBegin(); it != rowCells.constEnd(); ++it) {
            if (!columns.contains(it.key()) && !others.contains(it.key()))
                others.append(it.key());
        }
        cells.append(rowCells);
    }
    others.sort();
    columns += others;
    QString text = columns.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const QMap<QString, QString> &rowCells : cells) {
        QStringList line;
        for (const QString &column : columns)
            line.append(rowCells.value(column));
        text += line.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

} // namespace CsvTable
