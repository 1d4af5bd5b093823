#include "settingsform.h"
#include "ui_settingsform.h"

#include "deviceprotocol.h"
#include "ntpserver.h"

#include <QDateTime>
#include <QHostAddress>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QUdpSocket>
#include <QtEndian>

SettingsForm::SettingsForm(QSharedPointer<NTPserver> server)
    : QWidget(nullptr)
    , ui(std::make_unique<Ui::SettingsForm>())
    , server(std::move(server))
{
    ui->setupUi(this);

    const QString octet = QStringLiteral("(?:[0-1]?[0-9]?[0-9]|2[0-4][0-9]|25[0-5])");
    const QRegularExpression addressPattern(QLatin1Char('^') + octet + QStringLiteral("\\.") + octet
                                            + QStringLiteral("\\.") + octet + QStringLiteral("\\.")
                                            + octet + QLatin1Char('$'));
    ui->ipAddressLineEdit->setValidator(new QRegularExpressionValidator(addressPattern, this));

    ui_combo_boxes = { ui->ntpComboBox, ui->mbtcpComboBox, ui->melsecComboBox, ui->gpsComboBox };
    for (QComboBox *box : std::as_const(ui_combo_boxes)) {
        box->addItem(tr("Disabled"));
        box->addItem(tr("Enabled"));
    }

    const NTPserver &device = *this->server;
    const bool states[] = { device.get_ntp_protocol(), device.get_mbtcp_protocol(),
                            device.get_melsec_protocol(), device.get_gps_enabled() };
    for (int i = 0; i < ui_combo_boxes.size(); ++i)
        ui_combo_boxes.at(i)->setCurrentIndex(states[i] ? 1 : 0);

    ui->generalInfoTextEdit->append(tr("Current IP:") + device.get_ip_current_s());
    ui->generalInfoTextEdit->append(tr("EEPROM IP:") + device.get_ip_eeprom_s());
    ui->generalInfoTextEdit->append(tr("Serial:") + QString::number(device.get_serial()));
    ui->generalInfoTextEdit->append(tr("Uptime: ") + QString::number(device.get_uptime()));

    ui->ipAddressLineEdit->setText(device.get_ip_current_s());

    connect(ui->setTimePushButton, SIGNAL(clicked()), this, SLOT(slotSetTime()));
    connect(ui->sendPushButton, SIGNAL(clicked()), this, SLOT(slotSendSettings()));
}

SettingsForm::~SettingsForm() = default;

QByteArray SettingsForm::setTimeCommand(qint64 secsSinceEpoch)
{
    return DeviceProtocol::setTimeCommand(secsSinceEpoch);
}

QByteArray SettingsForm::settingsCommand(const QString &address)
{
    // Missing or unreadable parts count as 0; only the parts present are read. A part above
    // 255 spills into the next octet, as the device reads the four octets as one number.
    const QStringList parts
        = address.split(QLatin1Char('.'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    quint32 value = 0;
    for (int k = 0; k < 4 && k < parts.size(); ++k)
        value |= quint32(parts.at(k).toLong(nullptr, 10)) << (8 * k);
    // `value` has the first octet in its lowest byte; the protocol takes it in the highest.
    return DeviceProtocol::settingsCommand(qbswap(value));
}

void SettingsForm::slotSetTime()
{
    sendToDevice(setTimeCommand(QDateTime::currentDateTime().toSecsSinceEpoch()));
}

void SettingsForm::slotSendSettings()
{
    // A partial address such as "10.0.0." would give the device a wrong address and could cut
    // it off the network, so only a complete address is sent.
    if (!ui->ipAddressLineEdit->hasAcceptableInput())
        return;
    sendToDevice(settingsCommand(ui->ipAddressLineEdit->text()));
}

void SettingsForm::sendToDevice(const QByteArray &command)
{
    // Commands go to the address the device replied with, through the socket its reply came
    // in on, whatever address the command carries.
    if (QUdpSocket *socket = server->get_ntp_udpSocket_ptr())
        socket->writeDatagram(command, QHostAddress(server->get_ip_current_s()),
                              DeviceProtocol::devicePort);
}
