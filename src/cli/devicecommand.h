#ifndef DEVICECOMMAND_H
#define DEVICECOMMAND_H

#include "commandline.h"
#include "exitstatus.h"
#include "inventory.h"
#include "verification.h"

#include <QByteArray>
#include <QJsonObject>

#include <optional>

// set-time and set-address: find the device with a scan, check what is asked, send the
// window's command from where the device was heard, verify it if asked, and leave a trace.
class DeviceCommand
{
public:
    explicit DeviceCommand(const Invocation &invocation);

    ExitStatus run();

private:
    std::optional<DeviceEntry> findDevice(const QList<LocalAddress> &from,
                                          ExitStatus *status) const;
    bool mayBeSent(const DeviceEntry &device, ExitStatus *status) const;
    QByteArray command(qint64 secondsNow) const; // scrambled, as sent
    Verification verify(const DeviceEntry &device, const QList<LocalAddress> &from);
    Verification verifyAddress(const DeviceEntry &device, const QList<LocalAddress> &from);
    Verification verifyTime(const DeviceEntry &device);
    QJsonObject record(const DeviceEntry &device, const QByteArray &sent, qint64 seconds) const;
    QString sentText(const DeviceEntry &device, qint64 seconds) const;
    void printJson(QJsonObject trace) const;
    void report(const QJsonObject &trace, const Verification &verification) const;
    QString name() const;

    Invocation m_invocation;
};

#endif // DEVICECOMMAND_H
