#include "optionvalue.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {

QString outOfRange(const QCommandLineOption &option, const QString &minimum, const QString &maximum,
                   const QString &given)
{
    return QStringLiteral("--%1 must be a number from %2 to %3, got \"%4\"")
        .arg(option.names().constFirst(), minimum, maximum, given);
}

} // namespace

std::optional<qint64> OptionValue::integer(const QCommandLineParser &parser,
                                           const QCommandLineOption &option, qint64 minimum,
                                           qint64 maximum, QString *error)
{
    const QString text = parser.value(option);
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (ok && value >= minimum && value <= maximum)
        return value;
    *error = outOfRange(option, QString::number(minimum), QString::number(maximum), text);
    return std::nullopt;
}

std::optional<double> OptionValue::decimal(const QCommandLineParser &parser,
                                           const QCommandLineOption &option, double minimum,
                                           double maximum, QString *error)
{
    const QString text = parser.value(option);
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (ok && value >= minimum && value <= maximum)
        return value;
    *error = outOfRange(option, QString::number(minimum), QString::number(maximum), text);
    return std::nullopt;
}
