#include "deviceprotocol.h"

#include <QtEndian>

namespace DeviceProtocol {

namespace {

    constexpr int storedAddressOffset = 14;
    constexpr int currentAddressOffset = 19;
    constexpr int uptimeOffset = 23;
    constexpr int ntpOffset = 27;
    constexpr int mbtcpOffset = 28;
    constexpr int melsecOffset = 29;
    constexpr int gpsOffset = 30;
    constexpr int serialOffset = 31;
    constexpr int commandWordSize = 6;
    constexpr int settingsAddressOffset = 10;

    // An address stands on the wire first octet first: a little-endian number whose lowest byte
    // is the first octet, which is the network byte order of the dotted form.
    quint32 readAddress(const char *at)
    {
        return qFromBigEndian<quint32>(at);
    }

} // namespace

void scramble(char *bytes, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(quint8(bytes[i]) ^ mask);
}

QByteArray scrambled(QByteArray bytes)
{
    scramble(bytes.data(), bytes.size());
    return bytes;
}

QByteArray probe(int number)
{
    return QByteArrayLiteral("Broadcast message ") + QByteArray::number(number);
}

std::optional<Reply> readReply(const QByteArray &plain)
{
    if (plain.size() < replySize)
        return std::nullopt;
    const char *bytes = plain.constData();
    Reply reply;
    reply.name = plain.left(nameSize);
    reply.storedAddress = readAddress(bytes + storedAddressOffset);
    reply.currentAddress = readAddress(bytes + currentAddressOffset);
    reply.uptime = qFromLittleEndian<qint32>(bytes + uptimeOffset);
    reply.ntp = bytes[ntpOffset] != 0;
    reply.mbtcp = bytes[mbtcpOffset] != 0;
    reply.melsec = bytes[melsecOffset] != 0;
    reply.gps = bytes[gpsOffset] != 0;
    reply.serial = qFromLittleEndian<qint32>(bytes + serialOffset);
    return reply;
}

QByteArray setTimeCommand(qint64 secsSinceEpoch)
{
    QByteArray command(setTimeSize, '\0');
    command.replace(0, commandWordSize, "sttime");
    // The device clock holds 32 bits of seconds; the count is cut to its low half.
    qToLittleEndian<quint32>(quint32(secsSinceEpoch), command.data() + commandWordSize);
    return scrambled(command);
}

QByteArray settingsCommand(quint32 address)
{
    QByteArray command(settingsSize, '\0');
    command.replace(0, commandWordSize, "stsets");
    const char options[] = { 1, 1, 0, 1 };
    command.replace(commandWordSize, sizeof options, options, sizeof options);
    qToBigEndian<quint32>(address, command.data() + settingsAddressOffset);
    return scrambled(command);
}

} // namespace DeviceProtocol
