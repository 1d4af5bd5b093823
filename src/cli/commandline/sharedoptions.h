#ifndef SHAREDOPTIONS_H
#define SHAREDOPTIONS_H

#include "failure.h"
#include "options.h"

#include <QCommandLineOption>
#include <QList>

#include <optional>

class QCommandLineParser;

// The options more than one command has, each declared once with its help, and read once.
namespace SharedOptions {

// How every command scans: --from, --probes, --interval, --wait, --reply-buffer.
QList<QCommandLineOption> probing();
Expected<Options::Probing> readProbing(const QCommandLineParser &parser);

// --format, its help naming the formats the command has.
QCommandLineOption format(const QString &help);
// scan's --format: table, json or csv (`csv`); check's: table or json.
std::optional<Failure> readListFormat(const QCommandLineParser &parser, bool csv,
                                      Options::Format *format);
// set-time's, set-address's and apply's --format: text or json.
std::optional<Failure> readTextFormat(const QCommandLineParser &parser, bool *json);

QCommandLineOption dryRun(const QString &help);
QCommandLineOption log();
// --tolerance, its help the command's and its default `seconds`.
QCommandLineOption tolerance(const QString &help, double seconds);
std::optional<Failure> readTolerance(const QCommandLineParser &parser, double *seconds);

Failure usage(const QString &message);

} // namespace SharedOptions

#endif // SHAREDOPTIONS_H
