#include "scanner.h"

#include "platform.h"

#include <QNetworkDatagram>
#include <QVariant>

namespace {

constexpr auto shared = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
// Longer datagrams are cut; a reply needs 64 bytes. Giving the size saves a system call per read.
constexpr qint64 readSize = 2048;

} // namespace

Scanner::Scanner(const QList<LocalAddress> &from, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_from(from)
    , m_settings(settings)
{
    m_probeTimer.setInterval(settings.intervalMs);
    m_probeTimer.setTimerType(Qt::PreciseTimer);
    m_endTimer.setSingleShot(true);
    m_endTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_probeTimer, &QTimer::timeout, this, &Scanner::sendProbe);
    connect(&m_endTimer, &QTimer::timeout, this, &Scanner::stop);
    connect(&m_replySocket, &QUdpSocket::readyRead, this, &Scanner::readReplies);
}

Scanner::~Scanner() = default;

std::optional<Failure> Scanner::open(QList<HealthNote> *warnings)
{
    if (m_from.isEmpty()) {
        return Failure { ExitStatus::NetworkUnusable,
                         QStringLiteral("this machine has no IPv4 address on an interface that "
                                        "is up (loopback does not count): there is no network "
                                        "to scan") };
    }
    if (!m_replySocket.bind(QHostAddress::AnyIPv4, DeviceProtocol::devicePort, shared)) {
        return Failure { ExitStatus::NetworkUnusable,
                         QStringLiteral("cannot listen on UDP port %1, where the devices answer: "
                                        "%2. Another program holds the port for itself; "
                                        "`%3` shows which")
                             .arg(DeviceProtocol::devicePort)
                             .arg(m_replySocket.errorString(),
                                  Platform::udpPortHolderCommand(DeviceProtocol::devicePort)) };
    }
    Platform::keepReadingAfterIcmpErrors(m_replySocket.socketDescriptor());
    m_replySocket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                                  m_settings.replyBufferBytes);
    m_figures.replyBufferAskedBytes = m_settings.replyBufferBytes;
    m_figures.replyBufferBytes
        = m_replySocket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();

    for (const LocalAddress &local : std::as_const(m_from)) {
        auto socket = std::make_unique<QUdpSocket>();
        if (!socket->bind(local.address, DeviceProtocol::probePort, shared)) {
            warnings->append({ QStringLiteral("probe-port-held"),
                               QStringLiteral("UDP port %1 on %2 is held by another program; "
                                              "probing from another port")
                                   .arg(DeviceProtocol::probePort)
                                   .arg(local.describe()) });
            if (!socket->bind(local.address, 0)) {
                return Failure { ExitStatus::NetworkUnusable,
                                 QStringLiteral("cannot send probes from %1: %2")
                                     .arg(local.describe(), socket->errorString()) };
            }
        }
        m_probeSockets.push_back(std::move(socket));
    }
    return std::nullopt;
}

void Scanner::start()
{
    m_running = true;
    m_clock.start();
    sendProbe();
    if (m_settings.probes > 1)
        m_probeTimer.start();
}

void Scanner::stop()
{
    // A scan can be ended from a slot of heard(), which the reading below emits again.
    if (!m_running || m_stopping)
        return;
    m_stopping = true;
    m_probeTimer.stop();
    m_endTimer.stop();
    // Whatever already waits in the buffer was heard within the scan.
    readReplies();
    m_running = false;
    m_stopping = false;
    m_figures.dropped = Platform::receiveDrops(m_replySocket.socketDescriptor()).value_or(-1);
    emit finished();
}

void Scanner::sendProbe()
{
    const QByteArray probe = DeviceProtocol::probe(m_figures.probesSent);
    for (const auto &socket : m_probeSockets)
        socket->writeDatagram(probe, QHostAddress::Broadcast, DeviceProtocol::probePort);
    ++m_figures.probesSent;
    emit probeSent(m_figures.probesSent);
    if (m_figures.probesSent >= m_settings.probes) {
        m_probeTimer.stop();
        m_endTimer.start(m_settings.waitMs);
    }
}

void Scanner::readReplies()
{
    // Everything waiting is read now: a burst from thousands of devices must not wait for one
    // trip through the event loop per datagram, or the kernel drops what no longer fits.
    while (m_replySocket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_replySocket.receiveDatagram(readSize);
        ++m_figures.datagrams;
        if (!m_running)
            continue;
        const auto reply = DeviceProtocol::readReply(DeviceProtocol::scrambled(datagram.data()));
        if (!reply) {
            ++m_figures.notReplies;
            continue;
        }
        const LocalAddress *local = heardOn(datagram, reply->currentAddress);
        if (!local) {
            ++m_figures.elsewhere;
            continue;
        }
        emit heard({ *reply, *local, m_clock.elapsed() });
    }
}

// The address of ours a reply was heard on: among the scanned addresses of the interface it
// arrived on, the one whose subnet holds the device's address, else the first. A reply that
// came in on an interface we did not probe answers somebody else.
const LocalAddress *Scanner::heardOn(const QNetworkDatagram &datagram, quint32 current) const
{
    const LocalAddress *first = nullptr;
    for (const LocalAddress &local : m_from) {
        const bool sameInterface = datagram.interfaceIndex() != 0
            ? int(datagram.interfaceIndex()) == local.interfaceIndex
            : local.subnet().contains(datagram.senderAddress().toIPv4Address());
        if (!sameInterface)
            continue;
        if (local.subnet().contains(current))
            return &local;
        if (!first)
            first = &local;
    }
    return first;
}
