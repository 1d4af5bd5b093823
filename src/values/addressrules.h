#ifndef ADDRESSRULES_H
#define ADDRESSRULES_H

#include <QPair>
#include <QString>
#include <QtGlobal>

#include <optional>

// IPv4 addresses as a user types them and as a device may be given them. Addresses are held
// as QHostAddress::toIPv4Address() gives them (first octet in the highest byte).
namespace AddressRules {

// Exactly four decimal octets 0..255 separated by dots and nothing else: no blanks, no sign,
// no leading zero (inet_aton would read "010" as octal), no shorthand such as "10.1".
std::optional<quint32> parse(const QString &text);
QString format(quint32 address);

// "A.B.C.D-E.F.G.H", both ends included, the first not above the last.
std::optional<QPair<quint32, quint32>> parseRange(const QString &text);

struct Subnet
{
    quint32 network = 0;
    int prefixLength = 0;

    static Subnet of(quint32 address, int prefixLength);
    quint32 mask() const;
    quint32 broadcast() const;
    bool contains(quint32 address) const;
    QString text() const; // "10.77.0.0/16"
};

// Why `address` should not be given to a device heard on `subnet`, or an empty string when it
// may: 0.0.0.0, 255.255.255.255, multicast, loopback, reserved (240.0.0.0/4), the subnet's
// network or broadcast address, or an address outside the subnet.
QString refusal(quint32 address, const Subnet &subnet);

} // namespace AddressRules

#endif // ADDRESSRULES_H
