#include "inventory.h"

#include "platform.h"

#include <QMultiHash>

#include <algorithm>

using AddressRules::format;

void Inventory::add(const Sighting &sighting)
{
    const QPair<qint32, quint32> key(sighting.reply.serial, sighting.reply.currentAddress);
    const auto known = m_index.constFind(key);
    if (known != m_index.cend()) {
        DeviceEntry &device = m_devices[*known];
        device.reply = sighting.reply;
        ++device.replies;
        return;
    }
    m_index.insert(key, int(m_devices.size()));
    m_devices.append({ sighting.reply, sighting.heardOn, 1, sighting.atMs, {} });
}

namespace {

QString joined(const QList<QString> &items)
{
    return QStringList(items).join(QStringLiteral(", "));
}

void noteAddressZero(DeviceEntry &device)
{
    if (device.reply.currentAddress == 0)
        device.notes.append(
            { QStringLiteral("no-address"),
              QStringLiteral("the device reports 0.0.0.0 as its current address: commands "
                             "cannot be sent to it; restart it, and if it keeps 0.0.0.0 give "
                             "it an address from its own console") });
    if (device.reply.storedAddress == 0)
        device.notes.append(
            { QStringLiteral("no-stored-address"),
              QStringLiteral("the device has 0.0.0.0 stored: after its next restart it has no "
                             "address; give it one with set-address before restarting it") });
}

void notePendingRestart(DeviceEntry &device)
{
    if (device.reply.storedAddress != device.reply.currentAddress && device.reply.storedAddress)
        device.notes.append(
            { QStringLiteral("pending-restart"),
              QStringLiteral("stored address %1 differs from current address %2: the device "
                             "takes %1 at its next restart")
                  .arg(device.storedAddress(), device.address()) });
}

void noteOutsideSubnet(DeviceEntry &device)
{
    const AddressRules::Subnet subnet = device.heardOn.subnet();
    if (device.reply.currentAddress == 0 || subnet.contains(device.reply.currentAddress))
        return;
    device.notes.append(
        { QStringLiteral("outside-subnet"),
          QStringLiteral("current address %1 is outside %2, the subnet of %3 where the "
                         "device was heard: traffic for it follows the routing table, not "
                         "that interface, so commands sent the usual way (the window's too) "
                         "may miss it; setuptool-cli sends its commands out through %4 all "
                         "the same. Give it an address in %2 with set-address and restart it, "
                         "or add a route to it: %4")
              .arg(device.address(), subnet.text(), device.heardOn.describe(),
                   Platform::hostRouteCommand(device.address(), device.heardOn.interfaceName,
                                              device.heardOn.interfaceIndex)) });
}

} // namespace

QList<DeviceEntry> Inventory::devices() const
{
    QList<DeviceEntry> devices = m_devices;
    QMultiHash<quint32, qint32> serialsAt;
    QMultiHash<qint32, quint32> addressesOf;
    for (const DeviceEntry &device : devices) {
        serialsAt.insert(device.reply.currentAddress, device.reply.serial);
        addressesOf.insert(device.reply.serial, device.reply.currentAddress);
    }
    for (DeviceEntry &device : devices) {
        noteAddressZero(device);
        notePendingRestart(device);
        const QList<qint32> serials = serialsAt.values(device.reply.currentAddress);
        if (serials.size() > 1) {
            QStringList others;
            for (const qint32 serial : serials) {
                if (serial != device.reply.serial)
                    others.append(QString::number(serial));
            }
            others.sort();
            device.notes.append(
                { QStringLiteral("address-conflict"),
                  QStringLiteral("address conflict: %1 is also used by serial %2; commands to "
                                 "%1 reach every one of them. Give each its own address (set "
                                 "it by serial) and restart them one at a time")
                      .arg(device.address(), joined(others)) });
        }
        const QList<quint32> addresses = addressesOf.values(device.reply.serial);
        if (addresses.size() > 1) {
            QStringList others;
            for (const quint32 address : addresses) {
                if (address != device.reply.currentAddress)
                    others.append(format(address));
            }
            others.sort();
            device.notes.append(
                { QStringLiteral("duplicate-serial"),
                  QStringLiteral("serial %1 also answers at %2: two devices carry one serial, "
                                 "or one device answers on two addresses; name this one by its "
                                 "address")
                      .arg(device.reply.serial)
                      .arg(joined(others)) });
        }
        noteOutsideSubnet(device);
    }
    std::sort(devices.begin(), devices.end(), [](const DeviceEntry &a, const DeviceEntry &b) {
        return std::make_pair(a.reply.currentAddress, a.reply.serial)
            < std::make_pair(b.reply.currentAddress, b.reply.serial);
    });
    return devices;
}
