#ifndef ENGINECONSOLE_H
#define ENGINECONSOLE_H

#include "addressprobe.h"
#include "failure.h"
#include "options.h"
#include "scanrun.h"

#include <QList>

// The engine's work as every command runs it: the scan's progress on a terminal, then its
// warnings and the address probe's on stderr. The engine itself prints nothing.
namespace EngineConsole {

// Progress for ScanRun on a terminal; nothing when stderr is not one.
ScanRun::Progress progress();

// ScanRun::firstScan() and ScanRun::run(), their warnings said.
Expected<ScanReport> firstScan(const Options::Probing &options);
Expected<ScanReport> scan(const QList<LocalAddress> &from, const Options::Probing &options);

// What a verifying rescan found, said once it is over: its warnings, but for those a scan of
// the run said already (such as the capped reply buffer).
void rescanned(const ScanReport &report);

// AddressProbe::probe(), its warnings said.
QList<AddressHolder> probe(const QList<AddressProbe::Request> &requests);

} // namespace EngineConsole

#endif // ENGINECONSOLE_H
