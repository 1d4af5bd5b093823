#include "verificationwords.h"

#include "units.h"

namespace VerificationWords {

QString resultName(const Verification &verification)
{
    switch (verification.result) {
    case Verification::Result::Passed:
        return QStringLiteral("passed");
    case Verification::Result::Failed:
        return QStringLiteral("failed");
    case Verification::Result::CannotVerify:
        return QStringLiteral("cannot-verify");
    case Verification::Result::NotRequested:
        break;
    }
    return QStringLiteral("not-requested");
}

QString detail(const Verification &verification)
{
    const Verification &v = verification;
    switch (v.seen) {
    case Verification::Seen::Nothing:
        break;
    case Verification::Seen::AddressStored:
        return QStringLiteral("the device reports stored address %1").arg(v.storedAddress);
    case Verification::Seen::OtherAddressStored:
        return QStringLiteral("the device still reports stored address %1, not %2")
            .arg(v.storedAddress, v.wantedAddress);
    case Verification::Seen::RescanFailed:
        return QStringLiteral("the scan to check it failed: ") + v.rescanError;
    case Verification::Seen::DeviceUnheard:
        return QStringLiteral("serial %1 did not answer at %2 in the scan after the command")
            .arg(v.serial)
            .arg(v.deviceAddress);
    case Verification::Seen::NtpOff:
        return QStringLiteral("the device's NTP service is off, so its clock cannot be read; "
                              "switch NTP on to check set-time");
    case Verification::Seen::ClockUnread:
        return QStringLiteral("no usable SNTP answer from %1 port %2: %3")
            .arg(v.deviceAddress)
            .arg(v.sntpPort)
            .arg(v.clockError);
    case Verification::Seen::ClockRead:
        return QStringLiteral(
                   "the device's clock is %1 from ours (tolerance %2 s; SNTP stratum %3%4)")
            .arg(Units::signedSeconds(v.offsetSeconds, 3))
            .arg(v.toleranceSeconds)
            .arg(v.stratum)
            .arg(v.synchronised ? QString() : QStringLiteral(", unsynchronised"));
    }
    return QString();
}

QJsonObject toJson(const Verification &verification)
{
    const Verification &v = verification;
    // Every key is there whatever was seen; what was not seen is null.
    bool address = false;
    bool clockAsked = false;
    bool clockRead = false;
    switch (v.seen) {
    case Verification::Seen::AddressStored:
    case Verification::Seen::OtherAddressStored:
        address = true;
        break;
    case Verification::Seen::ClockRead:
        clockRead = true;
        Q_FALLTHROUGH();
    case Verification::Seen::ClockUnread:
        clockAsked = true;
        break;
    case Verification::Seen::Nothing:
    case Verification::Seen::RescanFailed:
    case Verification::Seen::DeviceUnheard:
    case Verification::Seen::NtpOff:
        break;
    }
    const auto when
        = [](bool known, const QJsonValue &value) { return known ? value : QJsonValue(); };
    const QString seen = detail(v);
    return { { QStringLiteral("stored_address"), when(address, v.storedAddress) },
             { QStringLiteral("offset_s"), when(clockRead, v.offsetSeconds) },
             { QStringLiteral("delay_s"), when(clockRead, v.delaySeconds) },
             { QStringLiteral("stratum"), when(clockRead, v.stratum) },
             { QStringLiteral("leap"), when(clockRead, v.leap) },
             { QStringLiteral("tolerance_s"), when(clockAsked, v.toleranceSeconds) },
             { QStringLiteral("attempts"), when(clockAsked, v.attempts) },
             { QStringLiteral("result"), resultName(v) },
             { QStringLiteral("detail"), when(!seen.isEmpty(), seen) } };
}

} // namespace VerificationWords
