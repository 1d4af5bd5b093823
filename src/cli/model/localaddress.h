#ifndef LOCALADDRESS_H
#define LOCALADDRESS_H

#include "addressrules.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QString>

// One IPv4 address of this machine on an interface that is up, with what is known of its
// network: the unit a scan probes from and a command is sent from.
struct LocalAddress
{
    QHostAddress address;
    int prefixLength = 32;
    QString interfaceName;
    int interfaceIndex = 0;

    quint32 ipv4() const { return address.toIPv4Address(); }
    AddressRules::Subnet subnet() const { return AddressRules::Subnet::of(ipv4(), prefixLength); }
    // "10.77.0.1 (ws1)"
    QString describe() const;
    // {"address", "interface", "subnet"}: how every document names the address a device was
    // heard on and the addresses a scan probed from.
    QJsonObject toJson() const;
};

#endif // LOCALADDRESS_H
