#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "simulatorsettings.h"

#include <QString>
#include <QStringList>

#include <optional>

// Reads the simulator's options.  --help prints and exits the process.
class CommandLine
{
public:
    static std::optional<SimulatorSettings> parse(const QStringList &arguments, QString *error);
};

#endif // COMMANDLINE_H
