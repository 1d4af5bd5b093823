#ifndef OPTIONVALUE_H
#define OPTIONVALUE_H

#include "failure.h"

#include <QString>
#include <QtGlobal>

class QCommandLineParser;

// The companion's numeric option values: read by the rules it shares with the test tools
// (OptionNumber), and a value those rules refuse is bad usage.
namespace OptionValue {

// A whole number, written without blanks.
Expected<qint64> integer(const QCommandLineParser &parser, const QString &name, qint64 minimum,
                         qint64 maximum);
// Seconds, fractions allowed.
Expected<double> seconds(const QCommandLineParser &parser, const QString &name, double minimum,
                         double maximum);

} // namespace OptionValue

#endif // OPTIONVALUE_H
