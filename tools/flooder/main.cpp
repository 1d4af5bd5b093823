#include "addressrules.h"
#include "flood.h"
#include "optionnumber.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonDocument>

#include <cstdio>

namespace {

// Bounds that keep a mistyped command from flooding a segment for long.
constexpr qint64 maxCount = 1000000;
constexpr double maxDurationSec = 60.0;

const auto defaultJunkMix = QStringLiteral("empty=100,short=400,63=100,65=100,max=5,random=200");
const auto defaultReplayWeight = QStringLiteral(",replay=95");

int fail(const QString &message, int status)
{
    std::fprintf(stderr, "flooder: %s\n", qPrintable(message));
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("flooder"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Floods the set-up tool's reply port from the devices' side of a segment, to check that\n"
        "nothing that arrives there can harm it. Sends a mix of datagrams, picked at random:\n"
        "  empty   no payload\n"
        "  short   1..62 random bytes\n"
        "  63      63 random bytes, one short of a reply\n"
        "  65      65 random bytes (the tool reads any 64 or more as a device)\n"
        "  max     65,507 random bytes, the largest UDP datagram over IPv4\n"
        "  random  0..--random-max random bytes\n"
        "  replay  copies of complete, scrambled device replies (--device, --reply)\n"
        "spread evenly over --duration, and prints one JSON line: datagrams sent per kind,\n"
        "random ones of 64 bytes or more, send errors by text, retries on a full send buffer.\n"
        "A flood that cannot keep up stops 5 s after its time with what it has sent.\n"
        "Run it only inside a private or test network: it broadcasts by default.\n"
        "Exit status: 0 when all was sent, 3 when some datagrams were not, 1 if the socket\n"
        "cannot be bound, 2 for bad options."));
    parser.addHelpOption();
    const QCommandLineOption bindOption(
        QStringLiteral("bind"),
        QStringLiteral("Source address to send from (required): an address of the interface "
                       "the flood should leave through."),
        QStringLiteral("ADDR"));
    const QCommandLineOption sourcePortOption(QStringLiteral("source-port"),
                                              QStringLiteral("Source port (default: any)."),
                                              QStringLiteral("PORT"), QStringLiteral("0"));
    const QCommandLineOption toOption(QStringLiteral("to"),
                                      QStringLiteral("Destination (default 255.255.255.255)."),
                                      QStringLiteral("ADDR"), QStringLiteral("255.255.255.255"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Destination port (default 7800)."),
                                        QStringLiteral("PORT"), QStringLiteral("7800"));
    const QCommandLineOption countOption(
        QStringLiteral("count"),
        QStringLiteral("Datagrams to send, 1..%1 (default 200000).").arg(maxCount),
        QStringLiteral("N"), QStringLiteral("200000"));
    const QCommandLineOption durationOption(
        QStringLiteral("duration"),
        QStringLiteral("Seconds to spread them over, 0.01..%1 (default 5).").arg(maxDurationSec),
        QStringLiteral("SEC"), QStringLiteral("5"));
    const QCommandLineOption mixOption(
        QStringLiteral("mix"),
        QStringLiteral("Weights of the kinds, KIND=WEIGHT,... with WEIGHT 0..1000; kinds not "
                       "named are not sent (default %1, plus replay=95 when there are "
                       "replies to replay).")
            .arg(defaultJunkMix),
        QStringLiteral("MIX"));
    const QCommandLineOption randomMaxOption(
        QStringLiteral("random-max"),
        QStringLiteral("Largest size of a 'random' datagram, 0..65507 (default 1472, what one "
                       "Ethernet frame carries)."),
        QStringLiteral("BYTES"), QStringLiteral("1472"));
    const QCommandLineOption deviceOption(
        QStringLiteral("device"),
        QStringLiteral("A fake device whose reply is replayed: name=...,ip=A.B.C.D,serial=N,"
                       "uptime=N, optionally eeprom, ntp, mbtcp, melsec, gps. Repeatable."),
        QStringLiteral("FIELDS"));
    const QCommandLineOption replyOption(
        QStringLiteral("reply"),
        QStringLiteral("A datagram to replay exactly as given, in hex (e.g. a reply captured "
                       "from a device, still scrambled). Repeatable."),
        QStringLiteral("HEX"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Seed of the random choices (default 1)."),
                                        QStringLiteral("N"), QStringLiteral("1"));
    parser.addOptions({ bindOption, sourcePortOption, toOption, portOption, countOption,
                        durationOption, mixOption, randomMaxOption, deviceOption, replyOption,
                        seedOption });
    // Bad usage is status 2, as documented; QCommandLineParser::process() would exit with 1.
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText(), 2);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()),
            2);

    Flood::Settings settings;
    QString error;

    if (!parser.isSet(bindOption))
        return fail(
            QStringLiteral("--bind is required: the flood must leave through a chosen interface"),
            2);
    // Dotted IPv4 addresses by the companion's own rule, so a test aims the flood where the
    // companion would read the same text.
    const auto bindAddress = AddressRules::parse(parser.value(bindOption));
    if (!bindAddress)
        return fail(QStringLiteral("--bind must be an IPv4 address"), 2);
    settings.bindAddress = QHostAddress(*bindAddress);
    const auto target = AddressRules::parse(parser.value(toOption));
    if (!target)
        return fail(QStringLiteral("--to must be an IPv4 address"), 2);
    settings.target = QHostAddress(*target);

    const auto number = [&](const QCommandLineOption &option, qint64 minimum, qint64 maximum) {
        return OptionNumber::integer(parser, option.names().constFirst(), minimum, maximum);
    };
    const auto sourcePort = number(sourcePortOption, 0, 65535);
    const auto port = number(portOption, 1, 65535);
    const auto count = number(countOption, 1, maxCount);
    const auto duration
        = OptionNumber::seconds(parser, durationOption.names().constFirst(), 0.01, maxDurationSec);
    const auto randomMax = number(randomMaxOption, 0, Flood::maxDatagram);
    const auto seed = number(seedOption, 0, 0xFFFFFFFFLL);
    for (const QString *refusal : { &sourcePort.refusal, &port.refusal, &count.refusal,
                                    &duration.refusal, &randomMax.refusal, &seed.refusal }) {
        if (!refusal->isEmpty())
            return fail(*refusal, 2);
    }
    settings.sourcePort = quint16(*sourcePort);
    settings.port = quint16(*port);
    settings.count = *count;
    settings.durationMs = qint64(*duration * 1000.0 + 0.5);
    settings.randomMax = int(*randomMax);
    settings.seed = quint32(*seed);

    for (const QString &fields : parser.values(deviceOption)) {
        const std::optional<QByteArray> reply = Flood::replyFromFields(fields, &error);
        if (!reply)
            return fail(error, 2);
        settings.replies.append(*reply);
    }
    for (const QString &hex : parser.values(replyOption)) {
        const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
        if (bytes.isEmpty() || bytes.size() > Flood::maxDatagram
            || bytes.toHex() != hex.toLower().toLatin1())
            return fail(
                QStringLiteral("--reply must be 1..%1 bytes in hex").arg(Flood::maxDatagram), 2);
        settings.replies.append(bytes);
    }

    const QString mix = parser.isSet(mixOption)
        ? parser.value(mixOption)
        : defaultJunkMix + (settings.replies.isEmpty() ? QString() : defaultReplayWeight);
    const std::optional<Flood::Weights> weights = Flood::parseMix(mix, &error);
    if (!weights)
        return fail(error, 2);
    settings.weights = *weights;
    if (settings.weights.at(std::size_t(Flood::Kind::Replay)) > 0 && settings.replies.isEmpty())
        return fail(
            QStringLiteral("the mix replays replies, but none were given (--device, --reply)"), 2);

    const Flood::Summary summary = Flood::run(settings, &error);
    if (!error.isEmpty())
        return fail(error, 1);
    std::fputs(QJsonDocument(summary.toJson(settings)).toJson(QJsonDocument::Compact).constData(),
               stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return summary.total() == settings.count ? 0 : 3;
}
