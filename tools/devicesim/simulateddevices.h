#ifndef SIMULATEDDEVICES_H
#define SIMULATEDDEVICES_H

#include "devicerecord.h"
#include "eventlog.h"
#include "replyqueue.h"
#include "simulatorsettings.h"
#include "sntpanswer.h"
#include "wireformat.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMultiHash>
#include <QNetworkDatagram>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QUdpSocket>

#include <map>
#include <memory>

// All simulated devices: one wildcard socket takes the discovery probes, and
// each device address has its own socket for the commands and as the source
// of its replies, and one for SNTP where a device on it has its NTP flag on.  Qt's
// QNetworkDatagram::setSender() cannot pick the source address on Linux (it fills in the field the
// kernel ignores on send), hence a socket per address rather than one wildcard socket for
// everything.
class SimulatedDevices : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedDevices(const SimulatorSettings &settings, QObject *parent = nullptr);

    // Binds the sockets and announces readiness; false after a bind failure.
    bool start();

private:
    void readProbes();
    void readCommands(QUdpSocket *socket, quint32 address);
    bool sendReply(const ReplyQueue::Entry &entry);
    void reportGiveUp(const ReplyQueue::Entry &entry);
    void applyCommand(const WireFormat::Command &command, DeviceRecord &device,
                      const QNetworkDatagram &datagram);
    void reject(const QNetworkDatagram &datagram, const QString &reason, quint16 port);
    bool bindSocket(QUdpSocket &socket, quint32 address, quint16 port);
    bool bindDeviceSockets();
    bool bindSntpSockets();
    void readSntp(QUdpSocket *socket, quint32 address);
    void answerSntp(int target, const SntpAnswer::Request &request,
                    const QNetworkDatagram &datagram, qint64 receivedNs);
    void logSntp(const DeviceRecord &device, const QNetworkDatagram &datagram, bool answered,
                 const QString &reason = QString());
    qint32 currentUptime(const DeviceRecord &device) const;

    SimulatorSettings m_settings;
    QList<DeviceRecord> &m_devices = m_settings.devices;
    QMultiHash<quint32, int> m_byAddress;
    QHostAddress m_replyAddress;
    EventLog m_log;
    QUdpSocket m_probeSocket;
    // Devices that share an address share its socket.
    std::map<quint32, std::unique_ptr<QUdpSocket>> m_deviceSockets;
    std::map<quint32, std::unique_ptr<QUdpSocket>> m_sntpSockets;
    QElapsedTimer m_running;
    QRandomGenerator m_random;
    ReplyQueue m_queue;
};

#endif // SIMULATEDDEVICES_H
