#ifndef SCANRUN_H
#define SCANRUN_H

#include "failure.h"
#include "inventory.h"
#include "options.h"
#include "scanreport.h"

#include <functional>

// One scan run to its end inside the command's event loop. Shared by every command: set-time
// and set-address find their device with it, and the verifying rescans are made with it. It
// prints nothing: its warnings come back in the report, its progress goes to `progress`.
namespace ScanRun {

// Takes where the scan stands as it runs, and again every 200 ms while nothing is heard, for a
// terminal that shows it in place.
using Progress = std::function<void(const ScanProgress &)>;

// The addresses to probe from: every usable one, or the one --from names. A failure when
// --from names no address of this machine (bad usage) or there is none at all (network
// unusable).
Expected<QList<LocalAddress>> addresses(const Options::Probing &options);

// Scans from `from`; a failure (network unusable) when the sockets cannot be opened. `enough`,
// when given, is asked about every reply heard and ends the scan early once it holds.
Expected<ScanReport> run(const QList<LocalAddress> &from, const Options::Probing &options,
                         const std::function<bool(const Sighting &)> &enough = {},
                         const Progress &progress = {});

// addresses() and run() in one: the scan a command starts with.
Expected<ScanReport> firstScan(const Options::Probing &options, const Progress &progress = {});

} // namespace ScanRun

#endif // SCANRUN_H
