#ifndef COMMANDLOG_H
#define COMMANDLOG_H

#include "inventory.h"

#include <QByteArray>
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

    // What every line says about a command: when, which command, to which device from where,
    // and its bytes, plain and as sent (`sent` is scrambled).
    static QJsonObject record(const QString &command, const DeviceEntry &device,
                              const QByteArray &sent);

private:
    QFile m_file;
};

#endif // COMMANDLOG_H
