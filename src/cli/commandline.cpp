#include "commandline.h"

#include "addressrules.h"
#include "exitstatus.h"
#include "pluginstatus.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <algorithm>

namespace CommandLine {

namespace {

    const QString program = QStringLiteral("setuptool-cli");

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
          "apply: 1 a line failed or was skipped (--skip-bad).\n"
          "check: 0 every device with NTP on answered synchronised, 1 a device\n"
          "  answered unsynchronised, 3 no device with NTP on, 4 a device did not\n"
          "  answer. With --warn/--crit: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.\n";

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

    std::optional<qint64> integer(const QCommandLineParser &parser, const QString &name,
                                  qint64 minimum, qint64 maximum, QString *error)
    {
        bool ok = false;
        const QString text = parser.value(name);
        const qint64 value = text.toLongLong(&ok);
        if (!ok || value < minimum || value > maximum || text.trimmed() != text) {
            *error = QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                         .arg(name)
                         .arg(minimum)
                         .arg(maximum)
                         .arg(text);
            return std::nullopt;
        }
        return value;
    }

    struct CommandInfo
    {
        Invocation::Command command;
        QStringList positionals; // DEVICE, ADDRESS, PLAN
        QString description;
    };

    std::optional<CommandInfo> commandNamed(const QString &name)
    {
        if (name == QLatin1String("scan"))
            return CommandInfo { Invocation::Command::Scan,
                                 {},
                                 QStringLiteral("Probes the segments of every IPv4 address of "
                                                "this machine (or only --from) and\nlists every "
                                                "device that answers, with its health notes.") };
        if (name == QLatin1String("set-time"))
            return CommandInfo {
                Invocation::Command::SetTime,
                { QStringLiteral("DEVICE") },
                QStringLiteral("Finds DEVICE with a scan and sets its clock to this "
                               "workstation's (UTC seconds)\nwith the command the window's Set "
                               "Time sends. --verify then reads the device's\nclock over SNTP "
                               "(its port 123).")
            };
        if (name == QLatin1String("set-address"))
            return CommandInfo {
                Invocation::Command::SetAddress,
                { QStringLiteral("DEVICE"), QStringLiteral("ADDRESS") },
                QStringLiteral("Finds DEVICE with a scan and stores ADDRESS in it with the "
                               "command the window's\nSend sends. The device keeps its current "
                               "address until its next restart.\n--verify then scans again for "
                               "the stored address.")
            };
        if (name == QLatin1String("check"))
            return CommandInfo {
                Invocation::Command::Check,
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
                Invocation::Command::Plan,
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
                Invocation::Command::Apply,
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

    bool commandsOneDevice(Invocation::Command command)
    {
        return command == Invocation::Command::SetTime
            || command == Invocation::Command::SetAddress;
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
            { QStringLiteral("reply-buffer"),
              QStringLiteral("Receive buffer to ask for on the reply port, bytes as "
                             "setsockopt(SO_RCVBUF) takes them (default 4194304; the kernel "
                             "grants at most twice net.core.rmem_max)."),
              QStringLiteral("BYTES") },
        });
        if (info.command != Invocation::Command::Plan)
            parser.addOption({ QStringLiteral("format"),
                               info.command == Invocation::Command::Scan
                                   ? QStringLiteral("table (default), json or csv.")
                                   : info.command == Invocation::Command::Check
                                   ? QStringLiteral("table (default) or json.")
                                   : QStringLiteral("text (default) or json."),
                               QStringLiteral("FORMAT") });
        if (commandsOneDevice(info.command))
            parser.addOptions({
                { QStringLiteral("dry-run"),
                  QStringLiteral("Print the command's bytes, plain and as sent, and send nothing "
                                 "(the scan that finds DEVICE still probes).") },
                { QStringLiteral("verify"),
                  QStringLiteral("Check afterwards that the command took effect.") },
                { QStringLiteral("log"),
                  QStringLiteral("Append one JSON line per command sent to FILE."),
                  QStringLiteral("FILE") },
            });
        if (info.command == Invocation::Command::Plan)
            parser.addOptions({
                { QStringLiteral("range"),
                  QStringLiteral("The addresses to plan, first and last included (required)."),
                  QStringLiteral("A.B.C.D-E.F.G.H") },
                { QStringLiteral("set-time"),
                  QStringLiteral("Plan every device's clock to be set as well (set_time yes).") },
            });
        if (info.command == Invocation::Command::Apply)
            parser.addOptions({
                { QStringLiteral("dry-run"),
                  QStringLiteral("Check the plan and print what would be sent; send no "
                                 "command (the scan still probes, and the clocks of set_time "
                                 "lines are read over SNTP).") },
                { QStringLiteral("skip-bad"),
                  QStringLiteral("Send the sound lines of a plan with faults, skipping the "
                                 "others.") },
                { QStringLiteral("rate"),
                  QStringLiteral("Commands sent per second at most (default 200)."),
                  QStringLiteral("N"), QStringLiteral("200") },
                { QStringLiteral("tolerance"),
                  QStringLiteral("A clock within this many seconds of ours is right (default "
                                 "2)."),
                  QStringLiteral("SECONDS"), QStringLiteral("2") },
                { QStringLiteral("log"),
                  QStringLiteral("Append one JSON line per command sent to FILE."),
                  QStringLiteral("FILE") },
            });
        if (info.command == Invocation::Command::SetTime)
            parser.addOption({ QStringLiteral("tolerance"),
                               QStringLiteral("--verify passes when the device's clock is within "
                                              "this many seconds of ours (default 2)."),
                               QStringLiteral("SECONDS"), QStringLiteral("2") });
        if (info.command == Invocation::Command::SetAddress)
            parser.addOption({ QStringLiteral("force"),
                               QStringLiteral("Send an address that would otherwise be refused: "
                                              "0.0.0.0, broadcast, multicast, loopback, "
                                              "reserved, the subnet's network or broadcast "
                                              "address, or one outside the subnet.") });
        if (info.command == Invocation::Command::Check)
            parser.addOptions({
                { QStringLiteral("timeout"),
                  QStringLiteral("Wait this long for each SNTP answer, ms; one retry follows "
                                 "(default 1000)."),
                  QStringLiteral("MS"), QStringLiteral("1000") },
                { QStringLiteral("concurrency"),
                  QStringLiteral("Devices asked at the same time (default 64)."),
                  QStringLiteral("N"), QStringLiteral("64") },
                { QStringLiteral("rate"),
                  QStringLiteral("Devices asked per second at most (default 500)."),
                  QStringLiteral("N"), QStringLiteral("500") },
                { QStringLiteral("warn"),
                  QStringLiteral("Monitoring: WARNING when a clock is this many seconds or more "
                                 "off ours. Needs --crit."),
                  QStringLiteral("SECONDS") },
                { QStringLiteral("crit"),
                  QStringLiteral("Monitoring: CRITICAL when a clock is this many seconds or "
                                 "more off ours (not less than --warn)."),
                  QStringLiteral("SECONDS") },
            });
    }

    // The options every command has: how to scan, and the output format.
    bool readScanOptions(const QCommandLineParser &parser, Invocation *invocation, QString *error)
    {
        const auto probes = integer(parser, QStringLiteral("probes"), 1, 100, error);
        const auto interval
            = probes ? integer(parser, QStringLiteral("interval"), 10, 60000, error) : std::nullopt;
        const auto wait
            = interval ? integer(parser, QStringLiteral("wait"), 0, 600000, error) : std::nullopt;
        if (!wait)
            return false;
        invocation->scan.probes = int(*probes);
        invocation->scan.intervalMs = int(*interval);
        invocation->scan.waitMs = int(*wait);
        if (parser.isSet(QStringLiteral("reply-buffer"))) {
            const auto bytes
                = integer(parser, QStringLiteral("reply-buffer"), 1024, 1 << 30, error);
            if (!bytes)
                return false;
            invocation->scan.replyBufferBytes = int(*bytes);
            invocation->replyBufferGiven = true;
        }
        if (parser.isSet(QStringLiteral("from")))
            invocation->from = parser.value(QStringLiteral("from"));

        if (invocation->command == Invocation::Command::Plan
            || !parser.isSet(QStringLiteral("format")))
            return true;
        const QString format = parser.value(QStringLiteral("format"));
        if (invocation->command == Invocation::Command::Check) {
            const auto known = OutputWriter::formatNamed(format);
            if (known && *known != OutputWriter::Format::Csv)
                invocation->format = *known;
            else
                *error = QStringLiteral("--format wants table or json, not \"%1\"").arg(format);
            return error->isEmpty();
        }
        if (invocation->command == Invocation::Command::Scan) {
            const auto known = OutputWriter::formatNamed(format);
            if (known)
                invocation->format = *known;
            else
                *error
                    = QStringLiteral("--format wants table, json or csv, not \"%1\"").arg(format);
            return known.has_value();
        }
        // set-time, set-address and apply.
        invocation->json = format == QLatin1String("json");
        if (!invocation->json && format != QLatin1String("text")) {
            *error = QStringLiteral("--format wants text or json, not \"%1\"").arg(format);
            return false;
        }
        return true;
    }

    // What set-time and set-address take beside the scan options.
    bool readDeviceOptions(const QCommandLineParser &parser, const QStringList &values,
                           Invocation *invocation, QString *error)
    {
        invocation->device = values.at(0);
        invocation->dryRun = parser.isSet(QStringLiteral("dry-run"));
        invocation->verify = parser.isSet(QStringLiteral("verify"));
        invocation->logPath = parser.value(QStringLiteral("log"));
        if (invocation->dryRun && invocation->verify) {
            *error = QStringLiteral("--dry-run sends nothing, so there is nothing to --verify");
            return false;
        }
        if (invocation->command == Invocation::Command::SetTime) {
            bool ok = false;
            const QString text = parser.value(QStringLiteral("tolerance"));
            invocation->toleranceSeconds = text.toDouble(&ok);
            if (!ok || invocation->toleranceSeconds < 0 || invocation->toleranceSeconds > 86400) {
                *error = QStringLiteral("--tolerance wants seconds from 0 to 86400, not \"%1\"")
                             .arg(text);
                return false;
            }
            return true;
        }
        const auto address = AddressRules::parse(values.at(1));
        if (!address) {
            *error = QStringLiteral("\"%1\" is not an IPv4 address: four decimal numbers 0 to "
                                    "255 separated by dots, without leading zeros, such as "
                                    "10.77.1.20")
                         .arg(values.at(1));
            return false;
        }
        invocation->newAddress = *address;
        invocation->force = parser.isSet(QStringLiteral("force"));
        return true;
    }

    std::optional<double> seconds(const QCommandLineParser &parser, const QString &name,
                                  QString *error)
    {
        bool ok = false;
        const QString text = parser.value(name);
        const double value = text.toDouble(&ok);
        if (!ok || !(value >= 0 && value <= 86400)) {
            *error
                = QStringLiteral("--%1 wants seconds from 0 to 86400, not \"%2\"").arg(name, text);
            return std::nullopt;
        }
        return value;
    }

    bool readPlanOptions(const QCommandLineParser &parser, Invocation *invocation, QString *error)
    {
        const QString text = parser.value(QStringLiteral("range"));
        if (text.isEmpty()) {
            *error = QStringLiteral("plan needs --range, such as --range "
                                    "10.77.1.100-10.77.1.199");
            return false;
        }
        const auto range = AddressRules::parseRange(text);
        if (!range) {
            *error = QStringLiteral("--range wants two IPv4 addresses, the lower first, joined "
                                    "by '-' (such as 10.77.1.100-10.77.1.199), not \"%1\"")
                         .arg(text);
            return false;
        }
        invocation->rangeFirst = range->first;
        invocation->rangeLast = range->second;
        invocation->planSetTime = parser.isSet(QStringLiteral("set-time"));
        return true;
    }

    bool readApplyOptions(const QCommandLineParser &parser, const QStringList &values,
                          Invocation *invocation, QString *error)
    {
        invocation->planPath = values.at(0);
        invocation->dryRun = parser.isSet(QStringLiteral("dry-run"));
        invocation->skipBad = parser.isSet(QStringLiteral("skip-bad"));
        invocation->logPath = parser.value(QStringLiteral("log"));
        const auto rate = integer(parser, QStringLiteral("rate"), 1, 10000, error);
        const auto tolerance
            = rate ? seconds(parser, QStringLiteral("tolerance"), error) : std::nullopt;
        if (!tolerance)
            return false;
        invocation->ratePerSecond = int(*rate);
        invocation->toleranceSeconds = *tolerance;
        return true;
    }

    // What check takes beside the scan options.
    bool readCheckOptions(const QCommandLineParser &parser, Invocation *invocation, QString *error)
    {
        const auto timeout = integer(parser, QStringLiteral("timeout"), 1, 60000, error);
        const auto concurrency = timeout
            ? integer(parser, QStringLiteral("concurrency"), 1, 1024, error)
            : std::nullopt;
        const auto rate = concurrency ? integer(parser, QStringLiteral("rate"), 1, 100000, error)
                                      : std::nullopt;
        if (!rate)
            return false;
        invocation->check.timeoutMs = int(*timeout);
        invocation->check.concurrency = int(*concurrency);
        invocation->check.ratePerSecond = int(*rate);
        const bool warn = parser.isSet(QStringLiteral("warn"));
        const bool crit = parser.isSet(QStringLiteral("crit"));
        if (!warn && !crit)
            return true;
        if (warn != crit) {
            *error = QStringLiteral("--warn and --crit go together");
            return false;
        }
        invocation->check.warnSeconds = seconds(parser, QStringLiteral("warn"), error);
        invocation->check.critSeconds = invocation->check.warnSeconds
            ? seconds(parser, QStringLiteral("crit"), error)
            : std::nullopt;
        if (!invocation->check.critSeconds)
            return false;
        if (*invocation->check.warnSeconds > *invocation->check.critSeconds) {
            *error = QStringLiteral("--warn (%1 s) must not exceed --crit (%2 s)")
                         .arg(*invocation->check.warnSeconds)
                         .arg(*invocation->check.critSeconds);
            return false;
        }
        if (invocation->format == OutputWriter::Format::Json) {
            *error = QStringLiteral("--warn and --crit print a monitoring status line, not "
                                    "--format json");
            return false;
        }
        return true;
    }

    // check with --warn or --crit runs as a monitoring plugin, whose every mistake is UNKNOWN
    // (exit 3) and is read from stdout. Told from the words typed, as a mistake may come
    // before the options are read.
    bool asMonitoringPlugin(const QStringList &arguments)
    {
        const QStringList words = arguments.mid(1);
        const auto named = [](const QString &word) {
            return word == QLatin1String("--warn") || word == QLatin1String("--crit")
                || word.startsWith(QLatin1String("--warn="))
                || word.startsWith(QLatin1String("--crit="));
        };
        const auto command = std::find_if(words.cbegin(), words.cend(), [](const QString &word) {
            return !word.startsWith(QLatin1Char('-'));
        });
        return command != words.cend() && *command == QLatin1String("check")
            && std::any_of(command, words.cend(), named);
    }

} // namespace

// The command line as typed; parse() makes a monitoring plugin's mistakes its own.
static Parsed parseCommand(const QStringList &arguments)
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

    Invocation invocation;
    invocation.command = info->command;
    QString error;
    if (!readScanOptions(parser, &invocation, &error)
        || (commandsOneDevice(info->command)
            && !readDeviceOptions(parser, values, &invocation, &error))
        || (info->command == Invocation::Command::Plan
            && !readPlanOptions(parser, &invocation, &error))
        || (info->command == Invocation::Command::Apply
            && !readApplyOptions(parser, values, &invocation, &error))
        || (info->command == Invocation::Command::Check
            && !readCheckOptions(parser, &invocation, &error)))
        return usageError(error, name);
    return { invocation, 0, QString(), true };
}

Parsed parse(const QStringList &arguments)
{
    Parsed parsed = parseCommand(arguments);
    if (parsed.invocation || parsed.exitCode != exitCode(ExitStatus::Usage)
        || !asMonitoringPlugin(arguments))
        return parsed;
    const PluginStatus::Verdict verdict = PluginStatus::unknown(parsed.text);
    return { std::nullopt, PluginStatus::exitCode(verdict.status), verdict.text, true };
}

} // namespace CommandLine
