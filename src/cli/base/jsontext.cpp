#include "jsontext.h"

#include <QJsonArray>

#include <cmath>

namespace JsonText {

namespace {

    // Integers beyond 2^53 are not exact in a double, and no value of ours comes near.
    constexpr double exactIntegers = 9007199254740992.0;

    // Characters that need no escape are copied in runs, so that a surrogate pair stays whole.
    void appendString(const QString &text, QByteArray *out)
    {
        *out += '"';
        qsizetype runStart = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t u = text.at(i).unicode();
            const char *shortForm = u == u'"' ? "\\\""
                : u == u'\\'                  ? "\\\\"
                : u == u'\b'                  ? "\\b"
                : u == u'\f'                  ? "\\f"
                : u == u'\n'                  ? "\\n"
                : u == u'\r'                  ? "\\r"
                : u == u'\t'                  ? "\\t"
                                              : nullptr;
            const bool control = u < 0x20 || (u >= 0x7f && u <= 0x9f);
            if (!shortForm && !control)
                continue;
            *out += QStringView(text).sliced(runStart, i - runStart).toUtf8();
            runStart = i + 1;
            if (shortForm)
                *out += shortForm;
            else
                *out += "\\u" + QByteArray::number(u, 16).rightJustified(4, '0');
        }
        *out += QStringView(text).sliced(runStart).toUtf8();
        *out += '"';
    }

    void append(const QJsonValue &value, int depth, bool indented, QByteArray *out);

    void newline(int depth, bool indented, QByteArray *out)
    {
        if (indented)
            *out += '\n' + QByteArray(4 * depth, ' ');
    }

    template<typename Items, typename Each>
    void appendItems(const Items &items, char open, char close, int depth, bool indented,
                     QByteArray *out, Each each)
    {
        *out += open;
        if (items.isEmpty()) {
            *out += close;
            return;
        }
        bool first = true;
        for (auto it = items.begin(); it != items.end(); ++it) {
            if (!first)
                *out += ',';
            first = false;
            newline(depth + 1, indented, out);
            each(it);
        }
        newline(depth, indented, out);
        *out += close;
    }

    void append(const QJsonValue &value, int depth, bool indented, QByteArray *out)
    {
        switch (value.type()) {
        case QJsonValue::Bool:
            *out += value.toBool() ? "true" : "false";
            return;
        case QJsonValue::Double:
            *out += number(value.toDouble()).toLatin1();
            return;
        case QJsonValue::String:
            appendString(value.toString(), out);
            return;
        case QJsonValue::Array: {
            const QJsonArray array = value.toArray();
            appendItems(array, '[', ']', depth, indented, out, [&](QJsonArray::const_iterator it) {
                append(*it, depth + 1, indented, out);
            });
            return;
        }
        case QJsonValue::Object: {
            const QJsonObject object = value.toObject();
            appendItems(object, '{', '}', depth, indented, out,
                        [&](QJsonObject::const_iterator it) {
                            appendString(it.key(), out);
                            *out += indented ? ": " : ":";
                            append(it.value(), depth + 1, indented, out);
                        });
            return;
        }
        case QJsonValue::Null:
        case QJsonValue::Undefined:
            break;
        }
        *out += "null";
    }

} // namespace

QByteArray document(const QJsonObject &object)
{
    QByteArray out;
    append(object, 0, true, &out);
    return out + '\n';
}

QByteArray line(const QJsonObject &object)
{
    QByteArray out;
    append(object, 0, false, &out);
    return out;
}

QString number(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("null");
    if (value == std::trunc(value) && std::fabs(value) < exactIntegers)
        return QString::number(qint64(value));
    QString text = QString::number(value, 'f', decimals);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

} // namespace JsonText
