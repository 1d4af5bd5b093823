#include "ntpserver.h"

#include <QtEndian>

namespace {

qint32 readInt32(const QByteArray &reply, int offset)
{
    return qFromLittleEndian<qint32>(reply.constData() + offset);
}

// Octet k of an address stands in bits 8k to 8k+7, so the bytes keep dotted order.
QString octet(qint32 address, int k)
{
    return QString::number((quint32(address) >> (8 * k)) & 0xFFu);
}

} // namespace

NTPserver::NTPserver(QByteArray &datagram, QUdpSocket *socket)
{
    if (!isReply(datagram))
        return;

    ntp_udpSocket_ptr = socket;

    char *bytes = datagram.data();
    for (int i = 0; i < replySize; ++i) {
        bytes[i] = char(bytes[i] ^ datagramMask);
        // The name keeps all 13 bytes, NUL padding included.
        if (i < 13)
            main_chip.append(QChar(uchar(bytes[i])));
    }

    ip_eeprom = readInt32(datagram, 14);
    ip_current = readInt32(datagram, 19);
    uptime = readInt32(datagram, 23);
    ntp_protocol = bytes[27] != 0;
    mbtcp_protocol = bytes[28] != 0;
    melsec_protocol = bytes[29] != 0;
    gps_enabled = bytes[30] != 0;
    serial = readInt32(datagram, 31);

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
