# SPDX-License-Identifier: BSD-3-Clause
"""Trap translation with snmptt: integrations/snmptt/vlm-subagent.conf, as
Debian's snmptt 1.5 reads it, translates every notification the agent sends.

One board: snmpd sends each notification as an SNMPv1 trap to a receiver of
its trapsink lines (as on a board in the field), an snmptrapd with the
README's snmptrapd.conf lines, but running snmptt in standalone mode (its
traphandle starts /usr/sbin/snmptt --ini=INI for each trap) instead of
handing the trap to the snmptt daemon (which tests/packaging's
service-sandbox-check runs as the README sets it up). The ini file is
Debian's /etc/snmp/snmptt.ini changed by the README's command (naming the
repository's file instead of the installed one), with the log in a
temporary directory, no syslog, and a log format that shows the event name
too. The board then makes every one of the 13 notifications happen, in four
steps, and each must be logged once with its event name, severity, category
and summary. A second receiver, with our MIB loaded (snmptrapd then passes
enumerated values by name), must log the same events."""

import re
import shutil
import subprocess
import sys
import time
from pathlib import Path
from typing import List, NamedTuple

import pytest

from simboard import DEFAULT_MEMINFO, DEFAULT_WDTINFO, ENTERPRISE, REPO, WITH_MIB, filesystems_with_use

sys.path.insert(0, str(REPO / "tests" / "packaging"))
import readme_steps  # noqa: E402

SNMPTT = "/usr/sbin/snmptt"
DEBIAN_INI = Path("/etc/snmp/snmptt.ini")
CONF = REPO / "integrations" / "snmptt" / "vlm-subagent.conf"
INSTALLED_CONF = "/usr/share/vlm-subagent/snmptt/vlm-subagent.conf"
DEBIAN_HANDLER = "traphandle default /usr/sbin/snmptthandler"
PORT, MIB_PORT = 1163, 1164
PREFIX = "." + ENTERPRISE + ".200.10.0."
# Debian's log line with the event name after the OID.
LOG_FORMAT = '$o $N $s "$c" $A - $Fz'
LINE = re.compile(r'^(?P<oid>\.[\d.]+) (?P<name>\w+) (?P<severity>\w+) "(?P<category>[^"]*)" (?P<host>\S+) - '
                  r'(?P<summary>.*)$')


class Event(NamedTuple):
    number: int
    name: str
    severity: str
    category: str
    summary: str


def readme_step(marker: str) -> str:
    """The one command of the README's snmptt set-up that holds `marker`."""
    (step,) = [line for line in readme_steps.snmptt_steps() if marker in line]
    return step


def ini_text(tmp: Path) -> str:
    """Debian's snmptt.ini, changed as the README says and for the test,
    in `tmp` (made), with the logs there."""
    tmp.mkdir()
    ini = tmp / "snmptt.ini"
    shutil.copyfile(DEBIAN_INI, ini)
    subprocess.run(["sh", "-ec", readme_step(str(DEBIAN_INI)).replace(str(DEBIAN_INI), str(ini))], check=True)
    text = ini.read_text()
    assert "\n%s\n" % INSTALLED_CONF in text
    text = text.replace("\n%s\n" % INSTALLED_CONF, "\n%s\n" % CONF)
    settings = {
        "mode": "standalone",
        "log_enable": "1",
        "log_file": str(tmp / "snmptt.log"),
        "log_format": LOG_FORMAT,
        "log_system_enable": "1",
        "log_system_file": str(tmp / "snmpttsystem.log"),
        "unknown_trap_log_enable": "1",
        "unknown_trap_log_file": str(tmp / "snmpttunknown.log"),
        "syslog_enable": "0",
        "syslog_system_enable": "0",
        "stdout_enable": "0",
    }
    for key, value in settings.items():
        text, count = re.subn(r"^%s\s*=.*$" % key, lambda _m: "%s = %s" % (key, value), text, flags=re.M)
        assert count == 1, key
    ini.write_text(text)
    return str(ini)


def start_receiver(board, name: str, port: int, ini: str, options=()):
    """An snmptrapd on 127.0.0.1:`port` with the README's lines for Debian's
    snmptrapd.conf (which has none but comments), the daemon's handler
    replaced by standalone snmptt reading `ini`; snmpd sends it every
    notification as an SNMPv1 trap (a trapsink line)."""
    conf = board.etc / ("snmptrapd-%s.conf" % name)
    conf.write_text("[snmp] mibs :\n")
    subprocess.run(["sh", "-ec", readme_step("/etc/snmp/snmptrapd.conf").replace(
        "/etc/snmp/snmptrapd.conf", str(conf))], check=True)
    text = conf.read_text()
    assert DEBIAN_HANDLER in text
    conf.write_text(text.replace(DEBIAN_HANDLER, "traphandle default %s --ini=%s" % (SNMPTT, ini)))
    board.add_trapsink("127.0.0.1", port=port, joined=True)
    board.trapds[name] = board.spawn("snmptrapd-" + name, [
        "snmptrapd", "-f", "-Lf", str(board.log_dir / ("snmptrapd-%s.log" % name)), "-C", "-c",
        "/etc/snmp/" + conf.name] + list(options) + ["127.0.0.1:%d" % port])


def logged(tmp: Path) -> List[Event]:
    """Our notifications in snmptt's log, oldest first (each line starts
    with snmptt's date)."""
    log = tmp / "snmptt.log"
    events = []
    for line in log.read_text(errors="replace").splitlines() if log.exists() else []:
        m = LINE.match(line[25:]) if len(line) > 25 else None
        if m and m.group("oid").startswith(PREFIX):
            events.append(Event(int(m.group("oid")[len(PREFIX):]), m.group("name"), m.group("severity"),
                                m.group("category"), m.group("summary")))
    return events


def wait_logged(tmp: Path, expected: List[Event], done: int, timeout: float) -> List[Event]:
    """Waits for the `expected` events after the first `done` of the log (in
    any order); returns the new ones."""
    deadline = time.monotonic() + timeout
    while True:
        new = logged(tmp)[done:]
        if sorted(new) == sorted(expected):
            return new
        if time.monotonic() > deadline or len(new) > len(expected):
            unknown = tmp / "snmpttunknown.log"
            raise AssertionError("snmptt logged\n  %s\nnot\n  %s\nunknown traps:\n%s" % (
                "\n  ".join(map(str, sorted(new))), "\n  ".join(map(str, sorted(expected))),
                unknown.read_text(errors="replace") if unknown.exists() else "(none)"))
        time.sleep(0.2)


def memory_in_use(percent):
    """/proc/meminfo figures giving `percent` in use (without buffers, page
    cache and slab, which the default board has 15 % of)."""
    total = DEFAULT_MEMINFO["total"]
    return {"free": total - total * percent // 100, "buffers": 0, "cached": 0, "slab": 0}


SENSORS, RESOURCES, HOTPLUG, POWER, AGENT = "VLM Sensors", "VLM Resources", "VLM Hot-plug", "VLM Power", \
    "VLM Agent health"


@pytest.mark.time_limit(120)
def test_snmptt_translates_every_notification(make_board, tmp_path):
    # Faults: a notification snmptt does not know (unknown trap) or logs
    # twice (two EVENT entries of one OID matching); a severity that does
    # not follow the level, severity, event or status the notification
    # carries; a summary that does not name the sensor, file system, device
    # or group and its value; a MIB change of a notification's OID or
    # objects that the file did not follow.
    if not Path(SNMPTT).exists():
        pytest.skip("snmptt is not installed (Debian package snmptt)")
    plain, named = tmp_path / "plain", tmp_path / "named"
    board = make_board()
    board.start_trapd()
    start_receiver(board, "snmptt", PORT, ini_text(plain))
    start_receiver(board, "snmptt-mib", MIB_PORT, ini_text(named), WITH_MIB)
    board.start_snmpd()
    board.start_agent()
    time.sleep(2.5)   # the first readings, which are not announced
    board.wait_uevent_listener()
    done = len(logged(plain))

    # 1: into the first bands (High, Low, threshold 1), an input fails, a
    # stick arrives, the watchdog driver is unloaded.
    board.set_sensor("Temp CPU", 90.0)
    board.set_sensor("VCORE", 0.84)
    board.set_sensor("Current", 4.5)
    board.set_meminfo(**memory_in_use(85))
    board.set_df(filesystems_with_use("/dev/sda1", 85))
    board.set_device("vlmpsustatus", "10")
    board.plug("stick_a")
    board.set_wdtinfo(None)
    name = "SanDisk Cruzer Blade"
    step1 = [
        Event(1, "temperatureThresholdAlarm", "Major", SENSORS,
              "Temperature sensor Temp CPU above High: 90.0 (High 85)"),
        Event(3, "voltageThresholdAlarm", "Major", SENSORS, "Voltage sensor VCORE below Low: 0.84 (Low 0.9)"),
        Event(8, "currentThresholdAlarm", "Major", SENSORS, "Current sensor Current above High: 4.50 (High 4.0)"),
        Event(101, "memoryUsageAlarm", "Major", RESOURCES, "Memory usage above threshold 1: 85 % (threshold 80 %)"),
        Event(103, "storageUsageAlarm", "Major", RESOURCES,
              "Storage /dev/sda1 above threshold 1: 85 % (threshold 80 %)"),
        Event(105, "powerStateChange", "Major", POWER, "Power supply: an input failed (pwrState 2)"),
        Event(5, "hardwareDetectEvent", "Normal", HOTPLUG, "USB device arrived: USB Mass Storage Device"),
        Event(5, "hardwareDetectEvent", "Normal", HOTPLUG, "USB disk arrived: %s" % name),
        Event(106, "vlmGroupStatusChange", "Minor", AGENT,
              "Agent group watchdog absent: /proc/vlmwdtinfo: No such file or directory"),
    ]
    done += len(wait_logged(plain, step1, done, timeout=15))

    # 2: into the outer bands (HighHigh, LowLow, threshold 3), the input
    # comes back, the stick leaves, the driver is loaded again.
    board.set_sensor("Temp CPU", 97.0)
    board.set_sensor("VCORE", 0.7)
    board.set_meminfo(**memory_in_use(97))
    board.set_device("vlmpsustatus", "11")
    board.unplug("stick_a")
    board.set_wdtinfo(DEFAULT_WDTINFO)
    step2 = [
        Event(1, "temperatureThresholdAlarm", "Critical", SENSORS,
              "Temperature sensor Temp CPU above HighHigh: 97.0 (HighHigh 95)"),
        Event(3, "voltageThresholdAlarm", "Critical", SENSORS, "Voltage sensor VCORE below LowLow: 0.70 (LowLow 0.8)"),
        Event(101, "memoryUsageAlarm", "Critical", RESOURCES, "Memory usage above threshold 3: 97 % (threshold 95 %)"),
        Event(105, "powerStateChange", "Normal", POWER, "Power supply: both inputs good again (pwrState 1)"),
        Event(5, "hardwareDetectEvent", "Warning", HOTPLUG, "USB device removed: USB Mass Storage Device"),
        Event(5, "hardwareDetectEvent", "Warning", HOTPLUG, "USB disk removed: %s" % name),
        Event(106, "vlmGroupStatusChange", "Normal", AGENT,
              "Agent group watchdog ok again (last error: /proc/vlmwdtinfo: No such file or directory)"),
    ]
    done += len(wait_logged(plain, step2, done, timeout=15))

    # 3: everything back within its thresholds; the power-supply driver
    # stops answering.
    board.set_sensor("Temp CPU", 45.0)
    board.set_sensor("VCORE", 1.1)
    board.set_sensor("Current", 1.5)
    board.set_meminfo(**memory_in_use(35))
    board.set_df(filesystems_with_use("/dev/sda1", 30))
    board.set_device("vlmpsustatus", "EE")
    error = board.wait_groups({"power": "failing"}, timeout=10)["power"]["error"]
    step3 = [
        Event(2, "temperatureThresholdClear", "Normal", SENSORS, "Temperature sensor Temp CPU back to normal: 45.0"),
        Event(4, "voltageThresholdClear", "Normal", SENSORS, "Voltage sensor VCORE back to normal: 1.10"),
        Event(9, "currentThresholdClear", "Normal", SENSORS, "Current sensor Current back to normal: 1.50"),
        Event(102, "memoryUsageClear", "Normal", RESOURCES, "Memory usage back below its thresholds: 35 %"),
        Event(104, "storageUsageClear", "Normal", RESOURCES, "Storage /dev/sda1 back below its thresholds: 30 %"),
        Event(106, "vlmGroupStatusChange", "Major", AGENT, "Agent group power failing: %s" % error),
    ]
    done += len(wait_logged(plain, step3, done, timeout=15))

    # 4: the driver answers again, with both inputs good as before.
    board.set_device("vlmpsustatus", "11")
    step4 = [Event(106, "vlmGroupStatusChange", "Normal", AGENT,
                   "Agent group power ok again (last error: %s)" % error)]
    wait_logged(plain, step4, done, timeout=15)

    # Every one of the 13, and none of ours left unknown to snmptt.
    events = logged(plain)
    assert len({e.name for e in events}) == 13
    for tmp in (plain, named):
        unknown = tmp / "snmpttunknown.log"
        assert ENTERPRISE not in (unknown.read_text(errors="replace") if unknown.exists() else "")

    # The same with the names of the values (only the power supply's
    # summary shows one).
    by_name = [e._replace(summary=e.summary.replace("(pwrState 2)", "(pwrState inputFailed)").replace(
        "(pwrState 1)", "(pwrState inputsGood)")) for e in events]
    wait_logged(named, by_name, 0, timeout=10)
