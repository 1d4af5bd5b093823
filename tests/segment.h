#ifndef SEGMENT_H
#define SEGMENT_H

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// What the virtual segment wrapper (scripts/vsegment) tells the test running inside it.
namespace Segment {

inline QStringList words(const char *variable)
{
    return QString::fromLocal8Bit(qgetenv(variable)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

inline bool present()
{
    return !qEnvironmentVariableIsEmpty("VSEG_WS_NS");
}

// The workstation's usable addresses, in the order the wrapper configured them.
inline QList<QHostAddress> workstationAddresses()
{
    QList<QHostAddress> addresses;
    for (const QString &word : words("VSEG_WS_ADDRS"))
        addresses.append(QHostAddress(word));
    return addresses;
}

inline QStringList deviceNamespaces()
{
    return words("VSEG_DEVICE_NS");
}

// Device address i (0-based) of segment s (1-based), as the wrapper adds them.
inline QString deviceAddress(int segment, int i)
{
    return QStringLiteral("10.%1.%2.%3").arg(76 + segment).arg(1 + i / 250).arg(1 + i % 250);
}

} // namespace Segment

#define REQUIRE_SEGMENT()                                                                          \
    do {                                                                                           \
        if (!Segment::present())                                                                   \
            QFAIL("must run inside scripts/vsegment: it sends on the network");                    \
    } while (false)

#endif // SEGMENT_H
