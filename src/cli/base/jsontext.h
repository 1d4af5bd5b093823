#ifndef JSONTEXT_H
#define JSONTEXT_H

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The text of every JSON document the companion prints and of every line its command log
// writes, so that a value looks the same whichever command wrote it: keys in alphabetical
// order, an empty array or object as [] or {}, no control character left raw in a string
// (DEL and U+0080..U+009F included, which a terminal would act on), and numbers as plain
// decimals a script can read without knowing about exponents: a whole number as an integer,
// any other to the microsecond (at most `decimals` places, trailing zeros dropped).
namespace JsonText {

// The version of every document ("version"): raised when a field changes meaning or goes away;
// fields may be added within a version.
constexpr int version = 2;
constexpr int decimals = 6;

// Indented by four spaces, ending in a newline.
QByteArray document(const QJsonObject &object);
// On one line, without a newline.
QByteArray line(const QJsonObject &object);
// A number as both the documents and the CSV cells taken from them write it: "0.000082",
// "-1.5", "3600". JSON has no NaN or infinity; they are written null.
QString number(double value);

} // namespace JsonText

#endif // JSONTEXT_H
