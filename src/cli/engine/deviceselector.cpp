#include "deviceselector.h"

#include "addressrules.h"

#include <optional>

namespace {

constexpr int listedAtMost = 10;

std::optional<qint32> serialOf(const QString &text)
{
    bool ok = false;
    const qint32 serial = text.toInt(&ok, 10);
    // toInt() takes blanks and a '+'; a serial is digits with an optional '-'.
    if (!ok || text.trimmed() != text || text.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return serial;
}

QString listing(const QList<DeviceEntry> &devices)
{
    QStringList lines;
    for (const DeviceEntry &device : devices.mid(0, listedAtMost))
        lines.append(QStringLiteral("  ") + device.describe());
    if (devices.size() > listedAtMost)
        lines.append(QStringLiteral("  ... and %1 more").arg(devices.size() - listedAtMost));
    return lines.join(QLatin1Char('\n'));
}

// The names of `heard` that are `device` but for case, as a user typing a name may miss it.
QString suggestion(const QString &device, const QList<DeviceEntry> &heard)
{
    QStringList names;
    for (const DeviceEntry &entry : heard) {
        const QString name = entry.shownName();
        if (name.compare(device, Qt::CaseInsensitive) == 0 && !names.contains(name))
            names.append(name);
    }
    if (names.isEmpty())
        return QString();
    const QString last = names.takeLast();
    return QStringLiteral("; did you mean %1?")
        .arg(names.isEmpty() ? last
                             : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last);
}

} // namespace

DeviceSelector::DeviceSelector(const QList<DeviceEntry> &devices)
    : m_devices(devices)
{ }

QList<DeviceEntry> DeviceSelector::candidates(const QString &device) const
{
    const std::optional<qint32> serial = serialOf(device);
    const std::optional<quint32> address = AddressRules::parse(device);
    std::optional<qint32> pairSerial;
    std::optional<quint32> pairAddress;
    if (const int at = device.indexOf(QLatin1Char('@')); at > 0) {
        pairSerial = serialOf(device.left(at));
        pairAddress = AddressRules::parse(device.mid(at + 1));
    }

    QList<DeviceEntry> found;
    for (const DeviceEntry &entry : m_devices) {
        const bool bySerial = serial && *serial == entry.reply.serial;
        const bool byAddress = address && *address == entry.reply.currentAddress;
        const bool byPair = pairSerial && pairAddress && *pairSerial == entry.reply.serial
            && *pairAddress == entry.reply.currentAddress;
        const bool byName = !device.isEmpty()
            && (QString::fromLatin1(entry.name()) == device || entry.shownName() == device);
        if (bySerial || byAddress || byPair || byName)
            found.append(entry);
    }
    return found;
}

QString DeviceSelector::problem(const QString &device, const QList<DeviceEntry> &candidates,
                                const QList<DeviceEntry> &heard)
{
    if (candidates.size() == 1)
        return QString();
    if (candidates.isEmpty()) {
        if (heard.isEmpty())
            return QStringLiteral("no device matches \"%1\": no device answered the scan")
                .arg(device);
        return QStringLiteral("no device matches \"%1\" (a serial, a current address or a "
                              "name)%2; the scan heard:\n%3")
            .arg(device, suggestion(device, heard), listing(heard));
    }
    return QStringLiteral("\"%1\" matches %2 devices; name one by its serial, its address, or "
                          "SERIAL@ADDRESS:\n%3")
        .arg(device)
        .arg(candidates.size())
        .arg(listing(candidates));
}
