#include "scanrun.h"

#include "eventloop.h"
#include "platform.h"

#include <QElapsedTimer>
#include <QTimer>

namespace ScanRun {

namespace {

    constexpr int progressIntervalMs = 200;

    QString kib(qint64 bytes)
    {
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    }

} // namespace

Expected<QList<LocalAddress>> addresses(const Options::Probing &options)
{
    const QList<LocalAddress> all = LocalInterfaces::ipv4Addresses();
    if (all.isEmpty())
        return Failure { ExitStatus::NetworkUnusable,
                         QStringLiteral("this machine has no IPv4 address on an interface that is "
                                        "up (loopback does not count): there is no segment to "
                                        "scan") };
    if (!options.from)
        return all;
    const auto wanted = AddressRules::parse(*options.from);
    for (const LocalAddress &local : all) {
        if (wanted && local.ipv4() == *wanted)
            return QList<LocalAddress> { local };
    }
    QStringList known;
    for (const LocalAddress &local : all)
        known.append(local.describe());
    return Failure { ExitStatus::Usage,
                     QStringLiteral("--from %1 is not an IPv4 address of this machine; it has %2")
                         .arg(*options.from, known.join(QStringLiteral(", "))) };
}

Expected<ScanReport> run(const QList<LocalAddress> &from, const Options::Probing &options,
                         const std::function<bool(const Sighting &)> &enough,
                         const Progress &progress)
{
    Scanner scanner(from, options);
    ScanReport report;
    if (const auto failure = scanner.open(&report.warnings))
        return *failure;

    const int granted = scanner.figures().replyBufferBytes;
    // Said exactly where the system granted less than the whole request, the default or
    // --reply-buffer: Linux caps it at net.core.rmem_max, Windows grants what is asked.
    const int full = Platform::fullReceiveBuffer(options.replyBufferBytes);
    const Platform::ReceiveBufferCap cap = Platform::receiveBufferCap(options.replyBufferBytes);
    if (granted < full) {
        QString text = QStringLiteral("the kernel granted %1 of receive buffer for replies, not "
                                      "the %2 asked for")
                           .arg(kib(granted), kib(full));
        if (!cap.setting.isEmpty())
            text += QStringLiteral(" (%1 caps it)").arg(cap.setting);
        text += QStringLiteral(": a burst from many hundreds of devices may not fit, and the scan "
                               "says so if replies are dropped.");
        if (!cap.raiseCommand.isEmpty())
            text += QStringLiteral(" To raise the cap, as root: %1").arg(cap.raiseCommand);
        report.notes.append({ QStringLiteral("reply-buffer-capped"), text });
        report.warnings.append(report.notes.constLast());
    }

    Inventory inventory;
    QElapsedTimer lastProgress;
    lastProgress.start();
    const auto showProgress = [&] {
        if (progress)
            progress({ from, scanner.figures().probesSent, options.probes, inventory.size() });
        lastProgress.restart();
    };
    // A burst is read in one go, so the count is also refreshed while nothing is heard.
    QTimer progressTimer;
    progressTimer.setInterval(progressIntervalMs);
    QObject::connect(&progressTimer, &QTimer::timeout, &scanner, showProgress);
    if (progress)
        progressTimer.start();
    QObject::connect(&scanner, &Scanner::probeSent, &scanner, showProgress);
    QObject::connect(&scanner, &Scanner::heard, &scanner, [&](const Sighting &sighting) {
        const int before = inventory.size();
        inventory.add(sighting);
        if (inventory.size() > before)
            report.lastNewDeviceMs = sighting.atMs;
        if (progress && lastProgress.elapsed() >= progressIntervalMs)
            showProgress();
        if (enough && enough(sighting))
            scanner.stop();
    });
    QObject::connect(&scanner, &Scanner::finished, &progressTimer, &QTimer::stop);
    EventLoop::runUntil(&scanner, &Scanner::finished, [&] { scanner.start(); });

    report.devices = inventory.devices();
    report.scannedFrom = from;
    report.figures = scanner.figures();
    if (report.figures.dropped > 0) {
        QString text = QStringLiteral("the kernel dropped %1 datagram(s) on the reply port "
                                      "because its receive buffer (%2) was full: devices may be "
                                      "missing. Scan again with more --probes")
                           .arg(report.figures.dropped)
                           .arg(kib(granted));
        const QString raise
            = Platform::receiveBufferCap(Options::Probing().replyBufferBytes).raiseCommand;
        if (!raise.isEmpty())
            text += QStringLiteral(", or raise the cap as root: %1").arg(raise);
        report.notes.append({ QStringLiteral("replies-dropped"), text });
        report.warnings.append(report.notes.constLast());
    }
    const QString uncounted = Platform::receiveDropsUnavailable();
    if (!uncounted.isEmpty())
        report.notes.append({ QStringLiteral("drops-not-counted"), uncounted });
    return report;
}

Expected<ScanReport> firstScan(const Options::Probing &options, const Progress &progress)
{
    const Expected<QList<LocalAddress>> from = addresses(options);
    if (!from)
        return from.failure();
    return run(*from, options, {}, progress);
}

} // namespace ScanRun
