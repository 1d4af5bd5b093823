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
    QString hardwareAddress; // of the host that answered, where known
    bool workstation = false; // the address is this workstation's own
    QString reason; // why it cannot tell
};

namespace AddressProbe {

// One answer per address, in order. This workstation's own addresses are in use without asking
// the link; the others are asked through the interface of `via`.
QList<AddressHolder> probe(const QList<quint32> &addresses, const LocalAddress &via);

// "10.77.1.5 is in use: a host at 02:fc:00:00:00:05 answers for it on the link of 10.77.0.1
// (ws1)", for an address found in use.
QString inUseText(quint32 address, const AddressHolder &holder, const LocalAddress &via);
// "cannot tell whether another host holds 10.77.1.5: <reason>", a warning, not a refusal.
QString cannotTellText(quint32 address, const AddressHolder &holder);

} // namespace AddressProbe

#endif // ADDRESSPROBE_H
