#ifndef VERDICTS_H
#define VERDICTS_H

#include "addressallocator.h"
#include "exitstatus.h"
#include "healthnote.h"
#include "sendandverify.h"
#include "verification.h"

#include <optional>

// The verdicts on commands: what stands against sending one, what --verify found out about each
// sent (set-time, set-address and apply alike) and the exit status that follows from it.
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

// What stands against storing `newAddress` in `device`: the address rules' refusal, else other
// devices of `heard` that hold it now or from their next restart (as apply's plan check finds
// them), else a host that answers for it on the device's link, asked through `probe`. Kind::None
// when nothing does; the device's own current address is not asked about, and not being able to
// tell is no objection.
AddressObjection addressObjection(const DeviceEntry &device, const QList<DeviceEntry> &heard,
                                  quint32 newAddress, const AddressAllocator::Probe &probe);
// What the scan noted about `device` that deserves a warning before a command goes to it: an
// address another host answers for too, an address outside the subnet it was heard on.
QList<HealthNote> warningsBeforeSending(const DeviceEntry &device);

// The new address a set-address dry run asks the device's link about before it would send:
// none when the device has it already or the address rules refuse it.
std::optional<quint32> probedBeforeSending(const DeviceEntry &device, quint32 newAddress);

} // namespace Verdicts

#endif // VERDICTS_H
