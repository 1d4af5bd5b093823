#ifndef COMMANDLOG_H
#define COMMANDLOG_H

#include "failure.h"

#include <QFile>
#include <QJsonObject>
#include <QString>

#include <optional>

// The --log file: one JSON object a line per command sent, appended, never rewritten.
class CommandLog
{
public:
    // Opens (creating) the file for appending before anything is sent, so that a log that
    // cannot be written stops the command (bad usage) instead of leaving it untraced. No path,
    // or a dry run, which sends nothing, leaves it closed.
    std::optional<Failure> open(const QString &path, bool dryRun);
    bool isOpen() const { return m_file.isOpen(); }
    // A line that cannot be written is a command sent that the log does not hold: a failure
    // (sent, not logged) naming the command and `device`.
    std::optional<Failure> append(const QJsonObject &record, const QString &device);

private:
    QFile m_file;
};

#endif // COMMANDLOG_H
