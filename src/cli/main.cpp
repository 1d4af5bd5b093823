#include "applycommand.h"
#include "checkcommand.h"
#include "commandline.h"
#include "console.h"
#include "devicecommand.h"
#include "plancommand.h"
#include "platform.h"
#include "pluginstatus.h"
#include "scancommand.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const int pluginUnknown = PluginStatus::exitCode(PluginStatus::Status::Unknown);

// Results that could not be written fail the run, whatever it found: a script reading them got
// nothing, or not all. Only a command sent that the log does not hold says more.
int settled(int status, int whenLost)
{
    const std::optional<Failure> lost = Console::lostResults();
    if (!lost || status == exitCode(ExitStatus::SentNotLogged))
        return status;
    if (!lost->message.isEmpty())
        Console::error(lost->message);
    return whenLost;
}

// Every command ends here: its exit status, or the failure that stopped it, printed.
template<typename Status>
int finished(const Expected<Status> &result, int whenLost = exitCode(ExitStatus::OutputLost))
{
    int status = 0;
    if (result) {
        status = int(*result);
    } else {
        Console::error(result.failure().message);
        status = exitCode(result.failure().status);
    }
    return settled(status, whenLost);
}

struct Run
{
    int operator()(const Options::Scan &options) const
    {
        return finished(ScanCommand::run(options));
    }
    int operator()(const Options::Device &options) const
    {
        return finished(DeviceCommand(options).run());
    }
    int operator()(const Options::Check &options) const
    {
        // A monitoring plugin's status for a check it cannot report is UNKNOWN.
        return finished(CheckCommand(options).run(),
                        options.monitoring() ? pluginUnknown : exitCode(ExitStatus::OutputLost));
    }
    int operator()(const Options::Plan &options) const
    {
        return finished(PlanCommand::run(options));
    }
    int operator()(const Options::Apply &options) const
    {
        return finished(ApplyCommand(options).run());
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Platform::keepRunningWhenReaderGone();
    QCoreApplication::setApplicationName(QStringLiteral("setuptool-cli"));

    const QStringList arguments = QCoreApplication::arguments();
    const CommandLine::Parsed parsed = CommandLine::parse(arguments);
    if (parsed.invocation)
        return std::visit(Run(), *parsed.invocation);
    // check as a monitoring plugin reports even a mistake as its UNKNOWN status on stdout.
    if (parsed.exitCode == exitCode(ExitStatus::Usage)
        && CheckCommand::asMonitoringPlugin(arguments))
        return settled(CheckCommand::unknown(parsed.text), pluginUnknown);
    if (!parsed.toStdout) {
        std::fputs(parsed.text.toLocal8Bit().constData(), stderr);
        return parsed.exitCode;
    }
    Console::result(parsed.text.toLocal8Bit());
    return settled(parsed.exitCode, exitCode(ExitStatus::OutputLost));
}
