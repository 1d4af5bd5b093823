#include "sendandverify.h"

#include "commandsender.h"
#include "eventloop.h"
#include "pacer.h"
#include "scanrun.h"
#include "textescape.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <cmath>

namespace SendAndVerify {

namespace {

    // A device applies a command as it arrives; the pause only keeps a clock read that follows
    // at once (no rescan in between) from overtaking the command.
    constexpr int settleMs = 200;

    using DeviceKey = QPair<qint32, quint32>; // serial, current address: one device

    DeviceKey keyOf(const DeviceProtocol::Reply &reply)
    {
        return { reply.serial, reply.currentAddress };
    }

    QString commandName(bool address)
    {
        return address ? QStringLiteral("set-address") : QStringLiteral("set-time");
    }

    void send(const CommandOrder &order, bool address, OrderOutcome *outcome)
    {
        const qint64 seconds = QDateTime::currentSecsSinceEpoch();
        const QByteArray sent = datagram(order, address, seconds);
        if (const auto failure
            = CommandSender::send(sent, order.device.heardOn, order.device.reply.currentAddress)) {
            outcome->sendError = failure->message;
            return;
        }
        outcome->sent.append(commandName(address));
        if (!address)
            outcome->seconds = seconds;
        outcome->records.append(record(order, address, sent, seconds));
    }

    // Sends every command at the rate asked; how long it took.
    qint64 sendAll(const QList<CommandOrder> &orders, const Settings &settings,
                   QList<OrderOutcome> *outcomes)
    {
        QList<QPair<int, bool>> queue; // order, and whether the command is its address
        for (int i = 0; i < orders.size(); ++i) {
            if (orders.at(i).newAddress)
                queue.append({ i, true });
            if (orders.at(i).setTime)
                queue.append({ i, false });
        }
        if (queue.isEmpty())
            return 0;
        Pacer pacer(settings.ratePerSecond);
        EventLoop::runUntil(&pacer, &Pacer::finished, [&] {
            pacer.start(int(queue.size()), [&](int index) {
                const auto [order, address] = queue.at(index);
                send(orders.at(order), address, &(*outcomes)[order]);
                if (settings.progress)
                    settings.progress(index + 1, int(queue.size()));
            });
        });
        return pacer.elapsedMs();
    }

    // One scan, ended as soon as every device commanded has answered with the address it
    // should now store; each such device as the scan heard it.
    std::optional<Failure> rescan(const QList<CommandOrder> &orders,
                                  const QList<LocalAddress> &from, const Settings &settings,
                                  QList<OrderOutcome> *outcomes)
    {
        QHash<DeviceKey, quint32> awaited; // -> the stored address to see
        for (int i = 0; i < orders.size(); ++i) {
            if (outcomes->at(i).sent.isEmpty())
                continue;
            const DeviceProtocol::Reply &reply = orders.at(i).device.reply;
            awaited.insert(keyOf(reply), orders.at(i).newAddress.value_or(reply.storedAddress));
        }
        QSet<DeviceKey> confirmed;
        const Expected<ScanReport> scan = ScanRun::run(
            from, settings.probing,
            [&](const Sighting &sighting) {
                const DeviceKey key = keyOf(sighting.reply);
                const auto wanted = awaited.constFind(key);
                if (wanted != awaited.cend() && *wanted == sighting.reply.storedAddress)
                    confirmed.insert(key);
                return confirmed.size() == awaited.size();
            },
            settings.scanProgress);
        if (!scan)
            return scan.failure();
        if (settings.rescanned)
            settings.rescanned(*scan);
        for (int i = 0; i < orders.size(); ++i) {
            if (outcomes->at(i).sent.isEmpty())
                continue;
            for (const DeviceEntry &entry : std::as_const(scan->devices)) {
                if (keyOf(entry.reply) == keyOf(orders.at(i).device.reply))
                    (*outcomes)[i].heardAfter = entry;
            }
        }
        return std::nullopt;
    }

} // namespace

Result send(const QList<CommandOrder> &orders, const Settings &settings)
{
    Result result;
    result.outcomes = QList<OrderOutcome>(orders.size());
    result.sendMs = sendAll(orders, settings, &result.outcomes);
    for (const OrderOutcome &outcome : std::as_const(result.outcomes))
        result.commandsSent += int(outcome.sent.size());
    return result;
}

void verify(const QList<CommandOrder> &orders, const QList<LocalAddress> &from,
            const Settings &settings, Result *result)
{
    if (result->commandsSent == 0)
        return;
    if (settings.rescan)
        result->rescanFailure = rescan(orders, from, settings, &result->outcomes);
    if (!settings.readClocks)
        return;

    // Clocks are read over SNTP, which needs no rescan: with the rescan failed they still tell
    // what became of the set-time commands.
    QList<int> clocks;
    QList<DeviceEntry> devices;
    for (int i = 0; i < orders.size(); ++i) {
        if (result->outcomes.at(i).sent.contains(commandName(false))
            && orders.at(i).device.reply.ntp) {
            clocks.append(i);
            devices.append(orders.at(i).device);
        }
    }
    if (devices.isEmpty())
        return;
    if (!settings.rescan) {
        QTimer settle;
        settle.setSingleShot(true);
        EventLoop::runUntil(&settle, &QTimer::timeout, [&] { settle.start(settleMs); });
    }
    const QList<SntpQuery::Result> read = readClocks(devices, settings.clocks);
    for (int i = 0; i < clocks.size(); ++i)
        result->outcomes[clocks.at(i)].clockAfter = read.at(i);
}

QByteArray datagram(const CommandOrder &order, bool address, qint64 seconds)
{
    return address ? DeviceProtocol::settingsCommand(*order.newAddress)
                   : DeviceProtocol::setTimeCommand(seconds);
}

QJsonObject record(const CommandOrder &order, bool address, const QByteArray &datagram,
                   qint64 seconds)
{
    const DeviceEntry &device = order.device;
    QJsonObject object = order.logFields;
    object.insert(QStringLiteral("time"),
                  QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    object.insert(QStringLiteral("command"), commandName(address));
    object.insert(QStringLiteral("device"), device.identityJson());
    object.insert(QStringLiteral("heard_on"), device.heardOn.toJson());
    object.insert(QStringLiteral("plain_hex"),
                  TextEscape::hex(DeviceProtocol::scrambled(datagram), false));
    object.insert(QStringLiteral("bytes_hex"), TextEscape::hex(datagram, false));
    // Both keys in either command, the other's null: every record has every key.
    object.insert(QStringLiteral("new_address"),
                  address ? QJsonValue(AddressRules::format(*order.newAddress)) : QJsonValue());
    object.insert(QStringLiteral("seconds"), address ? QJsonValue() : QJsonValue(seconds));
    return object;
}

QList<SntpQuery::Result> readClocks(const QList<DeviceEntry> &devices,
                                    const ClockSurvey::Settings &settings)
{
    QList<ClockSurvey::Target> targets;
    for (const DeviceEntry &device : devices)
        targets.append({ QHostAddress(device.reply.currentAddress), device.heardOn.address });
    ClockSurvey survey(settings);
    survey.runToEnd(targets);
    return survey.results();
}

AddressFinding findAddress(const OrderOutcome &outcome, quint32 wanted, bool rescanFailed)
{
    if (!outcome.heardAfter)
        return rescanFailed ? AddressFinding::NotScanned : AddressFinding::Unheard;
    return outcome.heardAfter->reply.storedAddress == wanted ? AddressFinding::Stored
                                                             : AddressFinding::StoresOther;
}

ClockFinding findClock(const DeviceEntry &device, const std::optional<SntpQuery::Result> &clock,
                       double toleranceSeconds)
{
    if (!device.reply.ntp)
        return ClockFinding::NtpOff;
    if (!clock || !clock->answered)
        return ClockFinding::Unread;
    return std::fabs(clock->offsetSeconds) <= toleranceSeconds ? ClockFinding::Within
                                                               : ClockFinding::Outside;
}

} // namespace SendAndVerify
