#include "sntpquery.h"

#include "platform.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <chrono>

namespace {

constexpr int PacketSize = 48;
constexpr int ClientMode = 3;
constexpr int ServerMode = 4;
constexpr int Version = 4;
// 70 years, 17 of them leap years, from the NTP epoch (1900) to the Unix epoch (1970).
constexpr qint64 NtpToUnixSeconds = 2208988800LL;
constexpr qint64 NsPerSecond = 1000000000LL;

// Our clock as an NTP timestamp: seconds since 1900 in the high 32 bits (modulo the 136-year
// era), binary fraction in the low 32 bits.
quint64 ntpNow()
{
    const qint64 ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    qint64 seconds = ns / NsPerSecond;
    qint64 rest = ns % NsPerSecond;
    if (rest < 0) {
        --seconds;
        rest += NsPerSecond;
    }
    const quint64 ntpSeconds = quint64(seconds + NtpToUnixSeconds) & 0xFFFFFFFFu;
    return ntpSeconds << 32 | (quint64(rest) << 32) / quint64(NsPerSecond);
}

// later - earlier in seconds. Taken modulo 2^64 and read as signed, as RFC 4330 asks, so that
// it is right across an era change as long as the two lie within 68 years of each other.
double secondsBetween(quint64 later, quint64 earlier)
{
    return double(qint64(later - earlier)) / 4294967296.0;
}

quint64 timestampAt(const QByteArray &packet, int offset)
{
    return qFromBigEndian<quint64>(packet.constData() + offset);
}

// Kiss codes and the sources of stratum 1 servers are four ASCII characters, NUL padded; a
// hostile server may send anything, so whatever else is there is shown as hex escapes.
QString referenceText(const QByteArray &id)
{
    QByteArray text = id;
    while (text.endsWith('\0'))
        text.chop(1);
    QString shown;
    for (const char c : std::as_const(text)) {
        const auto byte = quint8(c);
        if (byte > 0x20 && byte < 0x7F)
            shown += QLatin1Char(c);
        else
            shown += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return shown;
}

} // namespace

SntpQuery::SntpQuery(QObject *parent)
    : QObject(parent)
    , m_socket(new QUdpSocket(this))
    , m_timer(new QTimer(this))
{
    qRegisterMetaType<SntpQuery::Result>();
    m_timer->setSingleShot(true);
    connect(m_socket, &QUdpSocket::readyRead, this, &SntpQuery::readAnswers);
    connect(m_timer, &QTimer::timeout, this, &SntpQuery::onTimeout);
}

void SntpQuery::start(const QHostAddress &server, quint16 port, const QHostAddress &from,
                      int timeoutMs, int retries)
{
    if (m_running) {
        Result replaced;
        replaced.error = QStringLiteral("replaced by a new query");
        finish(replaced);
    }
    ++m_generation;
    m_running = true;
    m_server = server;
    m_port = port;
    m_timeoutMs = qMax(1, timeoutMs);
    m_retries = qMax(0, retries);
    m_sent.clear();
    m_sendError.clear();
    m_ignored = 0;
    m_socket->abort();

    const bool ipv6 = server.protocol() == QAbstractSocket::IPv6Protocol;
    if (server.isNull() || (server.protocol() != QAbstractSocket::IPv4Protocol && !ipv6)) {
        failLater(QStringLiteral("no server address"));
        return;
    }
    if (port == 0) {
        failLater(QStringLiteral("no server port"));
        return;
    }
    const QHostAddress local = !from.isNull()
        ? from
        : QHostAddress(ipv6 ? QHostAddress::AnyIPv6 : QHostAddress::AnyIPv4);
    if (!m_socket->bind(local, 0)) {
        failLater(QStringLiteral("cannot send from %1: %2")
                      .arg(local.toString(), m_socket->errorString()));
        return;
    }
    Platform::keepReadingAfterIcmpErrors(m_socket->socketDescriptor());
    sendRequest();
}

void SntpQuery::failLater(const QString &error)
{
    // finished() never comes from inside start(), so that a caller may connect after it.
    QTimer::singleShot(0, this, [this, generation = m_generation, error] {
        if (!m_running || generation != m_generation)
            return;
        Result failed;
        failed.error = error;
        finish(failed);
    });
}

void SntpQuery::sendRequest()
{
    QByteArray request(PacketSize, '\0');
    request[0] = char(Version << 3 | ClientMode);
    // The whole second of our clock and a random fraction: the server copies it into its
    // answer, and an answer that carries none of ours was not meant for us.
    Sent sent;
    sent.stamp = (ntpNow() & ~quint64(0xFFFFFFFFu)) | QRandomGenerator::system()->generate();
    qToBigEndian(sent.stamp, request.data() + 40);
    sent.sentAt = ntpNow();
    if (m_socket->writeDatagram(request, m_server, m_port) != request.size())
        m_sendError = m_socket->errorString();
    m_sent.append(sent);
    m_timer->start(m_timeoutMs);
}

void SntpQuery::onTimeout()
{
    if (!m_running)
        return;
    if (m_sent.size() <= m_retries) {
        sendRequest();
        return;
    }
    Result failed;
    const auto tries = m_sent.size();
    failed.error = QStringLiteral("no answer after %1 %2")
                       .arg(tries)
                       .arg(tries == 1 ? QStringLiteral("try") : QStringLiteral("tries"));
    if (!m_sendError.isEmpty())
        failed.error += QStringLiteral(" (could not send: %1)").arg(m_sendError);
    else if (m_ignored > 0)
        failed.error
            += QStringLiteral(" (%1 ignored: not an answer to our requests)").arg(m_ignored);
    finish(failed);
}

void SntpQuery::readAnswers()
{
    while (m_running && m_socket->hasPendingDatagrams()) {
        const quint64 arrivedAt = ntpNow();
        const QNetworkDatagram datagram = m_socket->receiveDatagram();
        // Only the server asked may answer; anything else on our port is not its answer.
        const bool fromServer
            = datagram.senderAddress().isEqual(m_server, QHostAddress::ConvertV4MappedToIPv4)
            && datagram.senderPort() == m_port;
        if (!datagram.isValid() || !fromServer)
            continue;
        const std::optional<Result> result = judge(datagram.data(), m_sent, arrivedAt);
        if (!result) {
            ++m_ignored;
            continue;
        }
        // finished() may delete us or start another query: nothing may follow it here.
        finish(*result);
        return;
    }
}

std::optional<SntpQuery::Result> SntpQuery::judge(const QByteArray &answer, const QList<Sent> &sent,
                                                  quint64 arrivedAt)
{
    // A datagram too short to carry our transmit time cannot be an answer: if it ended the
    // query, anyone on the segment could end every query with a few bytes. Extension fields or
    // a MAC may follow the 48 bytes of a real answer; they are not read.
    if (answer.size() < PacketSize)
        return std::nullopt;
    // A stale answer to an earlier query, or a forged one, does not carry our transmit time.
    Result result;
    const quint64 originate = timestampAt(answer, 24);
    const auto ours = std::find_if(sent.cbegin(), sent.cend(), [originate](const Sent &request) {
        return request.stamp == originate;
    });
    if (ours == sent.cend())
        return std::nullopt;

    const auto first = quint8(answer.at(0));
    const int mode = first & 0x7;
    result.leap = first >> 6;
    result.version = (first >> 3) & 0x7;
    result.stratum = quint8(answer.at(1));
    const QByteArray id = answer.mid(12, 4);
    result.referenceId = result.stratum <= 1
        ? referenceText(id)
        : QHostAddress(qFromBigEndian<quint32>(id.constData())).toString();
    if (mode != ServerMode) {
        result.error = QStringLiteral("not a server answer (mode %1)").arg(mode);
        return result;
    }
    // Versions 3 and 4 share this layout; anything else is no answer we can read.
    if (result.version != 3 && result.version != 4) {
        result.error = QStringLiteral("answer of NTP version %1").arg(result.version);
        return result;
    }
    // The server refuses us: the code says why (RATE: asked too often, DENY/RSTR: not allowed).
    if (result.stratum == 0) {
        result.error = QStringLiteral("kiss-of-death %1").arg(result.referenceId);
        result.kissOfDeath = true;
        return result;
    }
    const quint64 receive = timestampAt(answer, 32);
    const quint64 transmit = timestampAt(answer, 40);
    if (transmit == 0) {
        result.error = QStringLiteral("zero transmit time");
        return result;
    }
    if (receive == 0) {
        result.error = QStringLiteral("zero receive time");
        return result;
    }
    // A server cannot send its answer before it got the request; the numbers would be nonsense.
    if (secondsBetween(transmit, receive) < 0) {
        result.error = QStringLiteral("receive time after transmit time");
        return result;
    }

    const quint64 t1 = ours->sentAt;
    result.offsetSeconds = (secondsBetween(receive, t1) + secondsBetween(transmit, arrivedAt)) / 2;
    result.delaySeconds = secondsBetween(arrivedAt, t1) - secondsBetween(transmit, receive);
    result.answered = true;
    // Answered, but its time is not to be trusted: say so, the numbers are still there.
    if (result.stratum > 15)
        result.error = QStringLiteral("stratum %1: not synchronised").arg(result.stratum);
    else if (result.leap == 3)
        result.error = QStringLiteral("leap indicator 3: not synchronised");
    return result;
}

void SntpQuery::finish(Result result)
{
    m_running = false;
    m_timer->stop();
    m_socket->abort();
    result.attempts = int(m_sent.size());
    emit finished(result);
}
