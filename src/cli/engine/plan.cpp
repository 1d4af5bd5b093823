#include "plan.h"

#include "addressrules.h"

#include <QHash>

namespace Plan {

namespace {

    const QString serialColumn = QStringLiteral("serial");
    const QString newAddressColumn = QStringLiteral("new_address");
    const QString setTimeColumn = QStringLiteral("set_time");
    const QStringList informationColumns { QStringLiteral("name"),
                                           QStringLiteral("current_address"),
                                           QStringLiteral("stored_address") };

    struct Record
    {
        int lineNumber = 0;
        QStringList cells;
    };

    // Splits CSV text into records. A cell's blanks outside quotes are dropped, as a
    // spreadsheet's export may pad cells. False, with *error, on a quote left open or text
    // after a closing quote.
    bool records(const QString &text, QList<Record> *result, QString *error)
    {
        int line = 1;
        Record record { 1, {} };
        QString cell;
        bool quoted = false; // the cell began with a quote
        bool inQuotes = false;
        bool afterQuote = false; // the cell's closing quote was read
        const auto endCell = [&] {
            record.cells.append(quoted ? cell : cell.trimmed());
            cell.clear();
            quoted = inQuotes = afterQuote = false;
        };
        const auto endRecord = [&] {
            endCell();
            // A line holding nothing at all is skipped; a line of empty cells is not.
            if (record.cells.size() > 1 || !record.cells.first().isEmpty())
                result->append(record);
            record = { line, {} };
        };
        for (int i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (inQuotes) {
                if (c == QLatin1Char('"') && i + 1 < text.size()
                    && text.at(i + 1) == QLatin1Char('"')) {
                    cell += c;
                    ++i;
                } else if (c == QLatin1Char('"')) {
                    inQuotes = false;
                    afterQuote = true;
                } else {
                    if (c == QLatin1Char('\n'))
                        ++line;
                    cell += c;
                }
                continue;
            }
            if (c == QLatin1Char(',')) {
                endCell();
            } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
                if (c == QLatin1Char('\r') && i + 1 < text.size()
                    && text.at(i + 1) == QLatin1Char('\n'))
                    ++i;
                ++line;
                endRecord();
            } else if (c == QLatin1Char('"') && !quoted && cell.trimmed().isEmpty()) {
                quoted = inQuotes = true;
                cell.clear();
            } else if (afterQuote && !c.isSpace()) {
                *error
                    = QStringLiteral("line %1: text after a quoted cell's closing quote").arg(line);
                return false;
            } else if (!afterQuote) {
                cell += c;
            }
        }
        if (inQuotes) {
            *error = QStringLiteral("line %1: a quote is opened and never closed")
                         .arg(record.lineNumber);
            return false;
        }
        endRecord();
        return true;
    }

    std::optional<bool> yesOrNo(const QString &text)
    {
        const QString value = text.toLower();
        if (value.isEmpty() || value == QLatin1String("no") || value == QLatin1String("0")
            || value == QLatin1String("false"))
            return false;
        if (value == QLatin1String("yes") || value == QLatin1String("1")
            || value == QLatin1String("true"))
            return true;
        return std::nullopt;
    }

    // A record read as one cell holding semicolons was most likely written by a spreadsheet
    // whose locale separates cells with them.
    QString semicolonFault(const Record &record)
    {
        if (record.cells.size() != 1 || !record.cells.first().contains(QLatin1Char(';')))
            return QString();
        return QStringLiteral("one cell '%1': separate cells with commas, not semicolons")
            .arg(record.cells.first());
    }

    PlanLine lineFrom(const Record &record, const QHash<QString, int> &columns, int width)
    {
        PlanLine line;
        line.lineNumber = record.lineNumber;
        QStringList faults;
        if (record.cells.size() != width) {
            line.fault = semicolonFault(record);
            if (line.fault.isEmpty())
                line.fault = QStringLiteral("it has %1 cell(s), the header %2")
                                 .arg(record.cells.size())
                                 .arg(width);
            return line;
        }
        const QString serial = record.cells.at(columns.value(serialColumn));
        bool ok = false;
        line.serial = serial.toInt(&ok);
        if (!ok)
            faults.append(
                QStringLiteral("serial \"%1\" is not a whole number that fits a device's serial")
                    .arg(serial));

        const int setTimeIndex = columns.value(setTimeColumn, -1);
        const QString setTime = setTimeIndex < 0 ? QString() : record.cells.at(setTimeIndex);
        const std::optional<bool> wantsTime = yesOrNo(setTime);
        if (wantsTime)
            line.setTime = *wantsTime;
        else
            faults.append(QStringLiteral("set_time \"%1\" is not yes or no (nor 1/0, true/false)")
                              .arg(setTime));

        const QString address = record.cells.at(columns.value(newAddressColumn));
        if (!address.isEmpty()) {
            line.newAddress = AddressRules::parse(address);
            if (!line.newAddress)
                faults.append(QStringLiteral("new_address \"%1\" is not an IPv4 address (four "
                                             "decimal octets, no leading zeros)")
                                  .arg(address));
        } else if (wantsTime && !line.setTime) {
            faults.append(QStringLiteral("it asks for nothing: no new_address, set_time no"));
        }
        line.fault = faults.join(QStringLiteral("; "));
        return line;
    }

} // namespace

Read read(const QByteArray &bytes)
{
    Read result;
    QByteArray text = bytes;
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    QList<Record> all;
    if (!records(QString::fromUtf8(text), &all, &result.error))
        return result;
    if (all.isEmpty()) {
        result.error = QStringLiteral("the plan is empty: it needs a header line such as "
                                      "\"serial,new_address\"");
        return result;
    }

    const Record header = all.takeFirst();
    if (const QString fault = semicolonFault(header); !fault.isEmpty()) {
        result.error = QStringLiteral("line %1: %2").arg(header.lineNumber).arg(fault);
        return result;
    }
    QHash<QString, int> columns;
    for (int i = 0; i < header.cells.size(); ++i) {
        const QString name = header.cells.at(i).toLower();
        if (columns.contains(name)) {
            result.error = QStringLiteral("line %1: column \"%2\" is named twice")
                               .arg(header.lineNumber)
                               .arg(header.cells.at(i));
            return result;
        }
        columns.insert(name, i);
        if (name != serialColumn && name != newAddressColumn && name != setTimeColumn
            && !informationColumns.contains(name))
            result.unreadColumns.append(header.cells.at(i));
    }
    for (const QString &required : { serialColumn, newAddressColumn }) {
        if (!columns.contains(required)) {
            result.error = QStringLiteral("line %1: the header has no \"%2\" column; a plan "
                                          "needs serial and new_address (set_time optional)")
                               .arg(header.lineNumber)
                               .arg(required);
            return result;
        }
    }
    for (const Record &record : std::as_const(all))
        result.lines.append(lineFrom(record, columns, int(header.cells.size())));
    return result;
}

} // namespace Plan
