#include "applycommand.h"
#include "checkcommand.h"
#include "commandline.h"
#include "console.h"
#include "devicecommand.h"
#include "plancommand.h"
#include "scancommand.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// Every command ends here: its exit status, or the failure that stopped it, printed.
template<typename Status> int finished(const Expected<Status> &result)
{
    if (result)
        return int(*result);
    Console::error(result.failure().message);
    return exitCode(result.failure().status);
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
        return finished(CheckCommand(options).run());
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
    QCoreApplication::setApplicationName(QStringLiteral("setuptool-cli"));

    const QStringList arguments = QCoreApplication::arguments();
    const CommandLine::Parsed parsed = CommandLine::parse(arguments);
    if (parsed.invocation)
        return std::visit(Run(), *parsed.invocation);
    // check as a monitoring plugin reports even a mistake as its UNKNOWN status on stdout.
    if (parsed.exitCode == exitCode(ExitStatus::Usage)
        && CheckCommand::asMonitoringPlugin(arguments))
        return CheckCommand::unknown(parsed.text);
    std::fputs(parsed.text.toLocal8Bit().constData(), parsed.toStdout ? stdout : stderr);
    return parsed.exitCode;
}
