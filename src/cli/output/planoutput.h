#ifndef PLANOUTPUT_H
#define PLANOUTPUT_H

#include "planrow.h"

#include <QByteArray>
#include <QList>

// The plan as `plan` writes it: CSV with a header line and one line per row, CRLF line ends, in
// the columns Plan::read reads back (docs/cli.md describes them).
namespace PlanOutput {

QByteArray csv(const QList<PlanRow> &rows);

} // namespace PlanOutput

#endif // PLANOUTPUT_H
