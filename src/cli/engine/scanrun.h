#ifndef SCANRUN_H
#define SCANRUN_H

#include "failure.h"
#include "inventory.h"
#include "options.h"

#include <functional>

// Everything one scan found out: what every output of it shows.
struct ScanReport
{
    QList<DeviceEntry> devices;
    QList<LocalAddress> scannedFrom;
    Scanner::Figures figures;
    qint64 lastNewDeviceMs = -1; // after the first probe; -1 when nobody answered
    QList<HealthNote> notes; // about the scan itself
};

// One scan run to its end inside the command's event loop, with progress on a terminal and
// the scan's own warnings on stderr. Shared by every command: set-time and set-address find
// their device with it, and the verifying rescans are made with it.
namespace ScanRun {

// The addresses to probe from: every usable one, or the one --from names. A failure when
// --from names no address of this machine (bad usage) or there is none at all (network
// unusable).
Expected<QList<LocalAddress>> addresses(const Options::Probing &options);

// Scans from `from`; a failure (network unusable) when the sockets cannot be opened. `enough`,
// when given, is asked about every reply heard and ends the scan early once it holds.
Expected<ScanReport> run(const QList<LocalAddress> &from, const Options::Probing &options,
                         const std::function<bool(const Sighting &)> &enough = {});

// addresses() and run() in one: the scan a command starts with.
Expected<ScanReport> firstScan(const Options::Probing &options);

} // namespace ScanRun

#endif // SCANRUN_H
