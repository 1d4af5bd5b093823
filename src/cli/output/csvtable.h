#ifndef CSVTABLE_H
#define CSVTABLE_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QStringList>

// The CSV of a command whose JSON document lists objects (check's devices, apply's lines,
// set-time's and set-address's command): a header line and one row per object, RFC 4180 with
// CRLF line ends and cells escaped as the scan's CSV escapes them. The columns are the objects'
// JSON keys, so that CSV and JSON name a value alike: a nested object's keys are joined to its
// own with '_' ("heard_on_address"), an array's items share one cell, separated by "; ", null
// is an empty cell and true and false are 1 and 0 as in the scan's CSV; text is escaped as the
// scan's names are (TextEscape::forTerminal), control characters written \xNN. Every object has
// every column: `leading` first, in that order, the others in the order of their names.
namespace CsvTable {

QByteArray write(const QList<QJsonObject> &rows, const QStringList &leading);

} // namespace CsvTable

#endif // CSVTABLE_H
