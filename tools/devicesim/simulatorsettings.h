#ifndef SIMULATORSETTINGS_H
#define SIMULATORSETTINGS_H

#include "devicerecord.h"
#include "sntpport.h"

#include <QList>
#include <QtGlobal>

// Everything the command line decides.
struct SimulatorSettings
{
    QList<DeviceRecord> devices;
    quint16 probePort = 4800;
    quint16 devicePort = 7800;
    quint16 sntpPort = Sntp::port; // 0: no device serves SNTP
    quint32 replyAddress = 0xFFFFFFFFu; // limited broadcast, host order
    int maxDelayMs = 0;
    int repeat = 1;
    int hourMs = 3600 * 1000;
    quint32 seed = 0;
    bool seeded = false;
};

#endif // SIMULATORSETTINGS_H
