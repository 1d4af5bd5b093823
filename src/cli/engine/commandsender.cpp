#include "commandsender.h"

#include "deviceprotocol.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

bool CommandSender::send(const QByteArray &datagram, const LocalAddress &from, quint32 to,
                         QString *error)
{
    QUdpSocket socket;
    // Shared, as the window and any scan bind the device port.
    if (!socket.bind(from.address, DeviceProtocol::devicePort,
                     QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        *error = QStringLiteral("cannot send from %1 port %2: %3")
                     .arg(from.describe())
                     .arg(DeviceProtocol::devicePort)
                     .arg(socket.errorString());
        return false;
    }
    QNetworkDatagram command(datagram, QHostAddress(to), DeviceProtocol::devicePort);
    command.setInterfaceIndex(uint(from.interfaceIndex));
    if (socket.writeDatagram(command) != datagram.size()) {
        *error = QStringLiteral("cannot send to %1 port %2 from %3: %4")
                     .arg(QHostAddress(to).toString())
                     .arg(DeviceProtocol::devicePort)
                     .arg(from.describe(), socket.errorString());
        return false;
    }
    return true;
}
