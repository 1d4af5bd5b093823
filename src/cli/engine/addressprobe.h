#ifndef ADDRESSPROBE_H
#define ADDRESSPROBE_H

#include "localinterfaces.h"

#include <QList>
#include <QString>

// Whether an address about to be given to a device is already held by another host on the link
// the device was heard on.
struct AddressHolder
{
    enum class State { Free, InUse, CannotTell };
    State state = State::CannotTell;
    // The hardware address that answered, or "this workstation"; empty where unknown.
    QString holder;
    QString reason; // why it cannot tell
};

namespace AddressProbe {

// One answer per address, in order. This workstation's own addresses are in use without asking
// the link; the others are asked through the interface of `via`.
QList<AddressHolder> probe(const QList<quint32> &addresses, const LocalAddress &via);

} // namespace AddressProbe

#endif // ADDRESSPROBE_H
