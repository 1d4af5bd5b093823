#ifndef VERIFICATION_H
#define VERIFICATION_H

#include "exitstatus.h"
#include "sendandverify.h"

#include <QJsonObject>
#include <QString>

// What --verify found out about a command: passed, failed (the device showed the command did
// not take effect) or cannot-verify (nothing could be observed), in words and figures.
// set-time and set-address print it and log it; apply logs it with each command of a line.
struct Verification
{
    enum class Result { NotRequested, Passed, Failed, CannotVerify };

    Result result = Result::NotRequested;
    QString detail; // what was seen, for a person
    QJsonObject figures; // what was seen, for a script

    static Verification passed(const QString &detail, const QJsonObject &figures = {});
    static Verification failed(const QString &detail, const QJsonObject &figures = {});
    static Verification cannotVerify(const QString &detail, const QJsonObject &figures = {});

    // What the rescan after a set-address command showed: passed when the device, same serial at
    // the same current address, reports `wanted` as stored. `rescanError` is empty when the
    // rescan ran.
    static Verification ofAddress(const DeviceEntry &device, const OrderOutcome &outcome,
                                  quint32 wanted, const QString &rescanError);
    // What SNTP showed after a set-time command: passed when the device's clock is within the
    // tolerance of ours.
    static Verification ofClock(const DeviceEntry &device, const OrderOutcome &outcome,
                                double toleranceSeconds);

    QString resultName() const; // "passed", "failed", "cannot-verify", "not-requested"
    ExitStatus exitStatus() const;
    QJsonObject toJson() const;
};

#endif // VERIFICATION_H
