#ifndef WIREFORMAT_H
#define WIREFORMAT_H

#include "devicerecord.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>

// The device's side of the discovery and command datagrams.
namespace WireFormat {

constexpr int NameSize = 13;
constexpr int ReplySize = 64;
constexpr int CommandWordSize = 6;
constexpr int SetTimeSize = 10;
constexpr int SettingsSize = 14;

// Replies and commands travel XOR-masked; masking twice gives the plain bytes.
QByteArray scrambled(QByteArray bytes);

// The 64-byte reply, still plain.
QByteArray reply(const DeviceRecord &device, qint32 uptime);

bool isProbe(const QByteArray &datagram);

struct Command
{
    enum class Kind { Rejected, SetTime, Settings };

    Kind kind = Kind::Rejected;
    quint32 seconds = 0; // set-time
    std::array<quint8, 4> options {}; // settings
    quint32 address = 0; // settings, host order
    QString reason; // why a datagram was rejected
};

// Takes the datagram as it arrived, i.e. still masked.
Command decodeCommand(const QByteArray &datagram);

} // namespace WireFormat

#endif // WIREFORMAT_H
