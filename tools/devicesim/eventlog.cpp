#include "eventlog.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonDocument>

#include <cstdio>

void EventLog::write(const QJsonObject &event) const
{
    // The monotonic clock is the same for every process on the machine, so that a test can set
    // what the devices saw against its own timeline (when probes arrived, how far apart).
    QElapsedTimer clock;
    clock.start();
    QJsonObject stamped = event;
    stamped.insert(QStringLiteral("monotonic_ms"), clock.msecsSinceReference());
    QByteArray line = QJsonDocument(stamped).toJson(QJsonDocument::Compact);
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
