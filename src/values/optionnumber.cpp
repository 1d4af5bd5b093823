#include "optionnumber.h"

#include <QCommandLineParser>

namespace OptionNumber {

Reading<qint64> integer(const QCommandLineParser &parser, const QString &name, qint64 minimum,
                        qint64 maximum)
{
    bool ok = false;
    const QString text = parser.value(name);
    const qint64 value = text.toLongLong(&ok);
    if (ok && value >= minimum && value <= maximum && text.trimmed() == text)
        return { value, {} };
    return { std::nullopt,
             QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                 .arg(name)
                 .arg(minimum)
                 .arg(maximum)
                 .arg(text) };
}

Reading<double> seconds(const QCommandLineParser &parser, const QString &name, double minimum,
                        double maximum)
{
    bool ok = false;
    const QString text = parser.value(name);
    const double value = text.toDouble(&ok);
    // Written so that NaN fails too.
    if (ok && value >= minimum && value <= maximum)
        return { value, {} };
    return { std::nullopt,
             QStringLiteral("--%1 wants seconds from %2 to %3, not \"%4\"")
                 .arg(name)
                 .arg(minimum)
                 .arg(maximum)
                 .arg(text) };
}

} // namespace OptionNumber
