#ifndef SETUPTOOL_H
#define SETUPTOOL_H

#include <QMainWindow>
#include <QSharedPointer>
#include <QVector>

#include <memory>
#include <vector>

class NTPserver;
class QListWidgetItem;
class QTimer;
class QUdpSocket;
class SettingsForm;

namespace Ui {
class setuptool;
}

// The main window: scans the segment for devices and lists each one that answers.
class setuptool : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int probeCycles = 5;

    explicit setuptool(QMainWindow *parent = nullptr);
    ~setuptool() override;

private slots:
    void startBroadcasting();
    void stopBroadcasting();
    void broadcastDatagram();
    void processPendingDatagrams();
    void openSettings(QListWidgetItem *item);

private:
    void holdRepaint();

    std::unique_ptr<Ui::setuptool> ui;
    QUdpSocket *udpSocket = nullptr;
    QTimer *timer = nullptr;
    int messageNo = 0;
    QVector<QUdpSocket *> broadcast_sockets;
    QVector<QUdpSocket *> receive_sockets;
    int send = 0;
    int receive = 0;
    std::unique_ptr<NTPserver> serv;
    SettingsForm *Settings = nullptr;
    // Records are shared with the settings windows, so a window keeps its device after a
    // new scan has cleared the list.
    QVector<QSharedPointer<NTPserver>> ntp_servers;
    // Settings windows live until the program ends; closing one only hides it.
    std::vector<std::unique_ptr<SettingsForm>> settings_windows;
    QTimer *repaintTimer = nullptr;
};

#endif // SETUPTOOL_H
