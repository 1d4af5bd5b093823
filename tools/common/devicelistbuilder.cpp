#include "devicelistbuilder.h"

#include "addressrules.h"
#include "wireformat.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

std::optional<qint64> parseInteger(const QString &text, qint64 minimum, qint64 maximum)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, 10);
    if (!ok || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

bool isUsableDeviceAddress(quint32 address)
{
    const quint32 firstOctet = address >> 24;
    return address != 0 && address != 0xFFFFFFFFu && (firstOctet < 224 || firstOctet > 239);
}

bool badValue(const QString &key, const QString &value, const char *expected, QString *error)
{
    *error = QStringLiteral("bad %1 value \"%2\": expected %3")
                 .arg(key, value, QLatin1String(expected));
    return false;
}

} // namespace

DeviceRecord DeviceListBuilder::nextDefaults() const
{
    const int number = int(m_devices.size()) + 1;
    DeviceRecord device;
    device.name = QStringLiteral("DEV-%1").arg(number, 4, 10, QLatin1Char('0')).toLatin1();
    device.serial = 100000 + number;
    device.uptime = (number * 37) % 10000;
    device.ntp = 1;
    device.mbtcp = quint8(number % 2);
    device.melsec = quint8((number / 2) % 2);
    device.gps = quint8(number % 3 == 0 ? 1 : 0);
    return device;
}

DeviceRecord DeviceListBuilder::describedDefaults() const
{
    // A device described by hand has exactly the services it names.
    DeviceRecord device = nextDefaults();
    device.ntp = 0;
    device.mbtcp = 0;
    device.melsec = 0;
    device.gps = 0;
    return device;
}

bool DeviceListBuilder::setField(DeviceRecord &device, const QString &key, const QString &value,
                                 QString *error)
{
    if (key == QLatin1String("name")) {
        for (const QChar c : value) {
            if (c.unicode() > 0xFF) {
                *error = QStringLiteral("device name \"%1\" is not Latin-1").arg(value);
                return false;
            }
        }
        // The device has no room for more.
        device.name = value.toLatin1().left(WireFormat::NameSize);
        return true;
    }
    if (key == QLatin1String("ip") || key == QLatin1String("eeprom")) {
        const auto address = AddressRules::parse(value);
        if (!address)
            return badValue(key, value, "a dotted IPv4 address", error);
        if (key == QLatin1String("ip")) {
            if (!isUsableDeviceAddress(*address))
                return badValue(key, value, "a unicast address", error);
            device.address = *address;
        } else {
            device.eeprom = *address;
        }
        return true;
    }
    if (key == QLatin1String("serial") || key == QLatin1String("uptime")) {
        const auto number = parseInteger(value, std::numeric_limits<qint32>::min(),
                                         std::numeric_limits<qint32>::max());
        if (!number)
            return badValue(key, value, "a signed 32-bit integer", error);
        (key == QLatin1String("serial") ? device.serial : device.uptime) = qint32(*number);
        return true;
    }
    if (key == QLatin1String("offset")) {
        // Seconds, fractions allowed; kept within the 68 years either side that SNTP clients
        // can tell apart from the other NTP eras.
        bool ok = false;
        const double seconds = value.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || std::abs(seconds) > 2e9)
            return badValue(key, value, "seconds from -2000000000 to 2000000000", error);
        device.clockOffsetNs = std::llround(seconds * 1e9);
        return true;
    }
    if (key == QLatin1String("sntp_delay")) {
        const auto delay = parseInteger(value, 0, 600000);
        if (!delay)
            return badValue(key, value, "milliseconds from 0 to 600000", error);
        device.sntpDelayMs = int(*delay);
        return true;
    }
    if (key == QLatin1String("kiss")) {
        // Kiss codes are four ASCII characters at most (RATE, DENY, RSTR, ...).
        const bool ascii = std::all_of(value.cbegin(), value.cend(), [](QChar c) {
            return c.unicode() > 0x20 && c.unicode() < 0x7F;
        });
        if (value.isEmpty() || value.size() > 4 || !ascii)
            return badValue(key, value, "1 to 4 printable ASCII characters", error);
        device.kissCode = value.toLatin1();
        return true;
    }
    if (key == QLatin1String("sntp") || key == QLatin1String("commands")) {
        const auto on = parseInteger(value, 0, 1);
        if (!on)
            return badValue(key, value, "0 or 1", error);
        (key == QLatin1String("sntp") ? device.sntp : device.takesCommands) = *on != 0;
        return true;
    }
    if (key == QLatin1String("stratum")) {
        const auto stratum = parseInteger(value, 0, 255);
        if (!stratum)
            return badValue(key, value, "a byte value 0..255", error);
        device.stratum = quint8(*stratum);
        return true;
    }
    if (key == QLatin1String("leap")) {
        const auto leap = parseInteger(value, 0, 3);
        if (!leap)
            return badValue(key, value, "a leap indicator 0..3", error);
        device.leap = quint8(*leap);
        return true;
    }
    quint8 *flag = key == QLatin1String("ntp") ? &device.ntp
        : key == QLatin1String("mbtcp")        ? &device.mbtcp
        : key == QLatin1String("melsec")       ? &device.melsec
        : key == QLatin1String("gps")          ? &device.gps
                                               : nullptr;
    if (!flag) {
        *error = QStringLiteral("unknown device key \"%1\" (known: name, ip, eeprom, serial, "
                                "uptime, ntp, mbtcp, melsec, gps, offset, stratum, leap, kiss, "
                                "sntp, sntp_delay, commands)")
                     .arg(key);
        return false;
    }
    const auto byte = parseInteger(value, 0, 255);
    if (!byte)
        return badValue(key, value, "a byte value 0..255", error);
    *flag = quint8(*byte);
    return true;
}

bool DeviceListBuilder::finish(DeviceRecord device, bool hasAddress, bool hasEeprom, QString *error)
{
    if (!hasAddress) {
        *error = QStringLiteral("device \"%1\" has no ip").arg(QString::fromLatin1(device.name));
        return false;
    }
    if (!hasEeprom)
        device.eeprom = device.address;
    m_devices.append(device);
    return true;
}

bool DeviceListBuilder::addFields(const QString &fields, QString *error)
{
    DeviceRecord device = describedDefaults();
    bool hasAddress = false;
    bool hasEeprom = false;
    for (const QString &item : fields.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        if (equals < 0) {
            *error = QStringLiteral("\"%1\" in --device is not key=value").arg(item);
            return false;
        }
        const QString key = item.left(equals).trimmed();
        // Names keep their spaces; everything else may be padded.
        const QString value = item.mid(equals + 1);
        if (!setField(device, key, value, error))
            return false;
        hasAddress = hasAddress || key == QLatin1String("ip");
        hasEeprom = hasEeprom || key == QLatin1String("eeprom");
    }
    return finish(device, hasAddress, hasEeprom, error);
}

bool DeviceListBuilder::addObject(const QJsonObject &object, QString *error)
{
    DeviceRecord device = describedDefaults();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonValue value = it.value();
        QString text;
        if (value.isString()) {
            text = value.toString();
        } else if (value.isBool()) {
            text = value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        } else if (value.isDouble() && std::trunc(value.toDouble()) == value.toDouble()
                   && std::abs(value.toDouble()) < 1e15) {
            text = QString::number(qint64(value.toDouble()));
        } else if (value.isDouble() && it.key() == QLatin1String("offset")) {
            // The one key that takes fractions.
            text = QString::number(value.toDouble(), 'g', 17);
        } else {
            *error
                = QStringLiteral("device key \"%1\" has a value of the wrong type").arg(it.key());
            return false;
        }
        if (!setField(device, it.key(), text, error))
            return false;
    }
    return finish(device, object.contains(QLatin1String("ip")),
                  object.contains(QLatin1String("eeprom")), error);
}

bool DeviceListBuilder::addConfigFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("%1 is not valid JSON (offset %2): %3")
                     .arg(path)
                     .arg(parseError.offset)
                     .arg(parseError.errorString());
        return false;
    }
    const QJsonValue list = document.object().value(QLatin1String("devices"));
    if (!document.isObject() || !list.isArray()) {
        *error = QStringLiteral("%1 has no \"devices\" array").arg(path);
        return false;
    }
    for (const QJsonValue entry : list.toArray()) {
        if (!entry.isObject()) {
            *error = QStringLiteral("%1: every entry of \"devices\" must be an object").arg(path);
            return false;
        }
        if (!addObject(entry.toObject(), error)) {
            error->prepend(path + QLatin1String(": "));
            return false;
        }
    }
    return true;
}

bool DeviceListBuilder::addGenerated(int count, quint32 firstAddress, QString *error)
{
    quint64 address = firstAddress;
    for (int i = 0; i < count; ++i) {
        // Host bytes 0 and 255 would be network or broadcast addresses on
        // the usual /24 segments.
        while ((address & 0xFF) == 0 || (address & 0xFF) == 255)
            ++address;
        if (address > 0xFFFFFFFEu || !isUsableDeviceAddress(quint32(address))) {
            *error = QStringLiteral("%1 devices from %2 run out of unicast addresses")
                         .arg(count)
                         .arg(AddressRules::format(firstAddress));
            return false;
        }
        DeviceRecord device = nextDefaults();
        device.address = device.eeprom = quint32(address);
        m_devices.append(device);
        ++address;
    }
    return true;
}
