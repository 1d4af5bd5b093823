#ifndef SNTPPORT_H
#define SNTPPORT_H

#include <QtGlobal>

namespace Sntp {

// The UDP port an SNTP server answers on: where the companion asks a device's clock and where the
// simulated devices serve theirs.
constexpr quint16 port = 123;

} // namespace Sntp

#endif // SNTPPORT_H
