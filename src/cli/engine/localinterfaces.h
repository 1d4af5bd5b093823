#ifndef LOCALINTERFACES_H
#define LOCALINTERFACES_H

#include "localaddress.h"

#include <QList>

namespace LocalInterfaces {

// Every IPv4 address of an interface that is up, loopback left out, in the order the system
// lists its interfaces.
QList<LocalAddress> ipv4Addresses();

} // namespace LocalInterfaces

#endif // LOCALINTERFACES_H
