#ifndef ADDRESSPROBE_H
#define ADDRESSPROBE_H

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

// "10.77.1.5 is in use: a host at 02:fc:00:00:00:05 answers for it on the link of 10.77.0.1
// (ws1)", for an address found in use.
QString inUseText(quint32 address, const AddressHolder &holder, const LocalAddress &via);

} // namespace AddressProbe

#endif // ADDRESSPROBE_H
