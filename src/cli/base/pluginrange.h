#ifndef PLUGINRANGE_H
#define PLUGINRANGE_H

#include "failure.h"

#include <QString>

#include <optional>

// A threshold as monitoring plugins write it: "10" (alert outside 0..10), "10:" (below 10),
// "~:10" (above 10), "10:20" (outside 10..20), "@10:20" (inside 10..20, ends included). A
// value on an edge of a range that alerts outside it is fine; "@" ranges alert on their edges.
class PluginRange
{
public:
    // `text` as typed after --warn or --crit; a failure names `option` and says what is wanted.
    static Expected<PluginRange> parse(const QString &text, const QString &option);

    bool alerts(double value) const;
    // In the same syntax, numbers without an exponent (performance data allows none): "0.5",
    // "~:2", "@1:3".
    QString text() const;
    // What alerts, in words for the status line: "more than 2 s", "outside 1:3 s".
    QString breach() const;
    // The plain form "N": the old --warn/--crit, which must not exceed each other.
    std::optional<double> plainLimit() const;

private:
    std::optional<double> m_low; // none: ~, minus infinity
    std::optional<double> m_high; // none: infinity
    bool m_inside = false; // "@"
};

#endif // PLUGINRANGE_H
