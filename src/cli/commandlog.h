#ifndef COMMANDLOG_H
#define COMMANDLOG_H

#include <QFile>
#include <QJsonObject>
#include <QString>

// The --log file: one JSON object a line per command sent, appended, never rewritten.
class CommandLog
{
public:
    // Opens (creating) the file for appending before anything is sent, so that a log that
    // cannot be written stops the command instead of leaving it untraced.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_file.isOpen(); }
    bool append(const QJsonObject &record, QString *error);

private:
    QFile m_file;
};

#endif // COMMANDLOG_H
