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
          QStringLiteral("Between probes, ms (default %1).").arg(defaults.intervalMs),
          QStringLiteral("MS") },
        { QStringLiteral("wait"),
          QStringLiteral("After the last probe, wait this long for replies, ms (default %1).")
              .arg(defaults.waitMs),
          QStringLiteral("MS") },
        { QStringLiteral("reply-buffer"), replyBufferHelp(), QStringLiteral("BYTES") },
    };
}

Expected<Options::Probing> readProbing(const QCommandLineParser &parser)
{
    Options::Probing probing;
    if (parser.isSet(QStringLiteral("probes"))) {
        const auto probes = OptionValue::integer(parser, QStringLiteral("probes"), 1, 100);
        if (!probes)
            return probes.failure();
        probing.probes = int(*probes);
    }
    if (parser.isSet(QStringLiteral("interval"))) {
        const auto interval = OptionValue::integer(parser, QStringLiteral("interval"), 10, 60000);
        if (!interval)
            return interval.failure();
        probing.intervalMs = int(*interval);
    }
    if (parser.isSet(QStringLiteral("wait"))) {
        const auto wait = OptionValue::integer(parser, QStringLiteral("wait"), 0, 600000);
        if (!wait)
            return wait.failure();
        probing.waitMs = int(*wait);
    }
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

QCommandLineOption format(const QString &help)
{
    return { QStringLiteral("format"), help, QStringLiteral("FORMAT") };
}

std::optional<Failure> readListFormat(const QCommandLineParser &parser, bool csv,
                                      Options::Format *format)
{
    if (!parser.isSet(QStringLiteral("format")))
        return std::nullopt;
    const QString name = parser.value(QStringLiteral("format"));
    if (name == QLatin1String("table"))
        *format = Options::Format::Table;
    else if (name == QLatin1String("json"))
        *format = Options::Format::Json;
    else if (csv && name == QLatin1String("csv"))
        *format = Options::Format::Csv;
    else
        return usage(csv ? QStringLiteral("--format wants table, json or csv, not \"%1\"").arg(name)
                         : QStringLiteral("--format wants table or json, not \"%1\"").arg(name));
    return std::nullopt;
}

std::optional<Failure> readTextFormat(const QCommandLineParser &parser, bool *json)
{
    if (!parser.isSet(QStringLiteral("format")))
        return std::nullopt;
    const QString name = parser.value(QStringLiteral("format"));
    *json = name == QLatin1String("json");
    if (!*json && name != QLatin1String("text"))
        return usage(QStringLiteral("--format wants text or json, not \"%1\"").arg(name));
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
    return { QStringLiteral("tolerance"), help.arg(seconds), QStringLiteral("SECONDS") };
}

std::optional<Failure> readTolerance(const QCommandLineParser &parser, double *seconds)
{
    if (!parser.isSet(QStringLiteral("tolerance")))
        return std::nullopt;
    const Expected<double> value
        = OptionValue::seconds(parser, QStringLiteral("tolerance"), 0, 86400);
    if (!value)
        return value.failure();
    *seconds = *value;
    return std::nullopt;
}

Failure usage(const QString &message)
{
    return { ExitStatus::Usage, message };
}

} // namespace SharedOptions
