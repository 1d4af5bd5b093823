#ifndef OPTIONVALUE_H
#define OPTIONVALUE_H

#include <QString>
#include <QtGlobal>

#include <optional>

class QCommandLineOption;
class QCommandLineParser;

// Numeric option values checked against their range. On a bad value *error says which option
// wanted what and what it got, in the same words for every tool.
namespace OptionValue {

std::optional<qint64> integer(const QCommandLineParser &parser, const QCommandLineOption &option,
                              qint64 minimum, qint64 maximum, QString *error);
std::optional<double> decimal(const QCommandLineParser &parser, const QCommandLineOption &option,
                              double minimum, double maximum, QString *error);

} // namespace OptionValue

#endif // OPTIONVALUE_H
