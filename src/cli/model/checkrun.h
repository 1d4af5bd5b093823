#ifndef CHECKRUN_H
#define CHECKRUN_H

#include "clockreading.h"
#include "healthnote.h"
#include "localaddress.h"

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
    int ratePerSecond = 500;
    int timeoutMs = 1000;
    int retries = 1;
    quint16 port = 123;
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
