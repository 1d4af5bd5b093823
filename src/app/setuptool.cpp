#include "setuptool.h"
#include "ui_setuptool.h"

#include "deviceprotocol.h"
#include "ntpserver.h"
#include "settingsform.h"

#include <QHostAddress>
#include <QListWidgetItem>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <utility>

namespace {

constexpr int probeInterval = 1000; // ms
constexpr auto bindMode = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
// 2,000 replies arriving at once, at up to 4 KiB of kernel accounting each (Linux doubles this).
constexpr int replyBufferSize = 4 * 1024 * 1024; // bytes
// While replies pour in, the window is painted at most once per frame of this length.
constexpr int repaintInterval = 20; // ms

} // namespace

setuptool::setuptool(QMainWindow *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::setuptool>())
{
    ui->setupUi(this);

    serv = std::make_unique<NTPserver>();

    ui->readytostartLabel->setText(tr("Ready to scan"));
    ui->receiveLabel->setText(QString());
    // Every row has the same shape (name, "@", address). Without this the list measures all
    // its rows again for each new one, which stalls the window when thousands of devices answer.
    ui->listWidget->setUniformItemSizes(true);

    timer = new QTimer(this);

    repaintTimer = new QTimer(this);
    repaintTimer->setSingleShot(true);
    repaintTimer->setInterval(repaintInterval);
    connect(repaintTimer, &QTimer::timeout, this,
            [this] { ui->centralWidget->setUpdatesEnabled(true); });

    // One probe socket and one reply socket per usable address. A probe socket bound to
    // its interface's address sends its broadcast out through that interface, so every
    // network the workstation is on gets probed. Reply sockets listen on every address:
    // binding to the broadcast address would fail on Windows and hear nothing.
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol
            || address == QHostAddress(QHostAddress::LocalHost))
            continue;

        udpSocket = new QUdpSocket(this);
        udpSocket->abort();
        udpSocket->bind(address, DeviceProtocol::probePort, bindMode);
        broadcast_sockets.append(udpSocket);

        udpSocket = new QUdpSocket(this);
        udpSocket->abort();
        udpSocket->bind(QHostAddress::AnyIPv4, DeviceProtocol::devicePort, bindMode);
        udpSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, replyBufferSize);
        receive_sockets.append(udpSocket);
    }

    ui->scanprogressBar->setMaximum(probeCycles);
    messageNo = 1;

    connect(ui->scanPushButton, SIGNAL(clicked()), this, SLOT(startBroadcasting()));
    connect(ui->quitPushButton, SIGNAL(clicked()), this, SLOT(close()));
    // The probe cycle runs before the replies are read on every tick.
    connect(timer, SIGNAL(timeout()), this, SLOT(broadcastDatagram()));
    connect(timer, SIGNAL(timeout()), this, SLOT(processPendingDatagrams()));
    // Only the last reply socket wakes the reader; the others are read on the same call.
    if (udpSocket)
        connect(udpSocket, SIGNAL(readyRead()), this, SLOT(processPendingDatagrams()));
    connect(ui->listWidget, SIGNAL(itemDoubleClicked(QListWidgetItem *)), this,
            SLOT(openSettings(QListWidgetItem *)));

    setWindowTitle(tr("Vandrel ntp setuptool"));
}

// Out of line, where the form and the settings window are complete types.
setuptool::~setuptool() = default;

void setuptool::startBroadcasting()
{
    ui->scanPushButton->setText(tr("Stop"));
    ui->readytostartLabel->setText(tr("Scanning"));

    ntp_servers.clear();
    ui->listWidget->clear();

    receive = 0;
    messageNo = 0;
    send = 0;
    ui->scanprogressBar->setValue(0);

    disconnect(ui->scanPushButton, SIGNAL(clicked()), this, SLOT(startBroadcasting()));
    connect(ui->scanPushButton, SIGNAL(clicked()), this, SLOT(stopBroadcasting()));

    timer->start(probeInterval);
}

void setuptool::stopBroadcasting()
{
    ui->scanPushButton->setText(tr("Start"));
    ui->readytostartLabel->setText(tr("Ready to scan"));

    ui->scanprogressBar->setValue(probeCycles);

    disconnect(ui->scanPushButton, SIGNAL(clicked()), this, SLOT(stopBroadcasting()));
    connect(ui->scanPushButton, SIGNAL(clicked()), this, SLOT(startBroadcasting()));

    timer->stop();
}

void setuptool::broadcastDatagram()
{
    if (send >= probeCycles) {
        stopBroadcasting();
        return;
    }

    const QByteArray probe = DeviceProtocol::probe(messageNo);
    for (QUdpSocket *socket : std::as_const(broadcast_sockets))
        socket->writeDatagram(probe, QHostAddress(QStringLiteral("255.255.255.255")),
                              DeviceProtocol::probePort);

    ui->scanprogressBar->setValue(ui->scanprogressBar->value() + 1);
    ++messageNo;
    ++send;
}

void setuptool::processPendingDatagrams()
{
    for (QUdpSocket *socket : std::as_const(receive_sockets)) {
        // One datagram per socket and call; the rest waits for the next call. A socket whose
        // port another program holds exclusively never got bound and has nothing to read.
        if (socket->state() != QAbstractSocket::BoundState || !socket->hasPendingDatagrams())
            continue;

        ++receive;
        holdRepaint();

        QByteArray datagram(qMax<qint64>(socket->pendingDatagramSize(), 0), Qt::Uninitialized);
        // A failed read leaves the buffer as it was allocated: nothing of it may be parsed.
        const qint64 bytesRead = socket->readDatagram(datagram.data(), datagram.size());
        datagram.truncate(int(qMax<qint64>(bytesRead, 0)));

        ui->receiveLabel->setText(tr("Receive: ") + QString::number(receive));

        // Too short to be a device reply: counted, but it describes no device.
        if (!NTPserver::isReply(datagram))
            continue;

        *serv = NTPserver(datagram, socket);

        const bool known = std::any_of(ntp_servers.cbegin(), ntp_servers.cend(),
                                       [this](const QSharedPointer<NTPserver> &server) {
                                           return server->get_signature() == serv->get_signature();
                                       });
        if (known)
            continue;

        ui->listWidget->addItem(serv->get_title());
        ntp_servers.append(QSharedPointer<NTPserver>::create(*serv));
    }
}

// Each datagram read changes the counter and maybe the list, and painting the window after every
// one of them would cost far more than reading it: a burst from thousands of devices would then
// overflow the socket buffers. Painting waits for the end of the current frame instead.
void setuptool::holdRepaint()
{
    if (repaintTimer->isActive())
        return;
    ui->centralWidget->setUpdatesEnabled(false);
    repaintTimer->start();
}

void setuptool::openSettings(QListWidgetItem *item)
{
    // Rows are resolved by position: two devices may share a name and an address (an address
    // conflict), and each row must open its own device.
    const int row = ui->listWidget->row(item);
    if (row < 0 || row >= ntp_servers.size())
        return;

    settings_windows.push_back(std::make_unique<SettingsForm>(ntp_servers.at(row)));
    Settings = settings_windows.back().get();
    Settings->show();
    Settings->raise();
}
