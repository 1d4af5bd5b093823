#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "outputwriter.h"
#include "scanner.h"

#include <QString>
#include <QStringList>

#include <optional>

// setuptool-cli's command line: a command (scan, set-time, set-address, check, plan,
// apply, help) and its
// options.
// QCommandLineParser reads the global options up to the command and then the command's own.
struct Invocation
{
    enum class Command { Scan, SetTime, SetAddress, Check, Plan, Apply };

    Command command = Command::Scan;
    std::optional<QString> from; // --from, as typed
    Scanner::Settings scan;
    bool replyBufferGiven = false;
    OutputWriter::Format format = OutputWriter::Format::Table;
    bool json = false; // set-time and set-address: --format json
    QString device;
    quint32 newAddress = 0;
    bool dryRun = false;
    bool verify = false;
    bool force = false;
    double toleranceSeconds = 2.0;
    QString logPath;
    // plan
    quint32 rangeFirst = 0;
    quint32 rangeLast = 0;
    bool planSetTime = false;
    // apply
    QString planPath; // "-": stdin
    bool skipBad = false;
    int ratePerSecond = 200; // commands

    // check: how the clocks are read, and the thresholds that make it a monitoring plugin.
    struct Check
    {
        int concurrency = 64;
        int ratePerSecond = 500;
        int timeoutMs = 1000;
        std::optional<double> warnSeconds; // both or neither
        std::optional<double> critSeconds;
    } check;
};

namespace CommandLine {

// What the command line asks for. When it asks for no run (help, version, or a mistake),
// `exitCode` is set and `text` is what to print: on stdout for help and version, on stderr
// (already prefixed with the program's name) for a mistake. check with --warn or --crit is a
// monitoring plugin: a mistake is then its UNKNOWN status line on stdout, exit 3.
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
