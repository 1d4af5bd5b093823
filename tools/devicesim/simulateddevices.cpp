#include "simulateddevices.h"

#include "addressrules.h"
#include "wireformat.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <chrono>

#include <sys/resource.h>

namespace {

QString nameText(const DeviceRecord &device)
{
    return QString::fromLatin1(device.name);
}

// The devices' clocks run on ours: wall-clock time in ns since the Unix epoch.
qint64 wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// 2,000 devices need 4,000 sockets, more than the usual soft limit.
void raiseDescriptorLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

SimulatedDevices::SimulatedDevices(const SimulatorSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_replyAddress(settings.replyAddress)
    , m_random(settings.seeded ? QRandomGenerator(settings.seed)
                               : QRandomGenerator(QRandomGenerator::system()->generate()))
    , m_queue([this](const ReplyQueue::Entry &entry) { return sendReply(entry); })
{
    for (int i = 0; i < m_devices.size(); ++i)
        m_byAddress.insert(m_devices.at(i).address, i);
    connect(&m_queue, &ReplyQueue::gaveUp, this, &SimulatedDevices::reportGiveUp);
    connect(&m_probeSocket, &QUdpSocket::readyRead, this, &SimulatedDevices::readProbes);
}

bool SimulatedDevices::bindSocket(QUdpSocket &socket, quint32 address, quint16 port)
{
    // A tool under test on this machine may hold the same ports on the
    // wildcard address.
    const QHostAddress host
        = address == 0 ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress(address);
    if (socket.bind(host, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        return true;
    const QString text = AddressRules::format(address);
    m_log.write({ { QStringLiteral("event"), QStringLiteral("bind-failed") },
                  { QStringLiteral("address"), text },
                  { QStringLiteral("port"), port },
                  { QStringLiteral("error"), socket.errorString() } });
    EventLog::complain(QStringLiteral("cannot bind %1 port %2: %3 (device addresses must be "
                                      "configured on a local interface)")
                           .arg(text)
                           .arg(port)
                           .arg(socket.errorString()));
    return false;
}

bool SimulatedDevices::bindDeviceSockets()
{
    raiseDescriptorLimit();
    for (const quint32 address : m_byAddress.uniqueKeys()) {
        auto socket = std::make_unique<QUdpSocket>();
        if (!bindSocket(*socket, address, m_settings.devicePort))
            return false;
        QUdpSocket *raw = socket.get();
        connect(raw, &QUdpSocket::readyRead, this,
                [this, raw, address] { readCommands(raw, address); });
        m_deviceSockets.emplace(address, std::move(socket));
    }
    return true;
}

bool SimulatedDevices::bindSntpSockets()
{
    if (m_settings.sntpPort == 0)
        return true;
    // Only where a device has a time service: elsewhere a request meets a closed port, as it
    // would on a device without one.
    for (const quint32 address : m_byAddress.uniqueKeys()) {
        const QList<int> devices = m_byAddress.values(address);
        if (std::none_of(devices.cbegin(), devices.cend(),
                         [this](int device) { return m_devices.at(device).ntp != 0; }))
            continue;
        auto socket = std::make_unique<QUdpSocket>();
        if (!bindSocket(*socket, address, m_settings.sntpPort))
            return false;
        QUdpSocket *raw = socket.get();
        connect(raw, &QUdpSocket::readyRead, this,
                [this, raw, address] { readSntp(raw, address); });
        m_sntpSockets.emplace(address, std::move(socket));
    }
    return true;
}

bool SimulatedDevices::start()
{
    if (!bindSocket(m_probeSocket, 0, m_settings.probePort) || !bindDeviceSockets()
        || !bindSntpSockets())
        return false;
    m_running.start();
    m_log.write({ { QStringLiteral("event"), QStringLiteral("ready") },
                  { QStringLiteral("devices"), int(m_devices.size()) },
                  { QStringLiteral("probe_port"), m_settings.probePort },
                  { QStringLiteral("device_port"), m_settings.devicePort },
                  { QStringLiteral("sntp_port"), m_settings.sntpPort },
                  { QStringLiteral("sntp_addresses"), int(m_sntpSockets.size()) } });
    return true;
}

qint32 SimulatedDevices::currentUptime(const DeviceRecord &device) const
{
    // Whole hours only, so that the replies within one scan are identical.
    const quint32 hours = quint32(m_running.elapsed() / m_settings.hourMs);
    return qint32(quint32(device.uptime) + hours);
}

void SimulatedDevices::readProbes()
{
    while (m_probeSocket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_probeSocket.receiveDatagram();
        if (!WireFormat::isProbe(datagram.data())) {
            reject(datagram, QStringLiteral("not a discovery probe"), m_settings.probePort);
            continue;
        }
        const QString probe = QString::fromLatin1(datagram.data());
        m_log.write({ { QStringLiteral("event"), QStringLiteral("probe") },
                      { QStringLiteral("text"), probe },
                      { QStringLiteral("from"), datagram.senderAddress().toString() },
                      { QStringLiteral("from_port"), datagram.senderPort() } });
        for (int device = 0; device < m_devices.size(); ++device) {
            const int delay = m_settings.maxDelayMs > 0
                ? int(m_random.bounded(quint32(m_settings.maxDelayMs) + 1))
                : 0;
            for (int copy = 0; copy < m_settings.repeat; ++copy)
                m_queue.schedule(delay, { device, probe });
        }
    }
}

bool SimulatedDevices::sendReply(const ReplyQueue::Entry &entry)
{
    const DeviceRecord &device = m_devices.at(entry.device);
    QUdpSocket &socket = *m_deviceSockets.at(device.address);
    const QByteArray reply
        = WireFormat::scrambled(WireFormat::reply(device, currentUptime(device)));
    if (socket.writeDatagram(reply, m_replyAddress, m_settings.devicePort) != reply.size())
        return false;
    m_log.write({ { QStringLiteral("event"), QStringLiteral("reply") },
                  { QStringLiteral("device"), nameText(device) },
                  { QStringLiteral("ip"), AddressRules::format(device.address) },
                  { QStringLiteral("to"), m_replyAddress.toString() },
                  { QStringLiteral("port"), m_settings.devicePort },
                  { QStringLiteral("probe"), entry.probe } });
    return true;
}

void SimulatedDevices::reportGiveUp(const ReplyQueue::Entry &entry)
{
    const DeviceRecord &device = m_devices.at(entry.device);
    m_log.write({ { QStringLiteral("event"), QStringLiteral("send-failed") },
                  { QStringLiteral("device"), nameText(device) },
                  { QStringLiteral("ip"), AddressRules::format(device.address) },
                  { QStringLiteral("error"), m_deviceSockets.at(device.address)->errorString() } });
}

void SimulatedDevices::readCommands(QUdpSocket *socket, quint32 address)
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        const WireFormat::Command command = WireFormat::decodeCommand(datagram.data());
        if (command.kind == WireFormat::Command::Kind::Rejected) {
            reject(datagram, command.reason, m_settings.devicePort);
            continue;
        }
        // Devices sharing an address all take the command, as they would all
        // see it on a real segment where ARP picks no single winner.
        QList<int> targets = m_byAddress.values(address);
        std::sort(targets.begin(), targets.end());
        for (const int target : std::as_const(targets))
            applyCommand(command, m_devices[target], datagram);
    }
}

void SimulatedDevices::applyCommand(const WireFormat::Command &command, DeviceRecord &device,
                                    const QNetworkDatagram &datagram)
{
    QJsonObject event { { QStringLiteral("event"), QStringLiteral("command") } };
    if (!device.takesCommands) {
        event.insert(QStringLiteral("kind"),
                     command.kind == WireFormat::Command::Kind::SetTime
                         ? QStringLiteral("set-time")
                         : QStringLiteral("settings"));
        event.insert(QStringLiteral("ignored"), true);
    } else if (command.kind == WireFormat::Command::Kind::SetTime) {
        // The device's clock reads the commanded second, .000, the moment the command arrives.
        device.clockOffsetNs = qint64(command.seconds) * 1000000000LL - wallClockNs();
        event.insert(QStringLiteral("kind"), QStringLiteral("set-time"));
        event.insert(QStringLiteral("seconds"), qint64(command.seconds));
        event.insert(QStringLiteral("clock_offset"), double(device.clockOffsetNs) / 1e9);
    } else {
        // The new address is only stored; the device keeps answering on its
        // current one until it restarts.
        device.eeprom = command.address;
        QJsonArray options;
        for (const quint8 option : command.options)
            options.append(int(option));
        event.insert(QStringLiteral("kind"), QStringLiteral("settings"));
        event.insert(QStringLiteral("options"), options);
        event.insert(QStringLiteral("address"), AddressRules::format(command.address));
    }
    event.insert(QStringLiteral("device"), nameText(device));
    event.insert(QStringLiteral("at"), AddressRules::format(device.address));
    event.insert(QStringLiteral("from"), datagram.senderAddress().toString());
    event.insert(QStringLiteral("from_port"), datagram.senderPort());
    m_log.write(event);
}

void SimulatedDevices::reject(const QNetworkDatagram &datagram, const QString &reason, quint16 port)
{
    m_log.write({ { QStringLiteral("event"), QStringLiteral("rejected") },
                  { QStringLiteral("reason"), reason },
                  { QStringLiteral("length"), int(datagram.data().size()) },
                  { QStringLiteral("at"), datagram.destinationAddress().toString() },
                  { QStringLiteral("from"), datagram.senderAddress().toString() },
                  { QStringLiteral("port"), port },
                  { QStringLiteral("from_port"), datagram.senderPort() } });
}

void SimulatedDevices::readSntp(QUdpSocket *socket, quint32 address)
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        const qint64 receivedNs = wallClockNs();
        const SntpAnswer::Request request = SntpAnswer::readRequest(datagram.data());
        if (!request.valid) {
            reject(datagram, request.reason, m_settings.sntpPort);
            continue;
        }
        // Like a command, a request to a shared address reaches every device on it.
        QList<int> targets = m_byAddress.values(address);
        std::sort(targets.begin(), targets.end());
        for (const int target : std::as_const(targets)) {
            const DeviceRecord &device = m_devices.at(target);
            if (device.ntp == 0)
                continue;
            if (!device.sntp) {
                logSntp(device, datagram, false, QStringLiteral("SNTP off"));
            } else if (device.sntpDelayMs > 0) {
                QTimer::singleShot(device.sntpDelayMs, this,
                                   [this, target, request, datagram, receivedNs] {
                                       answerSntp(target, request, datagram, receivedNs);
                                   });
            } else {
                answerSntp(target, request, datagram, receivedNs);
            }
        }
    }
}

void SimulatedDevices::answerSntp(int target, const SntpAnswer::Request &request,
                                  const QNetworkDatagram &datagram, qint64 receivedNs)
{
    const DeviceRecord &device = m_devices.at(target);
    QUdpSocket &socket = *m_sntpSockets.at(device.address);
    // Both times on the device's clock; a set-time between them moves the second.
    const QByteArray answer = SntpAnswer::answer(request, device, receivedNs + device.clockOffsetNs,
                                                 wallClockNs() + device.clockOffsetNs);
    if (socket.writeDatagram(answer, datagram.senderAddress(), quint16(datagram.senderPort()))
        != answer.size()) {
        logSntp(device, datagram, false,
                QStringLiteral("send failed: %1").arg(socket.errorString()));
        return;
    }
    logSntp(device, datagram, true);
}

void SimulatedDevices::logSntp(const DeviceRecord &device, const QNetworkDatagram &datagram,
                               bool answered, const QString &reason)
{
    QJsonObject event { { QStringLiteral("event"), QStringLiteral("sntp") },
                        { QStringLiteral("device"), nameText(device) },
                        { QStringLiteral("at"), AddressRules::format(device.address) },
                        { QStringLiteral("from"), datagram.senderAddress().toString() },
                        { QStringLiteral("from_port"), datagram.senderPort() },
                        { QStringLiteral("answered"), answered } };
    if (answered) {
        event.insert(QStringLiteral("stratum"), SntpAnswer::stratumOf(device));
        event.insert(QStringLiteral("leap"), int(device.leap));
        event.insert(QStringLiteral("clock_offset"), double(device.clockOffsetNs) / 1e9);
        if (device.sntpDelayMs > 0)
            event.insert(QStringLiteral("delay_ms"), device.sntpDelayMs);
    } else {
        event.insert(QStringLiteral("reason"), reason);
    }
    m_log.write(event);
}
