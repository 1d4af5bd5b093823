#include "verdicts.h"

#include "addressrules.h"
#include "plancheck.h"
#include "sntpport.h"

namespace Verdicts {

namespace {

    Verification about(const DeviceEntry &device, Verification::Result result,
                       Verification::Seen seen)
    {
        Verification verification;
        verification.result = result;
        verification.seen = seen;
        verification.serial = device.reply.serial;
        verification.deviceAddress = device.address();
        return verification;
    }

} // namespace

Verification ofAddress(const DeviceEntry &device, const OrderOutcome &outcome, quint32 wanted,
                       const QString &rescanError)
{
    using Result = Verification::Result;
    using Seen = Verification::Seen;
    Verification verification;
    switch (SendAndVerify::findAddress(outcome, wanted, !rescanError.isEmpty())) {
    case AddressFinding::Stored:
        verification = about(device, Result::Passed, Seen::AddressStored);
        break;
    case AddressFinding::StoresOther:
        verification = about(device, Result::Failed, Seen::OtherAddressStored);
        break;
    case AddressFinding::NotScanned:
        verification = about(device, Result::CannotVerify, Seen::RescanFailed);
        break;
    case AddressFinding::Unheard:
        verification = about(device, Result::CannotVerify, Seen::DeviceUnheard);
        break;
    }
    verification.wantedAddress = AddressRules::format(wanted);
    verification.storedAddress
        = outcome.heardAfter ? outcome.heardAfter->storedAddress() : QString();
    verification.rescanError = rescanError;
    return verification;
}

Verification ofClock(const DeviceEntry &device, const OrderOutcome &outcome,
                     double toleranceSeconds)
{
    using Result = Verification::Result;
    using Seen = Verification::Seen;
    Verification verification;
    switch (SendAndVerify::findClock(device, outcome.clockAfter, toleranceSeconds)) {
    case ClockFinding::NtpOff:
        return about(device, Result::CannotVerify, Seen::NtpOff);
    case ClockFinding::Unread:
        verification = about(device, Result::CannotVerify, Seen::ClockUnread);
        break;
    case ClockFinding::Within:
        verification = about(device, Result::Passed, Seen::ClockRead);
        break;
    case ClockFinding::Outside:
        verification = about(device, Result::Failed, Seen::ClockRead);
        break;
    }
    const SntpQuery::Result clock = outcome.clockAfter.value_or(SntpQuery::Result());
    verification.toleranceSeconds = toleranceSeconds;
    verification.attempts = clock.attempts;
    verification.sntpPort = Sntp::port;
    verification.clockError = clock.error;
    verification.offsetSeconds = clock.offsetSeconds;
    verification.delaySeconds = clock.delaySeconds;
    verification.stratum = clock.stratum;
    verification.leap = clock.leap;
    verification.synchronised = clock.synchronised();
    return verification;
}

ExitStatus exitStatus(const Verification &verification)
{
    switch (verification.result) {
    case Verification::Result::Failed:
        return ExitStatus::VerifyFailed;
    case Verification::Result::CannotVerify:
        return ExitStatus::CannotVerify;
    case Verification::Result::Passed:
    case Verification::Result::NotRequested:
        break;
    }
    return ExitStatus::Success;
}

AddressObjection addressObjection(const DeviceEntry &device, const QList<DeviceEntry> &heard,
                                  quint32 newAddress, const AddressAllocator::Probe &probe)
{
    using Kind = AddressObjection::Kind;
    AddressObjection objection;
    objection.address = newAddress;
    if (const QString refusal = AddressRules::refusal(newAddress, device.heardOn.subnet());
        !refusal.isEmpty()) {
        objection.kind = Kind::Refused;
        objection.refusal = refusal;
        return objection;
    }
    if (newAddress == device.reply.currentAddress)
        return objection;
    QList<DeviceEntry> others;
    for (const DeviceEntry &other : heard) {
        if (other.reply.serial != device.reply.serial
            || other.reply.currentAddress != device.reply.currentAddress)
            others.append(other);
    }
    objection.devices = PlanCheck::deviceHolders(others).values(newAddress);
    if (!objection.devices.isEmpty()) {
        objection.devices.sort();
        objection.kind = Kind::HeldByDevices;
        return objection;
    }
    const AddressProbe::Request request { newAddress, device.heardOn };
    const AddressHolder holder = probe({ request }).constFirst();
    if (holder.state == AddressHolder::State::InUse) {
        objection.kind = Kind::HeldByHost;
        objection.holding = AddressProbe::holding(request, holder, heard);
    }
    return objection;
}

QList<HealthNote> warningsBeforeSending(const DeviceEntry &device)
{
    QList<HealthNote> warnings;
    for (const HealthNote &note : device.notes) {
        if (note.code == QLatin1String("address-conflict")
            || note.code == QLatin1String("outside-subnet"))
            warnings.append(note);
    }
    return warnings;
}

std::optional<quint32> probedBeforeSending(const DeviceEntry &device, quint32 newAddress)
{
    if (newAddress == device.reply.currentAddress
        || !AddressRules::refusal(newAddress, device.heardOn.subnet()).isEmpty())
        return std::nullopt;
    return newAddress;
}

} // namespace Verdicts
