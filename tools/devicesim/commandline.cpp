#include "commandline.h"

#include "addressrules.h"
#include "devicelistbuilder.h"
#include "optionnumber.h"
#include "sntpport.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

std::optional<SimulatorSettings> CommandLine::parse(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulates network time server devices on the local IPv4 segment.\n"
        "Every device answers discovery probes and accepts the set-time and settings\n"
        "commands, the way the real devices do.  Devices with the ntp flag on also answer\n"
        "SNTP requests (RFC 4330) on their address, from their own clock: this machine's\n"
        "clock plus the device's offset, which a set-time command moves.  Device addresses\n"
        "must already be configured on a local interface.  Events go to stdout, one JSON\n"
        "object a line, each stamped with the monotonic clock in ms (monotonic_ms).\n"
        "Exit status: 0 after SIGTERM or SIGINT, 1 if a socket cannot be bound,\n"
        "2 for bad options."));
    parser.addHelpOption();
    parser.addVersionOption();

    const QCommandLineOption deviceOption(
        QStringLiteral("device"),
        QStringLiteral(
            "Adds a device described by comma-separated key=value pairs: name, ip (required), "
            "eeprom (default: ip), serial, uptime (hours), ntp, mbtcp, melsec, gps "
            "(flag bytes 0..255; a flag not given is 0). Its time service (with ntp on): "
            "offset (seconds its clock starts ahead of this machine's, fractions and "
            "negative values allowed; default 0), stratum (0..255, default 1; 16 = not "
            "synchronised), leap (leap indicator 0..3, default 0; 3 = not synchronised), "
            "kiss (a kiss code such as RATE: every answer is a kiss-of-death, stratum 0), "
            "sntp_delay (ms before it answers, default 0), sntp (0: never answers SNTP; "
            "default 1). commands=0: it logs commands but ignores them. Repeatable."),
        QStringLiteral("KEY=VALUE,..."));
    const QCommandLineOption configOption(
        QStringLiteral("config"),
        QStringLiteral("Adds the devices of a JSON file {\"devices\":[{\"name\":..., "
                       "\"ip\":..., ...}]}, same keys as --device."),
        QStringLiteral("FILE"));
    const QCommandLineOption countOption(
        QStringLiteral("count"),
        QStringLiteral("Adds N generated devices DEV-0001... on consecutive addresses "
                       "(host bytes 0 and 255 skipped)."),
        QStringLiteral("N"));
    const QCommandLineOption firstIpOption(
        QStringLiteral("first-ip"),
        QStringLiteral("First address for --count (default 10.77.1.1)."), QStringLiteral("A.B.C.D"),
        QStringLiteral("10.77.1.1"));
    const QCommandLineOption probePortOption(
        QStringLiteral("probe-port"), QStringLiteral("UDP port probes arrive on (default 4800)."),
        QStringLiteral("PORT"), QStringLiteral("4800"));
    const QCommandLineOption devicePortOption(
        QStringLiteral("device-port"),
        QStringLiteral("UDP port replies go to and commands arrive on "
                       "(default 7800)."),
        QStringLiteral("PORT"), QStringLiteral("7800"));
    const QCommandLineOption sntpPortOption(
        QStringLiteral("sntp-port"),
        QStringLiteral("UDP port SNTP requests arrive on (default %1; 0: no device serves "
                       "SNTP).")
            .arg(Sntp::port),
        QStringLiteral("PORT"), QString::number(Sntp::port));
    const QCommandLineOption replyAddressOption(
        QStringLiteral("reply-address"),
        QStringLiteral("Where replies are sent (default 255.255.255.255)."), QStringLiteral("ADDR"),
        QStringLiteral("255.255.255.255"));
    const QCommandLineOption maxDelayOption(
        QStringLiteral("max-delay"),
        QStringLiteral("Each device answers each probe after a random 0..MS ms; "
                       "0 (the default) answers at once, all devices in one burst."),
        QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"),
                                          QStringLiteral("Copies of its reply each device sends "
                                                         "per probe (default 1)."),
                                          QStringLiteral("K"), QStringLiteral("1"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Seed for the answer delays "
                                                       "(default: random)."),
                                        QStringLiteral("N"));
    const QCommandLineOption hourOption(QStringLiteral("hour-ms"),
                                        QStringLiteral("Length of an uptime hour, to let tests "
                                                       "watch uptime advance (default 3600000)."),
                                        QStringLiteral("MS"), QStringLiteral("3600000"));
    parser.addOptions({ deviceOption, configOption, countOption, firstIpOption, probePortOption,
                        devicePortOption, sntpPortOption, replyAddressOption, maxDelayOption,
                        repeatOption, seedOption, hourOption });

    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument \"%1\"")
                     .arg(parser.positionalArguments().constFirst());
        return std::nullopt;
    }

    SimulatorSettings settings;
    const auto number = [&](const QCommandLineOption &option, qint64 minimum, qint64 maximum) {
        const auto reading
            = OptionNumber::integer(parser, option.names().constFirst(), minimum, maximum);
        if (!reading)
            *error = reading.refusal;
        return reading.value;
    };
    const auto probePort = number(probePortOption, 1, 65535);
    const auto devicePort = probePort ? number(devicePortOption, 1, 65535) : std::nullopt;
    const auto sntpPort = devicePort ? number(sntpPortOption, 0, 65535) : std::nullopt;
    const auto maxDelay = sntpPort ? number(maxDelayOption, 0, 600000) : std::nullopt;
    const auto repeat = maxDelay ? number(repeatOption, 1, 100) : std::nullopt;
    const auto hour = repeat ? number(hourOption, 1, 1000LL * 3600 * 24 * 24) : std::nullopt;
    if (!hour)
        return std::nullopt;
    settings.probePort = quint16(*probePort);
    settings.devicePort = quint16(*devicePort);
    settings.sntpPort = quint16(*sntpPort);
    settings.maxDelayMs = int(*maxDelay);
    settings.repeat = int(*repeat);
    settings.hourMs = int(*hour);
    if (parser.isSet(seedOption)) {
        const auto seed = number(seedOption, 0, 0xFFFFFFFFLL);
        if (!seed)
            return std::nullopt;
        settings.seed = quint32(*seed);
        settings.seeded = true;
    }
    const auto replyAddress = AddressRules::parse(parser.value(replyAddressOption));
    if (!replyAddress) {
        *error = QStringLiteral("--reply-address must be a dotted IPv4 address");
        return std::nullopt;
    }
    settings.replyAddress = *replyAddress;

    DeviceListBuilder builder;
    for (const QString &path : parser.values(configOption)) {
        if (!builder.addConfigFile(path, error))
            return std::nullopt;
    }
    for (const QString &fields : parser.values(deviceOption)) {
        if (!builder.addFields(fields, error))
            return std::nullopt;
    }
    if (parser.isSet(countOption)) {
        const auto count = number(countOption, 1, 100000);
        if (!count)
            return std::nullopt;
        const auto first = AddressRules::parse(parser.value(firstIpOption));
        if (!first) {
            *error = QStringLiteral("--first-ip must be a dotted IPv4 address");
            return std::nullopt;
        }
        if (!builder.addGenerated(int(*count), *first, error))
            return std::nullopt;
    }
    if (builder.devices().isEmpty()) {
        *error = QStringLiteral("no devices: use --device, --config or --count");
        return std::nullopt;
    }
    settings.devices = builder.devices();
    return settings;
}
