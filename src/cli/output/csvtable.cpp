#include "csvtable.h"

#include "jsontext.h"
#include "textescape.h"

#include <QJsonArray>
#include <QMap>
#include <QSet>

namespace {

using TextEscape::CellKind;
using TextEscape::csvCell;
using TextEscape::forTerminal;

QString cellText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QJsonValue::Double:
        return csvCell(JsonText::number(value.toDouble()), CellKind::Number);
    case QJsonValue::String:
        // The JSON holds a name as it came off the wire; a spreadsheet or a terminal showing
        // the CSV must not meet its control characters.
        return csvCell(forTerminal(value.toString()));
    case QJsonValue::Array: {
        QStringList items;
        for (const QJsonValue &item : value.toArray())
            items.append(item.isString() ? item.toString() : JsonText::number(item.toDouble()));
        return csvCell(forTerminal(items.join(QStringLiteral("; "))));
    }
    case QJsonValue::Null:
    case QJsonValue::Object:
    case QJsonValue::Undefined:
        break;
    }
    return QString();
}

// The object's cells by column name, nested objects' keys joined to their own. The names of
// the nested objects go to `nested`: an object that is null in one row (a line naming no device
// has no heard_on) has its keys' columns from the other rows, not a column of its own.
void flatten(const QJsonObject &object, const QString &prefix, QMap<QString, QString> *cells,
             QSet<QString> *nested)
{
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.value().isObject()) {
            nested->insert(prefix + it.key());
            flatten(it.value().toObject(), prefix + it.key() + QLatin1Char('_'), cells, nested);
        } else {
            cells->insert(prefix + it.key(), cellText(it.value()));
        }
    }
}

} // namespace

namespace CsvTable {

QByteArray write(const QList<QJsonObject> &rows, const QStringList &leading)
{
    QList<QMap<QString, QString>> cells;
    QStringList columns = leading;
    QStringList others;
    QSet<QString> nested;
    for (const QJsonObject &row : rows) {
        QMap<QString, QString> rowCells;
        flatten(row, QString(), &rowCells, &nested);
        for (auto it = rowCells.constBegin(); it != rowCells.constEnd(); ++it) {
            if (!columns.contains(it.key()) && !others.contains(it.key()))
                others.append(it.key());
        }
        cells.append(rowCells);
    }
    others.removeIf([&nested](const QString &column) { return nested.contains(column); });
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
