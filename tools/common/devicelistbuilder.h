#ifndef DEVICELISTBUILDER_H
#define DEVICELISTBUILDER_H

#include "devicerecord.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// Collects the simulated devices from --device options, a JSON file and
// generated ranges.  Whatever a source leaves out gets a default that
// depends on the device's position, so every device differs a little.
class DeviceListBuilder
{
public:
    bool addFields(const QString &fields, QString *error);
    bool addConfigFile(const QString &path, QString *error);
    bool addGenerated(int count, quint32 firstAddress, QString *error);

    const QList<DeviceRecord> &devices() const { return m_devices; }

private:
    DeviceRecord nextDefaults() const;
    DeviceRecord describedDefaults() const;
    bool addObject(const QJsonObject &object, QString *error);
    bool finish(DeviceRecord device, bool hasAddress, bool hasEeprom, QString *error);
    static bool setField(DeviceRecord &device, const QString &key, const QString &value,
                         QString *error);

    QList<DeviceRecord> m_devices;
};

#endif // DEVICELISTBUILDER_H
