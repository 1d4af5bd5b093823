#include "ntpserver.h"

#include <QtEndian>

namespace {

// Octet k of an address stands in bits 8k to 8k+7, so the bytes keep dotted order.
QString octet(qint32 address, int k)
{
    return QString::number((quint32(address) >> (8 * k)) & 0xFFu);
}

// The record keeps addresses as the device sends them, first octet in the lowest byte.
qint32 deviceOrder(quint32 address)
{
    return qint32(qbswap(address));
}

} // namespace

NTPserver::NTPserver(QByteArray &datagram, QUdpSocket *socket)
{
    if (!isReply(datagram))
        return;

    ntp_udpSocket_ptr = socket;

    DeviceProtocol::scramble(datagram.data(), DeviceProtocol::replySize);
    const DeviceProtocol::Reply reply = *DeviceProtocol::readReply(datagram);

    // The name keeps all 13 bytes, NUL padding included.
    main_chip = QString::fromLatin1(reply.name);
    ip_eeprom = deviceOrder(reply.storedAddress);
    ip_current = deviceOrder(reply.currentAddress);
    uptime = reply.uptime;
    ntp_protocol = reply.ntp;
    mbtcp_protocol = reply.mbtcp;
    melsec_protocol = reply.melsec;
    gps_enabled = reply.gps;
    serial = reply.serial;

    for (int k = 0; k < 4; ++k) {
        ip_eeprom_s.append(octet(ip_eeprom, k));
        ip_current_s.append(octet(ip_current, k));
        if (k < 3) {
            ip_eeprom_s.append(QLatin1Char('.'));
            ip_current_s.append(QLatin1Char('.'));
        }
    }

    title.append(main_chip + QLatin1Char('@') + ip_current_s);
    signature = system_time ^ serial ^ uptime;
}
