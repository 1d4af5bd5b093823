#ifndef DOTTEDADDRESS_H
#define DOTTEDADDRESS_H

#include <QString>
#include <QtGlobal>

#include <optional>

// IPv4 addresses as the tools' options, configuration files and logs write them. Addresses
// are held in host order, as QHostAddress::toIPv4Address() gives them.
namespace DottedAddress {

// Exactly four decimal octets 0..255 of one to three digits; inet_aton's shorthand forms
// ("10.1", "0x0a.1.1.1") are refused.
std::optional<quint32> parse(const QString &text);
QString format(quint32 address);

} // namespace DottedAddress

#endif // DOTTEDADDRESS_H
