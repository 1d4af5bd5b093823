#include "textescape.h"

namespace TextEscape {

QByteArray trimmedName(const QByteArray &raw)
{
    qsizetype end = raw.size();
    while (end > 0 && raw.at(end - 1) == '\0')
        --end;
    return raw.left(end);
}

QString forTerminal(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (c == QLatin1Char('\\'))
            shown += QLatin1String("\\\\");
        else if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            shown += QStringLiteral("\\x%1").arg(uint(code), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString forTerminal(const QByteArray &latin1)
{
    return forTerminal(QString::fromLatin1(latin1));
}

QString hex(const QByteArray &bytes, bool spaced)
{
    return QString::fromLatin1(spaced ? bytes.toHex(' ') : bytes.toHex());
}

QString csvCell(const QString &text, CellKind kind)
{
    static const QString formulaStarts = QStringLiteral("=+-@");
    const bool formula
        = kind == CellKind::Text && !text.isEmpty() && formulaStarts.contains(text.front());
    const QString cell = formula ? QLatin1Char('\'') + text : text;
    const bool quote = formula || (kind == CellKind::Number && text.startsWith(QLatin1Char('-')))
        || cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char('"'))
        || cell.contains(QLatin1Char('\r')) || cell.contains(QLatin1Char('\n'))
        || cell.startsWith(QLatin1Char(' ')) || cell.endsWith(QLatin1Char(' '));
    if (!quote)
        return cell;
    QString quoted = cell;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace TextEscape
