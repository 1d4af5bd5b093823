#ifndef DEVICECOMMAND_H
#define DEVICECOMMAND_H

#include "commandlog.h"
#include "commandreport.h"
#include "failure.h"
#include "options.h"
#include "sendandverify.h"

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
    Verification verify(const DeviceEntry &device, const OrderOutcome &outcome,
                        const SendAndVerify::Result &result) const;
    CommandReport reportOn(const DeviceEntry &device) const;
    bool setsAddress() const { return m_options.kind == Options::Device::Kind::SetAddress; }

    Options::Device m_options;
};

#endif // DEVICECOMMAND_H
