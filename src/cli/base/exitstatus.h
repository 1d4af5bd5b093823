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

// Each meaning names every command that ends with the status and why, so that a script's author
// finds there whatever a command may return.
inline constexpr ExitStatusEntry exitStatusTable[] = {
    { ExitStatus::Success, "success",
      "success; set-time, set-address with --verify: the check passed; check:\n"
      "every device with NTP on answered synchronised; scan: also when no\n"
      "device answered" },
    { ExitStatus::VerifyFailed, "verify failed",
      "set-time, set-address --verify: the device showed the command did not\n"
      "take effect; check: a device answered unsynchronised; apply: a line\n"
      "failed or was skipped (--skip-bad)" },
    { ExitStatus::Usage, "usage",
      "bad usage: unknown command or option, bad value, options before the\n"
      "command; set-address: a new address refused without --force;\n"
      "set-time, set-address, apply: a --log that cannot be written; apply:\n"
      "a plan file that cannot be opened; plan: a --range outside every\n"
      "subnet the devices were heard on" },
    { ExitStatus::DeviceNotFound, "device not found",
      "set-time, set-address: no device, or more than one, matches DEVICE;\n"
      "check: no device with NTP on, or an expected one missing; plan: no\n"
      "device answered the scan" },
    { ExitStatus::CannotVerify, "cannot verify",
      "set-time, set-address --verify: NTP off on the device, or no answer\n"
      "to the check; check: a device with NTP on did not answer; apply: a\n"
      "line cannot be verified (and none failed or was skipped)" },
    { ExitStatus::NetworkUnusable, "network unusable",
      "network unusable (every command): no IPv4 address, port 7800 held by\n"
      "another program, a datagram that could not be sent; set-time,\n"
      "set-address: a device at 0.0.0.0; apply: the verifying rescan failed" },
    { ExitStatus::PlanFaults, "plan faults",
      "apply: the plan has faults or cannot be used, nothing was sent; plan:\n"
      "a device could not be given an address (the plan holds the others)" },
    { ExitStatus::SentNotLogged, "sent not logged",
      "set-time, set-address, apply: sent, not logged: a command went out\n"
      "whose --log line could not be written (each is named on stderr)" },
    { ExitStatus::OutputLost, "output lost",
      "the results could not be written to stdout (a full disk; also,\n"
      "without a message, a reader that closed the pipe)" },
};

#endif // EXITSTATUS_H
