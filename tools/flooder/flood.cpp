#include "flood.h"

#include "devicelistbuilder.h"
#include "wireformat.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QStringList>
#include <QThread>
#include <QUdpSocket>

#include <algorithm>
#include <cstring>
#include <vector>

namespace Flood {

namespace {

    // Past its time a flood gets this long to finish before it stops, sent or not.
    constexpr qint64 graceMs = 5000;

    const std::array<const char *, kindCount> names { "empty", "short",  "63",    "65",
                                                      "max",   "random", "replay" };

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
    DeviceListBuilder builder;
    if (!builder.addFields(fields, error))
        return std::nullopt;
    const DeviceRecord &device = builder.devices().constFirst();
    return WireFormat::scrambled(WireFormat::reply(device, device.uptime));
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
    return sent.at(std::size_t(Kind::Length65)) + sent.at(std::size_t(Kind::MaxSize))
        + randomFullSize;
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
