#ifndef ADDRESSPROBE_H
#define ADDRESSPROBE_H

#include "addressholding.h"
#include "deviceentry.h"
#include "healthnote.h"
#include "localinterfaces.h"

#include <QList>
#include <QString>

// Whether an address about to be given to a device is already held by another host on the link
// the device was heard on.
struct AddressHolder
{
    enum class State { Free, InUse, CannotTell };
    State state = State::CannotTell;
    QString hardwareAddress; // of the host that answered, where known
    bool workstation = false; // the address is this workstation's own
    QString reason; // why it cannot tell
};

namespace AddressProbe {

struct Request
{
    quint32 address = 0;
    LocalAddress via; // the workstation address whose link is asked
};

// One answer per request, in order. This workstation's own addresses are in use without asking;
// the others are asked on their links, the addresses of one link together.
QList<AddressHolder> probe(const QList<Request> &requests);

// What the person who asked is warned of: each address it cannot tell about, in order.
QList<HealthNote> warnings(const QList<Request> &requests, const QList<AddressHolder> &holders);

// An address found in use, as output words it: named by the device of `heard` that answers at
// it on the link asked, when the scan heard one there.
AddressHolding holding(const Request &request, const AddressHolder &holder,
                       const QList<DeviceEntry> &heard);

} // namespace AddressProbe

#endif // ADDRESSPROBE_H
