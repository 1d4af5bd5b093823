#ifndef EVENTLOG_H
#define EVENTLOG_H

#include <QJsonObject>
#include <QString>

// Tests follow the simulator live, so every event is one compact JSON line on
// stdout, flushed at once.  Human-readable complaints go to stderr.
class EventLog
{
public:
    void write(const QJsonObject &event) const;
    static void complain(const QString &message);
};

#endif // EVENTLOG_H
