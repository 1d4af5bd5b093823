#ifndef DEVICERECORD_H
#define DEVICERECORD_H

#include <QByteArray>
#include <QtGlobal>

// One simulated device: what it reports in its discovery reply and what the
// tool's commands change.  Addresses are kept in host order, as
// QHostAddress::toIPv4Address() gives them.
struct DeviceRecord
{
    QByteArray name; // Latin-1, never longer than the 13-byte name field
    quint32 address = 0; // the address the device answers on now
    quint32 eeprom = 0; // the address it will use after its next restart
    qint32 serial = 0;
    qint32 uptime = 0; // hours, as it was when the simulator started
    quint8 ntp = 1;
    quint8 mbtcp = 0;
    quint8 melsec = 0;
    quint8 gps = 0;
    // The device keeps its own clock; only the difference to ours is stored, in nanoseconds.
    qint64 clockOffsetNs = 0;
    // How its time service answers SNTP requests (only while the ntp flag is on).
    bool sntp = true; // off: it never answers
    quint8 stratum = 1; // 16: not synchronised
    quint8 leap = 0; // the leap indicator, 3: not synchronised
    QByteArray kissCode; // when set, every answer is a kiss-of-death (stratum 0) with this code
    int sntpDelayMs = 0; // how long it takes to answer
    // Off: commands arrive and are logged but change nothing, as with a device whose settings
    // memory has failed.
    bool takesCommands = true;
};

#endif // DEVICERECORD_H
