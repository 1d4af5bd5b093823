#include "plancommand.h"

#include "addressallocator.h"
#include "console.h"
#include "engineconsole.h"
#include "planoutput.h"
#include "scanrun.h"

namespace PlanCommand {

Expected<ExitStatus> run(const Options::Plan &options)
{
    const Expected<ScanReport> scan = EngineConsole::firstScan(options.probing);
    if (!scan)
        return scan.failure();

    AddressAllocator::Request request;
    request.devices = scan->devices;
    for (const LocalAddress &local : LocalInterfaces::ipv4Addresses())
        request.localAddresses.insert(local.ipv4());
    request.first = options.rangeFirst;
    request.last = options.rangeLast;
    request.setTime = options.setTime;
    // A range no device can use is a mistake in the command, said once, before any address is
    // asked about.
    if (const QStringList missed = AddressAllocator::subnetsMissed(request); !missed.isEmpty())
        return Failure { ExitStatus::Usage,
                         PlanOutput::rangeOutside(request.first, request.last, missed) };
    const AddressAllocator::Allocation allocation
        = AddressAllocator::allocate(request, EngineConsole::probe, [](const PlanWarning &warning) {
              Console::warning(PlanOutput::warning(warning));
          });
    Console::result(
        PlanOutput::write(allocation.rows, request.first, request.last, options.format));

    if (scan->devices.isEmpty()) {
        Console::error(PlanOutput::nothingHeard());
        return ExitStatus::DeviceNotFound;
    }
    for (const UnplannedDevice &device : allocation.unplanned)
        Console::error(PlanOutput::notPlanned(device, request.first, request.last));
    return allocation.unplanned.isEmpty() ? ExitStatus::Success : ExitStatus::PlanFaults;
}

} // namespace PlanCommand
