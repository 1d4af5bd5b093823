#include "sharedoptions.h"

#include "optionvalue.h"
#include "platform.h"

#include <QCommandLineParser>

namespace SharedOptions {

namespace {

    QString replyBufferHelp()
    {
        const QString cap = Platform::receiveBufferCap(0).setting;
        return QStringLiteral("Receive buffer to ask for on the reply port, bytes as "
                              "setsockopt(SO_RCVBUF) takes them (default %1%2).")
            .arg(Options::Probing().replyBufferBytes)
            .arg(cap.isEmpty() ? QString()
                               : QStringLiteral("; the kernel grants at most twice %1").arg(cap));
    }

} // namespace

QString durationHelp(const QString &what, double plainDefault, OptionNumber::TimeUnit plain)
{
    return plain == OptionNumber::TimeUnit::Milliseconds
        ? QStringLiteral("%1 (default %2 ms; a plain number is ms, 1.5s and 1m also do).")
              .arg(what)
              .arg(plainDefault)
        : QStringLiteral("%1 (default %2 s; a plain number is seconds, 500ms and 1m also do).")
              .arg(what)
              .arg(plainDefault);
}

std::optional<Failure> readDuration(const QCommandLineParser &parser, const QString &name,
                                    OptionNumber::TimeUnit plain, double minimum, double maximum,
                                    double *ms)
{
    if (!parser.isSet(name))
        return std::nullopt;
    const Expected<double> value = OptionValue::duration(parser, name, plain, minimum, maximum);
    if (!value)
        return value.failure();
    *ms = *value;
    return std::nullopt;
}

QList<QCommandLineOption> probing()
{
    const Options::Probing defaults;
    return {
        { QStringLiteral("from"),
          QStringLiteral("Probe only from ADDRESS, one of this machine's IPv4 addresses."),
          QStringLiteral("ADDRESS") },
        { QStringLiteral("probes"),
          QStringLiteral("Probes to send (default %1).").arg(defaults.probes),
          QStringLiteral("N") },
        { QStringLiteral("interval"),
          durationHelp(QStringLiteral("Between probes"), defaults.intervalMs,
                       OptionNumber::TimeUnit::Milliseconds),
          QStringLiteral("MS") },
        { QStringLiteral("wait"),
          durationHelp(QStringLiteral("After the last probe, wait this long for replies"),
                       defaults.waitMs, OptionNumber::TimeUnit::Milliseconds),
          QStringLiteral("MS") },
        { QStringLiteral("reply-buffer"), replyBufferHelp(), QStringLiteral("BYTES") },
    };
}

Expected<Options::Probing> readProbing(const QCommandLineParser &parser)
{
    using OptionNumber::TimeUnit;
    Options::Probing probing;
    if (parser.isSet(QStringLiteral("probes"))) {
        const auto probes = OptionValue::integer(parser, QStringLiteral("probes"), 1, 100);
        if (!probes)
            return probes.failure();
        probing.probes = int(*probes);
    }
    double intervalMs = probing.intervalMs;
    if (const auto failure = readDuration(parser, QStringLiteral("interval"),
                                          TimeUnit::Milliseconds, 10, 60000, &intervalMs))
        return *failure;
    probing.intervalMs = int(intervalMs);
    double waitMs = probing.waitMs;
    if (const auto failure
        = readDuration(parser, QStringLiteral("wait"), TimeUnit::Milliseconds, 0, 600000, &waitMs))
        return *failure;
    probing.waitMs = int(waitMs);
    if (parser.isSet(QStringLiteral("reply-buffer"))) {
        const auto bytes
            = OptionValue::integer(parser, QStringLiteral("reply-buffer"), 1024, 1 << 30);
        if (!bytes)
            return bytes.failure();
        probing.replyBufferBytes = int(*bytes);
    }
    if (parser.isSet(QStringLiteral("from")))
        probing.from = parser.value(QStringLiteral("from"));
    return probing;
}

QCommandLineOption format(Options::Format byDefault)
{
    const bool csv = byDefault == Options::Format::Csv;
    return { QStringLiteral("format"),
             QStringLiteral("table%1, json or csv%2; text is another name for table.")
                 .arg(csv ? QString() : QStringLiteral(" (default)"),
                      csv ? QStringLiteral(" (default)") : QString()),
             QStringLiteral("FORMAT") };
}

std::optional<Failure> readFormat(const QCommandLineParser &parser, Options::Format *format)
{
    if (!parser.isSet(QStringLiteral("format")))
        return std::nullopt;
    const QString name = parser.value(QStringLiteral("format"));
    // "text" is what set-time, set-address and apply called their table; scripts still say it.
    if (name == QLatin1String("table") || name == QLatin1String("text"))
        *format = Options::Format::Table;
    else if (name == QLatin1String("json"))
        *format = Options::Format::Json;
    else if (name == QLatin1String("csv"))
        *format = Options::Format::Csv;
    else
        return usage(QStringLiteral("--format wants table, json or csv, not \"%1\"").arg(name));
    return std::nullopt;
}

QCommandLineOption rate(const QString &counted, int perSecond)
{
    return { QStringLiteral("rate"),
             QStringLiteral("%1 per second at most (default %2).").arg(counted).arg(perSecond),
             QStringLiteral("N") };
}

std::optional<Failure> readRate(const QCommandLineParser &parser, int maximum, int *perSecond)
{
    if (!parser.isSet(QStringLiteral("rate")))
        return std::nullopt;
    const auto rate = OptionValue::integer(parser, QStringLiteral("rate"), 1, maximum);
    if (!rate)
        return rate.failure();
    *perSecond = int(*rate);
    return std::nullopt;
}

QCommandLineOption dryRun(const QString &help)
{
    return { QStringLiteral("dry-run"), help };
}

QCommandLineOption log()
{
    return { QStringLiteral("log"),
             QStringLiteral("Append one JSON line per command sent to FILE, with what its "
                            "verification found."),
             QStringLiteral("FILE") };
}

QCommandLineOption tolerance(const QString &help, double seconds)
{
    return { QStringLiteral("tolerance"),
             durationHelp(help, seconds, OptionNumber::TimeUnit::Seconds),
             QStringLiteral("SECONDS") };
}

std::optional<Failure> readTolerance(const QCommandLineParser &parser, double *seconds)
{
    double ms = *seconds * 1000;
    if (const auto failure = readDuration(parser, QStringLiteral("tolerance"),
                                          OptionNumber::TimeUnit::Seconds, 0, 86400, &ms))
        return *failure;
    *seconds = ms / 1000;
    return std::nullopt;
}

Failure usage(const QString &message)
{
    return { ExitStatus::Usage, message };
}

} // namespace SharedOptions
