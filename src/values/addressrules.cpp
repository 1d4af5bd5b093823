#include "addressrules.h"

#include <QStringList>

namespace AddressRules {

std::optional<quint32> parse(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0'))
            return std::nullopt;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
        }
        const uint octet = part.toUInt();
        if (octet > 255)
            return std::nullopt;
        address = address << 8 | octet;
    }
    return address;
}

QString format(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

std::optional<QPair<quint32, quint32>> parseRange(const QString &text)
{
    const QStringList ends = text.split(QLatin1Char('-'));
    if (ends.size() != 2)
        return std::nullopt;
    const auto first = parse(ends.at(0));
    const auto last = parse(ends.at(1));
    if (!first || !last || *first > *last)
        return std::nullopt;
    return qMakePair(*first, *last);
}

Subnet Subnet::of(quint32 address, int prefixLength)
{
    Subnet subnet;
    subnet.prefixLength = qBound(0, prefixLength, 32);
    subnet.network = address & subnet.mask();
    return subnet;
}

quint32 Subnet::mask() const
{
    return prefixLength == 0 ? 0 : ~quint32(0) << (32 - prefixLength);
}

quint32 Subnet::broadcast() const
{
    return network | ~mask();
}

bool Subnet::contains(quint32 address) const
{
    return (address & mask()) == network;
}

QString Subnet::text() const
{
    return format(network) + QLatin1Char('/') + QString::number(prefixLength);
}

QString refusal(quint32 address, const Subnet &subnet)
{
    if (address == 0)
        return QStringLiteral("0.0.0.0 is no address a device can be reached on");
    if (address == 0xFFFFFFFF)
        return QStringLiteral("255.255.255.255 is the broadcast address of every network");
    if (Subnet::of(0x7F000000, 8).contains(address))
        return QStringLiteral("%1 is a loopback address (127.0.0.0/8)").arg(format(address));
    if (Subnet::of(0xE0000000, 4).contains(address))
        return QStringLiteral("%1 is a multicast address (224.0.0.0/4)").arg(format(address));
    if (Subnet::of(0xF0000000, 4).contains(address))
        return QStringLiteral("%1 is a reserved address (240.0.0.0/4)").arg(format(address));
    if (!subnet.contains(address))
        return QStringLiteral("%1 is outside %2, the subnet the device was heard on: after its "
                              "restart this workstation could no longer reach it")
            .arg(format(address), subnet.text());
    // A /31 or /32 has no network or broadcast address of its own (RFC 3021).
    if (subnet.prefixLength <= 30 && address == subnet.network)
        return QStringLiteral("%1 is the network address of %2")
            .arg(format(address), subnet.text());
    if (subnet.prefixLength <= 30 && address == subnet.broadcast())
        return QStringLiteral("%1 is the broadcast address of %2")
            .arg(format(address), subnet.text());
    return QString();
}

} // namespace AddressRules
