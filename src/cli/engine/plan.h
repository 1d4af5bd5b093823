#ifndef PLAN_H
#define PLAN_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One line of a commissioning plan: which device (by serial), the address to store in it and
// whether to set its clock. The other columns a plan may carry (name, current and stored
// address) are there for the person editing it and are not read.
struct PlanLine
{
    int lineNumber = 0; // in the file, the header being line 1
    qint32 serial = 0;
    std::optional<quint32> newAddress; // none: only the clock is set
    bool setTime = false;
    QString fault; // why the line cannot be read; empty when it can
};

// A plan is CSV (RFC 4180; CRLF or LF line ends; a UTF-8 byte-order mark is skipped) with a
// header line naming its columns in any order: serial and new_address are required, set_time
// (yes/no, 1/0, true/false; empty means no) is optional, name, current_address and
// stored_address are written by `plan` for the reader. docs/cli.md describes it.
namespace Plan {

struct Read
{
    QList<PlanLine> lines; // every data line, each with its fault if it has one
    QString error; // set when the file as a whole cannot be read: nothing in `lines` counts
    QStringList unreadColumns; // named in the header as written, to warn of
};

Read read(const QByteArray &text);

} // namespace Plan

#endif // PLAN_H
