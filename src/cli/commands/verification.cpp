#include "verification.h"

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
