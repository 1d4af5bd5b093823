#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "failure.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <any>
#include <functional>

class QCommandLineParser;

// setuptool-cli's command line: a command and its options, read by QCommandLineParser (the
// global options up to the command, then the command's own) as the command's row in the table
// of commands (commandtable.h) declares them.
namespace CommandLine {

// A word the command wants after its options, as its --help names and explains it.
struct Positional
{
    QString name;
    QString help;
};

// One row of the table of commands: everything the parser knows of a command.
struct Command
{
    // Reads the parsed options and the positional words into the command's Options struct
    // (base/options.h), or refuses them as bad usage.
    using Read = std::function<Expected<std::any>(const QCommandLineParser &parser,
                                                  const QStringList &positionals)>;
    // Runs the command with what `read` made; the process's exit status.
    using Run = std::function<int(const std::any &options)>;

    QString name;
    QString synopsis; // as the overview lists it: "set-address DEVICE A.B.C.D"
    QString summary; // the overview's words for it, broken into lines where it breaks them
    QString description; // what its --help says first
    QList<Positional> positionals;
    QList<QCommandLineOption> options; // in the order --help lists them
    // The options that make the command a monitoring plugin, which reports everything on stdout,
    // even a usage mistake (told from the words typed, as a mistake may stop the parser before
    // it reads them): `pluginMistake` prints it as the plugin's status and returns its exit
    // status.
    QStringList pluginOptions;
    std::function<int(const QString &mistake)> pluginMistake;
    Read read;
    Run run;
};

// A row's `read` and `run` from two plain functions of the command's own Options struct.
template<typename Options>
void bind(Command *command,
          Expected<Options> (*read)(const QCommandLineParser &, const QStringList &),
          int (*run)(const Options &))
{
    command->read = [read](const QCommandLineParser &parser,
                           const QStringList &positionals) -> Expected<std::any> {
        Expected<Options> options = read(parser, positionals);
        if (!options)
            return options.failure();
        return std::any(*options);
    };
    command->run
        = [run](const std::any &options) { return run(std::any_cast<const Options &>(options)); };
}

// What the command line asks for. A run: `command` and its `options`. No run (help, version,
// or a mistake): `exitCode` is set and `text` is what to print, on stdout for help and version,
// on stderr (already prefixed with the program's name) for a mistake. `command` names the
// command typed even when its options were refused, and `monitoringPlugin` whether the words
// typed made it a monitoring plugin.
struct Parsed
{
    const Command *command = nullptr;
    std::any options;
    bool monitoringPlugin = false;
    int exitCode = 0;
    QString text;
    bool toStdout = true;

    bool runs() const { return options.has_value(); }
};

Parsed parse(const QStringList &arguments);

} // namespace CommandLine

#endif // COMMANDLINE_H
