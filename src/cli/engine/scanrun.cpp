#include "scanrun.h"

#include "eventloop.h"
#include "platform.h"
#include "replybuffer.h"

#include <QElapsedTimer>
#include <QTimer>

namespace ScanRun {

namespace {

    constexpr int progressIntervalMs = 200;

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
    const Platform::ReceiveBufferCap cap = Platform::receiveBufferCap(
        qMax(options.replyBufferBytes, Options::Probing().replyBufferBytes));
    const QList<HealthNote> bufferNotes = ReplyBuffer::notes(
        { Platform::fullReceiveBuffer(options.replyBufferBytes), report.figures.replyBufferBytes,
          report.figures.dropped, int(report.devices.size()), cap.setting, cap.raiseCommand });
    report.notes.append(bufferNotes);
    report.warnings.append(bufferNotes);
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
