#ifndef DEVICEENTRY_H
#define DEVICEENTRY_H

#include "deviceprotocol.h"
#include "healthnote.h"
#include "localaddress.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// One device as a scan found it. Two replies are the same device when they carry the same
// serial and the same current address, whatever else they say.
struct DeviceEntry
{
    DeviceProtocol::Reply reply; // the latest reply
    LocalAddress heardOn; // where its first reply was heard
    int replies = 0;
    qint64 firstReplyMs = 0; // after the first probe
    QList<HealthNote> notes;

    QByteArray name() const; // without its NUL padding
    QString shownName() const; // escaped for a terminal
    QString label() const; // shownName(), or "(no name)" for a device without one
    QString address() const;
    QString storedAddress() const;
    // "DEV-0001, serial 65536, 10.77.1.1"
    QString describe() const;
    // {"name", "serial", "address"}: the device as the JSON documents and the log name it.
    QJsonObject identityJson() const;
};

#endif // DEVICEENTRY_H
