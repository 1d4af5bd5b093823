#ifndef PROGRAM_H
#define PROGRAM_H

#include "failure.h"

#include <QStringList>

// setuptool-cli from its arguments to its exit status: the command line read, the command it
// names run, and what could not be written accounted for.
namespace Program {

int run(const QStringList &arguments);

// The exit status of a run that returned `status`, once the results it could not write count:
// they fail the run, whatever it found, with `whenLost`, as a script reading them got nothing,
// or not all. Only a command sent that the log does not hold says more.
int settled(int status, int whenLost = exitCode(ExitStatus::OutputLost));

// Prints why the run failed; its exit status.
int failed(const Failure &failure);

// How every command ends: its exit status, or the failure that stopped it, printed.
template<typename Status>
int finished(const Expected<Status> &result, int whenLost = exitCode(ExitStatus::OutputLost))
{
    return settled(result ? int(*result) : failed(result.failure()), whenLost);
}

} // namespace Program

#endif // PROGRAM_H
