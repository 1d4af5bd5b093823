#include "commandtable.h"

#include "addressrules.h"
#include "applycommand.h"
#include "checkcommand.h"
#include "devicecommand.h"
#include "optionvalue.h"
#include "plancommand.h"
#include "pluginstatus.h"
#include "program.h"
#include "scancommand.h"
#include "sharedoptions.h"

#include <QCommandLineParser>
#include <QFile>

// A new command is one row here: a function that fills a Command (its name, words, options,
// how they are read into its Options struct and how it runs), listed in commands() below.
namespace CommandLine {

namespace {

    using OptionNumber::TimeUnit;
    using SharedOptions::usage;

    const Positional device { QStringLiteral("DEVICE"),
                              QStringLiteral("A serial, a current address, SERIAL@ADDRESS or a "
                                             "name.") };

    // set-time and set-address: the command's bytes, or with --verify what the device then shows.
    QList<QCommandLineOption> sending(const QString &dryRunHelp)
    {
        return QList<QCommandLineOption> { SharedOptions::format(),
                                           SharedOptions::dryRun(dryRunHelp),
                                           { QStringLiteral("verify"),
                                             QStringLiteral("Check afterwards that the command "
                                                            "took effect.") },
                                           SharedOptions::log() };
    }

    Expected<Options::Device> readDevice(const QCommandLineParser &parser,
                                         const QStringList &values, Options::Device::Kind kind)
    {
        const Expected<Options::Probing> probing = SharedOptions::readProbing(parser);
        if (!probing)
            return probing.failure();
        Options::Device options;
        options.kind = kind;
        options.probing = *probing;
        if (const auto failure = SharedOptions::readFormat(parser, &options.format))
            return *failure;
        options.device = values.at(0);
        options.dryRun = parser.isSet(QStringLiteral("dry-run"));
        options.verify = parser.isSet(QStringLiteral("verify"));
        options.logPath = parser.value(QStringLiteral("log"));
        if (options.dryRun && options.verify)
            return usage(
                QStringLiteral("--dry-run sends nothing, so there is nothing to --verify"));
        return options;
    }

    int runDevice(const Options::Device &options)
    {
        return Program::finished(DeviceCommand(options).run());
    }

    // scan

    Expected<Options::Scan> readScan(const QCommandLineParser &parser, const QStringList &)
    {
        const Expected<Options::Probing> probing = SharedOptions::readProbing(parser);
        if (!probing)
            return probing.failure();
        Options::Scan options;
        options.probing = *probing;
        if (const auto failure = SharedOptions::readFormat(parser, &options.format))
            return *failure;
        return options;
    }

    int runScan(const Options::Scan &options)
    {
        return Program::finished(ScanCommand::run(options));
    }

    Command scan()
    {
        Command command;
        command.name = QStringLiteral("scan");
        command.synopsis = command.name;
        command.summary = QStringLiteral("list the devices that answer a probe");
        command.description = QStringLiteral(
            "Probes the segments of every IPv4 address of this machine (or only --from) and\n"
            "lists every device that answers, with its health notes.");
        command.options = SharedOptions::probing();
        command.options.append(SharedOptions::format());
        bind(&command, &readScan, &runScan);
        return command;
    }

    // set-time

    Expected<Options::Device> readSetTime(const QCommandLineParser &parser,
                                          const QStringList &values)
    {
        Expected<Options::Device> options
            = readDevice(parser, values, Options::Device::Kind::SetTime);
        if (!options)
            return options;
        if (const auto failure = SharedOptions::readTolerance(parser, &(*options).toleranceSeconds))
            return *failure;
        return options;
    }

    Command setTime()
    {
        Command command;
        command.name = QStringLiteral("set-time");
        command.synopsis = QStringLiteral("set-time DEVICE");
        command.summary = QStringLiteral("set the device's clock to this workstation's time");
        command.description = QStringLiteral(
            "Finds DEVICE with a scan and sets its clock to this workstation's (UTC seconds)\n"
            "with the command the window's Set Time sends. --verify then reads the device's\n"
            "clock over SNTP (its port 123).");
        command.positionals = { device };
        command.options = SharedOptions::probing()
            + sending(QStringLiteral("Print the command's bytes, plain and as sent, and send no "
                                     "command. Still sent: the scan's probes that find DEVICE."));
        command.options.append(SharedOptions::tolerance(
            QStringLiteral("--verify passes when the device's clock is within this long of ours"),
            Options::Device().toleranceSeconds));
        bind(&command, &readSetTime, &runDevice);
        return command;
    }

    // set-address

    Expected<Options::Device> readSetAddress(const QCommandLineParser &parser,
                                             const QStringList &values)
    {
        Expected<Options::Device> options
            = readDevice(parser, values, Options::Device::Kind::SetAddress);
        if (!options)
            return options;
        const auto address = AddressRules::parse(values.at(1));
        if (!address)
            return usage(QStringLiteral("\"%1\" is not an IPv4 address: four decimal numbers 0 "
                                        "to 255 separated by dots, without leading zeros, such "
                                        "as 10.77.1.20")
                             .arg(values.at(1)));
        (*options).newAddress = *address;
        (*options).force = parser.isSet(QStringLiteral("force"));
        return options;
    }

    Command setAddress()
    {
        Command command;
        command.name = QStringLiteral("set-address");
        command.synopsis = QStringLiteral("set-address DEVICE A.B.C.D");
        command.summary = QStringLiteral("store a new address; the device takes it at its\n"
                                         "next restart");
        command.description = QStringLiteral(
            "Finds DEVICE with a scan and stores ADDRESS in it with the command the window's\n"
            "Send sends. The device keeps its current address until its next restart.\n"
            "--verify then scans again for the stored address.");
        command.positionals = { device,
                                { QStringLiteral("ADDRESS"),
                                  QStringLiteral("The new address, four decimal octets.") } };
        command.options = SharedOptions::probing()
            + sending(QStringLiteral(
                "Print the command's bytes, plain and as sent, and send no command. Still sent: "
                "the scan's probes that find DEVICE, and a datagram to UDP port 9 of ADDRESS and "
                "the kernel's ARP requests, to see whether another host holds it."));
        command.options.append({ QStringLiteral("force"),
                                 QStringLiteral("Send an address that would otherwise be refused: "
                                                "0.0.0.0, broadcast, multicast, loopback, "
                                                "reserved, the subnet's network or broadcast "
                                                "address, or one outside the subnet.") });
        bind(&command, &readSetAddress, &runDevice);
        return command;
    }

    // check

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

    // --warn and --crit, which make check a monitoring plugin.
    std::optional<Failure> readThresholds(const QCommandLineParser &parser, Options::Check *options)
    {
        const bool warn = parser.isSet(QStringLiteral("warn"));
        const bool crit = parser.isSet(QStringLiteral("crit"));
        if (warn != crit)
            return usage(QStringLiteral("--warn and --crit go together"));
        if (!warn)
            return std::nullopt;
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
        if (options->format != Options::Format::Table)
            return usage(QStringLiteral("--warn and --crit print a monitoring status line, "
                                        "not --format %1")
                             .arg(parser.value(QStringLiteral("format"))));
        options->warn = *warnRange;
        options->crit = *critRange;
        options->deadlineMs = Options::Check::monitoringDeadlineSeconds * 1000;
        return std::nullopt;
    }

    Expected<Options::Check> readCheck(const QCommandLineParser &parser, const QStringList &)
    {
        const Expected<Options::Probing> probing = SharedOptions::readProbing(parser);
        if (!probing)
            return probing.failure();
        Options::Check options;
        options.probing = *probing;
        if (const auto failure = SharedOptions::readFormat(parser, &options.format))
            return *failure;
        double timeoutMs = options.timeoutMs;
        if (const auto failure = SharedOptions::readDuration(
                parser, QStringLiteral("timeout"), TimeUnit::Milliseconds, 1, 60000, &timeoutMs))
            return *failure;
        options.timeoutMs = int(timeoutMs);
        if (const auto failure = SharedOptions::readRate(parser, 100000, &options.ratePerSecond))
            return *failure;
        if (parser.isSet(QStringLiteral("concurrency"))) {
            const auto concurrency
                = OptionValue::integer(parser, QStringLiteral("concurrency"), 1, 1024);
            if (!concurrency)
                return concurrency.failure();
            options.concurrency = int(*concurrency);
        }
        if (const auto failure = readExpectations(parser, &options))
            return *failure;
        if (const auto failure = readThresholds(parser, &options))
            return *failure;
        if (parser.isSet(QStringLiteral("deadline"))) {
            double deadlineMs = 0;
            if (const auto failure = SharedOptions::readDuration(
                    parser, QStringLiteral("deadline"), TimeUnit::Seconds, 1, 3600, &deadlineMs))
                return *failure;
            options.deadlineMs = int(deadlineMs);
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

    const int pluginUnknown = PluginStatus::exitCode(PluginStatus::Status::Unknown);

    int runCheck(const Options::Check &options)
    {
        // A monitoring plugin's status for a check it cannot report is UNKNOWN.
        return Program::finished(CheckCommand(options).run(),
                                 options.monitoring() ? pluginUnknown
                                                      : exitCode(ExitStatus::OutputLost));
    }

    Command check()
    {
        const Options::Check defaults;
        Command command;
        command.name = QStringLiteral("check");
        command.synopsis = command.name;
        command.summary = QStringLiteral("read every device's clock over SNTP; with\n"
                                         "--warn/--crit, a monitoring plugin");
        command.description = QStringLiteral(
            "Scans, then reads the clock of every device with NTP on over SNTP (its port 123)\n"
            "and reports offset, delay, stratum and leap indicator, and a summary. With\n"
            "--warn and --crit it is a monitoring plugin (Nagios, Icinga): a status line\n"
            "with performance data, exit 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (bad\n"
            "options included).");
        command.options = SharedOptions::probing();
        command.options += {
            SharedOptions::format(),
            { QStringLiteral("timeout"),
              SharedOptions::durationHelp(
                  QStringLiteral("Wait this long for each SNTP answer; one retry follows"),
                  defaults.timeoutMs, TimeUnit::Milliseconds),
              QStringLiteral("MS") },
            { QStringLiteral("concurrency"),
              QStringLiteral("Devices asked at the same time (default: as many as --rate keeps "
                             "busy for two --timeouts, within the sockets this process may "
                             "open)."),
              QStringLiteral("N") },
            SharedOptions::rate(QStringLiteral("Devices asked"), defaults.ratePerSecond),
            { { QStringLiteral("w"), QStringLiteral("warn") },
              QStringLiteral("Monitoring: WARNING when a clock's offset from ours, in seconds, is "
                             "outside RANGE (0.5: more than 0.5 s; also 1:, ~:1, 1:2, @1:2; "
                             "plain numbers, no unit, as monitoring plugins take them). Needs "
                             "--crit."),
              QStringLiteral("RANGE") },
            { { QStringLiteral("c"), QStringLiteral("crit") },
              QStringLiteral("Monitoring: CRITICAL when a clock's offset is outside RANGE (plain "
                             "numbers: not less than --warn)."),
              QStringLiteral("RANGE") },
            { { QStringLiteral("t"), QStringLiteral("deadline") },
              QStringLiteral("End the whole check after this long, scan included, and report "
                             "the devices not read yet as not answering (default %1 with "
                             "--warn/--crit, none otherwise; a plain number is seconds, 1m "
                             "also does).")
                  .arg(Options::Check::monitoringDeadlineSeconds),
              QStringLiteral("SECONDS") },
            { QStringLiteral("expect"),
              QStringLiteral("Devices that must answer, each as DEVICE is given (serial, "
                             "address or name), separated by commas; may be repeated."),
              QStringLiteral("LIST") },
            { QStringLiteral("expect-file"),
              QStringLiteral("Devices that must answer, one a line ('#' starts a comment line)."),
              QStringLiteral("FILE") },
            { QStringLiteral("min-devices"),
              QStringLiteral("At least N devices must answer the scan."), QStringLiteral("N") },
        };
        command.pluginOptions = QStringList { QStringLiteral("warn"), QStringLiteral("crit") };
        command.pluginMistake = [](const QString &mistake) {
            return Program::settled(CheckCommand::unknown(mistake), pluginUnknown);
        };
        bind(&command, &readCheck, &runCheck);
        return command;
    }

    // plan

    Expected<Options::Plan> readPlan(const QCommandLineParser &parser, const QStringList &)
    {
        const Expected<Options::Probing> probing = SharedOptions::readProbing(parser);
        if (!probing)
            return probing.failure();
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
        options.probing = *probing;
        options.rangeFirst = range->first;
        options.rangeLast = range->second;
        options.setTime = parser.isSet(QStringLiteral("set-time"));
        if (const auto failure = SharedOptions::readFormat(parser, &options.format))
            return *failure;
        return options;
    }

    int runPlan(const Options::Plan &options)
    {
        return Program::finished(PlanCommand::run(options));
    }

    Command plan()
    {
        Command command;
        command.name = QStringLiteral("plan");
        command.synopsis = QStringLiteral("plan --range FIRST-LAST");
        command.summary = QStringLiteral("write a commissioning plan (CSV) giving every\n"
                                         "device an address of the range");
        command.description = QStringLiteral(
            "Scans and writes a commissioning plan to stdout, as CSV unless --format says\n"
            "otherwise: one line per device (serial, name, current address, stored address,\n"
            "new address, set_time), new addresses taken in order from --range, skipping\n"
            "those in use on the segment. A device that already stores an address of the\n"
            "range keeps it. Edit the CSV, then carry it out with apply.");
        command.options = SharedOptions::probing();
        command.options += {
            { QStringLiteral("range"),
              QStringLiteral("The addresses to plan, first and last included (required)."),
              QStringLiteral("A.B.C.D-E.F.G.H") },
            { QStringLiteral("set-time"),
              QStringLiteral("Plan every device's clock to be set as well (set_time yes).") },
            SharedOptions::format(Options::Format::Csv),
        };
        bind(&command, &readPlan, &runPlan);
        return command;
    }

    // apply

    Expected<Options::Apply> readApply(const QCommandLineParser &parser, const QStringList &values)
    {
        const Expected<Options::Probing> probing = SharedOptions::readProbing(parser);
        if (!probing)
            return probing.failure();
        Options::Apply options;
        options.probing = *probing;
        if (const auto failure = SharedOptions::readFormat(parser, &options.format))
            return *failure;
        options.planPath = values.at(0);
        options.dryRun = parser.isSet(QStringLiteral("dry-run"));
        options.skipBad = parser.isSet(QStringLiteral("skip-bad"));
        options.logPath = parser.value(QStringLiteral("log"));
        if (const auto failure = SharedOptions::readRate(parser, 10000, &options.ratePerSecond))
            return *failure;
        if (const auto failure = SharedOptions::readTolerance(parser, &options.toleranceSeconds))
            return *failure;
        return options;
    }

    int runApply(const Options::Apply &options)
    {
        return Program::finished(ApplyCommand(options).run());
    }

    Command apply()
    {
        const Options::Apply defaults;
        Command command;
        command.name = QStringLiteral("apply");
        command.synopsis = QStringLiteral("apply PLAN");
        command.summary = QStringLiteral("carry out a plan: check it whole, send, verify");
        command.description = QStringLiteral(
            "Scans and checks the whole plan before sending anything: any fault (an\n"
            "unknown or repeated serial, an address given twice, in use, outside the\n"
            "device's subnet or refused) stops it with every fault listed. Then it sends,\n"
            "at a bounded rate, what is not yet in effect, and verifies every line with\n"
            "one rescan (and SNTP for the clocks it set). Applying a plan again sends\n"
            "nothing for lines already in effect.");
        command.positionals = { { QStringLiteral("PLAN"),
                                  QStringLiteral("The plan, a CSV file as plan writes it; - reads "
                                                 "stdin.") } };
        command.options = SharedOptions::probing();
        // What a dry run still sends reads and changes nothing on a device; it is said all the
        // same.
        command.options += {
            SharedOptions::format(),
            SharedOptions::dryRun(QStringLiteral(
                "Check the plan and print what would be sent; send no command. Still sent: the "
                "scan's probes, SNTP requests to the devices whose lines set the clock, and for "
                "each new address a datagram to its UDP port 9 and the kernel's ARP requests, to "
                "see whether another host holds it.")),
            { QStringLiteral("skip-bad"),
              QStringLiteral("Send the sound lines of a plan with faults, skipping the others.") },
            SharedOptions::rate(QStringLiteral("Commands sent"), defaults.ratePerSecond),
            SharedOptions::tolerance(QStringLiteral("A clock within this long of ours is right"),
                                     defaults.toleranceSeconds),
            SharedOptions::log(),
        };
        bind(&command, &readApply, &runApply);
        return command;
    }

} // namespace

const QList<Command> &commands()
{
    static const QList<Command> table { scan(), setTime(), setAddress(), check(), plan(), apply() };
    return table;
}

} // namespace CommandLine
