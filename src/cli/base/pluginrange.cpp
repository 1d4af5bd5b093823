#include "pluginrange.h"

#include "optionnumber.h"

namespace {

// To the microsecond, trailing zeros dropped: "0.5", "2", "0.00001".
QString number(double value)
{
    QString text = QString::number(value, 'f', 6);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

// Written so that NaN and infinities fail too.
std::optional<double> finite(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !(value > -1e12 && value < 1e12) || text.trimmed() != text)
        return std::nullopt;
    return value;
}

} // namespace

Expected<PluginRange> PluginRange::parse(const QString &text, const QString &option)
{
    const Failure wrong { ExitStatus::Usage,
                          QStringLiteral("--%1 wants a range in seconds (10, 10:, ~:10, 10:20 or "
                                         "@10:20), not \"%2\"")
                              .arg(option, text) };
    PluginRange range;
    QString rest = text;
    if (rest.startsWith(QLatin1Char('@'))) {
        range.m_inside = true;
        rest.remove(0, 1);
    }
    if (rest.isEmpty())
        return wrong;
    const qsizetype colon = rest.indexOf(QLatin1Char(':'));
    const QString low = colon < 0 ? QStringLiteral("0") : rest.left(colon);
    const QString high = colon < 0 ? rest : rest.mid(colon + 1);
    const auto refused = [&](const QString &number) {
        return OptionNumber::hasDecimalComma(number)
            ? Failure { ExitStatus::Usage, OptionNumber::decimalCommaRefusal(option, text) }
            : wrong;
    };
    if (low != QLatin1String("~")) {
        range.m_low = finite(low);
        if (!range.m_low)
            return refused(low);
    }
    if (!high.isEmpty()) {
        range.m_high = finite(high);
        if (!range.m_high)
            return refused(high);
    }
    if (range.m_low && range.m_high && *range.m_low > *range.m_high)
        return Failure {
            ExitStatus::Usage,
            QStringLiteral("--%1: the range \"%2\" starts above its end").arg(option, text)
        };
    return range;
}

bool PluginRange::alerts(double value) const
{
    const bool within = (!m_low || value >= *m_low) && (!m_high || value <= *m_high);
    return m_inside ? within : !within;
}

QString PluginRange::text() const
{
    const QString inside = m_inside ? QStringLiteral("@") : QString();
    const QString high = m_high ? number(*m_high) : QString();
    if (m_low && *m_low == 0 && m_high)
        return inside + high;
    return QStringLiteral("%1%2:%3").arg(inside, m_low ? number(*m_low) : QStringLiteral("~"),
                                         high);
}

QString PluginRange::breach() const
{
    if (m_inside)
        return QStringLiteral("inside %1 s").arg(text().mid(1));
    if (m_high && (!m_low || *m_low <= 0))
        return QStringLiteral("more than %1 s").arg(number(*m_high));
    if (!m_high && m_low)
        return QStringLiteral("less than %1 s").arg(number(*m_low));
    return QStringLiteral("outside %1 s").arg(text());
}

std::optional<double> PluginRange::plainLimit() const
{
    if (m_inside || !m_low || *m_low != 0 || !m_high)
        return std::nullopt;
    return m_high;
}
