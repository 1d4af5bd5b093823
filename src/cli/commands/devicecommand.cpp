#include "devicecommand.h"

#include "addressprobe.h"
#include "addressrules.h"
#include "console.h"
#include "deviceselector.h"
#include "engineconsole.h"
#include "plancheck.h"
#include "scanrun.h"
#include "textescape.h"

#include <QDateTime>
#include <QJsonDocument>

namespace {

QString utc(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}

} // namespace

DeviceCommand::DeviceCommand(const Options::Device &options)
    : m_options(options)
{ }

QString DeviceCommand::name() const
{
    return setsAddress() ? QStringLiteral("set-address") : QStringLiteral("set-time");
}

Expected<ExitStatus> DeviceCommand::run()
{
    const Expected<QList<LocalAddress>> from = ScanRun::addresses(m_options.probing);
    if (!from)
        return from.failure();
    CommandLog log;
    if (const auto failure = log.open(m_options.logPath, m_options.dryRun))
        return *failure;
    const Expected<ScanReport> scan = EngineConsole::scan(*from, m_options.probing);
    if (!scan)
        return scan.failure();
    const Expected<DeviceEntry> device = findDevice(scan->devices);
    if (!device)
        return device.failure();
    if (const auto failure = refusal(*device, scan->devices))
        return *failure;

    CommandOrder order { *device, std::nullopt, !setsAddress(), {} };
    if (setsAddress())
        order.newAddress = m_options.newAddress;
    if (m_options.dryRun) {
        const qint64 seconds = QDateTime::currentSecsSinceEpoch();
        const QByteArray sent = SendAndVerify::datagram(order, setsAddress(), seconds);
        QJsonObject trace = SendAndVerify::record(order, setsAddress(), sent, seconds);
        trace.insert(QStringLiteral("dry_run"), true);
        if (m_options.json)
            printJson(trace);
        else
            Console::result(QStringLiteral("%1 (dry run: no command sent; %2)\nplain:     %3\n"
                                           "scrambled: %4\n")
                                .arg(sentText(*device, seconds), dryRunReads(*device),
                                     TextEscape::hex(DeviceProtocol::scrambled(sent)),
                                     TextEscape::hex(sent)));
        return ExitStatus::Success;
    }

    SendAndVerify::Settings settings;
    settings.rescan = m_options.verify && setsAddress();
    settings.readClocks = m_options.verify;
    settings.clocks.timeoutMs = 1500;
    settings.clocks.retries = 2;
    settings.probing = m_options.probing;
    SendAndVerify::Result result = SendAndVerify::send({ order }, settings);
    if (const QString error = result.outcomes.constFirst().sendError; !error.isEmpty())
        return Failure { ExitStatus::NetworkUnusable, error };
    if (!m_options.json)
        Console::result(sentText(*device, result.outcomes.constFirst().seconds)
                        + QLatin1Char('\n'));
    SendAndVerify::verify({ order }, *from, settings, &result);
    const OrderOutcome &outcome = result.outcomes.constFirst();

    const Verification verification
        = m_options.verify ? verify(*device, outcome, result) : Verification();
    QJsonObject trace = outcome.records.constFirst();
    trace.insert(QStringLiteral("verify"), verification.toJson());
    std::optional<Failure> unlogged;
    if (log.isOpen())
        unlogged = log.append(trace, device->describe());
    report(trace, verification);
    if (unlogged) {
        Console::error(unlogged->message);
        return unlogged->status;
    }
    return verification.exitStatus();
}

// The one device of those the scan heard that DEVICE names.
Expected<DeviceEntry> DeviceCommand::findDevice(const QList<DeviceEntry> &heard) const
{
    const QList<DeviceEntry> candidates = DeviceSelector(heard).candidates(m_options.device);
    const QString problem = DeviceSelector::problem(m_options.device, candidates, heard);
    if (!problem.isEmpty())
        return Failure { ExitStatus::DeviceNotFound, problem };
    return candidates.first();
}

// Why the command may not go to `device`: it must have an address, and a new address must not
// be one the device should never be given (unless forced). Warns about what the scan noted on
// the way there.
std::optional<Failure> DeviceCommand::refusal(const DeviceEntry &device,
                                              const QList<DeviceEntry> &heard) const
{
    if (device.reply.currentAddress == 0)
        return Failure { ExitStatus::NetworkUnusable,
                         QStringLiteral("%1 reports 0.0.0.0 as its address: no command can "
                                        "reach it")
                             .arg(device.describe()) };
    if (setsAddress()) {
        const QString refusal
            = AddressRules::refusal(m_options.newAddress, device.heardOn.subnet());
        const QString held = refusal.isEmpty() ? holderOf(device, heard) : QString();
        for (const QString &reason : { refusal, held }) {
            if (!reason.isEmpty() && !m_options.force)
                return Failure {
                    ExitStatus::Usage,
                    QStringLiteral("refused: %1 (--force sends it all the same)").arg(reason)
                };
            if (!reason.isEmpty())
                Console::warning(QStringLiteral("sending as forced: %1").arg(reason));
        }
    }
    for (const HealthNote &note : device.notes) {
        if (note.code == QLatin1String("address-conflict")
            || note.code == QLatin1String("outside-subnet"))
            Console::warning(note.text);
    }
    return std::nullopt;
}

// All a dry run sent, which changes nothing on a device: the scan's probes and, for a new
// address that the rules let through and the device does not have yet, the in-use probe.
QString DeviceCommand::dryRunReads(const DeviceEntry &device) const
{
    const quint32 address = m_options.newAddress;
    if (!setsAddress() || address == device.reply.currentAddress
        || !AddressRules::refusal(address, device.heardOn.subnet()).isEmpty())
        return QStringLiteral("sent only the scan's probes");
    return QStringLiteral("sent only the scan's probes and, to ask whether another host holds "
                          "%1, a datagram to its UDP port 9 and the kernel's ARP requests")
        .arg(AddressRules::format(address));
}

// Who else holds the new address, as a reason to refuse it; empty when none does: another
// device of the scan, now or from its next restart (as apply's plan check finds it), else a
// host that answers for it on the device's link. The device's own current address is not asked
// about. Not being able to tell is a warning, not a reason.
QString DeviceCommand::holderOf(const DeviceEntry &device, const QList<DeviceEntry> &heard) const
{
    const quint32 address = m_options.newAddress;
    if (address == device.reply.currentAddress)
        return QString();
    QList<DeviceEntry> others;
    for (const DeviceEntry &other : heard) {
        if (other.reply.serial != device.reply.serial
            || other.reply.currentAddress != device.reply.currentAddress)
            others.append(other);
    }
    QStringList devices = PlanCheck::deviceHolders(others).values(address);
    if (!devices.isEmpty()) {
        devices.sort();
        return QStringLiteral("%1 is in use by %2")
            .arg(AddressRules::format(address), devices.join(QStringLiteral("; ")));
    }
    const AddressHolder holder = EngineConsole::probe({ { address, device.heardOn } }).constFirst();
    return holder.state == AddressHolder::State::InUse
        ? AddressProbe::inUseText(address, holder, device.heardOn)
        : QString();
}

// set-address: the rescan's view of the stored address; set-time: the clock read back.
Verification DeviceCommand::verify(const DeviceEntry &device, const OrderOutcome &outcome,
                                   const SendAndVerify::Result &result) const
{
    if (!setsAddress())
        return Verification::ofClock(device, outcome, m_options.toleranceSeconds);
    return Verification::ofAddress(device, outcome, m_options.newAddress,
                                   result.rescanFailure ? result.rescanFailure->message
                                                        : QString());
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
    if (m_options.json)
        printJson(trace);
    else if (m_options.verify)
        Console::result(
            QStringLiteral("verify: %1: %2\n").arg(verification.resultName(), verification.detail));
    if (verification.result == Verification::Result::Failed)
        Console::error(QStringLiteral("verify failed: ") + verification.detail);
    else if (verification.result == Verification::Result::CannotVerify)
        Console::error(QStringLiteral("cannot verify: ") + verification.detail);
}

QString DeviceCommand::sentText(const DeviceEntry &device, qint64 seconds) const
{
    const QString what = setsAddress()
        ? QStringLiteral("stored address %1, taken at its next restart")
              .arg(AddressRules::format(m_options.newAddress))
        : QStringLiteral("clock %1 (%2 s)").arg(utc(seconds)).arg(seconds);
    return QStringLiteral("%1 %2 from %3: %4")
        .arg(name(), device.describe(), device.heardOn.describe(), what);
}
