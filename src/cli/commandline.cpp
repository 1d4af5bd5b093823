#include "commandline.h"

#include "addressrules.h"
#include "optionvalue.h"
#include "platform.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>

#include <algorithm>

namespace CommandLine {

namespace {

    // A monitoring plugin's own deadline unless --deadline is given: below the 60 s after which
    // Nagios, Icinga 2 and Naemon kill a check, with room for a busy host.
    constexpr int defaultDeadlineSeconds = 50;

    const QString program = QStringLiteral("setuptool-cli");

    QString replyBufferHelp()
    {
        const QString cap = Platform::receiveBufferCap(0).setting;
        return QStringLiteral("Receive buffer to ask for on the reply port, bytes as "
                              "setsockopt(SO_RCVBUF) takes them (default 4194304%1).")
            .arg(cap.isEmpty() ? QString()
                               : QStringLiteral("; the kernel grants at most twice %1").arg(cap));
    }

    const char exitStatuses[]
        = "\nExit status:\n"
          "  0  success (with --verify: the check passed)\n"
          "  1  verify failed: the device showed the command did not take "
          "effect\n"
          "  2  bad usage, or a new address refused without --force\n"
          "  3  no device, or more than one, matches DEVICE\n"
          "  4  cannot verify: NTP off on the device, or no answer to the "
          "check\n"
          "  5  network unusable: no IPv4 address, port 7800 held by another\n"
          "     program, a datagram that could not be sent\n"
          "  6  apply: the plan has faults, nothing was sent; plan: a device could\n"
          "     not be given an address (the plan holds the others)\n"
          "  7  sent, not logged: a command went out whose --log line could not be\n"
          "     written (each such command is named on stderr)\n"
          "  8  the results could not be written to stdout (a full disk; also,\n"
          "     without a message, a reader that closed the pipe)\n"
          "apply: 1 a line failed or was skipped (--skip-bad).\n"
          "check: 0 every device with NTP on answered synchronised, 1 a device\n"
          "  answered unsynchronised, 3 no device with NTP on or an expected one\n"
          "  missing, 4 a device did not answer. With --warn/--crit: 0 OK,\n"
          "  1 WARNING, 2 CRITICAL, 3 UNKNOWN.\n";

    const char overview[]
        = "Finds and sets up network time server devices on the local IPv4 segments.\n"
          "\n"
          "Commands:\n"
          "  scan                        list the devices that answer a probe\n"
          "  set-time DEVICE             set the device's clock to this workstation's time\n"
          "  set-address DEVICE A.B.C.D  store a new address; the device takes it at its\n"
          "                              next restart\n"
          "  check                       read every device's clock over SNTP; with\n"
          "                              --warn/--crit, a monitoring plugin\n"
          "  plan --range FIRST-LAST     write a commissioning plan (CSV) giving every\n"
          "                              device an address of the range\n"
          "  apply PLAN                  carry out a plan: check it whole, send, verify\n"
          "  help [COMMAND]              this text, or a command's options\n"
          "\n"
          "DEVICE is a serial, a current address, SERIAL@ADDRESS or a name.\n"
          "'setuptool-cli COMMAND --help' lists the command's options. Results go to stdout,\n"
          "messages to stderr.";

    Parsed usageError(const QString &message, const QString &command = QString())
    {
        const QString help = command.isEmpty()
            ? program + QStringLiteral(" --help")
            : program + QLatin1Char(' ') + command + QStringLiteral(" --help");
        return { std::nullopt, exitCode(ExitStatus::Usage),
                 QStringLiteral("%1: %2\nTry '%3'.\n").arg(program, message, help), false };
    }

    Parsed shown(const QString &text)
    {
        return { std::nullopt, exitCode(ExitStatus::Success), text, true };
    }

    enum class Command { Scan, SetTime, SetAddress, Check, Plan, Apply };

    struct CommandInfo
    {
        Command command;
        QStringList positionals; // DEVICE, ADDRESS, PLAN
        QString description;
    };

    std::optional<CommandInfo> commandNamed(const QString &name)
    {
        if (name == QLatin1String("scan"))
            return CommandInfo { Command::Scan,
                                 {},
                                 QStringLiteral("Probes the segments of every IPv4 address of "
                                                "this machine (or only --from) and\nlists every "
                                                "device that answers, with its health notes.") };
        if (name == QLatin1String("set-time"))
            return CommandInfo {
                Command::SetTime,
                { QStringLiteral("DEVICE") },
                QStringLiteral("Finds DEVICE with a scan and sets its clock to this "
                               "workstation's (UTC seconds)\nwith the command the window's Set "
                               "Time sends. --verify then reads the device's\nclock over SNTP "
                               "(its port 123).")
            };
        if (name == QLatin1String("set-address"))
            return CommandInfo {
                Command::SetAddress,
                { QStringLiteral("DEVICE"), QStringLiteral("ADDRESS") },
                QStringLiteral("Finds DEVICE with a scan and stores ADDRESS in it with the "
                               "command the window's\nSend sends. The device keeps its current "
                               "address until its next restart.\n--verify then scans again for "
                               "the stored address.")
            };
        if (name == QLatin1String("check"))
            return CommandInfo {
                Command::Check,
                {},
                QStringLiteral("Scans, then reads the clock of every device with NTP on over SNTP "
                               "(its port 123)\nand reports offset, delay, stratum and leap "
                               "indicator, and a summary. With\n--warn and --crit it is a "
                               "monitoring plugin (Nagios, Icinga): a status line\nwith "
                               "performance data, exit 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN "
                               "(bad\noptions included).")
            };
        if (name == QLatin1String("plan"))
            return CommandInfo {
                Command::Plan,
                {},
                QStringLiteral("Scans and writes a commissioning plan to stdout as CSV: one line "
                               "per device\n(serial, name, current address, stored address, new "
                               "address, set_time),\nnew addresses taken in order from --range, "
                               "skipping those in use on the\nsegment. A device that already "
                               "stores an address of the range keeps it.\nEdit it, then carry it "
                               "out with apply.")
            };
        if (name == QLatin1String("apply"))
            return CommandInfo {
                Command::Apply,
                { QStringLiteral("PLAN") },
                QStringLiteral("Scans and checks the whole plan before sending anything: any "
                               "fault (an\nunknown or repeated serial, an address given twice, "
                               "in use, outside the\ndevice's subnet or refused) stops it with "
                               "every fault listed. Then it sends,\nat a bounded rate, what is "
                               "not yet in effect, and verifies every line with\none rescan (and "
                               "SNTP for the clocks it set). Applying a plan again sends\nnothing "
                               "for lines already in effect.")
            };
        return std::nullopt;
    }

    QString positionalHelp(const QString &name)
    {
        if (name == QLatin1String("DEVICE"))
            return QStringLiteral("A serial, a current address, SERIAL@ADDRESS or a name.");
        if (name == QLatin1String("ADDRESS"))
            return QStringLiteral("The new address, four decimal octets.");
        return QStringLiteral("The plan, a CSV file as plan writes it; - reads stdin.");
    }

    bool commandsOneDevice(Command command)
    {
        return command == Command::SetTime || command == Command::SetAddress;
    }

    // The options more than one command has, each declared once.
    QCommandLineOption dryRunOption(Command command)
    {
        // What a dry run still sends reads and changes nothing on a device; it is said all
        // the same.
        switch (command) {
        case Command::Apply:
            return { QStringLiteral("dry-run"),
                     QStringLiteral("Check the plan and print what would be sent; send no "
                                    "command. Still sent: the scan's probes, SNTP requests to "
                                    "the devices whose lines set the clock, and for each new "
                                    "address a datagram to its UDP port 9 and the kernel's ARP "
                                    "requests, to see whether another host holds it.") };
        case Command::SetAddress:
            return { QStringLiteral("dry-run"),
                     QStringLiteral("Print the command's bytes, plain and as sent, and send no "
                                    "command. Still sent: the scan's probes that find DEVICE, "
                                    "and a datagram to UDP port 9 of ADDRESS and the kernel's "
                                    "ARP requests, to see whether another host holds it.") };
        default:
            return { QStringLiteral("dry-run"),
                     QStringLiteral("Print the command's bytes, plain and as sent, and send no "
                                    "command. Still sent: the scan's probes that find "
                                    "DEVICE.") };
        }
    }

    QCommandLineOption logOption()
    {
        return { QStringLiteral("log"),
                 QStringLiteral("Append one JSON line per command sent to FILE, with what its "
                                "verification found."),
                 QStringLiteral("FILE") };
    }

    QCommandLineOption toleranceOption(Command command)
    {
        return { QStringLiteral("tolerance"),
                 command == Command::Apply
                     ? QStringLiteral("A clock within this many seconds of ours is right "
                                      "(default 2).")
                     : QStringLiteral("--verify passes when the device's clock is within this "
                                      "many seconds of ours (default 2)."),
                 QStringLiteral("SECONDS"), QStringLiteral("2") };
    }

    void addCommandOptions(QCommandLineParser &parser, const CommandInfo &info)
    {
        parser.setApplicationDescription(info.description);
        for (const QString &name : info.positionals)
            parser.addPositionalArgument(name, positionalHelp(name));
        parser.addOptions({
            { QStringLiteral("from"),
              QStringLiteral("Probe only from ADDRESS, one of this machine's IPv4 addresses."),
              QStringLiteral("ADDRESS") },
            { QStringLiteral("probes"), QStringLiteral("Probes to send (default 1)."),
              QStringLiteral("N"), QStringLiteral("1") },
            { QStringLiteral("interval"), QStringLiteral("Between probes, ms (default 1000)."),
              QStringLiteral("MS"), QStringLiteral("1000") },
            { QStringLiteral("wait"),
              QStringLiteral("After the last probe, wait this long for replies, ms (default "
                             "1000)."),
              QStringLiteral("MS"), QStringLiteral("1000") },
            { QStringLiteral("reply-buffer"), replyBufferHelp(), QStringLiteral("BYTES") },
        });
        if (info.command != Command::Plan)
            parser.addOption(
                { QStringLiteral("format"),
                  info.command == Command::Scan ? QStringLiteral("table (default), json or csv.")
                      : info.command == Command::Check ? QStringLiteral("table (default) or json.")
                                                       : QStringLiteral("text (default) or json."),
                  QStringLiteral("FORMAT") });
        if (commandsOneDevice(info.command))
            parser.addOptions({
                dryRunOption(info.command),
                { QStringLiteral("verify"),
                  QStringLiteral("Check afterwards that the command took effect.") },
                logOption(),
            });
        if (info.command == Command::Plan)
            parser.addOptions({
                { QStringLiteral("range"),
                  QStringLiteral("The addresses to plan, first and last included (required)."),
                  QStringLiteral("A.B.C.D-E.F.G.H") },
                { QStringLiteral("set-time"),
                  QStringLiteral("Plan every device's clock to be set as well (set_time yes).") },
            });
        if (info.command == Command::Apply)
            parser.addOptions({
                dryRunOption(info.command),
                { QStringLiteral("skip-bad"),
                  QStringLiteral("Send the sound lines of a plan with faults, skipping the "
                                 "others.") },
                { QStringLiteral("rate"),
                  QStringLiteral("Commands sent per second at most (default 200)."),
                  QStringLiteral("N"), QStringLiteral("200") },
                toleranceOption(info.command),
                logOption(),
            });
        if (info.command == Command::SetTime)
            parser.addOption(toleranceOption(info.command));
        if (info.command == Command::SetAddress)
            parser.addOption({ QStringLiteral("force"),
                               QStringLiteral("Send an address that would otherwise be refused: "
                                              "0.0.0.0, broadcast, multicast, loopback, "
                                              "reserved, the subnet's network or broadcast "
                                              "address, or one outside the subnet.") });
        if (info.command == Command::Check)
            parser.addOptions({
                { QStringLiteral("timeout"),
                  QStringLiteral("Wait this long for each SNTP answer, ms; one retry follows "
                                 "(default 1000)."),
                  QStringLiteral("MS"), QStringLiteral("1000") },
                { QStringLiteral("concurrency"),
                  QStringLiteral("Devices asked at the same time (default: as many as --rate "
                                 "keeps busy for two --timeouts, within the sockets this "
                                 "process may open)."),
                  QStringLiteral("N") },
                { QStringLiteral("rate"),
                  QStringLiteral("Devices asked per second at most (default 500)."),
                  QStringLiteral("N"), QStringLiteral("500") },
                { { QStringLiteral("w"), QStringLiteral("warn") },
                  QStringLiteral("Monitoring: WARNING when a clock's offset from ours, in "
                                 "seconds, is outside RANGE (0.5: more than 0.5 s; also 1:, "
                                 "~:1, 1:2, @1:2). Needs --crit."),
                  QStringLiteral("RANGE") },
                { { QStringLiteral("c"), QStringLiteral("crit") },
                  QStringLiteral("Monitoring: CRITICAL when a clock's offset is outside RANGE "
                                 "(plain numbers: not less than --warn)."),
                  QStringLiteral("RANGE") },
                { { QStringLiteral("t"), QStringLiteral("deadline") },
                  QStringLiteral("End the whole check after this long, scan included, and "
                                 "report the devices not read yet as not answering (default "
                                 "50 with --warn/--crit, none otherwise)."),
                  QStringLiteral("SECONDS") },
                { QStringLiteral("expect"),
                  QStringLiteral("Devices that must answer, each as DEVICE is given (serial, "
                                 "address or name), separated by commas; may be repeated."),
                  QStringLiteral("LIST") },
                { QStringLiteral("expect-file"),
                  QStringLiteral("Devices that must answer, one a line ('#' starts a comment "
                                 "line)."),
                  QStringLiteral("FILE") },
                { QStringLiteral("min-devices"),
                  QStringLiteral("At least N devices must answer the scan."), QStringLiteral("N") },
            });
    }

    Failure usage(const QString &message)
    {
        return { ExitStatus::Usage, message };
    }

    // How every command scans.
    Expected<Options::Probing> readProbing(const QCommandLineParser &parser)
    {
        const auto probes = OptionValue::integer(parser, QStringLiteral("probes"), 1, 100);
        if (!probes)
            return probes.failure();
        const auto interval = OptionValue::integer(parser, QStringLiteral("interval"), 10, 60000);
        if (!interval)
            return interval.failure();
        const auto wait = OptionValue::integer(parser, QStringLiteral("wait"), 0, 600000);
        if (!wait)
            return wait.failure();
        Options::Probing probing;
        probing.probes = int(*probes);
        probing.intervalMs = int(*interval);
        probing.waitMs = int(*wait);
        if (parser.isSet(QStringLiteral("reply-buffer"))) {
            const auto bytes
                = OptionValue::integer(parser, QStringLiteral("reply-buffer"), 1024, 1 << 30);
            if (!bytes)
                return bytes.failure();
            probing.replyBufferBytes = int(*bytes);
        }
        if (parser.isSet(QStringLiteral("from")))
            probing.from = parser.value(QStringLiteral("from"));
        return probing;
    }

    // scan's --format: table, json or csv; check's: table or json.
    std::optional<Failure> readListFormat(const QCommandLineParser &parser, bool csv,
                                          Options::Format *format)
    {
        if (!parser.isSet(QStringLiteral("format")))
            return std::nullopt;
        const QString name = parser.value(QStringLiteral("format"));
        if (name == QLatin1String("table"))
            *format = Options::Format::Table;
        else if (name == QLatin1String("json"))
            *format = Options::Format::Json;
        else if (csv && name == QLatin1String("csv"))
            *format = Options::Format::Csv;
        else
            return usage(
                csv ? QStringLiteral("--format wants table, json or csv, not \"%1\"").arg(name)
                    : QStringLiteral("--format wants table or json, not \"%1\"").arg(name));
        return std::nullopt;
    }

    // set-time's, set-address's and apply's --format: text or json.
    std::optional<Failure> readTextFormat(const QCommandLineParser &parser, bool *json)
    {
        if (!parser.isSet(QStringLiteral("format")))
            return std::nullopt;
        const QString name = parser.value(QStringLiteral("format"));
        *json = name == QLatin1String("json");
        if (!*json && name != QLatin1String("text"))
            return usage(QStringLiteral("--format wants text or json, not \"%1\"").arg(name));
        return std::nullopt;
    }

    Expected<double> tolerance(const QCommandLineParser &parser)
    {
        return OptionValue::seconds(parser, QStringLiteral("tolerance"), 0, 86400);
    }

    Expected<Options::Device> readDevice(const QCommandLineParser &parser, Command command,
                                         const QStringList &values, const Options::Probing &probing)
    {
        Options::Device options;
        options.kind = command == Command::SetTime ? Options::Device::Kind::SetTime
                                                   : Options::Device::Kind::SetAddress;
        options.probing = probing;
        if (const auto failure = readTextFormat(parser, &options.json))
            return *failure;
        options.device = values.at(0);
        options.dryRun = parser.isSet(QStringLiteral("dry-run"));
        options.verify = parser.isSet(QStringLiteral("verify"));
        options.logPath = parser.value(QStringLiteral("log"));
        if (options.dryRun && options.verify)
            return usage(
                QStringLiteral("--dry-run sends nothing, so there is nothing to --verify"));
        if (command == Command::SetTime) {
            const Expected<double> seconds = tolerance(parser);
            if (!seconds)
                return seconds.failure();
            options.toleranceSeconds = *seconds;
            return options;
        }
        const auto address = AddressRules::parse(values.at(1));
        if (!address)
            return usage(QStringLiteral("\"%1\" is not an IPv4 address: four decimal numbers 0 "
                                        "to 255 separated by dots, without leading zeros, such "
                                        "as 10.77.1.20")
                             .arg(values.at(1)));
        options.newAddress = *address;
        options.force = parser.isSet(QStringLiteral("force"));
        return options;
    }

    Expected<Options::Plan> readPlan(const QCommandLineParser &parser,
                                     const Options::Probing &probing)
    {
        const QString text = parser.value(QStringLiteral("range"));
        if (text.isEmpty())
            return usage(QStringLiteral("plan needs --range, such as --range "
                                        "10.77.1.100-10.77.1.199"));
        const auto range = AddressRules::parseRange(text);
        if (!range)
            return usage(QStringLiteral("--range wants two IPv4 addresses, the lower first, "
                                        "joined by '-' (such as 10.77.1.100-10.77.1.199), not "
                                        "\"%1\"")
                             .arg(text));
        Options::Plan options;
        options.probing = probing;
        options.rangeFirst = range->first;
        options.rangeLast = range->second;
        options.setTime = parser.isSet(QStringLiteral("set-time"));
        return options;
    }

    Expected<Options::Apply> readApply(const QCommandLineParser &parser, const QStringList &values,
                                       const Options::Probing &probing)
    {
        Options::Apply options;
        options.probing = probing;
        if (const auto failure = readTextFormat(parser, &options.json))
            return *failure;
        options.planPath = values.at(0);
        options.dryRun = parser.isSet(QStringLiteral("dry-run"));
        options.skipBad = parser.isSet(QStringLiteral("skip-bad"));
        options.logPath = parser.value(QStringLiteral("log"));
        const auto rate = OptionValue::integer(parser, QStringLiteral("rate"), 1, 10000);
        if (!rate)
            return rate.failure();
        const Expected<double> seconds = tolerance(parser);
        if (!seconds)
            return seconds.failure();
        options.ratePerSecond = int(*rate);
        options.toleranceSeconds = *seconds;
        return options;
    }

    // --expect, --expect-file and --min-devices.
    std::optional<Failure> readExpectations(const QCommandLineParser &parser,
                                            Options::Check *options)
    {
        for (const QString &list : parser.values(QStringLiteral("expect")))
            options->expected += list.split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (parser.isSet(QStringLiteral("expect-file"))) {
            const QString path = parser.value(QStringLiteral("expect-file"));
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
                return usage(QStringLiteral("--expect-file: cannot read %1: %2")
                                 .arg(path, file.errorString()));
            // One device a line; blank lines and those starting with '#' are skipped.
            for (const QByteArray &line : file.readAll().split('\n')) {
                const QString entry = QString::fromUtf8(line).trimmed();
                if (!entry.isEmpty() && !entry.startsWith(QLatin1Char('#')))
                    options->expected.append(entry);
            }
            if (file.error() != QFileDevice::NoError)
                return usage(QStringLiteral("--expect-file: cannot read %1: %2")
                                 .arg(path, file.errorString()));
        }
        for (QString &entry : options->expected)
            entry = entry.trimmed();
        options->expected.removeAll(QString());
        options->expected.removeDuplicates();
        if (parser.isSet(QStringLiteral("min-devices"))) {
            const auto minimum
                = OptionValue::integer(parser, QStringLiteral("min-devices"), 1, 100000);
            if (!minimum)
                return minimum.failure();
            options->minDevices = int(*minimum);
        }
        return std::nullopt;
    }

    Expected<Options::Check> readCheck(const QCommandLineParser &parser,
                                       const Options::Probing &probing)
    {
        Options::Check options;
        options.probing = probing;
        if (const auto failure = readListFormat(parser, false, &options.format))
            return *failure;
        const auto timeout = OptionValue::integer(parser, QStringLiteral("timeout"), 1, 60000);
        if (!timeout)
            return timeout.failure();
        const auto rate = OptionValue::integer(parser, QStringLiteral("rate"), 1, 100000);
        if (!rate)
            return rate.failure();
        options.timeoutMs = int(*timeout);
        options.ratePerSecond = int(*rate);
        if (parser.isSet(QStringLiteral("concurrency"))) {
            const auto concurrency
                = OptionValue::integer(parser, QStringLiteral("concurrency"), 1, 1024);
            if (!concurrency)
                return concurrency.failure();
            options.concurrency = int(*concurrency);
        }
        if (const auto failure = readExpectations(parser, &options))
            return *failure;
        const bool warn = parser.isSet(QStringLiteral("warn"));
        const bool crit = parser.isSet(QStringLiteral("crit"));
        if (warn != crit)
            return usage(QStringLiteral("--warn and --crit go together"));
        if (warn) {
            const auto warnRange
                = PluginRange::parse(parser.value(QStringLiteral("warn")), QStringLiteral("warn"));
            if (!warnRange)
                return warnRange.failure();
            const auto critRange
                = PluginRange::parse(parser.value(QStringLiteral("crit")), QStringLiteral("crit"));
            if (!critRange)
                return critRange.failure();
            // Plain limits nest; ranges may be anything the administrator means.
            const auto warnLimit = warnRange->plainLimit();
            const auto critLimit = critRange->plainLimit();
            if (warnLimit && critLimit && *warnLimit > *critLimit)
                return usage(QStringLiteral("--warn (%1 s) must not exceed --crit (%2 s)")
                                 .arg(*warnLimit)
                                 .arg(*critLimit));
            if (options.format == Options::Format::Json)
                return usage(QStringLiteral("--warn and --crit print a monitoring status line, "
                                            "not --format json"));
            options.warn = *warnRange;
            options.crit = *critRange;
            options.deadlineMs = defaultDeadlineSeconds * 1000;
        }
        if (parser.isSet(QStringLiteral("deadline"))) {
            const auto deadline = OptionValue::seconds(parser, QStringLiteral("deadline"), 1, 3600);
            if (!deadline)
                return deadline.failure();
            options.deadlineMs = int(*deadline * 1000);
        }
        // The scan's length is known before it starts; the clocks are read in what is left.
        const Options::Probing &scan = options.probing;
        const qint64 scanMs = qint64(scan.probes - 1) * scan.intervalMs + scan.waitMs;
        if (options.deadlineMs && *options.deadlineMs <= scanMs)
            return usage(QStringLiteral("--deadline (%1 s) leaves no time after the scan, which "
                                        "takes %2 s (--probes, --interval, --wait)")
                             .arg(*options.deadlineMs / 1000.0)
                             .arg(scanMs / 1000.0));
        return options;
    }

    // The command's options, read after the scan options.
    Expected<Invocation> readCommand(const QCommandLineParser &parser, Command command,
                                     const QStringList &values)
    {
        const Expected<Options::Probing> probing = readProbing(parser);
        if (!probing)
            return probing.failure();
        switch (command) {
        case Command::Scan: {
            Options::Scan options { *probing, Options::Format::Table };
            if (const auto failure = readListFormat(parser, true, &options.format))
                return *failure;
            return Invocation(options);
        }
        case Command::SetTime:
        case Command::SetAddress: {
            const auto options = readDevice(parser, command, values, *probing);
            return options ? Expected<Invocation>(Invocation(*options)) : options.failure();
        }
        case Command::Check: {
            const auto options = readCheck(parser, *probing);
            return options ? Expected<Invocation>(Invocation(*options)) : options.failure();
        }
        case Command::Plan: {
            const auto options = readPlan(parser, *probing);
            return options ? Expected<Invocation>(Invocation(*options)) : options.failure();
        }
        case Command::Apply:
            break;
        }
        const auto options = readApply(parser, values, *probing);
        return options ? Expected<Invocation>(Invocation(*options)) : options.failure();
    }

} // namespace

Parsed parse(const QStringList &arguments)
{
    QCommandLineParser global;
    global.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption helpOption({ QStringLiteral("h"), QStringLiteral("help") },
                                        QStringLiteral("Show this help."));
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Show the version."));
    global.addOption(helpOption);
    global.addOption(versionOption);
    global.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("scan, set-time, set-address, check, plan, apply or help"),
        QStringLiteral("COMMAND [OPTIONS]"));
    global.setApplicationDescription(QString::fromLatin1(overview));
    if (!global.parse(arguments))
        return usageError(global.errorText());
    if (global.isSet(versionOption))
        return shown(program + QStringLiteral(" " SETUPTOOL_VERSION "\n"));
    QStringList rest = global.positionalArguments();
    if (global.isSet(helpOption) || (!rest.isEmpty() && rest.first() == QLatin1String("help"))) {
        if (rest.size() < 2)
            return shown(global.helpText() + QLatin1String(exitStatuses));
        rest = { rest.at(1), QStringLiteral("--help") };
    }
    if (rest.isEmpty())
        return usageError(
            QStringLiteral("no command given (scan, set-time, set-address, check, plan, apply)"));

    const QString name = rest.takeFirst();
    const std::optional<CommandInfo> info = commandNamed(name);
    if (!info)
        return usageError(
            QStringLiteral(
                "unknown command \"%1\" (scan, set-time, set-address, check, plan, apply, help)")
                .arg(name));

    QCommandLineParser parser;
    parser.addOption(helpOption);
    addCommandOptions(parser, *info);
    if (!parser.parse(QStringList { arguments.value(0, program) } + rest))
        return usageError(parser.errorText(), name);
    if (parser.isSet(helpOption)) {
        // The command is not among this parser's arguments; its usage line names it.
        QString help = parser.helpText();
        help.replace(QStringLiteral(" [options]"),
                     QLatin1Char(' ') + name + QStringLiteral(" [options]"));
        return shown(help + QLatin1String(exitStatuses));
    }
    const QStringList values = parser.positionalArguments();
    if (values.size() != info->positionals.size())
        return usageError(info->positionals.isEmpty()
                              ? QStringLiteral("unexpected argument \"%1\"").arg(values.value(0))
                              : QStringLiteral("%1 wants %2, got %3 argument(s)")
                                    .arg(name, info->positionals.join(QStringLiteral(" and ")))
                                    .arg(values.size()),
                          name);

    const Expected<Invocation> invocation = readCommand(parser, info->command, values);
    if (!invocation)
        return usageError(invocation.failure().message, name);
    return { *invocation, 0, QString(), true };
}

} // namespace CommandLine
