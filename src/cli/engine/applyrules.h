#ifndef APPLYRULES_H
#define APPLYRULES_H

#include "addressprobe.h"
#include "applyresult.h"
#include "exitstatus.h"
#include "plancheck.h"
#include "sendandverify.h"

#include <QList>
#include <QString>

#include <optional>

// One plan line on its way through apply: what the plan check found, what was read and sent for
// it, and what the rules below decided and judged.
struct ApplyLine
{
    PlanStep step;
    std::optional<SntpQuery::Result> clockBefore; // set_time on a device with NTP on
    OrderOutcome outcome; // what was sent, and what the rescan and SNTP saw after
    ApplyLineResult::State state = ApplyLineResult::State::Skipped;
    bool sendAddress = false;
    bool sendTime = false;
    std::optional<ApplyLineResult::HeldBack> heldBack;
    QString detail;
};

// apply's rules, from a checked plan to a verdict per line: what each line still needs sent,
// which lines are held back because their new address is taken, and whether what was sent took
// effect. Apart from reading clocks and asking about addresses, they only look at values.
namespace ApplyRules {

QList<ApplyLine> lines(const QList<PlanStep> &steps);
// The lines with faults: without --skip-bad the plan is refused, with it they are skipped.
int faultyLines(const QList<ApplyLine> &lines);
// A refused plan: each line is faulty, or not-sent when sound.
void refuse(QList<ApplyLine> *lines);

// The clocks the plan asks to set on devices that serve time, read before anything is sent: a
// clock already within tolerance is in effect too.
void readClocksBefore(QList<ApplyLine> *lines);

// What a sound line still needs sent: would-send when anything, in-effect when nothing.
void decide(ApplyLine *line, double toleranceSeconds);

// The new addresses to ask about before sending: those of lines that move their device.
struct AddressQuestions
{
    QList<int> lines; // index in the plan's lines, one per request
    QList<AddressProbe::Request> requests;
};
AddressQuestions addressQuestions(const QList<ApplyLine> &lines);
// Fails the lines whose new address another host holds. A device the plan moves still answers at
// its current address until it restarts: that answer does not hold back the line that takes
// the address over (a swap, a shift), unless the device's own line is held back.
void holdBack(QList<ApplyLine> *lines, const AddressQuestions &questions,
              const QList<AddressHolder> &holders);

// The commands of the lines that need any, and where each outcome goes back.
struct Orders
{
    QList<int> lines; // index in the plan's lines, one per order
    QList<CommandOrder> orders;
};
Orders orders(const QList<ApplyLine> &lines, const QString &planPath);
void takeOutcomes(QList<ApplyLine> *lines, const Orders &orders,
                  const SendAndVerify::Result &result);

// Whether a line that sent something took effect: done; failed when the device showed that a
// command did not take effect or it was not sent; cannot-verify when nothing could be observed
// (silence). The detail says what was found of each command, in order. `rescanError` is why the
// verifying rescan failed, empty when it ran.
void judge(ApplyLine *line, const QString &rescanError, double toleranceSeconds);

ApplyLineResult result(const ApplyLine &line);
// The SNTP requests made by readClocksBefore(), retries included.
int sntpRequests(const QList<ApplyLine> &lines);

// The run's exit status: plan faults when refused, then commands sent but not logged, then a
// rescan that failed, then any line failed or skipped, then any line that cannot be verified.
ExitStatus exitStatus(const ApplyReport &report, bool rescanFailed);

} // namespace ApplyRules

#endif // APPLYRULES_H
