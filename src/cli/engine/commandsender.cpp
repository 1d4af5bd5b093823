#include "commandsender.h"

#include "deviceprotocol.h"
#include "platform.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

std::optional<Failure> CommandSender::send(const QByteArray &datagram, const LocalAddress &from,
                                           quint32 to)
{
    QUdpSocket socket;
    // Shared, as the window and any scan bind the device port.
    if (!socket.bind(from.address, DeviceProtocol::devicePort,
                     QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        return Failure { ExitStatus::NetworkUnusable,
                         QStringLiteral("cannot send from %1 port %2: %3")
                             .arg(from.describe())
                             .arg(DeviceProtocol::devicePort)
                             .arg(socket.errorString()) };
    }
    Platform::keepReadingAfterIcmpErrors(socket.socketDescriptor());
    QNetworkDatagram command(datagram, QHostAddress(to), DeviceProtocol::devicePort);
    command.setInterfaceIndex(uint(from.interfaceIndex));
    if (socket.writeDatagram(command) != datagram.size()) {
        return Failure { ExitStatus::NetworkUnusable,
                         QStringLiteral("cannot send to %1 port %2 from %3: %4")
                             .arg(QHostAddress(to).toString())
                             .arg(DeviceProtocol::devicePort)
                             .arg(from.describe(), socket.errorString()) };
    }
    return std::nullopt;
}
