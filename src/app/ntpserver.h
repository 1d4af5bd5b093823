#ifndef NTPSERVER_H
#define NTPSERVER_H

#include "deviceprotocol.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QUdpSocket;

// One device as described by its 64-byte reply to a discovery probe.
class NTPserver
{
public:
    NTPserver() = default;
    // Descrambles the first 64 bytes of `datagram` in place and reads the device's facts
    // from them; bytes after the reply are left alone. A datagram shorter than a reply
    // cannot describe a device: the record stays empty and the buffer untouched.
    NTPserver(QByteArray &datagram, QUdpSocket *socket);

    static bool isReply(const QByteArray &datagram)
    {
        return datagram.size() >= DeviceProtocol::replySize;
    }

    QUdpSocket *get_ntp_udpSocket_ptr() const { return ntp_udpSocket_ptr; }

    bool get_ntp_protocol() const { return ntp_protocol; }
    bool get_mbtcp_protocol() const { return mbtcp_protocol; }
    bool get_melsec_protocol() const { return melsec_protocol; }
    bool get_gps_enabled() const { return gps_enabled; }
    qint32 get_ip_current() const { return ip_current; }
    qint32 get_ip_eeprom() const { return ip_eeprom; }
    qint32 get_serial() const { return serial; }
    qint32 get_manufacture_date() const { return manufacture_date; }
    qint32 get_uptime() const { return uptime; }
    qint32 get_system_time() const { return system_time; }
    qint32 get_signature() const { return signature; }
    QString get_title() const { return title; }
    QString get_gps_chip() const { return gps_chip; }
    QString get_main_chip() const { return main_chip; }
    QString get_eth_chip() const { return eth_chip; }
    QString get_firmware_version() const { return firmware_version; }
    QString get_ip_current_s() const { return ip_current_s; }
    QString get_ip_eeprom_s() const { return ip_eeprom_s; }

private:
    QUdpSocket *ntp_udpSocket_ptr = nullptr;
    bool ntp_protocol = false;
    bool mbtcp_protocol = false;
    bool melsec_protocol = false;
    bool gps_enabled = false;
    qint32 ip_current = 0;
    qint32 ip_eeprom = 0;
    qint32 serial = 0;
    qint32 manufacture_date = 0;
    qint32 uptime = 0;
    qint32 system_time = 0;
    qint32 signature = 0;
    QString title;
    QString gps_chip;
    QString main_chip;
    QString eth_chip;
    QString firmware_version;
    QString ip_current_s;
    QString ip_eeprom_s;
};

#endif // NTPSERVER_H
