#ifndef INVENTORY_H
#define INVENTORY_H

#include "healthnote.h"
#include "scanner.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QPair>
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

// The devices of one scan, with the health notes that only the whole list can tell.
class Inventory
{
public:
    void add(const Sighting &sighting);
    int size() const { return int(m_devices.size()); }

    // Ordered by current address, then serial, so that two scans of the same segment compare
    // line by line; each with its notes.
    QList<DeviceEntry> devices() const;

private:
    QList<DeviceEntry> m_devices;
    QHash<QPair<qint32, quint32>, int> m_index;
};

#endif // INVENTORY_H
