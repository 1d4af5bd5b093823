#include "textescape.h"

namespace TextEscape {

namespace {

    bool isControl(uchar byte)
    {
        return byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
    }

} // namespace

QByteArray trimmedName(const QByteArray &raw)
{
    qsizetype end = raw.size();
    while (end > 0 && raw.at(end - 1) == '\0')
        --end;
    return raw.left(end);
}

QString forTerminal(const QByteArray &latin1)
{
    QString text;
    text.reserve(latin1.size());
    for (const char c : latin1) {
        const uchar byte = uchar(c);
        if (byte == '\\')
            text += QLatin1String("\\\\");
        else if (isControl(byte))
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        else
            text += QChar(byte);
    }
    return text;
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
