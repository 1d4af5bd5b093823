#ifndef VERDICTS_H
#define VERDICTS_H

#include "exitstatus.h"
#include "sendandverify.h"
#include "verification.h"

#include <optional>

// The verdicts on commands sent: what --verify found out about each (set-time, set-address and
// apply alike) and the exit status that follows from it.
namespace Verdicts {

// What the rescan after a set-address command showed: passed when the device, same serial at
// the same current address, reports `wanted` as stored. `rescanError` is empty when the rescan
// ran.
Verification ofAddress(const DeviceEntry &device, const OrderOutcome &outcome, quint32 wanted,
                       const QString &rescanError);
// What SNTP showed after a set-time command: passed when the device's clock is within the
// tolerance of ours.
Verification ofClock(const DeviceEntry &device, const OrderOutcome &outcome,
                     double toleranceSeconds);

ExitStatus exitStatus(const Verification &verification);

// The new address a set-address dry run asks the device's link about before it would send:
// none when the device has it already or the address rules refuse it.
std::optional<quint32> probedBeforeSending(const DeviceEntry &device, quint32 newAddress);

} // namespace Verdicts

#endif // VERDICTS_H
