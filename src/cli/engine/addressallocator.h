#ifndef ADDRESSALLOCATOR_H
#define ADDRESSALLOCATOR_H

#include "addressprobe.h"
#include "inventory.h"
#include "planrow.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>

// plan's rules: gives every device a scan heard an address of a range. A device that already
// stores an address of the range keeps it (the first of two storing the same one), unless
// another host answers for it; the others get the range's addresses in order, on each subnet
// those the address rules allow there, skipping the addresses of the devices and of this
// machine and those another host answers for on the device's link.
namespace AddressAllocator {

// Who holds each address asked about, one answer per request in order: AddressProbe::probe on
// the network, a table in a test.
using Probe = std::function<QList<AddressHolder>(const QList<AddressProbe::Request> &)>;
// Told of each address passed over and each serial heard twice, as it is found: between the
// probes, whose own warnings then read in the order things happened.
using Warn = std::function<void(const PlanWarning &warning)>;

struct Request
{
    QList<DeviceEntry> devices; // as the scan heard them
    QSet<quint32> localAddresses; // this machine's
    quint32 first = 0; // the range, inclusive
    quint32 last = 0;
    bool setTime = false; // for every line
};

struct Allocation
{
    QList<PlanRow> rows; // in the scan's order
    QList<UnplannedDevice> unplanned; // in the scan's order
};

Allocation allocate(const Request &request, const Probe &probe, const Warn &warn);

// The subnets the devices were heard on, as "10.77.0.0/16", when the range has no address in any
// of them: no device could be given one. Empty when one of them can, or no device was heard.
QStringList subnetsMissed(const Request &request);

} // namespace AddressAllocator

#endif // ADDRESSALLOCATOR_H
