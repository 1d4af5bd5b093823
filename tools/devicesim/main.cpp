#include "commandline.h"
#include "eventlog.h"
#include "signalwatcher.h"
#include "simulateddevices.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("devicesim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SETUPTOOL_VERSION));

    QString error;
    const auto settings = CommandLine::parse(QCoreApplication::arguments(), &error);
    if (!settings) {
        EventLog::complain(error);
        return 2;
    }

    // The test harness stops us with SIGTERM and expects a clean exit.
    SignalWatcher signalWatcher;
    if (!signalWatcher.isActive())
        EventLog::complain(QStringLiteral("cannot watch for SIGTERM; it will end us abruptly"));
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &app,
                     &QCoreApplication::quit);

    SimulatedDevices devices(*settings);
    if (!devices.start())
        return 1;
    return QCoreApplication::exec();
}
