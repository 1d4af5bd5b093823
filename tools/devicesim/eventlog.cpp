#include "eventlog.h"

#include <QByteArray>
#include <QJsonDocument>

#include <cstdio>

void EventLog::write(const QJsonObject &event) const
{
    QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact);
    // Latin-1 names and probe texts can hold NEL (U+0085), which JSON allows
    // raw but Unicode-aware line splitters (Python's str.splitlines) break on.
    line.replace("\xc2\x85", "\\u0085");
    line.append('\n');
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

void EventLog::complain(const QString &message)
{
    const QByteArray line = QStringLiteral("devicesim: %1\n").arg(message).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}
