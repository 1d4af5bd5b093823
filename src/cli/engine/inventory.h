#ifndef INVENTORY_H
#define INVENTORY_H

#include "deviceentry.h"
#include "scanner.h"

#include <QHash>
#include <QList>
#include <QPair>

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
