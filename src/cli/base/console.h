#ifndef CONSOLE_H
#define CONSOLE_H

#include "failure.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Where setuptool-cli's words go: results to stdout, messages to stderr, and progress to stderr
// only when it is a terminal (a script that collects stderr gets messages, not progress).
namespace Console {

// Once a result could not be written, later ones are not tried (a full disk stays full, a reader
// that closed the pipe is gone) and the command runs on to its end, so that what it sends is
// still logged; lostResults() then tells main() how the run ends.
void result(const QByteArray &text);
void result(const QString &text);
// Whether results were lost: OutputLost, with a message, or without one when the reader closed
// the pipe (as `head` does once it has its lines), which is no news to the user.
std::optional<Failure> lostResults();
void error(const QString &text); // "setuptool-cli: TEXT"
void warning(const QString &text); // "setuptool-cli: warning: TEXT"

bool stderrIsTerminal();

// One line of progress, rewritten in place; cleared by done() or by the next message.
void progress(const QString &text);
void progressDone();

} // namespace Console

#endif // CONSOLE_H
