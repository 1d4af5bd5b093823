#include "eventlog.h"

#include <QByteArray>
#include <QJsonDocument>

#include <cstdio>

void EventLog::write(const QJsonObject &event) const
{
    QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact);
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
