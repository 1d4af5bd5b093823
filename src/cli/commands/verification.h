#ifndef VERIFICATION_H
#define VERIFICATION_H

#include "exitstatus.h"

#include <QJsonObject>
#include <QString>

// What --verify found out about a command: passed, failed (the device showed the command did
// not take effect) or cannot-verify (nothing could be observed), in words and figures.
// set-time and set-address print it and log it.
struct Verification
{
    enum class Result { NotRequested, Passed, Failed, CannotVerify };

    Result result = Result::NotRequested;
    QString detail; // what was seen, for a person
    QJsonObject figures; // what was seen, for a script

    static Verification passed(const QString &detail, const QJsonObject &figures = {});
    static Verification failed(const QString &detail, const QJsonObject &figures = {});
    static Verification cannotVerify(const QString &detail, const QJsonObject &figures = {});

    QString resultName() const; // "passed", "failed", "cannot-verify", "not-requested"
    ExitStatus exitStatus() const;
    QJsonObject toJson() const;
};

#endif // VERIFICATION_H
