#ifndef APPLYOUTPUT_H
#define APPLYOUTPUT_H

#include "applyresult.h"
#include "options.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// apply's words: a line per plan line and a summary for a person, or the versioned JSON
// document of docs/cli.md for a program; and the faults that refuse or skip lines, for stderr.
namespace ApplyOutput {

// "done          line 2: DEV-0001, serial 65536, 10.77.1.1: stored address 10.77.5.1"
QString lineText(const ApplyLineResult &line);
QJsonObject lineJson(const ApplyLineResult &line);
// "3 line(s): 2 done, 1 already in effect, 0 failed, 0 skipped; ..."
QString summary(const ApplyReport &report);

// The whole result: the lines (unless the plan was refused) and the summary.
QByteArray text(const ApplyReport &report);
QByteArray json(const ApplyReport &report);
// One row per plan line, the columns named as the JSON document's line keys.
QByteArray csv(const ApplyReport &report);
// The whole result in `format`.
QByteArray write(const ApplyReport &report, Options::Format format);

// The heading and one message per fault of `lines`, each for Console::error; `refused`: nothing
// is sent, rather than the faulty lines skipped.
QStringList faultMessages(const QList<ApplyLineResult> &lines, bool refused);

// For stderr: a column of the plan that apply does not read.
QString unreadColumn(const QString &column);
// For stderr: the rescan that verifies the plan failed with `error` after `commandsSent`.
QString rescanFailed(const QString &error, int commandsSent);

} // namespace ApplyOutput

#endif // APPLYOUTPUT_H
