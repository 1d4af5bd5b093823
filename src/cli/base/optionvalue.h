#ifndef OPTIONVALUE_H
#define OPTIONVALUE_H

#include "failure.h"
#include "optionnumber.h"

#include <QString>
#include <QtGlobal>

class QCommandLineParser;

// The companion's numeric option values: read by the rules it shares with the test tools
// (OptionNumber), and a value those rules refuse is bad usage.
namespace OptionValue {

// A whole number, written without blanks.
Expected<qint64> integer(const QCommandLineParser &parser, const QString &name, qint64 minimum,
                         qint64 maximum);
// A duration in milliseconds, a plain number in `plain` (OptionNumber::duration).
Expected<double> duration(const QCommandLineParser &parser, const QString &name,
                          OptionNumber::TimeUnit plain, double minimum, double maximum);

} // namespace OptionValue

#endif // OPTIONVALUE_H
