#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "options.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// setuptool-cli's command line: a command (scan, set-time, set-address, check, plan, apply,
// help) and its options. QCommandLineParser reads the global options up to the command and
// then the command's own.
namespace CommandLine {

// The command asked for, with its options.
using Invocation
    = std::variant<Options::Scan, Options::Device, Options::Check, Options::Plan, Options::Apply>;

// What the command line asks for. When it asks for no run (help, version, or a mistake),
// `exitCode` is set and `text` is what to print: on stdout for help and version, on stderr
// (already prefixed with the program's name) for a mistake.
struct Parsed
{
    std::optional<Invocation> invocation;
    int exitCode = 0;
    QString text;
    bool toStdout = true;
};

Parsed parse(const QStringList &arguments);

} // namespace CommandLine

#endif // COMMANDLINE_H
