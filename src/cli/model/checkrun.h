#ifndef CHECKRUN_H
#define CHECKRUN_H

#include "clockreading.h"
#include "healthnote.h"
#include "localaddress.h"
#include "options.h"
#include "pluginrange.h"
#include "sntpport.h"

#include <QList>
#include <QStringList>

#include <algorithm>
#include <optional>

// Which of the devices a check expects did not answer the scan, and which that answered were
// not expected.
struct DevicePresence
{
    QStringList missing; // expected, as typed, fitting no device heard
    QList<int> unexpected; // indices into the devices heard that no expected one fits
    int heard = 0;
    int minDevices = 0;
    bool expecting = false; // a list or a minimum was given

    // The list's missing ones, or how many short of the minimum the scan fell, if more.
    int missingCount() const { return std::max(int(missing.size()), minDevices - heard); }
};

// How the clocks were read: at most `concurrency` queries outstanding, at most `ratePerSecond`
// started per second, each with its timeout and retries, on `port`.
struct ClockSurveySettings
{
    int concurrency = 64;
    int ratePerSecond = Options::Check().ratePerSecond;
    int timeoutMs = Options::Check().timeoutMs;
    int retries = 1;
    quint16 port = Sntp::port;
};

// What a check (without --warn/--crit) comes to, worst first: its exit status and the message
// that goes with it follow from it.
enum class CheckOutcome {
    DevicesMissing, // an expected device did not answer the scan, or too few did
    NothingToCheck, // no device answered, or none has NTP on
    Unsynchronised, // a clock that cannot be trusted: a finding
    Unanswered, // a clock that did not answer: only a doubt
    Passed,
};

// A monitoring plugin's state, numbered as the plugin convention's exit statuses (not
// exitstatus.h's).
enum class PluginState { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

// check --warn and --crit: ranges of the offset's size, in seconds.
struct PluginThresholds
{
    PluginRange warn;
    PluginRange crit;
};

// What the monitoring plugin's rules make of a check.
struct PluginFindings
{
    // Where a synchronised clock's offset falls: inside --warn, outside it, outside --crit.
    enum class Band { Inside, Warning, Critical };

    PluginState state = PluginState::Unknown;
    QList<Band> bands; // per reading; Inside for a clock that is not synchronised
};

// Everything a check's output shows: the readings, and how they were taken.
struct CheckRun
{
    ClockReport report;
    QList<LocalAddress> scannedFrom;
    QList<HealthNote> notes; // about the scan
    ClockSurveySettings settings;
    int requests = 0; // SNTP requests sent, retries included
    qint64 surveyMs = 0; // from the first query to the last answer or timeout
    DevicePresence presence;
    std::optional<int> deadlineMs; // the whole run's, when it had one
    bool deadlinePassed = false;
    int notRead = 0; // devices not read before the deadline
};

#endif // CHECKRUN_H
