#ifndef DEVICECOMMAND_H
#define DEVICECOMMAND_H

#include "commandlog.h"
#include "failure.h"
#include "options.h"
#include "sendandverify.h"
#include "verification.h"

#include <QJsonObject>

// set-time and set-address: find the device with a scan, check what is asked, send the
// window's command from where the device was heard, verify it if asked, and leave a trace. The
// sending and verifying is apply's, for a plan of one line.
class DeviceCommand
{
public:
    explicit DeviceCommand(const Options::Device &options);

    Expected<ExitStatus> run();

private:
    Expected<DeviceEntry> findDevice(const QList<DeviceEntry> &heard) const;
    std::optional<Failure> refusal(const DeviceEntry &device,
                                   const QList<DeviceEntry> &heard) const;
    QString dryRunReads(const DeviceEntry &device) const;
    QString holderOf(const DeviceEntry &device, const QList<DeviceEntry> &heard) const;
    Verification verify(const DeviceEntry &device, const OrderOutcome &outcome,
                        const SendAndVerify::Result &result) const;
    QString sentText(const DeviceEntry &device, qint64 seconds) const;
    void printJson(QJsonObject trace) const;
    void report(const QJsonObject &trace, const Verification &verification) const;
    bool setsAddress() const { return m_options.kind == Options::Device::Kind::SetAddress; }
    QString name() const;

    Options::Device m_options;
};

#endif // DEVICECOMMAND_H
