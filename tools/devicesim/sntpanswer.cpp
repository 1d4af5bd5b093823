#include "sntpanswer.h"

#include <QtEndian>

namespace {

// 70 years, 17 of them leap years, from the NTP epoch (1900) to the Unix epoch (1970).
constexpr qint64 NtpToUnixSeconds = 2208988800LL;
constexpr qint64 NsPerSecond = 1000000000LL;

constexpr int ServerMode = 4;
constexpr int ClientMode = 3;
// About a microsecond (2^-20 s), what the simulator's clock reading can resolve.
constexpr qint8 Precision = -20;
// Root delay and dispersion in NTP short format (16.16 seconds): what a device fed by its own
// receiver reports, half a millisecond and a millisecond.
constexpr quint32 RootDelay = 0x00000021;
constexpr quint32 RootDispersion = 0x00000042;
// What a device of stratum 2 and more names as its source: an address reserved for
// documentation, as the simulated devices have no real upstream server.
constexpr quint32 UpstreamAddress = 0xC0000201; // 192.0.2.1

void putTimestamp(char *at, quint64 timestamp)
{
    qToBigEndian(timestamp, at);
}

} // namespace

quint64 SntpAnswer::ntpTimestamp(qint64 unixNs)
{
    // Floor division, so that times before 1970 come out right too.
    qint64 seconds = unixNs / NsPerSecond;
    qint64 nanoseconds = unixNs % NsPerSecond;
    if (nanoseconds < 0) {
        --seconds;
        nanoseconds += NsPerSecond;
    }
    // The 32-bit seconds wrap in 2036 into the next era; clients resolve the era themselves.
    const quint64 ntpSeconds = quint64(seconds + NtpToUnixSeconds) & 0xFFFFFFFFu;
    const quint64 fraction = (quint64(nanoseconds) << 32) / quint64(NsPerSecond);
    return ntpSeconds << 32 | fraction;
}

SntpAnswer::Request SntpAnswer::readRequest(const QByteArray &datagram)
{
    Request request;
    if (datagram.size() < PacketSize) {
        request.reason = QStringLiteral("SNTP request too short");
        return request;
    }
    const quint8 first = quint8(datagram.at(0));
    const int mode = first & 0x7;
    request.version = (first >> 3) & 0x7;
    if (mode != ClientMode) {
        request.reason = QStringLiteral("not an SNTP client request (mode %1)").arg(mode);
        return request;
    }
    if (request.version < 1 || request.version > 4) {
        request.reason = QStringLiteral("unsupported NTP version %1").arg(request.version);
        return request;
    }
    request.poll = quint8(datagram.at(2));
    request.transmit = datagram.mid(40, 8);
    request.valid = true;
    return request;
}

int SntpAnswer::stratumOf(const DeviceRecord &device)
{
    return device.kissCode.isEmpty() ? device.stratum : 0;
}

QByteArray SntpAnswer::referenceIdOf(const DeviceRecord &device)
{
    const int stratum = stratumOf(device);
    QByteArray id;
    if (stratum == 0) {
        id = device.kissCode.isEmpty() ? QByteArrayLiteral("DENY") : device.kissCode;
    } else if (stratum == 1) {
        id = QByteArrayLiteral("SIM");
    } else if (stratum >= 16) {
        // Not synchronised: still looking for a source, as ntpd and chrony say.
        id = QByteArrayLiteral("INIT");
    } else {
        id = QByteArray(4, '\0');
        qToBigEndian(UpstreamAddress, id.data());
    }
    id.resize(4, '\0');
    return id;
}

QByteArray SntpAnswer::answer(const Request &request, const DeviceRecord &device, qint64 receiveNs,
                              qint64 transmitNs)
{
    QByteArray packet(PacketSize, '\0');
    char *bytes = packet.data();
    const int stratum = stratumOf(device);
    // The client's version is answered in kind.
    bytes[0] = char((device.leap & 0x3) << 6 | (request.version & 0x7) << 3 | ServerMode);
    bytes[1] = char(quint8(stratum));
    bytes[2] = char(request.poll);
    bytes[3] = char(Precision);
    qToBigEndian(RootDelay, bytes + 4);
    qToBigEndian(RootDispersion, bytes + 8);
    const QByteArray referenceId = referenceIdOf(device);
    std::copy(referenceId.cbegin(), referenceId.cend(), bytes + 12);
    // A synchronised device took its time from its receiver at the start of this second; one
    // that is not synchronised has no reference time.
    const bool synchronised = device.leap != 3 && stratum >= 1 && stratum <= 15;
    const quint64 reference = ntpTimestamp(transmitNs) & ~quint64(0xFFFFFFFFu);
    putTimestamp(bytes + 16, synchronised ? reference : 0);
    std::copy(request.transmit.cbegin(), request.transmit.cend(), bytes + 24);
    putTimestamp(bytes + 32, ntpTimestamp(receiveNs));
    putTimestamp(bytes + 40, ntpTimestamp(transmitNs));
    return packet;
}
