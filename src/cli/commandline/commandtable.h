#ifndef COMMANDTABLE_H
#define COMMANDTABLE_H

#include "commandline.h"

#include <QList>

namespace CommandLine {

// Every command of setuptool-cli, one row each, in the order the overview lists them.
const QList<Command> &commands();

} // namespace CommandLine

#endif // COMMANDTABLE_H
