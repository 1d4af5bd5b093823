#ifndef EXITSTATUS_H
#define EXITSTATUS_H

// What setuptool-cli's exit status tells a script. The numbers are part of its interface; never
// renumber them. Each is described once, in exitStatusTable below, which --help prints and a
// unit test holds docs/cli.md's table to.
enum class ExitStatus {
    Success = 0,
    VerifyFailed = 1,
    Usage = 2,
    DeviceNotFound = 3,
    CannotVerify = 4,
    NetworkUnusable = 5,
    PlanFaults = 6,
    SentNotLogged = 7,
    OutputLost = 8,
};

inline int exitCode(ExitStatus status)
{
    return int(status);
}

struct ExitStatusEntry
{
    ExitStatus status;
    const char *name; // the docs' name of the status
    const char *help; // as --help prints it, lines broken where it breaks them
};

inline constexpr ExitStatusEntry exitStatusTable[] = {
    { ExitStatus::Success, "success", "success (with --verify: the check passed)" },
    { ExitStatus::VerifyFailed, "verify failed",
      "verify failed: the device showed the command did not take effect" },
    { ExitStatus::Usage, "usage", "bad usage, or a new address refused without --force" },
    { ExitStatus::DeviceNotFound, "device not found",
      "no device, or more than one, matches DEVICE" },
    { ExitStatus::CannotVerify, "cannot verify",
      "cannot verify: NTP off on the device, or no answer to the check" },
    { ExitStatus::NetworkUnusable, "network unusable",
      "network unusable: no IPv4 address, port 7800 held by another\n"
      "program, a datagram that could not be sent" },
    { ExitStatus::PlanFaults, "plan faults",
      "apply: the plan has faults, nothing was sent; plan: a device could\n"
      "not be given an address (the plan holds the others)" },
    { ExitStatus::SentNotLogged, "sent not logged",
      "sent, not logged: a command went out whose --log line could not be\n"
      "written (each such command is named on stderr)" },
    { ExitStatus::OutputLost, "output lost",
      "the results could not be written to stdout (a full disk; also,\n"
      "without a message, a reader that closed the pipe)" },
};

#endif // EXITSTATUS_H
