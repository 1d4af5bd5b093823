#ifndef OPTIONS_H
#define OPTIONS_H

#include "pluginrange.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// What each command was asked to do, as the command line gives it: plain values, checked and
// converted, and nothing that scans or prints.
namespace Options {

// Every default below is written once, here, and --help shows it from here.

// A clock within this many seconds of ours is right: set-time --verify, apply.
inline constexpr double clockToleranceSeconds = 2.0;

// How a command scans; every command has these.
struct Probing
{
    std::optional<QString> from; // --from, as typed
    int probes = 1;
    int intervalMs = 1000;
    int waitMs = 1000; // after the last probe
    // As setsockopt(SO_RCVBUF) takes it; Linux grants twice as much where net.core.rmem_max
    // allows: room for a burst of 2,000 replies at up to 4 KiB of kernel accounting each.
    int replyBufferBytes = 4 * 1024 * 1024;
};

// How a command prints its results, the same three for every command that prints them.
enum class Format { Table, Json, Csv };

struct Scan
{
    Probing probing;
    Format format = Format::Table;
};

// set-time and set-address.
struct Device
{
    enum class Kind { SetTime, SetAddress };

    Kind kind = Kind::SetTime;
    Probing probing;
    QString device; // as typed: serial, address, SERIAL@ADDRESS or name
    quint32 newAddress = 0; // set-address
    bool dryRun = false;
    bool verify = false;
    bool force = false;
    Format format = Format::Table;
    double toleranceSeconds = clockToleranceSeconds; // set-time --verify
    QString logPath;
};

struct Check
{
    Probing probing;
    Format format = Format::Table;
    std::optional<int> concurrency; // none: as many as the rate keeps busy (ClockSurvey)
    int ratePerSecond = 500;
    int timeoutMs = 1000;
    std::optional<PluginRange> warn; // both or neither: a monitoring plugin
    std::optional<PluginRange> crit;
    // The whole run's, scan included; none: no end but the waits' own. A monitoring plugin
    // always has one, monitoringDeadlineSeconds unless given.
    std::optional<int> deadlineMs;
    // Below the 60 s after which Nagios, Icinga 2 and Naemon kill a check, with room for a busy
    // host.
    static constexpr int monitoringDeadlineSeconds = 50;
    // Devices that must answer the scan: serials, names or addresses as DEVICE takes them, and
    // how many at least (0: any number).
    QStringList expected;
    int minDevices = 0;

    bool monitoring() const { return warn.has_value(); }
};

struct Plan
{
    Probing probing;
    quint32 rangeFirst = 0;
    quint32 rangeLast = 0;
    bool setTime = false;
    Format format = Format::Csv; // what apply reads
};

struct Apply
{
    Probing probing;
    QString planPath; // "-": stdin
    bool dryRun = false;
    bool skipBad = false;
    Format format = Format::Table;
    int ratePerSecond = 200; // commands
    double toleranceSeconds = clockToleranceSeconds;
    QString logPath;
};

} // namespace Options

#endif // OPTIONS_H
