#ifndef SNTPANSWER_H
#define SNTPANSWER_H

#include "devicerecord.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The device's side of SNTP (RFC 4330): reading a client's request and building the server's
// answer from the device's clock. Written apart from the product's client (src/sntpquery), so
// that each checks the other.
namespace SntpAnswer {

constexpr int PacketSize = 48;

// An NTP timestamp: seconds since 1900 in the high 32 bits (modulo the 136-year era), binary
// fraction in the low 32 bits.
quint64 ntpTimestamp(qint64 unixNs);

struct Request
{
    bool valid = false;
    QString reason; // why a datagram is no client request
    int version = 0;
    quint8 poll = 0;
    QByteArray transmit; // the client's transmit timestamp, 8 bytes as they arrived
};

// Accepts client requests (mode 3, version 1..4) of 48 bytes or more; what follows the first 48
// bytes (extension fields, a key and digest) is not read.
Request readRequest(const QByteArray &datagram);

// The stratum and reference identifier the device's answers carry.
int stratumOf(const DeviceRecord &device);
QByteArray referenceIdOf(const DeviceRecord &device);

// The 48-byte server answer. The times are the device's clock, in ns since the Unix epoch, when
// the request arrived and when the answer leaves.
QByteArray answer(const Request &request, const DeviceRecord &device, qint64 receiveNs,
                  qint64 transmitNs);

} // namespace SntpAnswer

#endif // SNTPANSWER_H
