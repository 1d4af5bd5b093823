#ifndef DEVICEREPLY_H
#define DEVICEREPLY_H

#include <QByteArray>
#include <QtEndian>

#include <array>

// Builds device replies byte by byte, independently of the tool's parser, so that the tests
// check the parser against the wire layout rather than against itself.
struct DeviceReply
{
    QByteArray name;
    std::array<quint8, 4> eeprom { 10, 77, 1, 1 };
    std::array<quint8, 4> current { 10, 77, 1, 1 };
    qint32 uptime = 0;
    std::array<quint8, 4> flags { 1, 0, 0, 1 }; // NTP, Modbus TCP, MELSEC, GPS
    qint32 serial = 0;
    char tailFill = 0; // the bytes the tool does not read

    QByteArray plain() const
    {
        QByteArray reply(64, tailFill);
        for (int i = 0; i < 13; ++i)
            reply[i] = i < name.size() ? name.at(i) : '\0';
        reply[13] = tailFill;
        for (int k = 0; k < 4; ++k) {
            reply[14 + k] = char(eeprom[k]);
            reply[19 + k] = char(current[k]);
            reply[27 + k] = char(flags[k]);
        }
        reply[18] = tailFill;
        qToLittleEndian<qint32>(uptime, reply.data() + 23);
        qToLittleEndian<qint32>(serial, reply.data() + 31);
        return reply;
    }

    QByteArray scrambled() const { return scramble(plain()); }

    static QByteArray scramble(QByteArray bytes)
    {
        for (char &byte : bytes)
            byte = char(byte ^ 0xA7);
        return bytes;
    }
};

#endif // DEVICEREPLY_H
