#include "devicepresence.h"

#include <QMultiHash>
#include <QSet>

namespace {

// "0042" and "42" are one serial.
QString canonical(const QString &entry)
{
    bool ok = false;
    const qint32 serial = entry.toInt(&ok, 10);
    return ok && !entry.startsWith(QLatin1Char('+')) ? QString::number(serial) : entry;
}

} // namespace

DevicePresence Presence::of(const QList<DeviceEntry> &devices, const QStringList &expected,
                            int minDevices)
{
    DevicePresence presence;
    presence.heard = int(devices.size());
    presence.minDevices = minDevices;
    presence.expecting = !expected.isEmpty() || minDevices > 0;
    // Every way to name each device, looked up once per expected one: a site may list
    // thousands.
    QMultiHash<QString, int> names;
    for (int index = 0; index < devices.size(); ++index) {
        const DeviceEntry &device = devices.at(index);
        const QString serial = QString::number(device.reply.serial);
        for (const QString &name :
             { serial, device.address(), serial + QLatin1Char('@') + device.address(),
               QString::fromLatin1(device.name()), device.shownName() })
            if (!name.isEmpty())
                names.insert(name, index);
    }
    QSet<int> fitted;
    for (const QString &entry : expected) {
        const QList<int> fits = names.values(canonical(entry)) + names.values(entry);
        if (fits.isEmpty())
            presence.missing.append(entry);
        for (int index : fits)
            fitted.insert(index);
    }
    if (!expected.isEmpty())
        for (int index = 0; index < devices.size(); ++index)
            if (!fitted.contains(index))
                presence.unexpected.append(index);
    return presence;
}
