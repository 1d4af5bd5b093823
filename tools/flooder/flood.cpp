#include "flood.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QStringList>
#include <QThread>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace Flood {

namespace {

constexpr char mask = char(0xA7);
// Where a reply keeps what it tells, the way the devices lay it out.
constexpr int nameSize = 13;
constexpr int eepromOffset = 14;
constexpr int currentOffset = 19;
constexpr int uptimeOffset = 23;
constexpr int flagsOffset = 27; // NTP, Modbus TCP, MELSEC, GPS
constexpr int serialOffset = 31;
// Past its time a flood gets this long to finish before it stops, sent or not.
constexpr qint64 graceMs = 5000;

const std::array<const char *, kindCount> names { "empty", "short", "63", "65", "max", "random",
                                                  "replay" };

std::optional<quint32> parseAddress(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (int k = 0; k < 4; ++k) {
        bool ok = false;
        const uint octet = parts.at(k).toUInt(&ok, 10);
        if (!ok || octet > 255)
            return std::nullopt;
        // The reply carries octet k in bits 8k..8k+7: dotted order when read little-endian.
        address |= quint32(octet) << (8 * k);
    }
    return address;
}

std::optional<qint32> parseInt32(const QString &text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<qint32>::min()
        || value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value);
}

} // namespace

QString kindName(Kind kind)
{
    return QLatin1String(names.at(std::size_t(kind)));
}

std::optional<Kind> kindFromName(const QString &name)
{
    for (int i = 0; i < kindCount; ++i) {
        if (name == QLatin1String(names.at(std::size_t(i))))
            return Kind(i);
    }
    return std::nullopt;
}

std::optional<Weights> parseMix(const QString &text, QString *error)
{
    Weights weights {};
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList pair = item.split(QLatin1Char('='));
        const std::optional<Kind> kind = kindFromName(pair.value(0).trimmed());
        bool ok = false;
        const int weight = pair.value(1).trimmed().toInt(&ok, 10);
        if (pair.size() != 2 || !kind || !ok || weight < 0 || weight > 1000) {
            *error = QStringLiteral("bad mix entry \"%1\": expected KIND=WEIGHT with KIND one of "
                                    "empty, short, 63, 65, max, random, replay and WEIGHT 0..1000")
                             .arg(item);
            return std::nullopt;
        }
        weights.at(std::size_t(*kind)) = weight;
    }
    int total = 0;
    for (const int weight : weights)
        total += weight;
    if (total == 0) {
        *error = QStringLiteral("the mix has no kind with a weight above 0");
        return std::nullopt;
    }
    return weights;
}

std::optional<QByteArray> replyFromFields(const QString &fields, QString *error)
{
    QByteArray reply(replySize, '\0');
    bool hasAddress = false;
    bool hasEeprom = false;
    quint32 current = 0;
    for (const QString &item : fields.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString key = item.left(equals).trimmed();
        const QString value = item.mid(equals + 1);
        bool ok = equals > 0;
        if (ok && key == QLatin1String("name")) {
            ok = value.size() <= nameSize && std::all_of(value.cbegin(), value.cend(), [](QChar c) {
                     return c.unicode() <= 0xFF;
                 });
            if (ok)
                reply.replace(0, int(value.size()), value.toLatin1());
        } else if (ok && (key == QLatin1String("ip") || key == QLatin1String("eeprom"))) {
            const std::optional<quint32> address = parseAddress(value);
            ok = address.has_value();
            if (ok) {
                const bool isCurrent = key == QLatin1String("ip");
                qToLittleEndian<quint32>(*address, reply.data() + (isCurrent ? currentOffset : eepromOffset));
                if (isCurrent) {
                    current = *address;
                    hasAddress = true;
                } else {
                    hasEeprom = true;
                }
            }
        } else if (ok && (key == QLatin1String("serial") || key == QLatin1String("uptime"))) {
            const std::optional<qint32> number = parseInt32(value);
            ok = number.has_value();
            if (ok)
                qToLittleEndian<qint32>(*number, reply.data()
                                                + (key == QLatin1String("serial") ? serialOffset : uptimeOffset));
        } else if (ok) {
            const QStringList flags { QStringLiteral("ntp"), QStringLiteral("mbtcp"),
                                      QStringLiteral("melsec"), QStringLiteral("gps") };
            const qsizetype flag = flags.indexOf(key);
            const uint byte = value.toUInt(&ok, 10);
            ok = ok && flag >= 0 && byte <= 255;
            if (ok)
                reply[int(flagsOffset + flag)] = char(byte);
        }
        if (!ok) {
            *error = QStringLiteral("bad device entry \"%1\" (keys: name (Latin-1, up to 13), ip, "
                                    "eeprom, serial, uptime, ntp, mbtcp, melsec, gps)")
                             .arg(item);
            return std::nullopt;
        }
    }
    if (!hasAddress) {
        *error = QStringLiteral("device \"%1\" has no ip").arg(fields);
        return std::nullopt;
    }
    if (!hasEeprom)
        qToLittleEndian<quint32>(current, reply.data() + eepromOffset);
    for (char &byte : reply)
        byte = char(byte ^ mask);
    return reply;
}

Generator::Generator(const Settings &settings)
    : settings(settings)
    , random(settings.seed)
{
    for (const int weight : settings.weights)
        totalWeight += weight;
}

Kind Generator::nextKind()
{
    int pick = int(random.bounded(quint32(totalWeight)));
    for (int i = 0; i < kindCount; ++i) {
        pick -= settings.weights.at(std::size_t(i));
        if (pick < 0)
            return Kind(i);
    }
    return Kind::Empty; // not reached: the weights add up to totalWeight
}

QByteArray Generator::randomBytes(int size)
{
    std::vector<quint32> words(std::size_t(size + 3) / 4);
    random.fillRange(words.data(), qsizetype(words.size()));
    QByteArray bytes(size, Qt::Uninitialized);
    if (size > 0)
        std::memcpy(bytes.data(), words.data(), std::size_t(size));
    return bytes;
}

QByteArray Generator::datagram(Kind kind)
{
    switch (kind) {
    case Kind::Empty:
        return QByteArray();
    case Kind::Short:
        return randomBytes(int(random.bounded(1, replySize - 1)));
    case Kind::Length63:
        return randomBytes(replySize - 1);
    case Kind::Length65:
        return randomBytes(replySize + 1);
    case Kind::MaxSize:
        return randomBytes(maxDatagram);
    case Kind::Random:
        return randomBytes(int(random.bounded(settings.randomMax + 1)));
    case Kind::Replay: {
        const QByteArray reply = settings.replies.at(nextReply);
        nextReply = (nextReply + 1) % settings.replies.size();
        return reply;
    }
    }
    return QByteArray();
}

qint64 Summary::total() const
{
    qint64 sum = 0;
    for (const qint64 n : sent)
        sum += n;
    return sum;
}

qint64 Summary::sendErrors() const
{
    qint64 sum = 0;
    for (const qint64 n : errors)
        sum += n;
    return sum;
}

qint64 Summary::fullSizeJunk() const
{
    return sent.at(std::size_t(Kind::Length65)) + sent.at(std::size_t(Kind::MaxSize)) + randomFullSize;
}

QJsonObject Summary::toJson(const Settings &settings) const
{
    QJsonObject kinds;
    for (int i = 0; i < kindCount; ++i)
        kinds.insert(kindName(Kind(i)), sent.at(std::size_t(i)));
    QJsonObject errorTexts;
    for (auto it = errors.cbegin(); it != errors.cend(); ++it)
        errorTexts.insert(it.key(), it.value());
    return { { QStringLiteral("bind"), settings.bindAddress.toString() },
             { QStringLiteral("to"), settings.target.toString() },
             { QStringLiteral("port"), settings.port },
             { QStringLiteral("requested"), settings.count },
             { QStringLiteral("sent_total"), total() },
             { QStringLiteral("sent"), kinds },
             { QStringLiteral("random_64_or_more"), randomFullSize },
             { QStringLiteral("full_size_junk"), fullSizeJunk() },
             { QStringLiteral("replay_sources"), int(settings.replies.size()) },
             { QStringLiteral("bytes"), bytes },
             { QStringLiteral("send_errors"), sendErrors() },
             { QStringLiteral("errors"), errorTexts },
             { QStringLiteral("retries"), retries },
             { QStringLiteral("elapsed_ms"), elapsedMs },
             { QStringLiteral("stopped_early"), stoppedEarly } };
}

Summary run(const Settings &settings, QString *error)
{
    Summary summary;
    QUdpSocket socket;
    if (!socket.bind(settings.bindAddress, settings.sourcePort,
                     QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        *error = QStringLiteral("cannot bind %1 port %2: %3")
                         .arg(settings.bindAddress.toString())
                         .arg(settings.sourcePort)
                         .arg(socket.errorString());
        return summary;
    }

    Generator generator(settings);
    QElapsedTimer clock;
    clock.start();
    const qint64 durationNs = settings.durationMs * 1000000;
    const qint64 stopAtMs = settings.durationMs + graceMs;

    for (qint64 i = 0; i < settings.count; ++i) {
        // Datagram i is due at i/count of the duration: an even pace, not one burst.
        // A sleep overshoots by tens of microseconds, so at high rates a few datagrams go out
        // back to back after each one; spinning instead would take a core from the receiver.
        const qint64 dueNs = durationNs * i / settings.count;
        for (qint64 ahead = dueNs - clock.nsecsElapsed(); ahead > 0;
             ahead = dueNs - clock.nsecsElapsed())
            QThread::usleep(ulong(qBound(qint64(50), ahead / 1000, qint64(2000))));

        const Kind kind = generator.nextKind();
        const QByteArray datagram = generator.datagram(kind);
        bool done = false;
        while (!done) {
            if (clock.elapsed() > stopAtMs) {
                summary.stoppedEarly = true;
                break;
            }
            const qint64 written = socket.writeDatagram(datagram, settings.target, settings.port);
            if (written == datagram.size()) {
                ++summary.sent.at(std::size_t(kind));
                summary.bytes += written;
                if (kind == Kind::Random && datagram.size() >= replySize)
                    ++summary.randomFullSize;
                done = true;
            } else if (socket.error() == QAbstractSocket::TemporaryError) {
                // The send buffer is full: wait for the interface to take some.
                ++summary.retries;
                QThread::usleep(100);
            } else {
                ++summary.errors[socket.errorString()];
                done = true;
            }
        }
        if (summary.stoppedEarly)
            break;
    }
    summary.elapsedMs = clock.elapsed();
    return summary;
}

} // namespace Flood
