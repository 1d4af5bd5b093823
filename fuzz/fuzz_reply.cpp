// Any datagram that reaches a reply socket goes through the same two calls as during a scan:
// NTPserver::isReply() and, when it says yes, the parsing constructor. The checks below read
// the wire layout themselves rather than trusting the parser.

#include "ntpserver.h"

#include <QByteArray>
#include <QHash>
#include <QSharedPointer>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Larger than any reply, and large enough to cover a real datagram's trailing bytes.
constexpr size_t maxInput = 2000;
constexpr quint8 mask = 0xA7;

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

quint8 plainByte(const uint8_t *data, int i)
{
    return quint8(data[i] ^ mask);
}

qint32 plainInt32(const uint8_t *data, int offset)
{
    quint32 value = 0;
    for (int b = 3; b >= 0; --b)
        value = (value << 8) | plainByte(data, offset + b);
    return qint32(value);
}

QString dotted(const uint8_t *data, int offset)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(plainByte(data, offset))
        .arg(plainByte(data, offset + 1))
        .arg(plainByte(data, offset + 2))
        .arg(plainByte(data, offset + 3));
}

// Everything a caller can read from a record, folded so that no accessor call can be dropped.
size_t digest(const NTPserver &record)
{
    size_t h = qHash(record.get_title()) ^ qHash(record.get_main_chip())
        ^ qHash(record.get_gps_chip()) ^ qHash(record.get_eth_chip())
        ^ qHash(record.get_firmware_version()) ^ qHash(record.get_ip_current_s())
        ^ qHash(record.get_ip_eeprom_s());
    h = h * 31 + size_t(record.get_ntp_protocol()) * 1 + size_t(record.get_mbtcp_protocol()) * 2
        + size_t(record.get_melsec_protocol()) * 4 + size_t(record.get_gps_enabled()) * 8;
    for (const qint32 value :
         { record.get_ip_current(), record.get_ip_eeprom(), record.get_serial(),
           record.get_manufacture_date(), record.get_uptime(), record.get_system_time(),
           record.get_signature() })
        h = h * 31 + size_t(quint32(value));
    return h ^ reinterpret_cast<uintptr_t>(record.get_ntp_udpSocket_ptr());
}

void checkParsed(const NTPserver &record, const uint8_t *data)
{
    const QString mainChip = record.get_main_chip();
    // The name keeps all 13 bytes, NUL padding and Latin-1 included.
    require(mainChip.size() == 13);
    for (int i = 0; i < 13; ++i)
        require(mainChip.at(i) == QChar(plainByte(data, i)));

    require(record.get_ip_eeprom() == plainInt32(data, 14));
    require(record.get_ip_current() == plainInt32(data, 19));
    require(record.get_uptime() == plainInt32(data, 23));
    require(record.get_serial() == plainInt32(data, 31));
    require(record.get_ip_eeprom_s() == dotted(data, 14));
    require(record.get_ip_current_s() == dotted(data, 19));

    require(record.get_ntp_protocol() == (plainByte(data, 27) != 0));
    require(record.get_mbtcp_protocol() == (plainByte(data, 28) != 0));
    require(record.get_melsec_protocol() == (plainByte(data, 29) != 0));
    require(record.get_gps_enabled() == (plainByte(data, 30) != 0));

    require(record.get_title() == mainChip + QLatin1Char('@') + record.get_ip_current_s());
    require(record.get_signature()
            == (record.get_system_time() ^ record.get_serial() ^ record.get_uptime()));
    require(record.get_ntp_udpSocket_ptr() == nullptr);
}

void checkEmpty(const NTPserver &record)
{
    require(record.get_title().isEmpty() && record.get_main_chip().isEmpty()
            && record.get_ip_current_s().isEmpty() && record.get_ip_eeprom_s().isEmpty());
    require(record.get_ip_current() == 0 && record.get_ip_eeprom() == 0 && record.get_serial() == 0
            && record.get_uptime() == 0 && record.get_signature() == 0);
    require(!record.get_ntp_protocol() && !record.get_mbtcp_protocol()
            && !record.get_melsec_protocol() && !record.get_gps_enabled());
}

volatile size_t sink;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > maxInput)
        return 0;

    // Sized and filled the way the scan reads a pending datagram.
    QByteArray datagram(qsizetype(size), Qt::Uninitialized);
    if (size > 0)
        std::memcpy(datagram.data(), data, size);

    // The scan assigns over the record it reuses for every datagram.
    NTPserver record;
    const bool parsed = NTPserver::isReply(datagram);
    require(parsed == (size >= size_t(DeviceProtocol::replySize)));
    if (parsed)
        record = NTPserver(datagram, nullptr);

    require(datagram.size() == qsizetype(size));
    if (parsed) {
        for (size_t i = 0; i < size; ++i) {
            const quint8 expected
                = i < size_t(DeviceProtocol::replySize) ? quint8(data[i] ^ mask) : data[i];
            require(quint8(datagram.at(qsizetype(i))) == expected);
        }
        checkParsed(record, data);
    } else {
        require(size == 0 || std::memcmp(datagram.constData(), data, size) == 0);
        checkEmpty(record);
    }

    // The list keeps a shared copy; it must read the same as the record it came from.
    const auto kept = QSharedPointer<NTPserver>::create(record);
    const size_t h = digest(record);
    require(digest(*kept) == h);
    sink = h;
    return 0;
}
