#include "optionnumber.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cmath>

namespace OptionNumber {

bool hasDecimalComma(const QString &number)
{
    bool ok = false;
    if (number.count(QLatin1Char(',')) == 1 && number.trimmed() == number)
        QString(number).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    return ok;
}

QString decimalCommaRefusal(const QString &name, const QString &text)
{
    return QStringLiteral("--%1: '%2' is not a number; use a dot for decimals: %3")
        .arg(name, text, QString(text).replace(QLatin1Char(','), QLatin1Char('.')));
}

Reading<qint64> integer(const QCommandLineParser &parser, const QString &name, qint64 minimum,
                        qint64 maximum)
{
    bool ok = false;
    const QString text = parser.value(name);
    const qint64 value = text.toLongLong(&ok);
    if (ok && value >= minimum && value <= maximum && text.trimmed() == text)
        return { value, {} };
    // In a whole number a comma can only be a thousands separator ("1,000"); a decimal comma
    // ("1,5") is no whole number either way, and the refusal below says what is wanted.
    static const QRegularExpression grouped(QStringLiteral("^[0-9]{1,3}(,[0-9]{3})+$"));
    if (grouped.match(text).hasMatch())
        return { std::nullopt,
                 QStringLiteral("--%1: '%2' is not a whole number; leave out the thousands "
                                "separators: %3")
                     .arg(name, text, QString(text).remove(QLatin1Char(','))) };
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
    if (hasDecimalComma(text))
        return { std::nullopt, decimalCommaRefusal(name, text) };
    return { std::nullopt,
             QStringLiteral("--%1 wants seconds from %2 to %3, not \"%4\"")
                 .arg(name)
                 .arg(minimum)
                 .arg(maximum)
                 .arg(text) };
}

Reading<double> duration(const QString &name, const QString &text, TimeUnit plain, double minimum,
                         double maximum)
{
    // Longest suffix first: "ms" before "s" and "m".
    static const struct
    {
        const char *suffix;
        double ms;
    } units[] = { { "ms", 1 }, { "s", 1000 }, { "m", 60000 } };
    const double plainMs = plain == TimeUnit::Milliseconds ? 1 : 1000;
    QString number = text;
    double unitMs = plainMs;
    for (const auto &unit : units) {
        if (text.endsWith(QLatin1String(unit.suffix))) {
            number.chop(qsizetype(qstrlen(unit.suffix)));
            unitMs = unit.ms;
            break;
        }
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok && hasDecimalComma(number))
        return { std::nullopt, decimalCommaRefusal(name, text) };
    double ms = value * unitMs;
    // "1.1s" is 1100.0000000000002 ms in binary: a whole number within rounding is one.
    const bool whole = plain == TimeUnit::Seconds || std::abs(ms - std::round(ms)) < 1e-6;
    if (plain == TimeUnit::Milliseconds)
        ms = std::round(ms);
    // Written so that NaN fails too; the trimmed text keeps blanks out, as in integer().
    if (ok && whole && ms >= minimum * plainMs && ms <= maximum * plainMs
        && number.trimmed() == number)
        return { ms, {} };
    return { std::nullopt,
             QStringLiteral("--%1 wants %2 from %3 to %4 (or with a unit: 500ms, 2s, 1m), "
                            "not \"%5\"")
                 .arg(name,
                      plain == TimeUnit::Milliseconds ? QStringLiteral("whole milliseconds")
                                                      : QStringLiteral("seconds"))
                 .arg(minimum)
                 .arg(maximum)
                 .arg(text) };
}

Reading<double> duration(const QCommandLineParser &parser, const QString &name, TimeUnit plain,
                         double minimum, double maximum)
{
    return duration(name, parser.value(name), plain, minimum, maximum);
}

} // namespace OptionNumber
