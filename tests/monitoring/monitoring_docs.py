#!/usr/bin/env python3
"""monitoring_docs - the engine configurations of docs/monitoring.md, validated by the engines.

Reads the blocks marked <!-- checked: NAME --> from docs/monitoring.md, places them as an
administrator would, with what a stock installation adds around them, and has the engine itself
validate the result: `nagios4 -v` for Nagios 4, `icinga2 daemon -C` for an Icinga 2 master
and agent. Runs no check and sends nothing. Exits 77 (skipped) when an engine is missing
(scripts/setup-deps unpacks both into /var/cache/setuptool).

Usage: monitoring_docs.py SOURCE_DIR
"""

import glob
import os
import re
import subprocess
import sys
import tempfile

NAGIOS = os.environ.get("NAGIOS4", "/var/cache/setuptool/nagios4/usr/sbin/nagios4")
ICINGA_ROOT = os.environ.get("ICINGA2_ROOT", "/var/cache/setuptool/icinga2")
# The program itself: Debian's /usr/sbin/icinga2 is a script that runs it from its installed
# place.
ICINGA = (glob.glob(ICINGA_ROOT + "/usr/lib/*/icinga2/sbin/icinga2") or [ICINGA_ROOT + "/none"])[0]

# What the Nagios snippets lean on in a stock Debian installation: the host they name, and a
# generic-service template with what Debian's gives a service (templates.cfg, nagios4-common).
NAGIOS_AROUND = """
define timeperiod {
    timeperiod_name 24x7
    alias           always
    sunday 00:00-24:00
    monday 00:00-24:00
    tuesday 00:00-24:00
    wednesday 00:00-24:00
    thursday 00:00-24:00
    friday 00:00-24:00
    saturday 00:00-24:00
}
define command {
    command_name none
    command_line /bin/true
}
define contact {
    contact_name                  nagiosadmin
    host_notifications_enabled    0
    service_notifications_enabled 0
    host_notification_period      24x7
    service_notification_period   24x7
    host_notification_options     n
    service_notification_options  n
    host_notification_commands    none
    service_notification_commands none
}
define host {
    host_name           segment-a-workstation
    address             10.77.0.1
    max_check_attempts  1
    check_period        24x7
    contacts            nagiosadmin
    notification_period 24x7
}
define service {
    name                  generic-service
    max_check_attempts    3
    check_interval        10
    retry_interval        2
    check_period          24x7
    notification_interval 60
    notification_period   24x7
    contacts              nagiosadmin
    register              0
}
"""

# What Debian's icinga2.conf and constants.conf give every node: the plugins' folder, the
# node's name and zone, and the template library the host's check command comes from.
ICINGA_MAIN = """const PluginDir = "/usr/lib/nagios/plugins"
const NodeName = "%s"
const ZoneName = "%s"
include "zones.conf"
include <itl>
include <plugins>
"""


def snippets(path):
    """The marked blocks of the document by name."""
    with open(path, encoding="utf-8") as doc:
        text = doc.read()
    found = {}
    for match in re.finditer(r"<!-- checked: ([a-z0-9-]+) -->\n```[^\n]*\n(.*?)\n```", text,
                             re.S):
        found[match.group(1)] = match.group(2) + "\n"
    return found


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as target:
        target.write(text)


def run(what, command):
    done = subprocess.run(command, capture_output=True, text=True, check=False, timeout=120)
    if done.returncode != 0:
        print("FAIL: %s: %s exited %d\n%s%s" % (what, command[0], done.returncode, done.stdout,
                                                done.stderr))
        return False
    print("PASS: %s" % what)
    return True


def nagios(blocks, folder):
    write(folder + "/objects.cfg", blocks["nagios-objects"] + NAGIOS_AROUND)
    main = ("cfg_file={0}/objects.cfg\nlog_file={0}/nagios.log\nlock_file={0}/nagios.lock\n"
            "temp_file={0}/nagios.tmp\ncheck_result_path={0}\nnagios_user=nobody\n"
            "nagios_group=nogroup\nillegal_macro_output_chars=`~$&|'\"<>\n".format(folder)
            ) + blocks["nagios-main"]
    write(folder + "/nagios.cfg", main)
    # Run as root, the engine drops to its user (nobody here, as Debian's nagios), who must
    # write its check results there.
    if os.geteuid() == 0:
        os.chown(folder, 65534, 65534)
    return run("Nagios 4: the command, the service and nagios.cfg's lines",
               [NAGIOS, "-v", folder + "/nagios.cfg"])


def icinga(blocks, folder, node, files):
    """One node's configuration: its zones.conf and `files` (path: text) under its etc."""
    etc, var = folder + "/etc", folder + "/var"
    zone = "master" if node == "master.example.org" else node
    write(etc + "/icinga2.conf", ICINGA_MAIN % (node, zone)
          + "".join('include "%s"\n' % name for name in files if not name.startswith("zones.d")))
    write(etc + "/zones.conf", blocks["icinga2-zones"])
    for name, text in files.items():
        write(etc + "/" + name, text)
    os.makedirs(var + "/certs", exist_ok=True)
    constants = []
    for name in ("DataDir", "CacheDir", "LogDir", "InitRunDir", "SpoolDir", "StateDir"):
        constants += ["-D", "%s=%s" % (name, var)]
    constants += ["-D", "ZonesDir=%s/zones.d" % etc, "-D", "RunAsUser=root", "-D",
                  "RunAsGroup=root"]
    if "api.conf" in files:
        # The agent's certificate, as the node wizard leaves it; its own CA will do here.
        certs = var + "/certs/" + node
        if not run("Icinga 2: a certificate for " + node,
                   [ICINGA, "pki", "new-cert", "--cn", node, "--key", certs + ".key", "--cert",
                    certs + ".crt"] + constants[-4:]):
            return False
        with open(certs + ".crt") as source:
            write(var + "/certs/ca.crt", source.read())
    return run("Icinga 2 %s: %s" % (node, ", ".join(sorted(files))),
               [ICINGA, "daemon", "-C", "-c", etc + "/icinga2.conf", "-I",
                ICINGA_ROOT + "/usr/share/icinga2/include"] + constants)


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    missing = [p for p in (NAGIOS, ICINGA) if not os.access(p, os.X_OK)]
    if missing:
        print("SKIP: %s missing; scripts/setup-deps unpacks them" % " and ".join(missing))
        return 77
    blocks = snippets(os.path.join(source, "docs", "monitoring.md"))
    wanted = ("nagios-objects", "nagios-main", "icinga2-zones", "icinga2-command",
              "icinga2-host", "icinga2-agent-api")
    absent = [name for name in wanted if name not in blocks]
    if absent:
        print("FAIL: docs/monitoring.md has no block marked %s" % ", ".join(absent))
        return 1
    with tempfile.TemporaryDirectory(prefix="monitoring-docs-") as folder:
        # Nagios reads its objects as its own user (nobody) once it has dropped root.
        os.chmod(folder, 0o755)
        results = [
            nagios(blocks, folder + "/nagios"),
            icinga(blocks, folder + "/master", "master.example.org",
                   {"zones.d/global-templates/setuptool.conf": blocks["icinga2-command"],
                    "zones.d/master/segment-a.conf": blocks["icinga2-host"]}),
            icinga(blocks, folder + "/agent", "segment-a-workstation",
                   {"api.conf": blocks["icinga2-agent-api"]}),
        ]
    print("%d passed, %d failed" % (results.count(True), results.count(False)))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
