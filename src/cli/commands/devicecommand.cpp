#include "devicecommand.h"

#include "addressprobe.h"
#include "addressrules.h"
#include "console.h"
#include "deviceselector.h"
#include "scanrun.h"
#include "textescape.h"
#include "units.h"

#include <QDateTime>
#include <QJsonDocument>

namespace {

constexpr quint16 sntpPort = 123;

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
    const Expected<DeviceEntry> device = findDevice(*from);
    if (!device)
        return device.failure();
    if (const auto failure = refusal(*device))
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
    SendAndVerify::Result result = SendAndVerify::send({ order }, settings, nullptr);
    if (const QString error = result.outcomes.constFirst().sendError; !error.isEmpty())
        return Failure { ExitStatus::NetworkUnusable, error };
    if (!m_options.json)
        Console::result(sentText(*device, result.outcomes.constFirst().seconds)
                        + QLatin1Char('\n'));
    SendAndVerify::verify({ order }, *from, settings, &result);
    const OrderOutcome &outcome = result.outcomes.constFirst();

    const Verification verification
        = m_options.verify ? verify(*device, outcome, result) : Verification();
    QJsonObject trace = outcome.record;
    trace.insert(QStringLiteral("verify"), verification.toJson());
    if (log.isOpen()) {
        if (const auto failure = log.append(trace))
            Console::error(failure->message);
    }
    report(trace, verification);
    return verification.exitStatus();
}

// The scan, and the one device it heard that DEVICE names.
Expected<DeviceEntry> DeviceCommand::findDevice(const QList<LocalAddress> &from) const
{
    const Expected<ScanReport> scan = ScanRun::run(from, m_options.probing);
    if (!scan)
        return scan.failure();
    const QList<DeviceEntry> candidates
        = DeviceSelector(scan->devices).candidates(m_options.device);
    const QString problem = DeviceSelector::problem(m_options.device, candidates, scan->devices);
    if (!problem.isEmpty())
        return Failure { ExitStatus::DeviceNotFound, problem };
    return candidates.first();
}

// Why the command may not go to `device`: it must have an address, and a new address must not
// be one the device should never be given (unless forced). Warns about what the scan noted on
// the way there.
std::optional<Failure> DeviceCommand::refusal(const DeviceEntry &device) const
{
    if (device.reply.currentAddress == 0)
        return Failure { ExitStatus::NetworkUnusable,
                         QStringLiteral("%1 reports 0.0.0.0 as its address: no command can "
                                        "reach it")
                             .arg(device.describe()) };
    if (setsAddress()) {
        const QString refusal
            = AddressRules::refusal(m_options.newAddress, device.heardOn.subnet());
        const QString held = refusal.isEmpty() ? holderOf(device) : QString();
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

// Which other host already answers for the new address on the device's link, as a reason to
// refuse it; empty when none does. The device's own current address is not asked about. Not
// being able to tell is a warning, not a reason.
QString DeviceCommand::holderOf(const DeviceEntry &device) const
{
    const quint32 address = m_options.newAddress;
    if (address == device.reply.currentAddress)
        return QString();
    const AddressHolder holder = AddressProbe::probe({ { address, device.heardOn } }).constFirst();
    return holder.state == AddressHolder::State::InUse
        ? AddressProbe::inUseText(address, holder, device.heardOn)
        : QString();
}

// A rescan must hear the device, same serial at the same current address, report the new
// address as stored.
Verification DeviceCommand::verify(const DeviceEntry &device, const OrderOutcome &outcome,
                                   const SendAndVerify::Result &result) const
{
    if (!setsAddress())
        return verifyTime(device, outcome);
    const quint32 wanted = m_options.newAddress;
    const QString stored = outcome.heardAfter ? outcome.heardAfter->storedAddress() : QString();
    const QJsonObject figures { { QStringLiteral("stored_address"), stored } };
    switch (SendAndVerify::findAddress(outcome, wanted, result.rescanFailure.has_value())) {
    case AddressFinding::Stored:
        return Verification::passed(
            QStringLiteral("the device reports stored address %1").arg(stored), figures);
    case AddressFinding::StoresOther:
        return Verification::failed(
            QStringLiteral("the device still reports stored address %1, not %2")
                .arg(stored, AddressRules::format(wanted)),
            figures);
    case AddressFinding::NotScanned:
        return Verification::cannotVerify(QStringLiteral("the scan to check it failed: ")
                                          + result.rescanFailure->message);
    case AddressFinding::Unheard:
        break;
    }
    return Verification::cannotVerify(
        QStringLiteral("serial %1 did not answer at %2 in the scan after the command")
            .arg(device.reply.serial)
            .arg(device.address()));
}

// The device's clock, read over SNTP a moment after the command, must be within the tolerance
// of ours.
Verification DeviceCommand::verifyTime(const DeviceEntry &device, const OrderOutcome &outcome) const
{
    const double tolerance = m_options.toleranceSeconds;
    const ClockFinding finding = SendAndVerify::findClock(device, outcome.clockAfter, tolerance);
    if (finding == ClockFinding::NtpOff)
        return Verification::cannotVerify(
            QStringLiteral("the device's NTP service is off, so its clock cannot be read; "
                           "switch NTP on to check set-time"));
    const SntpQuery::Result clock = outcome.clockAfter.value_or(SntpQuery::Result());
    QJsonObject figures { { QStringLiteral("tolerance_s"), tolerance },
                          { QStringLiteral("attempts"), clock.attempts } };
    if (finding == ClockFinding::Unread)
        return Verification::cannotVerify(
            QStringLiteral("no usable SNTP answer from %1 port %2: %3")
                .arg(device.address())
                .arg(sntpPort)
                .arg(clock.error),
            figures);
    figures.insert(QStringLiteral("offset_s"), clock.offsetSeconds);
    figures.insert(QStringLiteral("delay_s"), clock.delaySeconds);
    figures.insert(QStringLiteral("stratum"), clock.stratum);
    figures.insert(QStringLiteral("leap"), clock.leap);
    const QString seen
        = QStringLiteral("the device's clock is %1 from ours (tolerance %2 s; SNTP stratum %3%4)")
              .arg(Units::signedSeconds(clock.offsetSeconds, 3))
              .arg(tolerance)
              .arg(clock.stratum)
              .arg(clock.synchronised() ? QString() : QStringLiteral(", unsynchronised"));
    return finding == ClockFinding::Within ? Verification::passed(seen, figures)
                                           : Verification::failed(seen, figures);
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
