#ifndef CONSOLE_H
#define CONSOLE_H

#include <QByteArray>
#include <QString>

// Where setuptool-cli's words go: results to stdout, messages to stderr, and progress to stderr
// only when it is a terminal (a script that collects stderr gets messages, not progress).
namespace Console {

void result(const QByteArray &text);
void result(const QString &text);
void error(const QString &text); // "setuptool-cli: TEXT"
void warning(const QString &text); // "setuptool-cli: warning: TEXT"

bool stderrIsTerminal();

// One line of progress, rewritten in place; cleared by done() or by the next message.
void progress(const QString &text);
void progressDone();

} // namespace Console

#endif // CONSOLE_H
