#include "devicecommand.h"

#include "addressprobe.h"
#include "addressrules.h"
#include "commandoutput.h"
#include "addresswords.h"
#include "console.h"
#include "deviceselector.h"
#include "engineconsole.h"
#include "scanrun.h"
#include "sendprogress.h"
#include "verdicts.h"
#include "verificationwords.h"

#include <QDateTime>

DeviceCommand::DeviceCommand(const Options::Device &options)
    : m_options(options)
{ }

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
    // Like adding an address an interface has: said, and nothing sent or asked, dry run or not.
    if (setsAddress() && m_options.newAddress == device->reply.storedAddress && !m_options.force) {
        CommandReport report = reportOn(*device);
        report.record
            = SendAndVerify::record({ *device, m_options.newAddress, false, {} }, true, {}, 0);
        for (const char *unsent : { "time", "plain_hex", "bytes_hex" })
            report.record.insert(QLatin1String(unsent), QJsonValue());
        report.record.insert(QStringLiteral("unchanged"), true);
        Console::result(CommandOutput::unchanged(report, m_options.format));
        return ExitStatus::Success;
    }
    if (const auto failure = refusal(*device, scan->devices))
        return *failure;

    CommandOrder order { *device, std::nullopt, !setsAddress(), {} };
    if (setsAddress())
        order.newAddress = m_options.newAddress;
    CommandReport report = reportOn(*device);
    if (m_options.dryRun) {
        report.seconds = QDateTime::currentSecsSinceEpoch();
        report.scrambled = SendAndVerify::datagram(order, setsAddress(), report.seconds);
        report.plain = DeviceProtocol::scrambled(report.scrambled);
        report.record
            = SendAndVerify::record(order, setsAddress(), report.scrambled, report.seconds);
        report.record.insert(QStringLiteral("dry_run"), true);
        report.dryRun = true;
        if (setsAddress()) {
            if (const auto probed = Verdicts::probedBeforeSending(*device, m_options.newAddress))
                report.probed = AddressRules::format(*probed);
        }
        Console::result(CommandOutput::dryRun(report, m_options.format));
        return ExitStatus::Success;
    }

    SendAndVerify::Settings settings;
    settings.rescan = m_options.verify && setsAddress();
    settings.readClocks = m_options.verify;
    settings.clocks.timeoutMs = 1500;
    settings.clocks.retries = 2;
    settings.probing = m_options.probing;
    settings.progress = SendProgress::show;
    settings.scanProgress = EngineConsole::progress();
    settings.rescanned = EngineConsole::rescanned;
    SendAndVerify::Result result = SendAndVerify::send({ order }, settings);
    if (const QString error = result.outcomes.constFirst().sendError; !error.isEmpty())
        return Failure { ExitStatus::NetworkUnusable, error };
    report.seconds = result.outcomes.constFirst().seconds;
    if (m_options.format == Options::Format::Table)
        Console::result(CommandOutput::sentLine(report) + QLatin1Char('\n'));
    SendAndVerify::verify({ order }, *from, settings, &result);
    const OrderOutcome &outcome = result.outcomes.constFirst();

    if (m_options.verify)
        report.verification = verify(*device, outcome, result);
    report.record = outcome.records.constFirst();
    report.record.insert(QStringLiteral("verify"), VerificationWords::toJson(report.verification));
    std::optional<Failure> unlogged;
    if (log.isOpen())
        unlogged = log.append(report.record, device->describe());
    if (const QByteArray printed = CommandOutput::result(report, m_options.format);
        !printed.isEmpty())
        Console::result(printed);
    if (const QString problem = CommandOutput::verifyProblem(report.verification);
        !problem.isEmpty())
        Console::error(problem);
    // A command sent that the log does not hold outweighs what its verification found.
    if (unlogged)
        return *unlogged;
    return Verdicts::exitStatus(report.verification);
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
                         CommandOutput::unreachable(device.describe()) };
    if (setsAddress()) {
        const QString objection = AddressWords::objection(
            Verdicts::addressObjection(device, heard, m_options.newAddress, EngineConsole::probe));
        if (!objection.isEmpty() && !m_options.force)
            return Failure { ExitStatus::Usage, CommandOutput::refused(objection) };
        if (!objection.isEmpty())
            Console::warning(CommandOutput::sentAsForced(objection));
    }
    for (const HealthNote &note : Verdicts::warningsBeforeSending(device))
        Console::warning(note.text);
    return std::nullopt;
}

// set-address: the rescan's view of the stored address; set-time: the clock read back.
Verification DeviceCommand::verify(const DeviceEntry &device, const OrderOutcome &outcome,
                                   const SendAndVerify::Result &result) const
{
    if (!setsAddress())
        return Verdicts::ofClock(device, outcome, m_options.toleranceSeconds);
    return Verdicts::ofAddress(device, outcome, m_options.newAddress,
                               result.rescanFailure ? result.rescanFailure->message : QString());
}

CommandReport DeviceCommand::reportOn(const DeviceEntry &device) const
{
    CommandReport report;
    report.kind = setsAddress() ? CommandReport::Kind::SetAddress : CommandReport::Kind::SetTime;
    report.device = device.describe();
    report.heardOn = device.heardOn.describe();
    if (setsAddress())
        report.newAddress = AddressRules::format(m_options.newAddress);
    report.verifyRequested = m_options.verify;
    return report;
}
