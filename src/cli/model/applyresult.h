#ifndef APPLYRESULT_H
#define APPLYRESULT_H

#include "addressholding.h"
#include "localaddress.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What became of one line of a commissioning plan in apply, with the words output needs of the
// device it names.
struct ApplyLineResult
{
    // In the order of their names in the output. A faulty line is skipped with --skip-bad;
    // without it the plan is refused and every line is faulty or not-sent. A line to send is
    // would-send until it is judged done, failed (the device showed that something did not take
    // effect, or it was not sent) or cannot-verify (nothing could be observed).
    enum class State { Skipped, Faulty, NotSent, InEffect, WouldSend, Done, Failed, CannotVerify };

    // The device the line names, as the scan heard it.
    struct Device
    {
        QString described; // "DEV-0001, serial 65536, 10.77.1.1"
        QString name; // as the device sent it, without its NUL padding
        QString address;
        LocalAddress heardOn; // the workstation address it was heard on
    };

    // Why a line to send was not sent: its new address is taken, by a host or by a device whose
    // own line is not sent.
    struct HeldBack
    {
        AddressHolding holding;
        QString staying; // the device that stays at the address, as DeviceEntry::describe()
        int stayingLine = 0; // its plan line; 0 when no device of the plan stays there
    };

    int lineNumber = 0;
    qint32 serial = 0;
    QString where; // "line 4 (serial 65536)"
    std::optional<quint32> newAddress; // none: only the clock is set
    bool setTime = false;
    QStringList faults; // why the line must not be sent; empty for a sound line
    std::optional<Device> device;
    State state = State::Skipped;
    bool sendAddress = false; // what the line still needs sent
    bool sendTime = false;
    std::optional<double> offsetBefore; // its clock before anything was sent, when read
    QStringList sent; // "set-address", "set-time": the commands sent, in order
    QString storedAddressAfter; // what the verifying rescan heard; empty when not heard
    std::optional<double> offsetAfter; // its clock read back after the command
    std::optional<HeldBack> heldBack;
    QString detail; // what took effect, or why the line failed, once it is judged
};

// A whole apply run: every line, and what was sent and asked to find out.
struct ApplyReport
{
    QString planPath; // "-" for stdin
    bool refused = false; // the plan had faults and --skip-bad was not given: nothing was sent
    bool dryRun = false;
    QList<ApplyLineResult> lines;
    int commandsSent = 0;
    qint64 sendMs = 0;
    int rateLimit = 0; // commands per second, as --rate asked
    int notLogged = 0; // commands sent whose log line could not be written
    int sntpRequests = 0; // to read clocks before sending
    int addressesAsked = 0; // by the in-use probe, before sending

    int count(ApplyLineResult::State state) const
    {
        int counted = 0;
        for (const ApplyLineResult &line : lines)
            counted += line.state == state ? 1 : 0;
        return counted;
    }
    // Lines that sent a command, and those of them that took effect.
    int changed() const
    {
        int counted = 0;
        for (const ApplyLineResult &line : lines)
            counted += line.sent.isEmpty() ? 0 : 1;
        return counted;
    }
    int verified() const
    {
        int counted = 0;
        for (const ApplyLineResult &line : lines)
            counted += !line.sent.isEmpty() && line.state == ApplyLineResult::State::Done ? 1 : 0;
        return counted;
    }
};

#endif // APPLYRESULT_H
