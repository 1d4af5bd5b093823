#include "checkcommand.h"
#include "commandline.h"
#include "devicecommand.h"
#include "scancommand.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("setuptool-cli"));

    const CommandLine::Parsed parsed = CommandLine::parse(QCoreApplication::arguments());
    if (!parsed.invocation) {
        std::fputs(parsed.text.toLocal8Bit().constData(), parsed.toStdout ? stdout : stderr);
        return parsed.exitCode;
    }
    const Invocation &invocation = *parsed.invocation;
    if (invocation.command == Invocation::Command::Check)
        return CheckCommand(invocation).run();
    const ExitStatus status = invocation.command == Invocation::Command::Scan
        ? ScanCommand::run(invocation)
        : DeviceCommand(invocation).run();
    return exitCode(status);
}
