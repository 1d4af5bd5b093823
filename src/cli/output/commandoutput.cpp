#include "commandoutput.h"

#include "csvtable.h"
#include "jsontext.h"
#include "textescape.h"
#include "verificationwords.h"

#include <QDateTime>

namespace CommandOutput {

namespace {

    // The log line of the command, with what only the printed document says: every document
    // has every key, whether or not it was a dry run, a no-op or verified.
    QByteArray json(QJsonObject record)
    {
        for (const char *key : { "dry_run", "unchanged" }) {
            if (!record.contains(QLatin1String(key)))
                record.insert(QLatin1String(key), false);
        }
        if (!record.contains(QLatin1String("verify")))
            record.insert(QStringLiteral("verify"), QJsonValue());
        record.insert(QStringLiteral("format"), QStringLiteral("setuptool-cli/command"));
        record.insert(QStringLiteral("version"), JsonText::version);
        return JsonText::document(record);
    }

    QByteArray csv(const QJsonObject &record)
    {
        return CsvTable::write({ record },
                               { QStringLiteral("command"), QStringLiteral("device_name"),
                                 QStringLiteral("device_serial"),
                                 QStringLiteral("device_address") });
    }

    // All a dry run sent, which changes nothing on a device: the scan's probes and the in-use
    // probe, if it asked.
    QString dryRunReads(const CommandReport &report)
    {
        if (!report.probed)
            return QStringLiteral("sent only the scan's probes");
        return QStringLiteral("sent only the scan's probes and, to ask whether another host "
                              "holds %1, a datagram to its UDP port 9 and the kernel's ARP "
                              "requests")
            .arg(*report.probed);
    }

} // namespace

QString unreachable(const QString &device)
{
    return QStringLiteral("%1 reports 0.0.0.0 as its address: no command can reach it").arg(device);
}

QString refused(const QString &reason)
{
    return QStringLiteral("refused: %1 (--force sends it all the same)").arg(reason);
}

QString sentAsForced(const QString &reason)
{
    return QStringLiteral("sending as forced: %1").arg(reason);
}

QString sentLine(const CommandReport &report)
{
    const bool address = report.kind == CommandReport::Kind::SetAddress;
    const QString what = address
        ? QStringLiteral("stored address %1, taken at its next restart").arg(report.newAddress)
        : QStringLiteral("clock %1 (%2 s)")
              .arg(QDateTime::fromSecsSinceEpoch(report.seconds, Qt::UTC).toString(Qt::ISODate))
              .arg(report.seconds);
    return QStringLiteral("%1 %2 from %3: %4")
        .arg(address ? QStringLiteral("set-address") : QStringLiteral("set-time"), report.device,
             report.heardOn, what);
}

QByteArray dryRun(const CommandReport &report, Options::Format format)
{
    if (format == Options::Format::Json)
        return json(report.record);
    if (format == Options::Format::Csv)
        return csv(report.record);
    return QStringLiteral("%1 (dry run: no command sent; %2)\nplain:     %3\nscrambled: %4\n")
        .arg(sentLine(report), dryRunReads(report), TextEscape::hex(report.plain),
             TextEscape::hex(report.scrambled))
        .toUtf8();
}

QByteArray unchanged(const CommandReport &report, Options::Format format)
{
    if (format == Options::Format::Json)
        return json(report.record);
    if (format == Options::Format::Csv)
        return csv(report.record);
    return QStringLiteral("%1 stores %2 already: nothing changes, no command sent (--force sends "
                          "it all the same)\n")
        .arg(report.device, report.newAddress)
        .toUtf8();
}

QByteArray result(const CommandReport &report, Options::Format format)
{
    if (format == Options::Format::Json)
        return json(report.record);
    if (format == Options::Format::Csv)
        return csv(report.record);
    if (!report.verifyRequested)
        return QByteArray();
    return QStringLiteral("verify: %1: %2\n")
        .arg(VerificationWords::resultName(report.verification),
             VerificationWords::detail(report.verification))
        .toUtf8();
}

QString sendingProgress(int done, int total)
{
    return QStringLiteral("sending: %1 of %2 command(s)").arg(done).arg(total);
}

QString verifyProblem(const Verification &verification)
{
    switch (verification.result) {
    case Verification::Result::Failed:
        return QStringLiteral("verify failed: ") + VerificationWords::detail(verification);
    case Verification::Result::CannotVerify:
        return QStringLiteral("cannot verify: ") + VerificationWords::detail(verification);
    case Verification::Result::Passed:
    case Verification::Result::NotRequested:
        break;
    }
    return QString();
}

} // namespace CommandOutput
