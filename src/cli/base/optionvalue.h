#ifndef OPTIONVALUE_H
#define OPTIONVALUE_H

#include "failure.h"

#include <QString>
#include <QtGlobal>

class QCommandLineParser;

// Numeric option values checked against their range, for the companion and the test tools
// alike. A bad value is bad usage, and the message says which option wanted what and what it
// got.
namespace OptionValue {

// A whole number, written without blanks.
Expected<qint64> integer(const QCommandLineParser &parser, const QString &name, qint64 minimum,
                         qint64 maximum);
// Seconds, fractions allowed.
Expected<double> seconds(const QCommandLineParser &parser, const QString &name, double minimum,
                         double maximum);

} // namespace OptionValue

#endif // OPTIONVALUE_H
