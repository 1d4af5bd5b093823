#include "checkcommand.h"
#include "applycommand.h"
#include "commandline.h"
#include "devicecommand.h"
#include "plancommand.h"
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
    switch (invocation.command) {
    case Invocation::Command::Check:
        return CheckCommand(invocation).run();
    case Invocation::Command::Scan:
        return exitCode(ScanCommand::run(invocation));
    case Invocation::Command::Plan:
        return exitCode(PlanCommand::run(invocation));
    case Invocation::Command::Apply:
        return exitCode(ApplyCommand(invocation).run());
    case Invocation::Command::SetTime:
    case Invocation::Command::SetAddress:
        break;
    }
    return exitCode(DeviceCommand(invocation).run());
}
