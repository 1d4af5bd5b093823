#include "devicecommand.h"

#include "clockcheck.h"
#include "commandlog.h"
#include "commandsender.h"
#include "console.h"
#include "deviceselector.h"
#include "scanrun.h"
#include "textescape.h"

#include <QDateTime>
#include <QJsonDocument>

namespace {

using Command = Invocation::Command;

QString utc(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}

} // namespace

DeviceCommand::DeviceCommand(const Invocation &invocation)
    : m_invocation(invocation)
{ }

QString DeviceCommand::name() const
{
    return m_invocation.command == Command::SetTime ? QStringLiteral("set-time")
                                                    : QStringLiteral("set-address");
}

QByteArray DeviceCommand::command(qint64 secondsNow) const
{
    return m_invocation.command == Command::SetTime
        ? DeviceProtocol::setTimeCommand(secondsNow)
        : DeviceProtocol::settingsCommand(m_invocation.newAddress);
}

ExitStatus DeviceCommand::run()
{
    QString error;
    ExitStatus status = ExitStatus::Success;
    const auto from = ScanRun::addresses(m_invocation, &error, &status);
    if (!from) {
        Console::error(error);
        return status;
    }
    CommandLog log;
    if (!m_invocation.logPath.isEmpty() && !m_invocation.dryRun
        && !log.open(m_invocation.logPath, &error)) {
        Console::error(error);
        return ExitStatus::Usage;
    }
    const std::optional<DeviceEntry> device = findDevice(*from, &status);
    if (!device || !mayBeSent(*device, &status))
        return status;

    const qint64 seconds = QDateTime::currentSecsSinceEpoch();
    const QByteArray sent = command(seconds);
    QJsonObject trace = record(*device, sent, seconds);
    if (m_invocation.dryRun) {
        trace.insert(QStringLiteral("dry_run"), true);
        if (m_invocation.json)
            printJson(trace);
        else
            Console::result(QStringLiteral("%1 (dry run, nothing sent)\nplain:     %2\n"
                                           "scrambled: %3\n")
                                .arg(sentText(*device, seconds),
                                     TextEscape::hex(DeviceProtocol::scrambled(sent)),
                                     TextEscape::hex(sent)));
        return ExitStatus::Success;
    }

    if (!CommandSender::send(sent, device->heardOn, device->reply.currentAddress, &error)) {
        Console::error(error);
        return ExitStatus::NetworkUnusable;
    }
    if (!m_invocation.json)
        Console::result(sentText(*device, seconds) + QLatin1Char('\n'));

    const Verification verification = m_invocation.verify ? verify(*device, *from) : Verification();
    trace.insert(QStringLiteral("verify"), verification.toJson());
    if (log.isOpen() && !log.append(trace, &error))
        Console::error(error + QStringLiteral(" (the command was sent)"));
    report(trace, verification);
    return verification.exitStatus();
}

// The scan, and the one device it heard that DEVICE names; nothing, with *status, otherwise.
std::optional<DeviceEntry> DeviceCommand::findDevice(const QList<LocalAddress> &from,
                                                     ExitStatus *status) const
{
    ScanReport scan;
    QString error;
    if (!ScanRun::run(from, m_invocation, &scan, &error)) {
        Console::error(error);
        *status = ExitStatus::NetworkUnusable;
        return std::nullopt;
    }
    const QList<DeviceEntry> candidates
        = DeviceSelector(scan.devices).candidates(m_invocation.device);
    const QString problem = DeviceSelector::problem(m_invocation.device, candidates, scan.devices);
    if (!problem.isEmpty()) {
        Console::error(problem);
        *status = ExitStatus::DeviceNotFound;
        return std::nullopt;
    }
    return candidates.first();
}

// Whether the command may go to `device`: it must have an address, and a new address must not
// be one the device should never be given (unless forced). Warns about what the scan noted on
// the way there.
bool DeviceCommand::mayBeSent(const DeviceEntry &device, ExitStatus *status) const
{
    if (device.reply.currentAddress == 0) {
        Console::error(QStringLiteral("%1 reports 0.0.0.0 as its address: no command can reach it")
                           .arg(device.describe()));
        *status = ExitStatus::NetworkUnusable;
        return false;
    }
    if (m_invocation.command == Command::SetAddress) {
        const QString refusal
            = AddressRules::refusal(m_invocation.newAddress, device.heardOn.subnet());
        if (!refusal.isEmpty() && !m_invocation.force) {
            Console::error(
                QStringLiteral("refused: %1 (--force sends it all the same)").arg(refusal));
            *status = ExitStatus::Usage;
            return false;
        }
        if (!refusal.isEmpty())
            Console::warning(QStringLiteral("sending as forced: %1").arg(refusal));
    }
    for (const HealthNote &note : device.notes) {
        if (note.code == QLatin1String("address-conflict")
            || note.code == QLatin1String("outside-subnet"))
            Console::warning(note.text);
    }
    return true;
}

void DeviceCommand::printJson(QJsonObject trace) const
{
    trace.insert(QStringLiteral("format"), QStringLiteral("setuptool-cli/command"));
    trace.insert(QStringLiteral("version"), 1);
    Console::result(TextEscape::jsonWithoutControls(QJsonDocument(trace).toJson()));
}

// The verification's result on stdout; a failed or impossible check also on stderr.
void DeviceCommand::report(const QJsonObject &trace, const Verification &verification) const
{
    if (m_invocation.json)
        printJson(trace);
    else if (m_invocation.verify)
        Console::result(
            QStringLiteral("verify: %1: %2\n").arg(verification.resultName(), verification.detail));
    if (verification.result == Verification::Result::Failed)
        Console::error(QStringLiteral("verify failed: ") + verification.detail);
    else if (verification.result == Verification::Result::CannotVerify)
        Console::error(QStringLiteral("cannot verify: ") + verification.detail);
}

QString DeviceCommand::sentText(const DeviceEntry &device, qint64 seconds) const
{
    const QString what = m_invocation.command == Command::SetTime
        ? QStringLiteral("clock %1 (%2 s)").arg(utc(seconds)).arg(seconds)
        : QStringLiteral("stored address %1, taken at its next restart")
              .arg(AddressRules::format(m_invocation.newAddress));
    return QStringLiteral("%1 %2 from %3: %4")
        .arg(name(), device.describe(), device.heardOn.describe(), what);
}

QJsonObject DeviceCommand::record(const DeviceEntry &device, const QByteArray &sent,
                                  qint64 seconds) const
{
    QJsonObject object = CommandLog::record(name(), device, sent);
    if (m_invocation.command == Command::SetTime)
        object.insert(QStringLiteral("seconds"), seconds);
    else
        object.insert(QStringLiteral("new_address"), AddressRules::format(m_invocation.newAddress));
    return object;
}

Verification DeviceCommand::verify(const DeviceEntry &device, const QList<LocalAddress> &from)
{
    return m_invocation.command == Command::SetTime ? verifyTime(device)
                                                    : verifyAddress(device, from);
}

// A new scan must hear the device, same serial at the same current address, report the new
// address as stored. The scan ends as soon as it does.
Verification DeviceCommand::verifyAddress(const DeviceEntry &device,
                                          const QList<LocalAddress> &from)
{
    const quint32 wanted = m_invocation.newAddress;
    const auto sameDevice = [&](const DeviceProtocol::Reply &reply) {
        return reply.serial == device.reply.serial
            && reply.currentAddress == device.reply.currentAddress;
    };
    ScanReport rescan;
    QString error;
    const bool scanned
        = ScanRun::run(from, m_invocation, &rescan, &error, [&](const Sighting &sighting) {
              return sameDevice(sighting.reply) && sighting.reply.storedAddress == wanted;
          });
    if (!scanned)
        return Verification::cannotVerify(QStringLiteral("the scan to check it failed: ") + error);
    for (const DeviceEntry &entry : std::as_const(rescan.devices)) {
        if (!sameDevice(entry.reply))
            continue;
        const QJsonObject figures { { QStringLiteral("stored_address"), entry.storedAddress() } };
        if (entry.reply.storedAddress == wanted)
            return Verification::passed(
                QStringLiteral("the device reports stored address %1").arg(entry.storedAddress()),
                figures);
        return Verification::failed(QStringLiteral("the device still reports stored address %1, "
                                                   "not %2")
                                        .arg(entry.storedAddress(), AddressRules::format(wanted)),
                                    figures);
    }
    return Verification::cannotVerify(
        QStringLiteral("serial %1 did not answer at %2 in the scan after the command")
            .arg(device.reply.serial)
            .arg(device.address()));
}

Verification DeviceCommand::verifyTime(const DeviceEntry &device)
{
    if (!device.reply.ntp)
        return Verification::cannotVerify(
            QStringLiteral("the device's NTP service is off, so its clock cannot be read; "
                           "switch NTP on to check set-time"));
    return ClockCheck::run(device, m_invocation.toleranceSeconds);
}
