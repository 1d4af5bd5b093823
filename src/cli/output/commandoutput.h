#ifndef COMMANDOUTPUT_H
#define COMMANDOUTPUT_H

#include "commandreport.h"
#include "options.h"

#include <QByteArray>
#include <QString>

// set-time's and set-address's words: the line saying the command went, what a dry run would
// have sent, the JSON document (the command's log line with its format) or its CSV row, and what
// --verify found.
namespace CommandOutput {

// Why no command goes to `device`: it reports 0.0.0.0 as its address.
QString unreachable(const QString &device);
// set-address's new address refused for `reason`, and sent all the same as --force asks.
QString refused(const QString &reason);
QString sentAsForced(const QString &reason);
// "set-time DEVICE from LOCAL: clock ...", printed as the command goes (text only).
QString sentLine(const CommandReport &report);
// What set-address prints for an address the device stores already: it sends nothing.
QByteArray unchanged(const CommandReport &report, Options::Format format);
// All a dry run prints: the command it would have sent, in `format`.
QByteArray dryRun(const CommandReport &report, Options::Format format);
// What follows once the command is verified and logged: the JSON document or the CSV row, or in
// a table the verify line when --verify was asked for, and nothing else.
QByteArray result(const CommandReport &report, Options::Format format);
// The progress line while commands are sent: "sending: 51 of 400 command(s)".
QString sendingProgress(int done, int total);
// For stderr, when the verification failed or could not be made; empty otherwise.
QString verifyProblem(const Verification &verification);

} // namespace CommandOutput

#endif // COMMANDOUTPUT_H
