#ifndef OPTIONNUMBER_H
#define OPTIONNUMBER_H

#include <QString>
#include <QtGlobal>

#include <optional>

class QCommandLineParser;

// Numbers typed as option values, checked against their range. A refusal says which option
// wanted what and what it got; what it means to the program (usage error, exit status) is the
// program's to say. A number with a decimal comma is refused with the dotted number to type
// instead, by every reader, as a locale that writes "0,5" would otherwise leave the user guessing.
namespace OptionNumber {

template<typename T> struct Reading
{
    std::optional<T> value;
    QString refusal; // empty when value holds

    explicit operator bool() const { return value.has_value(); }
    const T &operator*() const { return *value; }
};

// Whether `number`, which did not read as a number, is one written with a decimal comma ("0,5"),
// as a locale that writes decimals so would type it.
bool hasDecimalComma(const QString &number);
// The refusal of `text`, typed after --`name` and holding a number with a decimal comma: the same
// text with dots, to type instead.
QString decimalCommaRefusal(const QString &name, const QString &text);

// A whole number, written without blanks; one written with thousands separators gets the text
// without them to type instead.
Reading<qint64> integer(const QCommandLineParser &parser, const QString &name, qint64 minimum,
                        qint64 maximum);
// Seconds, fractions allowed.
Reading<double> seconds(const QCommandLineParser &parser, const QString &name, double minimum,
                        double maximum);

// The unit a duration's plain number is in: each option keeps the one it always had.
enum class TimeUnit { Milliseconds, Seconds };

// A duration in milliseconds, typed as a number with a unit ("500ms", "2s", "1.5s", "1m") or as
// a plain number in `plain`, from `minimum` to `maximum` of `plain`. A duration in milliseconds
// wants a whole number of them.
Reading<double> duration(const QString &name, const QString &text, TimeUnit plain, double minimum,
                         double maximum);
Reading<double> duration(const QCommandLineParser &parser, const QString &name, TimeUnit plain,
                         double minimum, double maximum);

} // namespace OptionNumber

#endif // OPTIONNUMBER_H
