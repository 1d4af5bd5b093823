#ifndef SHAREDOPTIONS_H
#define SHAREDOPTIONS_H

#include "failure.h"
#include "optionnumber.h"
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

// --format: table (also called text), json or csv, the same for every command that prints
// results; `byDefault` is what the command prints without it (plan: csv, what apply reads).
QCommandLineOption format(Options::Format byDefault = Options::Format::Table);
std::optional<Failure> readFormat(const QCommandLineParser &parser, Options::Format *format);

// --rate: `counted` per second at most ("Devices asked"), `perSecond` by default, up to
// `maximum`.
QCommandLineOption rate(const QString &counted, int perSecond);
std::optional<Failure> readRate(const QCommandLineParser &parser, int maximum, int *perSecond);

// A duration option's help: what it is, its default and the unit of a plain number.
QString durationHelp(const QString &what, double plainDefault, OptionNumber::TimeUnit plain);
// A duration option, when given, into `ms`; a plain number is in `plain`, from `minimum` to
// `maximum` of it.
std::optional<Failure> readDuration(const QCommandLineParser &parser, const QString &name,
                                    OptionNumber::TimeUnit plain, double minimum, double maximum,
                                    double *ms);

QCommandLineOption dryRun(const QString &help);
QCommandLineOption log();
// --tolerance, its help the command's (what it is) and its default `seconds`.
QCommandLineOption tolerance(const QString &help, double seconds);
std::optional<Failure> readTolerance(const QCommandLineParser &parser, double *seconds);

Failure usage(const QString &message);

} // namespace SharedOptions

#endif // SHAREDOPTIONS_H
