#ifndef CHECKOUTPUT_H
#define CHECKOUTPUT_H

#include "checkrun.h"
#include "options.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The check's result for a person (table) or a program (the versioned JSON document of
// docs/cli.md). Names from the wire are escaped as in the scan's output.
namespace CheckOutput {

QByteArray table(const CheckRun &run);
QByteArray json(const CheckRun &run);
// One row per device, the columns named as the JSON document's device keys.
QByteArray csv(const CheckRun &run);
// The check's result in `format`.
QByteArray write(const CheckRun &run, Options::Format format);
// The progress line while clocks are read: `done` of `total`.
QString progress(int done, int total);
// What is said on stderr of a check that came to `outcome`; empty when nothing is.
QString problem(const CheckRun &run, CheckOutcome outcome);

} // namespace CheckOutput

#endif // CHECKOUTPUT_H
