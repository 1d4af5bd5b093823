#include "wireformat.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

constexpr quint8 Mask = 0xA7;

constexpr int EepromOffset = 14;
constexpr int CurrentOffset = 19;
constexpr int UptimeOffset = 23;
constexpr int NtpOffset = 27;
constexpr int MbtcpOffset = 28;
constexpr int MelsecOffset = 29;
constexpr int GpsOffset = 30;
constexpr int SerialOffset = 31;
constexpr int OptionsOffset = 6;
constexpr int AddressOffset = 10;

// Addresses go out in dotted order, first octet first, whatever the host order.
void putAddress(char *at, quint32 address)
{
    at[0] = char(address >> 24);
    at[1] = char(address >> 16);
    at[2] = char(address >> 8);
    at[3] = char(address);
}

quint32 takeAddress(const char *at)
{
    return quint32(quint8(at[0])) << 24 | quint32(quint8(at[1])) << 16 | quint32(quint8(at[2])) << 8
        | quint32(quint8(at[3]));
}

QByteArray setTimeWord()
{
    return QByteArrayLiteral("sttime");
}

QByteArray settingsWord()
{
    return QByteArrayLiteral("stsets");
}

QString wrongLength(const char *what, int expected, qsizetype actual)
{
    return QStringLiteral("%1 command must be %2 bytes, got %3")
        .arg(QLatin1String(what))
        .arg(expected)
        .arg(actual);
}

} // namespace

QByteArray WireFormat::scrambled(QByteArray bytes)
{
    for (char &byte : bytes)
        byte = char(quint8(byte) ^ Mask);
    return bytes;
}

QByteArray WireFormat::reply(const DeviceRecord &device, qint32 uptime)
{
    QByteArray out(ReplySize, '\0');
    char *bytes = out.data();
    std::memcpy(bytes, device.name.constData(), std::min<size_t>(device.name.size(), NameSize));
    putAddress(bytes + EepromOffset, device.eeprom);
    putAddress(bytes + CurrentOffset, device.address);
    qToLittleEndian<qint32>(uptime, bytes + UptimeOffset);
    bytes[NtpOffset] = char(device.ntp);
    bytes[MbtcpOffset] = char(device.mbtcp);
    bytes[MelsecOffset] = char(device.melsec);
    bytes[GpsOffset] = char(device.gps);
    qToLittleEndian<qint32>(device.serial, bytes + SerialOffset);
    return out;
}

bool WireFormat::isProbe(const QByteArray &datagram)
{
    return datagram.startsWith(QByteArrayLiteral("Broadcast message "));
}

WireFormat::Command WireFormat::decodeCommand(const QByteArray &datagram)
{
    Command command;
    if (datagram.isEmpty()) {
        command.reason = QStringLiteral("empty datagram");
        return command;
    }
    // A sender that forgot the mask is worth telling apart from plain junk.
    if (datagram.startsWith(setTimeWord()) || datagram.startsWith(settingsWord())) {
        command.reason = QStringLiteral("command word is not masked");
        return command;
    }
    if (datagram.size() < CommandWordSize) {
        command.reason = QStringLiteral("too short for a command word");
        return command;
    }

    const QByteArray plain = scrambled(datagram);
    const QByteArray word = plain.left(CommandWordSize);
    if (word == setTimeWord()) {
        if (plain.size() != SetTimeSize) {
            command.reason = wrongLength("set-time", SetTimeSize, plain.size());
            return command;
        }
        command.kind = Command::Kind::SetTime;
        command.seconds = qFromLittleEndian<quint32>(plain.constData() + CommandWordSize);
        return command;
    }
    if (word == settingsWord()) {
        if (plain.size() != SettingsSize) {
            command.reason = wrongLength("settings", SettingsSize, plain.size());
            return command;
        }
        command.kind = Command::Kind::Settings;
        for (size_t i = 0; i < command.options.size(); ++i)
            command.options[i] = quint8(plain.at(OptionsOffset + int(i)));
        command.address = takeAddress(plain.constData() + AddressOffset);
        return command;
    }
    command.reason
        = QStringLiteral("unknown command word (hex %1)").arg(QString::fromLatin1(word.toHex()));
    return command;
}
