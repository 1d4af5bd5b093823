#ifndef VERIFICATION_H
#define VERIFICATION_H

#include <QString>

// What --verify found out about a command sent: passed, failed (the device showed the command
// did not take effect) or cannot-verify (nothing could be observed), and what was seen. The
// engine judges it (SendAndVerify's findings, Verdicts), output says it in words and JSON;
// set-time and set-address print and log it, apply logs it with each command of a line.
struct Verification
{
    enum class Result { NotRequested, Passed, Failed, CannotVerify };
    // What was looked at, and what it showed.
    enum class Seen {
        Nothing, // not requested
        AddressStored, // the rescan heard the device store the address sent
        OtherAddressStored, // ... store another
        RescanFailed, // the rescan could not be made
        DeviceUnheard, // the rescan did not hear the device
        NtpOff, // the device's clock cannot be read
        ClockUnread, // no usable SNTP answer
        ClockRead, // the clock answered: within the tolerance or not, as `result` says
    };

    Result result = Result::NotRequested;
    Seen seen = Seen::Nothing;

    // The device: its serial and current address, as the scan before the command heard it.
    qint32 serial = 0;
    QString deviceAddress;

    // set-address: the address sent, the stored address the rescan heard, why it failed.
    QString wantedAddress;
    QString storedAddress;
    QString rescanError;

    // set-time: the clock read back, and what was accepted.
    double toleranceSeconds = 0;
    int attempts = 0;
    quint16 sntpPort = 0; // where the clock was asked
    QString clockError; // why no usable answer came
    double offsetSeconds = 0;
    double delaySeconds = 0;
    int stratum = 0;
    int leap = 0;
    bool synchronised = false;
};

#endif // VERIFICATION_H
