#include "commandline.h"

#include "commandtable.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace CommandLine {

namespace {

    const QString program = QStringLiteral("setuptool-cli");

    // The one status that means something else than exitStatusTable says.
    const char pluginStatuses[]
        = "check with --warn/--crit, a monitoring plugin, exits with the plugin's\n"
          "status instead: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.\n";

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
        return text + QLatin1String(pluginStatuses);
    }

    // Qt's help names the program by the path it was started as; the user types its name.
    QString withProgramName(QString help)
    {
        const QString usage = QStringLiteral("Usage: ");
        const qsizetype end = help.indexOf(QStringLiteral(" [options]"));
        if (help.startsWith(usage) && end > 0 && end < help.indexOf(QLatin1Char('\n')))
            help.replace(usage.size(), end - usage.size(), program);
        return help;
    }

    // A word as a shell reads it back: quoted unless it is made of plain characters only.
    QString shellWord(QString word)
    {
        static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
        if (plain.match(word).hasMatch())
            return word;
        return QLatin1Char('\'') + word.replace(QLatin1Char('\''), QStringLiteral("'\\''"))
            + QLatin1Char('\'');
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

    const QCommandLineOption *optionNamed(const Command &command, const QString &name)
    {
        const auto found = std::find_if(
            command.options.cbegin(), command.options.cend(),
            [&name](const QCommandLineOption &option) { return option.names().contains(name); });
        return found == command.options.cend() ? nullptr : &*found;
    }

    // Whether `words` are nothing but options of `command` and their values, as its parser
    // reads them: "--name value", "--name=value", short ones alone or run together, the value
    // attached or not ("-w 1", "-w1", "-w=1").
    bool onlyOptions(const Command &command, const QStringList &words)
    {
        for (auto word = words.cbegin(); word != words.cend(); ++word) {
            bool wantsValue = false;
            if (word->startsWith(QLatin1String("--"))) {
                const qsizetype equals = word->indexOf(QLatin1Char('='));
                const QCommandLineOption *option
                    = optionNamed(command, word->mid(2, equals < 0 ? -1 : equals - 2));
                if (!option || (option->valueName().isEmpty() && equals >= 0))
                    return false;
                wantsValue = !option->valueName().isEmpty() && equals < 0;
            } else if (word->startsWith(QLatin1Char('-')) && word->size() > 1) {
                for (qsizetype at = 1; at < word->size(); ++at) {
                    const QCommandLineOption *option = optionNamed(command, word->mid(at, 1));
                    if (!option)
                        return false;
                    const bool last = at + 1 == word->size();
                    if (!option->valueName().isEmpty()) {
                        wantsValue = last;
                        break;
                    }
                    if (!last && word->at(at + 1) == QLatin1Char('='))
                        return false;
                }
            } else {
                return false;
            }
            if (wantsValue && ++word == words.cend())
                return false;
        }
        return true;
    }

    // `words` (the arguments after the program's) typed with options before the command, where
    // the parser reads the global options only: the same words with those options moved after
    // the command, if every word before it is one of the command's options or an option's
    // value, so that the line suggested runs as far as they go; none otherwise.
    std::optional<QStringList> optionsMovedAfter(const QStringList &words)
    {
        // The first word naming a command may be an option's value ("--expect scan check").
        for (qsizetype at = 1; at < words.size(); ++at) {
            const Command *command = commandNamed(words.at(at));
            const QStringList before = words.first(at);
            if (command && onlyOptions(*command, before))
                return QStringList { command->name } + before + words.sliced(at + 1);
        }
        return std::nullopt;
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
            QString help = withProgramName(parser.helpText());
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
    if (!global.parse(arguments)) {
        if (const auto moved = optionsMovedAfter(arguments.mid(1))) {
            QStringList line { program };
            for (const QString &word : *moved)
                line.append(shellWord(word));
            return named(usageError(QStringLiteral("options follow the command: ")
                                        + line.join(QLatin1Char(' ')),
                                    moved->first()),
                         *moved);
        }
        return named(usageError(global.errorText()), global.positionalArguments());
    }
    if (global.isSet(versionOption))
        return shown(program + QStringLiteral(" " SETUPTOOL_VERSION "\n"));
    QStringList words = global.positionalArguments();
    if (global.isSet(helpOption) || (!words.isEmpty() && words.first() == QLatin1String("help"))) {
        if (words.size() < 2)
            return shown(withProgramName(global.helpText()) + exitStatuses());
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
