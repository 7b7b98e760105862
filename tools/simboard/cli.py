# SPDX-License-Identifier: BSD-3-Clause
"""The command line of simboard.py: demo, exec, plug, unplug, traps, list,
and the holder and libsensors runs inside a board."""

import json
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import Dict, List, Optional, Tuple

from .board import Board
from .common import CONFIG_NAME, BoardError
from .devices import DEFAULT_PRODUCT_NAME
from .disks import DEFAULT_DISKS, DEFAULT_PARTITIONS, smart_disk_title, smartctl_fixture
from .hwmon import DEFAULT_SENSORS, HWMON_CHIP, _libsensors_report
from .names import BoardState, find_board, running_boards
from .procfiles import DEFAULT_CPUFREQ, DEFAULT_ISSUE, DEFAULT_LSB_RELEASE, DEFAULT_MEMINFO, DEFAULT_WDTINFO
from .sandbox import _holder_alive, _holder_main
from .snmp import ENTERPRISE, MIB_MODULE, NAMED_TRAPD_LOG, NAMED_TRAPD_PORT, SYSINFO, WITH_MIB, NamedTrapPrinter
from .storage import DEFAULT_FILESYSTEMS
from .usb import usb_fixture, usb_fixture_names, usb_kind

# ---------------------------------------------------------------------------
# Command line.


def _demo(name: Optional[str]) -> int:
    try:
        state = BoardState.claim(name)
    except BoardError as e:
        print(e, file=sys.stderr)
        return 1
    stop = threading.Event()
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda *_: stop.set())
    me = Path(sys.argv[0])
    me_cmd = str(me) if "/" in str(me) else "./" + str(me)

    def step(what, detail=""):
        print("  %-14s %s" % (what, detail), flush=True)

    def show(argv):
        """Runs a Net-SNMP tool inside the board, shown as the command that does it from the host."""
        print("\n$ %s exec %s" % (me_cmd, " ".join(argv)), flush=True)
        out = board.exec(argv, timeout=30)
        print(out.stdout + out.stderr, end="", flush=True)

    board = Board()
    try:
        print("=== vlm_subagent on the simulated board %s ===" % state.name, flush=True)
        board.start()
        step("sandbox", "%s (namespaces of pid %d)" % (board.root, board.holder_pid))
        step("/dev/vmspname", DEFAULT_PRODUCT_NAME)
        step("/dev/vlmpsustatus", "both power-supply inputs good")
        step("/etc/issue", DEFAULT_ISSUE.splitlines()[0])
        step("lsb_release", DEFAULT_LSB_RELEASE.rstrip("\n").replace("\t", " "))
        step("/proc/meminfo", "%d kB, 35 %% in use" % DEFAULT_MEMINFO["total"])
        step("df -m -l", ", ".join("%s %d MB %s" % (fs.device, fs.size, fs.use)
                                for fs in DEFAULT_FILESYSTEMS if fs.device.startswith("/dev")))
        step("/sys/devices/system/cpu", ", ".join(
            "cpu%d %d/%d MHz" % (n, cur // 1000, high // 1000) for n, (cur, _, high) in enumerate(DEFAULT_CPUFREQ)))
        step("/proc/vlmwdtinfo", ", ".join("%s %s" % kv for kv in DEFAULT_WDTINFO.items()))
        step("/sys/class/hwmon", "%s: %s" % (HWMON_CHIP, ", ".join(
            "%s %g %s" % (s.label, s.value, {"temp": "C", "in": "V", "curr": "A"}[s.kind])
            for s in DEFAULT_SENSORS)))
        step("lsusb -v", ", ".join("%s (%s)" % (n, _usb_title(n)) for n in board.usb_devices()))
        step("smartctl/fdisk", "; ".join(
            "%s %s, %s" % (node, smart_disk_title(smartctl_fixture(name)[0]),
                           _plural(DEFAULT_PARTITIONS.get(node, 1), "partition"))
            for node, name in DEFAULT_DISKS))
        board.start_trapd()
        step("snmptrapd", "receiving on udp 127.0.0.1:162 (the agent's trapsink)")
        named_log = board.start_named_trapd()
        step("snmptrapd", "with %s on udp 127.0.0.1:%d (snmpd's trap2sink): names what it receives"
             % (MIB_MODULE, NAMED_TRAPD_PORT))
        board.start_snmpd()
        step("snmpd", "udp 127.0.0.1:161, AgentX master on %s" % board.agentx_socket)
        board.start_agent()
        step("vlm_subagent", "connected (%s)" % board.agent_path)
        # The sensor tables come with the agent's first acquisition cycle,
        # about 2 s after its start.
        deadline = time.monotonic() + 5
        while board.snmpget(ENTERPRISE + ".200.2.1.2.1.1.1")[0].type != "INTEGER" and \
                time.monotonic() < deadline:
            time.sleep(0.1)
        # The CPU clocks come with the first sample, one second later still.
        while board.snmpget(ENTERPRISE + ".200.2.4.3.0")[0].value in (0, None) and \
                time.monotonic() < deadline + 2:
            time.sleep(0.1)
        # The disk tables come with the first refresh, about 1 s after the start.
        while board.snmpget(ENTERPRISE + ".200.3.1.1.0")[0].value in (0, None) and \
                time.monotonic() < deadline + 4:
            time.sleep(0.1)
        state.publish(board)

        snmp = WITH_MIB + ["-v2c", "-c", "public", "127.0.0.1"]
        show(["snmpwalk"] + snmp + [ENTERPRISE])
        for table in ("tpTable", "vtTable", "vlmGroupTable"):
            show(["snmptable", "-Cb"] + snmp + [table])
        psu = state.directory / "dev" / "vlmpsustatus"

        def commands(heading, lines):
            print(heading)
            for command, what in lines:
                print(("  %-58s  # %s" % (command, what)) if what else "  " + command)

        commands("\nThe board %s serves until Ctrl-C. From another terminal:" % state.name, (
            ("%s exec snmpget -v2c -c public 127.0.0.1 %s.2.0" % (me_cmd, SYSINFO), ""),
            ("%s exec snmpset -v2c -c private 127.0.0.1 %s.2.0 s 'my-device'" % (me_cmd, SYSINFO), ""),
            ("%s exec snmptable -Cb %s 127.0.0.1 hwdTable" % (me_cmd, " ".join(snmp[:-1])), ""),
            ("%s exec snmpwalk -v2c -c public 127.0.0.1 1.3.6.1.2.1.99" % me_cmd,
             "the sensors as ENTITY-SENSOR-MIB shows them"),
            ("%s exec cat /etc/snmp/%s" % (me_cmd, CONFIG_NAME), "the agent's configuration"),
            ("%s exec" % me_cmd, "a shell inside the board")))
        commands("What the manager hears of (the notifications print below as they arrive):", (
            ("%s exec sh -c 'echo 90000 > /sys/class/hwmon/hwmon0/temp1_input'" % me_cmd,
             "Temp CPU at 90 C: temperatureThresholdAlarm (45000: ...Clear)"),
            ("echo 10 > %s" % psu, "power input 2 fails: powerStateChange"),
            ("echo EE > %s" % psu, "the inputs cannot be read: vlmGroupStatusChange"),
            ("echo 11 > %s" % psu, "both good again: vlmGroupStatusChange, powerStateChange"),
            ("%s plug stick_a" % me_cmd, "a USB stick arrives: hardwareDetectEvent, twice"),
            ("%s unplug stick_a" % me_cmd, "and leaves (plug alone lists the USB devices)"),
            ("%s traps --follow" % me_cmd, "the notifications, in another terminal")))
        print("With several boards running, name this one after the command: %s exec --board %s ..."
              % (me_cmd, state.name))
        print("Logs of snmpd, snmptrapd and the agent: %s" % (state.directory / "log"))
        print("\nNotifications, as a manager with %s receives them:" % MIB_MODULE, flush=True)
        printer = NamedTrapPrinter(named_log)
        while not stop.wait(0.3):
            printer.poll()
            if not board.agent.running():
                print("\nvlm_subagent exited with status %s\n%s" % (
                    board.agent.returncode, board.agent_output()), flush=True)
                break
            if not _holder_alive(board.holder_pid, board.root):
                print("\nThe board's holder process has ended.", flush=True)
                break
    except BoardError as e:
        print("\nThe board could not be brought up: %s" % e, file=sys.stderr)
        return 1
    finally:
        state.release()
        print("\nStopping the board...", flush=True)
        board.close()
        print("Board stopped; the host is as it was.")
    return 0


def _exec(board_name: Optional[str], argv: List[str]) -> int:
    info = find_board(board_name)
    cmd = ["nsenter", "-t", str(info["holder_pid"]), "-m", "-i", "-n", "-p",
           "--wd=%s" % (Path(info["root"]) / "run"), "--"] + (argv or ["/bin/sh"])
    return subprocess.run(cmd, env=info["env"]).returncode


def _plural(count: int, noun: str) -> str:
    return "%d %s%s" % (count, noun, "" if count == 1 else "s")


def _usb_title(name: str) -> str:
    """Vendor and product of a USB fixture, from its "Bus ..." line."""
    first = usb_fixture(name).split("\n", 1)[0]
    return first.split(": ID ", 1)[-1][10:].strip() or first.split(": ID ", 1)[-1][:9]


def _usb_cli(action: str, board_name: Optional[str], argv: List[str]) -> int:
    """plug DEVICE / unplug DEVICE on a running board."""
    if len(argv) != 1:
        print("usage: %s %s [--board NAME] DEVICE    (DEVICE: one of the USB fixtures)"
              % (sys.argv[0], action), file=sys.stderr)
        for name in usb_fixture_names():
            print("  %-16s %-9s %s" % (name, usb_kind(usb_fixture(name)) or "-", _usb_title(name)), file=sys.stderr)
        return 2
    info = find_board(board_name)
    board = Board.attach(info["root"], info["holder_pid"])
    messages = board.plug(argv[0]) if action == "plug" else board.unplug(argv[0])
    for message in messages:
        print("uevent %s" % message.split(b"\0", 1)[0].decode())
    print("attached now: %s" % ", ".join(board.usb_devices()))
    return 0


def _traps(board_name: Optional[str], follow: bool) -> int:
    """The notifications a board's named receiver has got; with `follow`,
    then those that come, until Ctrl-C or the board's end."""
    info = find_board(board_name)
    log = Path(info["root"]) / "log" / NAMED_TRAPD_LOG
    if not log.exists():
        raise BoardError("The board %s has no receiver with %s." % (info.get("name", "?"), MIB_MODULE))
    printer = NamedTrapPrinter(log)
    printer.poll()
    try:
        while follow and _holder_alive(info["holder_pid"], info["root"]):
            time.sleep(0.3)
            printer.poll()
    except KeyboardInterrupt:
        pass
    return 0


def _list() -> int:
    boards = running_boards()
    for name, info in boards.items():
        print("%-12s holder pid %-8s %s" % (name, info["holder_pid"], info["root"]))
    if not boards:
        print("No simulated board is running.", file=sys.stderr)
    return 0


def _options(args: List[str], known: Dict[str, bool]) -> Tuple[Dict[str, object], List[str]]:
    """The leading options of a command's arguments (`known`: each option and
    whether it takes a value, as --opt VALUE or --opt=VALUE), and the rest."""
    found: Dict[str, object] = {}
    while args and args[0].split("=", 1)[0] in known:
        flag, eq, value = args[0].partition("=")
        if not known[flag]:
            found[flag], args = True, args[1:]
        elif eq:
            found[flag], args = value, args[1:]
        elif len(args) >= 2:
            found[flag], args = args[1], args[2:]
        else:
            raise BoardError("%s needs a value" % flag)
    return found, args


USAGE = """\
usage: %(me)s demo [--name NAME]
       %(me)s exec [--board NAME] [COMMAND [ARG...]]
       %(me)s plug|unplug [--board NAME] [DEVICE]
       %(me)s traps [--board NAME] [--follow]
       %(me)s list
  demo     run vlm_subagent on a simulated board until Ctrl-C; the board is
           named NAME, or board1 (board2 ... when taken)
  exec     run a command inside a running board (no COMMAND: a shell)
  plug     attach a USB device to a running board (no DEVICE: list them)
  unplug   take a USB device away from it
  traps    the notifications the board's manager received, by name; with
           --follow, then each as it arrives
  list     the running boards
--board NAME: the board to use; without it, the only board running."""


def main(argv: List[str]) -> int:
    if len(argv) >= 2 and argv[1] == "_holder":
        return _holder_main(argv[2])
    if len(argv) >= 2 and argv[1] == "_libsensors":
        print(json.dumps(_libsensors_report()))
        return 0
    command, args = (argv[1], argv[2:]) if len(argv) >= 2 else ("", [])
    try:
        if command == "demo":
            options, rest = _options(args, {"--name": True})
            if not rest:
                return _demo(options.get("--name"))
        elif command == "exec":
            options, rest = _options(args, {"--board": True})
            return _exec(options.get("--board"), rest)
        elif command in ("plug", "unplug"):
            options, rest = _options(args, {"--board": True})
            return _usb_cli(command, options.get("--board"), rest)
        elif command == "traps":
            options, rest = _options(args, {"--board": True, "--follow": False})
            if not rest:
                return _traps(options.get("--board"), bool(options.get("--follow")))
        elif command == "list" and not args:
            return _list()
    except BoardError as e:
        print(e, file=sys.stderr)
        return 1
    print(USAGE % {"me": argv[0]}, file=sys.stderr)
    return 2
