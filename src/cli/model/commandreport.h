#ifndef COMMANDREPORT_H
#define COMMANDREPORT_H

#include "verification.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// What set-time or set-address did to one device, for output to write: the command, where it
// went from where, its log line and, once it was sent, what --verify found out.
struct CommandReport
{
    enum class Kind { SetTime, SetAddress };

    Kind kind = Kind::SetTime;
    QString device; // as DeviceEntry::describe() gives it
    QString heardOn; // the local address it was heard on, described
    QString newAddress; // set-address: the stored address sent
    qint64 seconds = 0; // set-time: what the command carried
    QJsonObject record; // the log line of the command, verdict included once known

    // A dry run sends no command: the bytes it would have sent, plain and scrambled, and the
    // address the in-use probe asked about instead, if it asked.
    bool dryRun = false;
    QByteArray plain;
    QByteArray scrambled;
    std::optional<QString> probed;

    bool verifyRequested = false;
    Verification verification;
};

#endif // COMMANDREPORT_H
