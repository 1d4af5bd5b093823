#ifndef PERFDATA_H
#define PERFDATA_H

#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// Monitoring plugin performance data: items 'label'=value[UOM];[warn];[crit];[min];[max],
// separated by blanks.
namespace Perfdata {

struct Metric
{
    QString value;
    QString unit;
    QStringList thresholds; // warn, crit, min, max as written (may be empty)
};

// The items by label; empty when any item breaks the syntax.
inline QMap<QString, Metric> parse(const QString &items)
{
    static const QRegularExpression item(
        QStringLiteral("^('(?:[^']|'')+'|[^=' ]+)=(U|-?[0-9]+(?:\\.[0-9]+)?)([a-zA-Z%]*)"
                       "((?:;[-0-9.:~@]*){0,4})$"));
    QMap<QString, Metric> metrics;
    for (const QString &word : items.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = item.match(word);
        if (!match.hasMatch())
            return {};
        Metric metric { match.captured(2), match.captured(3),
                        match.captured(4).mid(1).split(QLatin1Char(';')) };
        metric.thresholds.resize(4);
        metrics.insert(match.captured(1), metric);
    }
    return metrics;
}

} // namespace Perfdata

#endif // PERFDATA_H
