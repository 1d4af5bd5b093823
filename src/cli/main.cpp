#include "platform.h"
#include "program.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Platform::keepRunningWhenReaderGone();
    QCoreApplication::setApplicationName(QStringLiteral("setuptool-cli"));
    return Program::run(QCoreApplication::arguments());
}
