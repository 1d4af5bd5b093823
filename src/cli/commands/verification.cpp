#include "verification.h"

#include "addressrules.h"
#include "sntpport.h"
#include "units.h"

Verification Verification::passed(const QString &detail, const QJsonObject &figures)
{
    return { Result::Passed, detail, figures };
}

Verification Verification::failed(const QString &detail, const QJsonObject &figures)
{
    return { Result::Failed, detail, figures };
}

Verification Verification::cannotVerify(const QString &detail, const QJsonObject &figures)
{
    return { Result::CannotVerify, detail, figures };
}

Verification Verification::ofAddress(const DeviceEntry &device, const OrderOutcome &outcome,
                                     quint32 wanted, const QString &rescanError)
{
    const QString stored = outcome.heardAfter ? outcome.heardAfter->storedAddress() : QString();
    const QJsonObject figures { { QStringLiteral("stored_address"), stored } };
    switch (SendAndVerify::findAddress(outcome, wanted, !rescanError.isEmpty())) {
    case AddressFinding::Stored:
        return passed(QStringLiteral("the device reports stored address %1").arg(stored), figures);
    case AddressFinding::StoresOther:
        return failed(QStringLiteral("the device still reports stored address %1, not %2")
                          .arg(stored, AddressRules::format(wanted)),
                      figures);
    case AddressFinding::NotScanned:
        return cannotVerify(QStringLiteral("the scan to check it failed: ") + rescanError);
    case AddressFinding::Unheard:
        break;
    }
    return cannotVerify(
        QStringLiteral("serial %1 did not answer at %2 in the scan after the command")
            .arg(device.reply.serial)
            .arg(device.address()));
}

Verification Verification::ofClock(const DeviceEntry &device, const OrderOutcome &outcome,
                                   double toleranceSeconds)
{
    const ClockFinding finding
        = SendAndVerify::findClock(device, outcome.clockAfter, toleranceSeconds);
    if (finding == ClockFinding::NtpOff)
        return cannotVerify(
            QStringLiteral("the device's NTP service is off, so its clock cannot be read; "
                           "switch NTP on to check set-time"));
    const SntpQuery::Result clock = outcome.clockAfter.value_or(SntpQuery::Result());
    QJsonObject figures { { QStringLiteral("tolerance_s"), toleranceSeconds },
                          { QStringLiteral("attempts"), clock.attempts } };
    if (finding == ClockFinding::Unread)
        return cannotVerify(QStringLiteral("no usable SNTP answer from %1 port %2: %3")
                                .arg(device.address())
                                .arg(Sntp::port)
                                .arg(clock.error),
                            figures);
    figures.insert(QStringLiteral("offset_s"), clock.offsetSeconds);
    figures.insert(QStringLiteral("delay_s"), clock.delaySeconds);
    figures.insert(QStringLiteral("stratum"), clock.stratum);
    figures.insert(QStringLiteral("leap"), clock.leap);
    const QString seen
        = QStringLiteral("the device's clock is %1 from ours (tolerance %2 s; SNTP stratum %3%4)")
              .arg(Units::signedSeconds(clock.offsetSeconds, 3))
              .arg(toleranceSeconds)
              .arg(clock.stratum)
              .arg(clock.synchronised() ? QString() : QStringLiteral(", unsynchronised"));
    return finding == ClockFinding::Within ? passed(seen, figures) : failed(seen, figures);
}

QString Verification::resultName() const
{
    switch (result) {
    case Result::Passed:
        return QStringLiteral("passed");
    case Result::Failed:
        return QStringLiteral("failed");
    case Result::CannotVerify:
        return QStringLiteral("cannot-verify");
    case Result::NotRequested:
        break;
    }
    return QStringLiteral("not-requested");
}

ExitStatus Verification::exitStatus() const
{
    switch (result) {
    case Result::Failed:
        return ExitStatus::VerifyFailed;
    case Result::CannotVerify:
        return ExitStatus::CannotVerify;
    case Result::Passed:
    case Result::NotRequested:
        break;
    }
    return ExitStatus::Success;
}

QJsonObject Verification::toJson() const
{
    QJsonObject object = figures;
    object.insert(QStringLiteral("result"), resultName());
    if (!detail.isEmpty())
        object.insert(QStringLiteral("detail"), detail);
    return object;
}
