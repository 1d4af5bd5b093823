#ifndef FLOOD_H
#define FLOOD_H

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QRandomGenerator>
#include <QString>

#include <array>
#include <optional>

// What a flood is made of. All kinds but Replay are junk; Replay repeats complete device
// replies exactly as a device sends them.
namespace Flood {

enum class Kind { Empty, Short, Length63, Length65, MaxSize, Random, Replay };
constexpr int kindCount = 7;

// The largest payload an IPv4 UDP datagram can carry: 65,535 - 20 (IP) - 8 (UDP).
constexpr int maxDatagram = 65507;
// The tool takes any datagram of at least this many bytes for a device reply.
constexpr int replySize = 64;

// The names the mix and the summary use: empty, short, 63, 65, max, random, replay.
QString kindName(Kind kind);
std::optional<Kind> kindFromName(const QString &name);

using Weights = std::array<int, kindCount>;

// "kind=weight,..." with integer weights 0..1000; kinds not named get weight 0.
std::optional<Weights> parseMix(const QString &text, QString *error);

// A complete reply, scrambled, for a device described as the simulator's --device takes it:
// "name=...,ip=A.B.C.D,serial=N,uptime=N[,eeprom=A.B.C.D][,ntp=0..255]...".
std::optional<QByteArray> replyFromFields(const QString &fields, QString *error);

struct Settings
{
    QHostAddress bindAddress;
    quint16 sourcePort = 0;
    QHostAddress target { QHostAddress::Broadcast };
    quint16 port = 7800;
    qint64 count = 200000;
    qint64 durationMs = 5000;
    int randomMax = 1472;
    quint32 seed = 1;
    Weights weights {};
    QList<QByteArray> replies;
};

// Makes the datagrams of one flood, one at a time, in a random order that the seed fixes.
class Generator
{
public:
    explicit Generator(const Settings &settings);

    Kind nextKind();
    QByteArray datagram(Kind kind);

private:
    QByteArray randomBytes(int size);

    const Settings &settings;
    QRandomGenerator random;
    int totalWeight = 0;
    qsizetype nextReply = 0;
};

// Counts what went out.
struct Summary
{
    std::array<qint64, kindCount> sent {};
    qint64 randomFullSize = 0; // random datagrams of at least replySize bytes
    qint64 bytes = 0;
    qint64 retries = 0; // sends repeated because the send buffer was full
    QMap<QString, qint64> errors; // datagrams given up, by error text
    qint64 elapsedMs = 0;
    bool stoppedEarly = false;

    qint64 total() const;
    qint64 sendErrors() const;
    // Junk the tool lists as a device, since it has at least replySize bytes.
    qint64 fullSizeJunk() const;
    QJsonObject toJson(const Settings &settings) const;
};

// Sends settings.count datagrams, spread evenly over settings.durationMs; gives up on what is
// left when the time is over by more than a grace period, so that a flood always ends.
Summary run(const Settings &settings, QString *error);

} // namespace Flood

#endif // FLOOD_H
