#ifndef VERIFICATIONWORDS_H
#define VERIFICATIONWORDS_H

#include "verification.h"

#include <QJsonObject>
#include <QString>

// What --verify found out, in words for a person and as the "verify" object of a command's log
// line and JSON (set-time, set-address and apply alike).
namespace VerificationWords {

QString resultName(const Verification &verification); // "passed", "failed", "cannot-verify"...
QString detail(const Verification &verification); // what was seen; empty when not requested
QJsonObject toJson(const Verification &verification); // the figures seen, result and detail

} // namespace VerificationWords

#endif // VERIFICATIONWORDS_H
