#ifndef EXITSTATUS_H
#define EXITSTATUS_H

// What setuptool-cli's exit status tells a script. The numbers are part of its interface
// (docs/cli.md); never renumber them.
enum class ExitStatus {
    Success = 0,
    VerifyFailed = 1, // the device answered the check and showed the command did not take effect
    Usage = 2, // bad options or arguments, or a new address refused without --force
    DeviceNotFound = 3, // no device, or more than one, matches DEVICE
    CannotVerify = 4, // the check could not be made: NTP off, no answer
    NetworkUnusable = 5, // no IPv4 address, a port taken, a datagram that could not be sent
    PlanFaults = 6, // apply: the plan has faults, nothing was sent; plan: a device left out
    SentNotLogged = 7, // a command was sent, but its line could not be written to the --log file
    OutputLost = 8, // the results could not be written to stdout (also: its reader closed it)
};

inline int exitCode(ExitStatus status)
{
    return int(status);
}

#endif // EXITSTATUS_H
