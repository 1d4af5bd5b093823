#ifndef SCANRUN_H
#define SCANRUN_H

#include "commandline.h"
#include "exitstatus.h"
#include "inventory.h"
#include "outputwriter.h"

#include <functional>
#include <optional>

// One scan run to its end inside the command's event loop, with progress on a terminal and
// the scan's own warnings on stderr. Shared by every command: set-time and set-address find
// their device with it, and set-address --verify scans again with it.
namespace ScanRun {

// The addresses to probe from: every usable one, or the one --from names. Nothing, with
// *error and *status, when --from names no address of this machine (bad usage) or there is
// none at all (network unusable).
std::optional<QList<LocalAddress>> addresses(const Invocation &invocation, QString *error,
                                             ExitStatus *status);

// Scans from `from`; false, with *error, when the network is unusable. `enough`, when given,
// is asked about every reply heard and ends the scan early once it holds.
bool run(const QList<LocalAddress> &from, const Invocation &invocation, ScanReport *report,
         QString *error, const std::function<bool(const Sighting &)> &enough = {});

// addresses() and run() in one, with any error on stderr: the scan a command starts with.
// Nothing, with *status, when it could not be made.
std::optional<ScanReport> firstScan(const Invocation &invocation, ExitStatus *status);

} // namespace ScanRun

#endif // SCANRUN_H
