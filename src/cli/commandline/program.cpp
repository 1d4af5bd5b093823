#include "program.h"

#include "commandline.h"
#include "console.h"

#include <cstdio>

namespace Program {

int settled(int status, int whenLost)
{
    const std::optional<Failure> lost = Console::lostResults();
    if (!lost || status == exitCode(ExitStatus::SentNotLogged))
        return status;
    if (!lost->message.isEmpty())
        Console::error(lost->message);
    return whenLost;
}

int failed(const Failure &failure)
{
    Console::error(failure.message);
    return exitCode(failure.status);
}

int run(const QStringList &arguments)
{
    const CommandLine::Parsed parsed = CommandLine::parse(arguments);
    if (parsed.runs())
        return parsed.command->run(parsed.options);
    if (parsed.monitoringPlugin && parsed.command->pluginMistake
        && parsed.exitCode == exitCode(ExitStatus::Usage))
        return parsed.command->pluginMistake(parsed.text);
    if (!parsed.toStdout) {
        std::fputs(parsed.text.toLocal8Bit().constData(), stderr);
        return parsed.exitCode;
    }
    Console::result(parsed.text.toLocal8Bit());
    return settled(parsed.exitCode);
}

} // namespace Program
