#ifndef OPTIONNUMBER_H
#define OPTIONNUMBER_H

#include <QString>
#include <QtGlobal>

#include <optional>

class QCommandLineParser;

// Numbers typed as option values, checked against their range. A refusal says which option
// wanted what and what it got; what it means to the program (usage error, exit status) is the
// program's to say.
namespace OptionNumber {

template<typename T> struct Reading
{
    std::optional<T> value;
    QString refusal; // empty when value holds

    explicit operator bool() const { return value.has_value(); }
    const T &operator*() const { return *value; }
};

// A whole number, written without blanks.
Reading<qint64> integer(const QCommandLineParser &parser, const QString &name, qint64 minimum,
                        qint64 maximum);
// Seconds, fractions allowed.
Reading<double> seconds(const QCommandLineParser &parser, const QString &name, double minimum,
                        double maximum);

} // namespace OptionNumber

#endif // OPTIONNUMBER_H
