#include "localinterfaces.h"

#include <QNetworkInterface>

QList<LocalAddress> LocalInterfaces::ipv4Addresses()
{
    QList<LocalAddress> addresses;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress &address = entry.ip();
            if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback())
                continue;
            LocalAddress local;
            local.address = QHostAddress(address.toIPv4Address());
            local.prefixLength = entry.prefixLength() < 0 ? 32 : entry.prefixLength();
            local.interfaceName = interface.name();
            local.interfaceIndex = interface.index();
            addresses.append(local);
        }
    }
    return addresses;
}
