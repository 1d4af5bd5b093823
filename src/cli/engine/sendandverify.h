#ifndef SENDANDVERIFY_H
#define SENDANDVERIFY_H

#include "clocksurvey.h"
#include "scanrun.h"
#include "failure.h"
#include "inventory.h"
#include "options.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

// One device and what it is to be sent: a new stored address, its clock set, or both.
struct CommandOrder
{
    DeviceEntry device;
    std::optional<quint32> newAddress;
    bool setTime = false;
    QJsonObject logFields; // added to the log line of each command (apply: the plan and its line)
};

// What became of an order.
struct OrderOutcome
{
    QStringList sent; // "set-address", "set-time": the commands handed to the network, in order
    QString sendError; // why a command could not be
    qint64 seconds = 0; // what the set-time command carried
    QList<QJsonObject> records; // the log line of each command sent, in order, without its verdict
    std::optional<DeviceEntry> heardAfter; // the device in the verifying rescan
    std::optional<SntpQuery::Result> clockAfter; // its clock, read after set-time with NTP on
};

// What a rescan showed of a stored address, and what SNTP showed of a clock.
enum class AddressFinding { Stored, StoresOther, Unheard, NotScanned };
enum class ClockFinding { Within, Outside, Unread, NtpOff };

// The one way the companion sends commands and finds out whether they took effect, for
// set-time and set-address (one order) and apply (one order per plan line): it builds each
// command and its log line, sends them from where each device was heard at a bounded rate,
// scans again until every device commanded shows what it should store, reads back the clocks
// it set, and judges what it saw. The caller logs each command once its verdict is known.
namespace SendAndVerify {

struct Settings
{
    int ratePerSecond = Options::Apply().ratePerSecond; // commands
    bool rescan = true; // scan again after sending, for the stored addresses
    bool readClocks = true; // read back the clocks set, on devices with NTP on
    ClockSurvey::Settings clocks;
    Options::Probing probing; // for the rescan
    // Told after each command handed to the network (or not): how many so far, of how many.
    std::function<void(int done, int total)> progress;
    // The rescan's progress, as ScanRun tells it, and what it found once it is over (its
    // warnings included), for the command to say.
    ScanRun::Progress scanProgress;
    std::function<void(const ScanReport &)> rescanned;
};

struct Result
{
    QList<OrderOutcome> outcomes; // one per order, in the orders' order
    int commandsSent = 0;
    qint64 sendMs = 0;
    std::optional<Failure> rescanFailure; // the rescan could not be made
};

// Sends every order's commands (its address first) at the settings' rate, telling progress.
Result send(const QList<CommandOrder> &orders, const Settings &settings);
// Then finds out what became of them, as `settings` ask: scanning and reading from `from`.
void verify(const QList<CommandOrder> &orders, const QList<LocalAddress> &from,
            const Settings &settings, Result *result);

// The command, scrambled as sent: the order's address, or its clock set to `seconds`.
QByteArray datagram(const CommandOrder &order, bool address, qint64 seconds);
// The log line of that command: when, what, to which device from where, its bytes.
QJsonObject record(const CommandOrder &order, bool address, const QByteArray &datagram,
                   qint64 seconds);

// The clocks of `devices`, read at once over SNTP: one result per device, in order.
QList<SntpQuery::Result> readClocks(const QList<DeviceEntry> &devices,
                                    const ClockSurvey::Settings &settings);

AddressFinding findAddress(const OrderOutcome &outcome, quint32 wanted, bool rescanFailed);
ClockFinding findClock(const DeviceEntry &device, const std::optional<SntpQuery::Result> &clock,
                       double toleranceSeconds);

} // namespace SendAndVerify

#endif // SENDANDVERIFY_H
