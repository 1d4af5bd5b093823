#ifndef CHECKOUTPUT_H
#define CHECKOUTPUT_H

#include "clockreport.h"
#include "clocksurvey.h"
#include "devicepresence.h"
#include "inventory.h"
#include "localinterfaces.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Everything a check's output shows: the readings, and how they were taken.
struct CheckRun
{
    ClockReport report;
    QList<LocalAddress> scannedFrom;
    QList<HealthNote> notes; // about the scan
    ClockSurvey::Settings settings;
    int requests = 0; // SNTP requests sent, retries included
    qint64 surveyMs = 0; // from the first query to the last answer or timeout
    DevicePresence presence;
    std::optional<int> deadlineMs; // the whole run's, when it had one
    bool deadlinePassed = false;
    int notRead = 0; // devices not read before the deadline
};

// The check's result for a person (table) or a program (the versioned JSON document of
// docs/cli.md). Names from the wire are escaped as in the scan's output.
namespace CheckOutput {

constexpr int jsonVersion = 1;

QByteArray table(const CheckRun &run);
QByteArray json(const CheckRun &run);

} // namespace CheckOutput

#endif // CHECKOUTPUT_H
