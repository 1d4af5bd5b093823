#ifndef DEVICEPROTOCOL_H
#define DEVICEPROTOCOL_H

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// The datagrams exchanged with the devices, as every program of the product builds and reads
// them. The device simulator keeps an encoder of its own, so that each checks the other.
namespace DeviceProtocol {

// Discovery probes go to the devices on this port.
constexpr quint16 probePort = 4800;
// Devices send their replies to this port and take commands on it.
constexpr quint16 devicePort = 7800;
// Every byte of a reply or a command travels XORed with this mask; the probe is plain text.
constexpr quint8 mask = 0xA7;
constexpr int replySize = 64;
constexpr int nameSize = 13;
constexpr int setTimeSize = 10;
constexpr int settingsSize = 14;

// Scrambling and descrambling are the same operation.
void scramble(char *bytes, qsizetype size);
QByteArray scrambled(QByteArray bytes);

// The discovery probe of one cycle: "Broadcast message " and the cycle number, no terminator.
QByteArray probe(int number);

// What a device reply says. Addresses are held as QHostAddress::toIPv4Address() gives them.
struct Reply
{
    QByteArray name; // all 13 bytes, NUL padding included
    quint32 storedAddress = 0; // the address the device takes at its next restart
    quint32 currentAddress = 0;
    qint32 uptime = 0; // hours
    bool ntp = false;
    bool mbtcp = false;
    bool melsec = false;
    bool gps = false;
    qint32 serial = 0;
};

// Reads the first 64 bytes of an already descrambled reply; bytes after them are not read.
// Nothing when the datagram is too short to be a reply.
std::optional<Reply> readReply(const QByteArray &plain);

// The commands, scrambled as they travel. The set-time command carries the low 32 bits of
// the seconds since the Unix epoch; the settings command carries `address` (as
// QHostAddress::toIPv4Address() gives it) after the four option bytes 1, 1, 0, 1.
QByteArray setTimeCommand(qint64 secsSinceEpoch);
QByteArray settingsCommand(quint32 address);

} // namespace DeviceProtocol

#endif // DEVICEPROTOCOL_H
