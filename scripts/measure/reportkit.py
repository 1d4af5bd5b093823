"""What the reports (scripts/measure/bench-scan, report-reliability, report-memory) share.

Each report runs itself a second time, with a hidden --inside option, in the workstation
namespace of a fresh segment made by tests/segment/vsegment, so that nothing it sends can leave
that segment. The device list lives here: the simulator is started with it as a --config
file and the reports expect its names and addresses, so the two cannot drift apart.
"""

import argparse
import json
import os
import socket
import statistics
import struct
import subprocess
import sys
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VSEGMENT = os.path.join(REPO, "tests", "segment", "vsegment")
DEFAULT_BUILD = os.path.join(REPO, "build")

SIMULATOR = "tools/devicesim/devicesim"
DRIVER = "tools/scandriver/scandriver"
FLOODER = "tools/flooder/flooder"

REPLY_PORT = 7800
# vsegment's status when namespaces cannot be made here; the reports pass it on.
SKIP = 77


# A stock Linux's net.core.rmem_max, for the runs with a capped reply buffer.
STOCK_RMEM_MAX = 212992
# Linux socket option numbers Python does not always name.
SO_RCVBUFFORCE = getattr(socket, "SO_RCVBUFFORCE", 33)
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)


def log(text):
    """Progress on stderr, so that stdout holds the figures only."""
    print(text, file=sys.stderr, flush=True)


def fail(message, status=1):
    print("%s: %s" % (os.path.basename(sys.argv[0]), message), file=sys.stderr, flush=True)
    sys.exit(status)


# ---------------------------------------------------------------- options ----

def whole_number(text, minimum=1):
    """An argparse type: a whole number of at least MINIMUM."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("not a whole number: %r" % text) from None
    if value < minimum:
        raise argparse.ArgumentTypeError("must be at least %d, got %d" % (minimum, value))
    return value


def positive_int(text):
    return whole_number(text, 1)


def non_negative_int(text):
    return whole_number(text, 0)


def add_build_option(parser):
    parser.add_argument("--build", metavar="DIR", default=DEFAULT_BUILD, type=os.path.abspath,
                        help="build directory (default: %(default)s)")


def add_runs_option(parser, name, default, help):
    parser.add_argument(name, metavar="N", type=positive_int, default=default,
                        help="%s (default: %%(default)s)" % help)


def add_keep_option(parser, help):
    parser.add_argument("--keep", metavar="DIR", type=os.path.abspath, help=help)


def program(build, name):
    return os.path.join(build, name)


def check_built(build, *names):
    for name in names:
        if not os.access(program(build, name), os.X_OK):
            fail("%s is not built (cmake --build %s)" % (program(build, name), build), 2)


# ---------------------------------------------------------------- segment ----

def start_in_segment(arguments, devices, timeout, **options):
    """Starts this report again with ARGUMENTS (its hidden --inside among them) in the
    workstation namespace of a fresh segment with DEVICES device addresses, stopped after
    TIMEOUT seconds; OPTIONS go to subprocess.Popen."""
    command = [VSEGMENT, "--device-addresses", str(devices), "--timeout", str(timeout), "--",
               sys.executable, os.path.abspath(sys.argv[0])] + list(arguments)
    return subprocess.Popen(command, **options)


def wait_for_segments(processes):
    """The (stdout, stderr) of every started run, once it has ended.

    Ctrl-C reaches vsegment too, and it then takes its namespaces down: the runs are waited for
    until it has (subprocess.run would kill it, leaving them behind). A second Ctrl-C stops
    waiting."""
    try:
        return [process.communicate() for process in processes]
    except KeyboardInterrupt:
        for process in processes:
            process.communicate()
        raise


def pass_on_skip(status, message=""):
    """Exits with SKIP, showing MESSAGE (what vsegment said), if a run in a segment ended so."""
    if status == SKIP:
        if message:
            sys.stderr.write(message if message.endswith("\n") else message + "\n")
        sys.exit(SKIP)


def run_in_segment(arguments, devices, timeout, capture=False):
    """Runs start_in_segment(...) to its end, its stdout and stderr captured as bytes if asked;
    exits with SKIP, showing vsegment's reason, if namespaces cannot be made here."""
    pipe = subprocess.PIPE if capture else None
    process = start_in_segment(arguments, devices, timeout, stdout=pipe, stderr=pipe)
    [(stdout, stderr)] = wait_for_segments([process])
    pass_on_skip(process.returncode, stderr.decode(errors="replace") if capture else "")
    return subprocess.CompletedProcess(process.args, process.returncode, stdout, stderr)


def main(function):
    """Runs a report's main function; Ctrl-C ends it with 130, as it ends vsegment, and
    without a traceback."""
    try:
        function()
    except KeyboardInterrupt:
        sys.exit(130)


def _first_of_segment(variable):
    try:
        return os.environ[variable].split()[0]
    except (KeyError, IndexError):
        fail("--inside is only for runs inside a segment made by tests/segment/vsegment", 2)


def device_namespace():
    """The device namespace of segment 1, seen from inside the workstation namespace."""
    return _first_of_segment("VSEG_DEVICE_NS")


def device_host():
    """The device namespace's own address in segment 1: what a sender there binds to."""
    return _first_of_segment("VSEG_DEVICE_HOSTS")


# ---------------------------------------------------------------- devices ----

def device_address(segment, i):
    """Device address i (1-based) of segment s, as `vsegment --device-addresses` adds it."""
    return "10.%d.%d.%d" % (76 + segment, 1 + (i - 1) // 250, 1 + (i - 1) % 250)


def device_list(count, segment=1):
    """COUNT devices on the addresses vsegment configures in the segment.

    The tool takes two replies with the same signature (serial XOR uptime) for one device.
    The simulator's own --count devices repeat signatures from the 277th on (500 of them have
    476 different ones, 2,000 only 1,458), and take addresses vsegment does not add past the
    250th, so the list is made here with a unique signature for every device: serials carry
    the device number above the bits an uptime uses."""
    return [{"name": "DEV-%04d" % number, "ip": device_address(segment, number),
             "serial": number << 16, "uptime": (number * 37) % 10000,
             # The services vary as those of the simulator's --count devices do, so that
             # settings windows show what they showed when the figures were taken.
             "ntp": 1, "mbtcp": number % 2, "melsec": (number // 2) % 2,
             "gps": 1 if number % 3 == 0 else 0}
            for number in range(1, count + 1)]


def row_text(device):
    """The text of the device's row in the tool's list."""
    return "%s@%s" % (device["name"], device["ip"])


def write_device_config(path, devices):
    with open(path, "w") as config:
        json.dump({"devices": devices}, config)


class Simulator:
    """tools/devicesim in a device namespace, answering as the devices of a config file; its
    event lines go to DIR/devicesim.jsonl, its stderr to DIR/devicesim.err."""

    def __init__(self, build, namespace, config, directory, options=(), ready_within=60):
        self.log_path = os.path.join(directory, "devicesim.jsonl")
        self.err_path = os.path.join(directory, "devicesim.err")
        command = ["ip", "netns", "exec", namespace, program(build, SIMULATOR),
                   "--config", config] + list(options)
        with open(self.log_path, "wb") as log, open(self.err_path, "wb") as err:
            self.process = subprocess.Popen(command, stdout=log, stderr=err)
        deadline = time.monotonic() + ready_within
        while not self.ready():
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                with open(self.err_path, errors="replace") as err:
                    fail("the simulator did not get ready:\n" + err.read().rstrip())
            time.sleep(0.05)

    def ready(self):
        with open(self.log_path, "rb") as log:
            return b'"event":"ready"' in log.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait()

    def logged(self):
        """Every event the simulator logged so far, in order."""
        with open(self.log_path) as log:
            for line in log:
                try:
                    yield json.loads(line)
                except ValueError:
                    continue

    def count(self, predicate):
        """How many logged events the predicate holds for."""
        return sum(1 for event in self.logged() if predicate(event))

    def events(self):
        """How many events of each kind the simulator logged."""
        counts = {}
        for event in self.logged():
            kind = event.get("event")
            counts[kind] = counts.get(kind, 0) + 1
        return counts

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.stop()


# --------------------------------------------------------- kernel figures ----

def kernel_time_us(ancillary):
    """The kernel's receive time (SO_TIMESTAMPNS) among a recvmsg's ANCILLARY data, in µs, or
    None when it is not there."""
    for level, kind, data in ancillary:
        if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(data) >= 16:
            seconds, nanoseconds = struct.unpack("qq", data[:16])
            return seconds * 1000000 + nanoseconds // 1000
    return None


class DropWatch(threading.Thread):
    """The highest drop count of every socket on the reply port while a scan runs, read every
    INTERVAL seconds (the counts are gone with the scanning program's process). stop() returns
    their sum; `drops` holds them by socket inode."""

    def __init__(self, interval):
        super().__init__(daemon=True)
        self.interval = interval
        self.drops = {}
        self.running = True
        self.start()

    def poll(self):
        for inode, drops in udp_sockets(REPLY_PORT):
            self.drops[inode] = max(drops, self.drops.get(inode, 0))

    def run(self):
        while self.running:
            self.poll()
            time.sleep(self.interval)

    def stop(self):
        self.running = False
        self.join()
        self.poll()
        return sum(self.drops.values())


def snmp_counters():
    """The Ip and Udp counters of this namespace, as {"Udp:RcvbufErrors": n, ...}."""
    counters = {}
    names = {}
    with open("/proc/net/snmp") as snmp:
        for line in snmp:
            fields = line.split()
            group = fields[0]
            if group not in ("Ip:", "Udp:"):
                continue
            if group not in names:
                names[group] = fields[1:]
                continue
            for name, value in zip(names[group], fields[1:]):
                counters[group + name] = int(value)
    return counters


def udp_sockets(port):
    """(inode, drops) of every IPv4 UDP socket bound to PORT in this namespace."""
    sockets = []
    with open("/proc/net/udp") as table:
        next(table)
        for line in table:
            fields = line.split()
            if int(fields[1].split(":")[1], 16) == port:
                sockets.append((int(fields[9]), int(fields[12])))
    return sockets


def timed(command):
    """Runs COMMAND, its output captured; returns the finished process and its wall time in ms."""
    start = time.monotonic()
    done = subprocess.run(command, capture_output=True, check=False)
    return done, (time.monotonic() - start) * 1000.0


def fmt(value, digits=0):
    """A figure for a table: DIGITS decimals, a dash when there is none."""
    return "–" if value is None else "%.*f" % (digits, value)


def median(values):
    """The median of the values that are not None; None if there are none."""
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None
