#ifndef SETTINGSFORM_H
#define SETTINGSFORM_H

#include <QSharedPointer>
#include <QVector>
#include <QWidget>

#include <memory>

class NTPserver;
class QComboBox;

namespace Ui {
class SettingsForm;
}

// Shows what one device reported and sends it the set-time and settings commands.
class SettingsForm : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsForm(QSharedPointer<NTPserver> server);
    ~SettingsForm() override;

    // Commands as they travel: scrambled with the datagram mask.
    static QByteArray setTimeCommand(qint64 secsSinceEpoch);
    static QByteArray settingsCommand(const QString &address);

public slots:
    void slotSetTime();
    void slotSendSettings();

private:
    void sendToDevice(const QByteArray &command);

    std::unique_ptr<Ui::SettingsForm> ui;
    QVector<QComboBox *> ui_combo_boxes;
    QSharedPointer<NTPserver> server;
};

#endif // SETTINGSFORM_H
