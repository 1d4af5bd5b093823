#ifndef COMMANDSENDER_H
#define COMMANDSENDER_H

#include "failure.h"
#include "localinterfaces.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Sends a command datagram the way the window does, from the device port, to the device's
// current address and port; but from the address the device was heard on and out through that
// address's interface, whatever the routing table says, so that it also reaches a device whose
// address lies outside the workstation's subnets.
namespace CommandSender {

// A failure (network unusable) when the datagram could not be handed to the network.
std::optional<Failure> send(const QByteArray &datagram, const LocalAddress &from, quint32 to);

} // namespace CommandSender

#endif // COMMANDSENDER_H
