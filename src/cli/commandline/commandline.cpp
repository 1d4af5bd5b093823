#include "commandline.h"

#include "commandtable.h"

#include <QCommandLineParser>

#include <algorithm>

namespace CommandLine {

namespace {

    const QString program = QStringLiteral("setuptool-cli");

    // What a command's status means beyond exitStatusTable.
    const char commandStatuses[]
        = "apply: 1 a line failed or was skipped (--skip-bad).\n"
          "check: 0 every device with NTP on answered synchronised, 1 a device\n"
          "  answered unsynchronised, 3 no device with NTP on or an expected one\n"
          "  missing, 4 a device did not answer. With --warn/--crit: 0 OK,\n"
          "  1 WARNING, 2 CRITICAL, 3 UNKNOWN.\n";

    // Each line but the first indented by `indent` spaces.
    QString indented(const char *lines, int indent)
    {
        return QString::fromLatin1(lines).replace(QLatin1Char('\n'),
                                                  QLatin1Char('\n') + QString(indent, u' '));
    }

    QString exitStatuses()
    {
        QString text = QStringLiteral("\nExit status:\n");
        for (const ExitStatusEntry &entry : exitStatusTable)
            text += QStringLiteral("  %1  %2\n")
                        .arg(exitCode(entry.status))
                        .arg(indented(entry.help, 5));
        return text + QLatin1String(commandStatuses);
    }

    QString overview()
    {
        QString text = QStringLiteral(
            "Finds and sets up network time server devices on the local IPv4 segments.\n\n"
            "Commands:\n");
        const auto line = [&text](const QString &synopsis, const QString &summary) {
            text += QStringLiteral("  ") + synopsis.leftJustified(26) + QStringLiteral("  ")
                + QString(summary).replace(QLatin1Char('\n'),
                                           QStringLiteral("\n") + QString(30, u' '))
                + QLatin1Char('\n');
        };
        for (const Command &command : commands())
            line(command.synopsis, command.summary);
        line(QStringLiteral("help [COMMAND]"), QStringLiteral("this text, or a command's options"));
        return text
            + QStringLiteral(
                   "\nDEVICE is a serial, a current address, SERIAL@ADDRESS or a name.\n"
                   "'setuptool-cli COMMAND --help' lists the command's options. Results go to "
                   "stdout,\nmessages to stderr.");
    }

    // The commands' names, separated by commas, `last` joining the last one: "a, b or c".
    QString commandNames(const QString &last)
    {
        QStringList names;
        for (const Command &command : commands())
            names.append(command.name);
        return names.join(QStringLiteral(", ")) + last;
    }

    const Command *commandNamed(const QString &name)
    {
        const auto found
            = std::find_if(commands().cbegin(), commands().cend(),
                           [&name](const Command &command) { return command.name == name; });
        return found == commands().cend() ? nullptr : &*found;
    }

    // Whether `words`, typed after the command's name, name one of its plugin options: long or
    // short, the value attached or not ("--warn=1", "-w1").
    bool namesPluginOption(const Command &command, const QStringList &words)
    {
        QStringList prefixes;
        for (const QCommandLineOption &option : command.options) {
            const QStringList names = option.names();
            if (std::none_of(names.cbegin(), names.cend(), [&command](const QString &name) {
                    return command.pluginOptions.contains(name);
                }))
                continue;
            for (const QString &name : names)
                prefixes.append(name.size() == 1 ? QLatin1Char('-') + name
                                                 : QStringLiteral("--") + name);
        }
        return std::any_of(words.cbegin(), words.cend(), [&prefixes](const QString &word) {
            return std::any_of(prefixes.cbegin(), prefixes.cend(), [&word](const QString &prefix) {
                return prefix.startsWith(QLatin1String("--"))
                    ? word == prefix || word.startsWith(prefix + QLatin1Char('='))
                    : word.startsWith(prefix);
            });
        });
    }

    Parsed usageError(const QString &message, const QString &command = QString())
    {
        const QString help = command.isEmpty()
            ? program + QStringLiteral(" --help")
            : program + QLatin1Char(' ') + command + QStringLiteral(" --help");
        Parsed parsed;
        parsed.exitCode = exitCode(ExitStatus::Usage);
        parsed.text = QStringLiteral("%1: %2\nTry '%3'.\n").arg(program, message, help);
        parsed.toStdout = false;
        return parsed;
    }

    Parsed shown(const QString &text)
    {
        Parsed parsed;
        parsed.text = text;
        return parsed;
    }

    // The command named first among `words` and the words after it, as typed; whether they make
    // it a monitoring plugin.
    Parsed named(Parsed parsed, const QStringList &words)
    {
        parsed.command = commandNamed(words.value(0));
        parsed.monitoringPlugin
            = parsed.command && namesPluginOption(*parsed.command, words.mid(1));
        return parsed;
    }

    // The command's own options and positional words, after its name.
    Parsed parseCommand(const Command &command, const QString &program,
                        const QCommandLineOption &helpOption, const QStringList &words)
    {
        QCommandLineParser parser;
        parser.addOption(helpOption);
        parser.setApplicationDescription(command.description);
        for (const Positional &positional : command.positionals)
            parser.addPositionalArgument(positional.name, positional.help);
        parser.addOptions(command.options);
        if (!parser.parse(QStringList { program } + words))
            return usageError(parser.errorText(), command.name);
        if (parser.isSet(helpOption)) {
            // The command is not among this parser's arguments; its usage line names it.
            QString help = parser.helpText();
            help.replace(QStringLiteral(" [options]"),
                         QLatin1Char(' ') + command.name + QStringLiteral(" [options]"));
            return shown(help + exitStatuses());
        }
        const QStringList values = parser.positionalArguments();
        if (values.size() != command.positionals.size()) {
            QStringList wanted;
            for (const Positional &positional : command.positionals)
                wanted.append(positional.name);
            return usageError(
                command.positionals.isEmpty()
                    ? QStringLiteral("unexpected argument \"%1\"").arg(values.value(0))
                    : QStringLiteral("%1 wants %2, got %3 argument(s)")
                          .arg(command.name, wanted.join(QStringLiteral(" and ")))
                          .arg(values.size()),
                command.name);
        }
        Expected<std::any> options = command.read(parser, values);
        if (!options)
            return usageError(options.failure().message, command.name);
        Parsed parsed;
        parsed.options = *options;
        return parsed;
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
    global.addPositionalArgument(QStringLiteral("command"),
                                 commandNames(QStringLiteral(" or help")),
                                 QStringLiteral("COMMAND [OPTIONS]"));
    global.setApplicationDescription(overview());
    if (!global.parse(arguments))
        return named(usageError(global.errorText()), global.positionalArguments());
    if (global.isSet(versionOption))
        return shown(program + QStringLiteral(" " SETUPTOOL_VERSION "\n"));
    QStringList words = global.positionalArguments();
    if (global.isSet(helpOption) || (!words.isEmpty() && words.first() == QLatin1String("help"))) {
        if (words.size() < 2)
            return shown(global.helpText() + exitStatuses());
        words = { words.at(1), QStringLiteral("--help") };
    }
    if (words.isEmpty())
        return usageError(QStringLiteral("no command given (%1)").arg(commandNames(QString())));

    const Command *command = commandNamed(words.first());
    if (!command)
        return usageError(QStringLiteral("unknown command \"%1\" (%2)")
                              .arg(words.first(), commandNames(QStringLiteral(", help"))));
    return named(parseCommand(*command, arguments.value(0, program), helpOption, words.mid(1)),
                 words);
}

} // namespace CommandLine
