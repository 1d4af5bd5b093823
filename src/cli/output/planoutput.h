#ifndef PLANOUTPUT_H
#define PLANOUTPUT_H

#include "options.h"
#include "planrow.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// The plan as `plan` writes it. Its CSV, what apply reads, has a header line and one line per
// row, CRLF line ends, in the columns Plan::read reads back (docs/cli.md describes them); the
// table and the JSON document hold the same rows for a person and for a script.
namespace PlanOutput {

QByteArray csv(const QList<PlanRow> &rows);
QByteArray write(const QList<PlanRow> &rows, quint32 first, quint32 last, Options::Format format);

// For stderr: the scan heard nothing, so the plan is empty.
QString nothingHeard();
// The error of a range with no address in any subnet the devices were heard on.
QString rangeOutside(quint32 first, quint32 last, const QStringList &subnets);
// For stderr: a device left out of a plan for the range `first`-`last`, and why.
QString notPlanned(const UnplannedDevice &device, quint32 first, quint32 last);
// For stderr: what the allocator warned of.
QString warning(const PlanWarning &warning);

} // namespace PlanOutput

#endif // PLANOUTPUT_H
