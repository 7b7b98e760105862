#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""The simulated board: vlm_subagent with a real snmpd master and a real
snmptrapd receiver, sealed off from the host.

Each board lives in its own mount, IPC, network and PID namespaces, held by a
small "holder" process that is PID 1 of the board. Inside, the holder puts
per-board directories over /etc/snmp and /var/lib/snmp, a private /dev, stand-in
files over system files (/etc/issue ...), a /sys/class whose hwmon class holds
the board's hardware-monitor chip (vlmhwmon, read by the agent through
libsensors), a /usr/local/sbin holding the repository's vlm_smartctl (run
over a stand-in smartctl that serves captured outputs of the board's
disks), a NetworkManager connection directory over
/etc/NetworkManager/system-connections (made inside the board when the host
has none), and brings the loopback up. Host-side
the board is one temporary directory, so tests read and rewrite the agent's
files directly. When the holder ends, the kernel kills every process of the
board and drops its mounts; the holder ends when the board is closed, when its
creator dies (its stdin reaches EOF) or when its unshare parent is killed.

Used by the integration tests (import), `make demo` (`simboard.py demo`) and
the benchmark. A demo board has a name (board1, board2 ..., or `demo --name
NAME`) through which other processes reach it (see BoardState):
`simboard.py exec CMD...` runs a command inside it, `plug DEVICE` / `unplug
DEVICE` attaches a USB device to it or takes one away (the board's lsusb and
a kernel uevent), `traps` prints the notifications its manager received by
name; each takes `--board NAME`, by default the only board running.
"""

import atexit
import ctypes
import fcntl
import json
import os
import re
import select
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ET
from pathlib import Path
from typing import Dict, List, NamedTuple, Optional, Sequence, Tuple, Union

sys.path.insert(0, str(Path(__file__).resolve().parent))
import snmpclient  # noqa: E402

REPO = Path(__file__).resolve().parent.parent
ENTERPRISE = "1.3.6.1.4.1.42424"
SYSINFO = ENTERPRISE + ".100.1"
SNMPD_SYSDESCR = "1.3.6.1.2.1.1.1.0"
SNMPD_UPTIME = "1.3.6.1.2.1.1.3.0"
SNMP_TRAP_OID = "1.3.6.1.6.3.1.1.4.1.0"
# The agent's own health: one row per group it runs, in this order.
GROUP_ENTRY = ENTERPRISE + ".100.3.1.1"
GROUP_NAMES = ("system", "trapServers", "sensors", "cpu", "memory", "storage", "nvram", "power", "hotplug",
               "disks", "watchdog", "wlan", "mobile")
GROUP_STATUS = {1: "ok", 2: "failing", 3: "absent"}
GROUP_NOTIFICATION = 106

AGENT_APP_NAME = "vlm-SNMP-subagent-demon"
CONFIG_NAME = "vlmSNMPsubagent.xml"
FACTORY_CONFIG = REPO / "config" / CONFIG_NAME

DEFAULT_ISSUE = "Debian GNU/Linux 9 \\n \\l\n\n"
DEFAULT_LSB_RELEASE = "Release:\t9.4\n"
DEFAULT_PRODUCT_NAME = "VLM-7000"
# The power-supply inputs as the status driver reports them: one character
# per input, '1' good, '0' not good; any other character makes that read fail.
DEFAULT_PSU_INPUTS = "11"
# /proc/meminfo figures in kB: 35 % in use. SwapCached differs from Cached, so
# that taking one for the other shows in the usage.
# The aggregate line of /proc/stat (user, nice, system, idle ticks); the load
# is the busy share of the change between two readings, so a file left alone
# reads as 0 % load.
DEFAULT_PROC_STAT = (4705, 150, 1120, 16250)
# The board's processors in /sys/devices/system/cpu: clocks in kHz as cpufreq
# shows them (current, minimum, maximum). Served as means: 1500 and 2400 MHz.
DEFAULT_CPUFREQ = ((1200000, 800000, 2400000), (1800000, 800000, 2400000))
# What the watchdog driver's /proc/vlmwdtinfo holds: each value from the
# fourteenth character on.
DEFAULT_WDTINFO = {"name": "VLM SIO WDT", "timeout": "60", "is_enable": "Yes"}
DEFAULT_MEMINFO = {"total": 2048000, "free": 1024000, "buffers": 51200, "cached": 204800,
                   "slab": 51200, "swap_cached": 409600}


class FileSystem(NamedTuple):
    """One line of the board's "df -m": sizes in MB, use as df prints it."""
    device: str
    size: int
    used: int
    available: int
    use: str        # "30%", or "-" when df has no figure
    mount: str


# The board's mounted file systems: two disk partitions below the factory
# thresholds (80/90/95 %), one NVRAM disk, and pseudo file systems that the
# agent leaves out.
DEFAULT_FILESYSTEMS = (
    FileSystem("udev", 1955, 0, 1955, "0%", "/dev"),
    FileSystem("tmpfs", 394, 2, 393, "1%", "/run"),
    FileSystem("/dev/sda1", 29396, 8211, 19666, "30%", "/"),
    FileSystem("tmpfs", 1969, 0, 1969, "0%", "/dev/shm"),
    FileSystem("/dev/sda2", 476, 103, 344, "24%", "/boot"),
    FileSystem("/dev/vlmnvram0", 64, 4, 60, "7%", "/mnt/nvram0"),
)

# The board's hardware-monitor chip as its driver shows it in sysfs: one hwmon
# device named "vlmhwmon" with labelled inputs. Readings are given here in the
# units the agent serves (degrees Celsius, volts, amperes); sysfs holds them
# in thousandths.
HWMON_CHIP = "vlmhwmon"
HWMON_KINDS = ("in", "temp", "curr")   # libsensors lists its features in this order


class Sensor(NamedTuple):
    kind: str                     # "temp", "in" (voltage) or "curr": the sysfs prefix
    label: str
    value: Union[float, str]      # reading in degrees C, V or A; a str goes into sysfs as is
    number: Optional[int] = None  # channel: temp1, in0 ...; None: the next free one


# Labels as the factory configuration names its groups.
DEFAULT_SENSORS = (
    Sensor("temp", "Temp CPU", 45.0),
    Sensor("in", "VIN", 12.0), Sensor("in", "5VSB", 5.0), Sensor("in", "VBAT", 3.0),
    Sensor("in", "VCORE", 1.1), Sensor("in", "12V", 12.0),
    Sensor("curr", "Current", 1.5),
)

# Boards that other processes reach by name (simboard.py exec --board NAME
# ...): one state directory each under this one (see BoardState).
BOARDS_DIR = Path(os.environ.get("VLM_SIMBOARD_RUN", "/run/vlm-simboard"))

# Our MIB module with the IETF modules it imports, for Net-SNMP's tools: only
# these, not Net-SNMP's default list, most of which Debian does not ship.
MIB_MODULE = "VELMORA-VLM-MIB"
MIB_DIRS = "+%s:%s" % (REPO / "mibs", REPO / "mibs" / "ietf")
WITH_MIB = ["-M", MIB_DIRS, "-m", MIB_MODULE]
# The receiver that names what it receives (Board.start_named_trapd).
NAMED_TRAPD_PORT = 1162
NAMED_TRAPD_LOG = "snmptrapd-named.log"
NAMED_TRAP_LINE = "MIBTRAP"

# The seven lines the agent prints (with puts) for a wrong argument count.
USAGE_TEXT = (
    "\n" + "*" * 64 + "\n"
    'Please make sure the parameter is "/dev/tty* /dev/tty* /dev/tty* /dev/tty*".\n'
    "The first node and the third node is base device node.\n"
    "The second node and the  node is an operable mobile broadband device node.\n"
    "Example:\n"
    "/usr/local/sbin/vlm_subagent /dev/ttyACM0 /dev/ttyACM2 /dev/ttyACM7 /dev/ttyACM9\n"
    + "*" * 66 + "\n" + "\n"
)


class BoardError(Exception):
    pass


class _Factory:
    def __repr__(self):
        return "FACTORY"


FACTORY = _Factory()  # "use the repository's factory configuration file"

# ---------------------------------------------------------------------------
# The agent's XML configuration: a <subtype id="GROUP"/> marker followed by
# the group's <detail name="KEY">VALUE</detail> elements.


def config_detail(text: Union[str, bytes], group: str, key: str) -> str:
    """Value of `key` in `group`; KeyError when the file has no such detail."""
    root = ET.fromstring(text)
    current = None
    for el in root.iter():
        if el.tag == "subtype":
            current = el.get("id")
        elif el.tag == "detail" and current == group and el.get("name") == key:
            return el.text or ""
    raise KeyError("%s/%s" % (group, key))


def config_with(text: Union[str, bytes], changes: Dict[Tuple[str, str], str]) -> str:
    """`text` with the given (group, key) details set to new values."""
    root = ET.fromstring(text)
    todo = dict(changes)
    current = None
    for el in root.iter():
        if el.tag == "subtype":
            current = el.get("id")
        elif el.tag == "detail" and (current, el.get("name")) in todo:
            el.text = todo.pop((current, el.get("name")))
    if todo:
        raise KeyError("no such details: %r" % sorted(todo))
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + ET.tostring(root, encoding="unicode") + "\n"


def meminfo_text(total: int, free: int, buffers: int = 0, cached: int = 0, slab: int = 0,
                 swap_cached: int = 0) -> str:
    """/proc/meminfo in the kernel's layout (figures in kB, fixed width)."""
    lines = [("MemTotal", total), ("MemFree", free), ("MemAvailable", free + cached),
             ("Buffers", buffers), ("Cached", cached), ("SwapCached", swap_cached),
             ("Active", total // 4), ("Inactive", total // 8), ("SwapTotal", 0), ("SwapFree", 0),
             ("Shmem", 1024), ("Slab", slab), ("SReclaimable", slab // 2), ("SUnreclaim", slab - slab // 2)]
    return "".join("%-16s%8d kB\n" % (name + ":", value) for name, value in lines) + \
        "HugePages_Total:       0\n"


def proc_stat_text(user: int, nice: int, system: int, idle: int, iowait: int = 0) -> str:
    """/proc/stat with the given aggregate counters (ticks) and two
    processors' lines that share them out."""
    counters = (user, nice, system, idle, iowait, 0, 0, 0, 0, 0)
    lines = ["cpu  " + " ".join(str(c) for c in counters)]
    for n in range(2):
        lines.append("cpu%d " % n + " ".join(str(c // 2 + (c % 2 if n == 0 else 0)) for c in counters))
    lines += ["intr 123456 0 0", "ctxt 987654", "btime 1700000000", "processes 4321",
              "procs_running 1", "procs_blocked 0"]
    return "\n".join(lines) + "\n"


def wdtinfo_text(fields: Dict[str, str]) -> str:
    """/proc/vlmwdtinfo: one "key value" line per field, the value from the
    fourteenth character on."""
    return "".join("%-13s%s\n" % kv for kv in fields.items())


def df_text(filesystems: Sequence[FileSystem]) -> str:
    """What GNU df -m prints for these file systems."""
    lines = ["%-15s %9s %5s %9s %4s %s" % ("Filesystem", "1M-blocks", "Used", "Available", "Use%", "Mounted on")]
    for fs in filesystems:
        lines.append("%-15s %9d %5d %9d %4s %s" % fs)
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------
# Hard disks: what smartctl and fdisk print for them.
#
# Each file NAME.txt of tests/fixtures/smartctl is what smartctl 7.3 prints
# for "smartctl -a" of one device, NAME.status its exit status when not 0.
# The board's disks are device nodes with such a capture each; smartctl
# --scan lists them, fdisk -l shows them with their partitions.

SMARTCTL_FIXTURES = REPO / "tests" / "fixtures" / "smartctl"
VLM_SMARTCTL = REPO / "packaging" / "vlm_smartctl"
DEFAULT_DISKS = (("/dev/sda", "ata_wd"), ("/dev/sdb", "ata_nofamily"))
DEFAULT_PARTITIONS = {"/dev/sda": 3, "/dev/sdb": 1}
SMARTCTL_MODES = ("ok", "silent", "hang", "fail")
SMARTCTL_BANNER = ("smartctl 7.3 2022-02-28 r5338 [x86_64-linux-6.1.0-18-amd64] (local build)\n"
                   "Copyright (C) 2002-22, Bruce Allen, Christian Franke, www.smartmontools.org\n\n")
# What fdisk shows for a device whose capture has no capacity (a USB bridge
# that refuses SMART: the enclosure's disk).
UNKNOWN_DISK_BYTES = 2000398934016
UNKNOWN_DISK_MODEL = "USB3.0 SATA Bridge"


def smartctl_fixture(name: str) -> Tuple[str, int]:
    """(smartctl -a output, exit status) of capture `name`."""
    path = SMARTCTL_FIXTURES / (name + ".txt")
    if not path.exists():
        raise BoardError("no smartctl capture %r (have: %s)" % (name, ", ".join(smartctl_fixture_names())))
    status = SMARTCTL_FIXTURES / (name + ".status")
    return path.read_text(), int(status.read_text()) if status.exists() else 0


def smartctl_fixture_names() -> List[str]:
    return sorted(p.stem for p in SMARTCTL_FIXTURES.glob("*.txt") if p.stem != "scan")


def _smart_field(text: str, *keys: str) -> Optional[str]:
    """The value of the first of `keys` that a line of `text` starts with."""
    for key in keys:
        for line in text.splitlines():
            if line.startswith(key):
                return line[len(key):].strip()
    return None


def smart_disk_bytes(text: str) -> Optional[int]:
    """The capacity in bytes that a smartctl -a output gives, if any."""
    value = _smart_field(text, "User Capacity:", "Total NVM Capacity:", "Namespace 1 Size/Capacity:")
    try:
        return int(value.split()[0].replace(",", ""))
    except (AttributeError, IndexError, ValueError):
        return None


def smart_disk_model(text: str) -> Optional[str]:
    return _smart_field(text, "Device Model:", "Model Number:")


def smart_disk_title(text: str) -> str:
    """"MODEL SIZE" of a capture, for listings ("WDC WD5000AZLX-00K2TA0 500 GB")."""
    model = smart_disk_model(text) or "no identity"
    value = _smart_field(text, "User Capacity:", "Total NVM Capacity:", "Namespace 1 Size/Capacity:")
    if value and "[" in value:
        return "%s %s" % (model, value[value.index("[") + 1:value.rindex("]")])
    return model


def smartctl_scan_line(node: str, text: str) -> str:
    """The line smartctl --scan prints for the device whose -a output is
    `text`: its node, the device type smartctl would use, a comment."""
    if "Model Number:" in text:
        return "%s -d nvme # %s, NVMe device" % (node, node)
    if "Unknown USB bridge" in text:
        return "%s -d scsi # %s, SCSI device" % (node, node)
    return "%s -d sat # %s [SAT], ATA device" % (node, node)


def plain_device_node(node: str) -> bool:
    return bool(node) and all(c.isascii() and (c.isalnum() or c in "/-_") for c in node)


def _human_size(size: int, suffix: str = "", digits: int = 1) -> str:
    """A size as util-linux shows it: binary units, a fraction only when
    there is one ("29.3G", "488M"; with suffix "iB" and two digits:
    "465.76 GiB")."""
    units = "BKMGTPE"
    exp = 0
    while exp + 1 < len(units) and size >= 1024 ** (exp + 1):
        exp += 1
    number = ("%%.%df" % digits) % (size / 1024 ** exp)
    if "." in number:
        number = number.rstrip("0").rstrip(".")
    unit = units[exp]
    if suffix:
        return "%s %s" % (number, unit + suffix if exp else "B")
    return number + (unit if exp else "B")


def _fdisk_table(header: Sequence[str], rows: Sequence[Sequence[str]], left: Sequence[int]) -> List[str]:
    """Columns as fdisk lays them out: each as wide as its widest cell, one
    blank between; columns in `left` aligned left, the others right."""
    widths = [max(len(r[i]) for r in [header] + list(rows)) for i in range(len(header))]
    lines = []
    for r in [header] + list(rows):
        cells = [(c.ljust(w) if i in left else c.rjust(w)) for i, (c, w) in enumerate(zip(r, widths))]
        lines.append(" ".join(cells).rstrip())
    return lines


def fdisk_disk_text(node: str, size: int, model: str, partitions: int) -> str:
    """What fdisk -l (util-linux 2.38) prints for one disk: the disk's
    lines, then its partition table; a dos label for up to four
    partitions, a GPT label for more."""
    name = node + "n1" if node.startswith("/dev/nvme") and node[-1].isdigit() and "n" not in node[9:] else node
    sectors = size // 512
    lines = ["Disk %s: %s, %d bytes, %d sectors" % (name, _human_size(size, "iB", 2), size, sectors),
             "Disk model: %s" % (model if "nvme" in name else model[:16]),
             "Units: sectors of 1 * 512 = 512 bytes",
             "Sector size (logical/physical): 512 bytes / 4096 bytes",
             "I/O size (minimum/optimal): 4096 bytes / 4096 bytes"]
    if partitions <= 0:
        return "\n".join(lines) + "\n"
    gpt = partitions > 4
    seed = sum(ord(c) for c in name)
    if gpt:
        lines += ["Disklabel type: gpt", "Disk identifier: %08X-3C1F-4B7A-9E2D-%012X" % (seed * 7919, seed * 104729)]
    else:
        lines += ["Disklabel type: dos", "Disk identifier: 0x%08x" % (seed * 2654435761 % 2 ** 32)]
    first, last = 2048, sectors - (34 if gpt else 1)
    each = max(2048, (last - first + 1) // partitions // 2048 * 2048)
    rows = []
    for n in range(1, partitions + 1):
        start = first + (n - 1) * each
        end = last if n == partitions else start + each - 1
        part = "%s%s%d" % (name, "p" if name[-1].isdigit() else "", n)
        size_text = _human_size((end - start + 1) * 512)
        if gpt:
            rows.append([part, str(start), str(end), str(end - start + 1), size_text, "Linux filesystem"])
        else:
            rows.append([part, "*" if n == 1 else "", str(start), str(end), str(end - start + 1), size_text,
                         "83", "Linux"])
    if gpt:
        table = _fdisk_table(["Device", "Start", "End", "Sectors", "Size", "Type"], rows, (0, 5))
    else:
        table = _fdisk_table(["Device", "Boot", "Start", "End", "Sectors", "Size", "Id", "Type"], rows, (0, 1, 7))
    return "\n".join(lines + [""] + table) + "\n"


def fdisk_text(disks: Sequence[Tuple[str, int, str, int]]) -> str:
    """fdisk -l for (node, size in bytes, model, partition count) of each
    disk, a blank line between disks."""
    return "\n\n".join(fdisk_disk_text(*d) for d in disks)


# ---------------------------------------------------------------------------
# USB devices: what "lsusb -v" prints for them, and the kernel's uevents when
# one comes or goes.
#
# Each file of tests/fixtures/lsusb holds one device block as usbutils 014
# prints it for root (from the "Bus ..." line to the device status), without
# blank lines. "lsusb -v" puts a blank line before every block, so its
# output starts with a blank line and ends with the last block's last line.

LSUSB_FIXTURES = REPO / "tests" / "fixtures" / "lsusb"
DEFAULT_USB_DEVICES = ("root_hub_2", "root_hub_3")   # a board with nothing plugged in
# What lsusb prints when a device does not answer yet (a freshly plugged one).
LSUSB_ERROR_LINE = "cannot read device status, Protocol error (71)"

NETLINK_KOBJECT_UEVENT = 15
UEVENT_GROUP = 1          # the kernel's own broadcasts (udev re-sends on group 2)
FIRST_UEVENT_SEQNUM = 3120


def usb_fixture(name: str) -> str:
    """The lsusb -v block of fixture `name` (tests/fixtures/lsusb/NAME.txt)."""
    path = LSUSB_FIXTURES / (name + ".txt")
    if not path.exists():
        raise BoardError("no USB fixture %r (have: %s)" % (name, ", ".join(usb_fixture_names())))
    return path.read_text()


def usb_fixture_names() -> List[str]:
    return sorted(p.stem for p in LSUSB_FIXTURES.glob("*.txt"))


def lsusb_text(blocks: Sequence[str]) -> str:
    """What lsusb -v prints for these device blocks: a blank line before
    each block, none after the last."""
    return "".join("\n" + (b if b.endswith("\n") else b + "\n") for b in blocks)


def lsusb_text_with_error(text: str) -> str:
    """`text` with lsusb's complaint about a device that does not answer yet
    after the first device block (at the end when there is only one)."""
    end = text.find("\n\n", 1)
    if end < 0:
        return text + LSUSB_ERROR_LINE + "\n"
    return text[:end + 1] + LSUSB_ERROR_LINE + "\n" + text[end + 1:]


def usb_kind(block: str) -> Optional[str]:
    """The hot-plug kind of a device block, as the agent's inventory
    decides it: "storage" (Mass Storage wins), "mouse" (a composite
    keyboard and mouse counts as a mouse), "keyboard", or None."""
    for keyword, kind in (("Mass Storage", "storage"), ("Mouse", "mouse"), ("Keyboard", "keyboard")):
        if keyword in block:
            return kind
    return None


def _usb_ids(block: str) -> Tuple[str, str]:
    """(vendor, product) of a block, 4 upper-case hex digits each."""
    vendor = product = "0000"
    for line in block.splitlines():
        if line.startswith("  idVendor "):
            vendor = line.split()[1][2:].upper()
        elif line.startswith("  idProduct "):
            product = line.split()[1][2:].upper()
    return vendor, product


def usb_uevents(kind: Optional[str], action: str, slot: int, block: str,
                full: bool = False) -> List[Tuple[str, str, Dict[str, str]]]:
    """The uevents (action, devpath, extra properties) the kernel sends when
    the device of `block` is plugged (action "add") or unplugged ("remove")
    on port 1-N of the first xHCI bus, N from `slot`. Only the one the
    agent watches for its kind, unless `full`: then the whole burst, in the
    kernel's order, with the watched one among them.

    storage: .../scsi_disk/H:0:0:0; keyboard: the Caps Lock LED
    .../inputN::capslock; mouse: .../inputN/mouseM; no kind: the USB device."""
    port = "1-%d" % (slot % 14 + 1)
    usb = "/devices/pci0000:00/0000:00:14.0/usb1/" + port
    intf = "%s/%s:1.0" % (usb, port)
    vendor, product = _usb_ids(block)
    dev = {"DEVTYPE": "usb_device", "PRODUCT": "%x/%x/0" % (int(vendor, 16), int(product, 16)),
           "BUSNUM": "001", "DEVNUM": "%03d" % (slot + 3)}
    events: List[Tuple[str, str, Dict[str, str]]] = [(action, usb, dict(dev, SUBSYSTEM="usb")),
                                                     (action, intf, {"SUBSYSTEM": "usb", "DEVTYPE": "usb_interface"})]
    watched = []
    if kind == "storage":
        host = slot + 2
        scsi = "%s/host%d/target%d:0:0/%d:0:0:0" % (intf, host, host, host)
        disk = "sd" + chr(ord("b") + slot % 24)
        events += [(action, "%s/host%d" % (intf, host), {"SUBSYSTEM": "scsi", "DEVTYPE": "scsi_host"}),
                   (action, "%s/host%d/scsi_host/host%d" % (intf, host, host), {"SUBSYSTEM": "scsi_host"}),
                   (action, "%s/host%d/target%d:0:0" % (intf, host, host),
                    {"SUBSYSTEM": "scsi", "DEVTYPE": "scsi_target"}),
                   (action, scsi, {"SUBSYSTEM": "scsi", "DEVTYPE": "scsi_device"})]
        watched = [(action, "%s/scsi_disk/%d:0:0:0" % (scsi, host), {"SUBSYSTEM": "scsi_disk"})]
        events += watched
        events += [(action, "%s/scsi_device/%d:0:0:0" % (scsi, host), {"SUBSYSTEM": "scsi_device"}),
                   (action, "%s/scsi_generic/sg%d" % (scsi, host), {"SUBSYSTEM": "scsi_generic"}),
                   (action, "%s/bsg/%d:0:0:0" % (scsi, host), {"SUBSYSTEM": "bsg"}),
                   (action, "%s/block/%s" % (scsi, disk), {"SUBSYSTEM": "block", "DEVTYPE": "disk"}),
                   (action, "%s/block/%s/%s1" % (scsi, disk, disk),
                    {"SUBSYSTEM": "block", "DEVTYPE": "partition"})]
    elif kind in ("keyboard", "mouse"):
        hid = "%s/0003:%s:%s.%04X" % (intf, vendor, product, slot + 1)
        n = slot + 5
        inp = "%s/input/input%d" % (hid, n)
        events += [(action, hid, {"SUBSYSTEM": "hid"}), (action, inp, {"SUBSYSTEM": "input"})]
        if kind == "keyboard":
            leds = [(action, "%s/input%d::%s" % (inp, n, led), {"SUBSYSTEM": "leds"})
                    for led in ("numlock", "capslock", "scrolllock", "compose", "kana")]
            watched = [leds[1]]
            events += leds
        else:
            watched = [(action, "%s/mouse%d" % (inp, slot),
                        {"SUBSYSTEM": "input", "MAJOR": "13", "MINOR": "%d" % (32 + slot),
                         "DEVNAME": "input/mouse%d" % slot})]
            events += watched
        events += [(action, "%s/event%d" % (inp, n),
                    {"SUBSYSTEM": "input", "MAJOR": "13", "MINOR": "%d" % (64 + n), "DEVNAME": "input/event%d" % n}),
                   (action, "%s/hidraw/hidraw%d" % (hid, slot), {"SUBSYSTEM": "hidraw"})]
    else:
        watched = events[:1]
    if action == "remove":
        events.reverse()   # children go first
    else:
        events += [("bind", intf, {"SUBSYSTEM": "usb", "DEVTYPE": "usb_interface"}),
                   ("bind", usb, dict(dev, SUBSYSTEM="usb"))]
    return events if full else watched


def uevent_message(action: str, devpath: str, props: Optional[Dict[str, str]] = None,
                   seqnum: int = 1) -> bytes:
    """A uevent in the kernel's format: "ACTION@DEVPATH", then ACTION,
    DEVPATH, SUBSYSTEM, the other properties and SEQNUM as KEY=VALUE, each
    string ended by a NUL."""
    fields = {"ACTION": action, "DEVPATH": devpath, "SUBSYSTEM": _uevent_subsystem(devpath)}
    fields.update(props or {})
    fields.pop("SEQNUM", None)
    fields["SEQNUM"] = str(seqnum)
    return ("%s@%s\0" % (action, devpath)).encode() + \
        b"".join(("%s=%s\0" % kv).encode() for kv in fields.items())


def _uevent_subsystem(devpath: str) -> str:
    """SUBSYSTEM for a devpath given without one: a guess from its shape."""
    for part, subsystem in (("/scsi_disk/", "scsi_disk"), ("::", "leds"), ("/input/", "input"),
                            ("/net/", "net"), ("/block/", "block")):
        if part in devpath:
            return subsystem
    return "usb"


def _sysfs_reading(value: Union[float, str]) -> str:
    """A reading as a hwmon input file holds it: thousandths, one line."""
    if isinstance(value, str):
        return value
    return "%d\n" % round(value * 1000)


def _replace_file(path: Path, content: Union[str, bytes], mode: int):
    """Replaces `path` in one step: the new content is written aside (a name
    starting with a dot, which libsensors does not take for an attribute),
    given `mode`, then renamed over it."""
    data = content.encode() if isinstance(content, str) else content
    tmp = path.with_name(".%s.new" % path.name)
    with open(tmp, "wb") as f:
        f.write(data)
    os.chmod(tmp, mode)
    os.replace(tmp, path)


# ---------------------------------------------------------------------------
# libsensors read through ctypes, as `simboard.py _libsensors` runs it inside
# a board: the stand-in is checked against the real library.

_SENSORS_FEATURE_IN, _SENSORS_FEATURE_TEMP, _SENSORS_FEATURE_CURR = 0, 2, 5


def _libsensors_report() -> List[dict]:
    lib = ctypes.CDLL("libsensors.so.5")

    class BusId(ctypes.Structure):
        _fields_ = [("type", ctypes.c_short), ("nr", ctypes.c_short)]

    class ChipName(ctypes.Structure):
        _fields_ = [("prefix", ctypes.c_char_p), ("bus", BusId), ("addr", ctypes.c_int),
                    ("path", ctypes.c_char_p)]

    class Feature(ctypes.Structure):
        _fields_ = [("name", ctypes.c_char_p), ("number", ctypes.c_int), ("type", ctypes.c_int),
                    ("first_subfeature", ctypes.c_int), ("padding1", ctypes.c_int)]

    class Subfeature(ctypes.Structure):
        _fields_ = [("name", ctypes.c_char_p), ("number", ctypes.c_int), ("type", ctypes.c_int),
                    ("mapping", ctypes.c_int), ("flags", ctypes.c_uint)]

    chip_p, feature_p = ctypes.POINTER(ChipName), ctypes.POINTER(Feature)
    lib.sensors_init.argtypes = [ctypes.c_void_p]
    lib.sensors_get_detected_chips.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int)]
    lib.sensors_get_detected_chips.restype = chip_p
    lib.sensors_get_features.argtypes = [chip_p, ctypes.POINTER(ctypes.c_int)]
    lib.sensors_get_features.restype = feature_p
    lib.sensors_get_label.argtypes = [chip_p, feature_p]
    lib.sensors_get_label.restype = ctypes.c_void_p
    lib.sensors_get_subfeature.argtypes = [chip_p, feature_p, ctypes.c_int]
    lib.sensors_get_subfeature.restype = ctypes.POINTER(Subfeature)
    lib.sensors_get_value.argtypes = [chip_p, ctypes.c_int, ctypes.POINTER(ctypes.c_double)]
    lib.sensors_strerror.restype = ctypes.c_char_p
    libc = ctypes.CDLL(None)
    libc.free.argtypes = [ctypes.c_void_p]

    err = lib.sensors_init(None)
    if err:
        raise BoardError("sensors_init: %s" % lib.sensors_strerror(err).decode())
    chips = []
    try:
        nr = ctypes.c_int(0)
        while True:
            chip = lib.sensors_get_detected_chips(None, ctypes.byref(nr))
            if not chip:
                break
            features = []
            fnr = ctypes.c_int(0)
            while True:
                feature = lib.sensors_get_features(chip, ctypes.byref(fnr))
                if not feature:
                    break
                ftype = feature.contents.type
                raw = lib.sensors_get_label(chip, feature)
                label = None
                if raw:
                    label = ctypes.string_at(raw).decode(errors="replace")
                    libc.free(raw)
                value = error = None
                if ftype in (_SENSORS_FEATURE_IN, _SENSORS_FEATURE_TEMP, _SENSORS_FEATURE_CURR):
                    sub = lib.sensors_get_subfeature(chip, feature, ftype << 8)  # the input
                    if sub:
                        out = ctypes.c_double()
                        rc = lib.sensors_get_value(chip, sub.contents.number, ctypes.byref(out))
                        if rc == 0:
                            value = out.value
                        else:
                            error = -rc
                features.append({"name": feature.contents.name.decode(), "type": ftype,
                                 "label": label, "value": value, "error": error})
            chips.append({"prefix": chip.contents.prefix.decode(),
                          "path": (chip.contents.path or b"").decode(), "features": features})
    finally:
        lib.sensors_cleanup()
    return chips

def factory_config() -> str:
    if not FACTORY_CONFIG.exists():
        raise BoardError("factory configuration %s is missing" % FACTORY_CONFIG)
    return FACTORY_CONFIG.read_text()


# ---------------------------------------------------------------------------
# Net-SNMP tool output (-On -Ox) into (type, value) pairs.

_EXCEPTIONS = {
    "No Such Object available on this agent at this OID": "noSuchObject",
    "No Such Instance currently exists at this OID": "noSuchInstance",
    "No more variables left in this MIB View (It is past the end of the MIB tree)": "endOfMibView",
}


def parse_value(text: str) -> Tuple[str, object]:
    text = text.strip()
    if text in _EXCEPTIONS:
        return _EXCEPTIONS[text], None
    if text == '""':
        return "OCTET STRING", b""
    kind, _, rest = text.partition(": ")
    if kind == "Hex-STRING":
        return "OCTET STRING", bytes.fromhex(rest)
    if kind == "STRING":
        if rest.startswith('"') and rest.endswith('"'):
            rest = rest[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        return "OCTET STRING", rest.encode()
    if kind == "INTEGER":
        return "INTEGER", int(rest.split("(")[-1].rstrip(")")) if "(" in rest else int(rest)
    if kind == "Timeticks":
        return "TimeTicks", int(rest[1:rest.index(")")])
    if kind in ("Counter32", "Gauge32", "Counter64"):
        return kind, int(rest)
    if kind == "OID":
        return "OID", rest.lstrip(".")
    if kind == "IpAddress":
        return "IpAddress", rest
    if text == "NULL":
        return "NULL", None
    return "unknown", text


def parse_varbind(line: str) -> snmpclient.VarBind:
    oid, _, value = line.partition(" = ")
    kind, val = parse_value(value)
    return snmpclient.VarBind(oid.strip().lstrip("."), kind, val)


class SnmpError(Exception):
    """A Net-SNMP tool reported an error: `reason` is the error-status name
    (wrongLength, notWritable ...), "timeout", or "failed" when unparsed."""

    def __init__(self, reason: str, failed_oid: Optional[str], output: str):
        super().__init__("%s (%s): %s" % (reason, failed_oid, output.strip()))
        self.reason = reason
        self.failed_oid = failed_oid
        self.output = output


def _tool_error(proc: subprocess.CompletedProcess) -> Optional[SnmpError]:
    out = proc.stdout + proc.stderr
    if "Timeout: No Response" in out:
        return SnmpError("timeout", None, out)
    reason = failed = None
    for line in out.splitlines():
        if line.startswith("Reason: "):
            reason = line[len("Reason: "):].split(" ")[0]
        elif line.startswith("Failed object: "):
            failed = line[len("Failed object: "):].strip().lstrip(".")
    if reason or proc.returncode != 0:
        return SnmpError(reason or "failed", failed, out)
    return None


# ---------------------------------------------------------------------------
# Notifications as snmptrapd logs them with the board's format lines.


class Trap(NamedTuple):
    version: str          # "v1" or "v2"
    generic: int          # v1 generic trap type (6: defined by the enterprise)
    number: int           # v1 trap number within the enterprise
    enterprise: str       # v1 enterprise; for v2 the snmpTrapOID value
    varbinds: List[snmpclient.VarBind]
    community: str        # the community the sender used

    def value(self, oid: str):
        for vb in self.varbinds:
            if vb.oid == oid.lstrip("."):
                return vb.value
        raise KeyError(oid)


def parse_trap_line(line: str) -> Optional[Trap]:
    fields = line.rstrip("\n").split("\t")
    if len(fields) < 6 or fields[0] != "VLMTRAP":
        return None
    version = fields[1]
    varbinds = [parse_varbind(f) for f in fields[6:] if " = " in f]
    enterprise = fields[4].lstrip(".")
    if version == "v2":
        for vb in varbinds:
            if vb.oid == SNMP_TRAP_OID:
                enterprise = str(vb.value)
    return Trap(version, int(fields[2] or 0), int(fields[3].lstrip(".") or 0), enterprise, varbinds, fields[5])


class NamedTrap(NamedTuple):
    """A notification as the receiver with our module loaded logs it."""
    name: str                          # the notification's name ("hardwareDetectEvent")
    time: float                        # its arrival, seconds since the epoch
    varbinds: List[Tuple[str, str]]    # (name, value text) of the objects after snmpTrapOID.0
    line: str


def parse_named_trap_line(line: str) -> Optional[NamedTrap]:
    """One line of the named receiver's log: NAMED_TRAP_LINE, the arrival
    time, then "NAME = VALUE" per varbind, tab-separated. None for any
    other line, and for a notification that is not one of our module's."""
    fields = line.rstrip("\n").split("\t")
    if len(fields) < 3 or fields[0] != NAMED_TRAP_LINE:
        return None
    try:
        arrival = float(fields[1])
    except ValueError:
        return None
    varbinds = [tuple(f.split(" = ", 1)) for f in fields[2:] if " = " in f]
    for i, (_, value) in enumerate(varbinds):
        m = re.match(r"OID: %s::(\w+)$" % MIB_MODULE, value)
        if m:
            return NamedTrap(m.group(1), arrival, varbinds[i + 1:], line.rstrip("\n"))
    return None


def named_notifications(log: Path) -> List[NamedTrap]:
    """Our notifications in a named receiver's log, oldest first."""
    return [t for t in map(parse_named_trap_line, log.read_text(errors="replace").splitlines()) if t]


def format_named_trap(trap: NamedTrap) -> str:
    """A notification as the demo prints it: time and name, then an object
    a line, by name, without our module's prefix and the value's type."""
    lines = ["%s  %s" % (time.strftime("%H:%M:%S", time.localtime(trap.time)), trap.name)]
    for name, value in trap.varbinds:
        if name.startswith(MIB_MODULE + "::"):
            name = name[len(MIB_MODULE) + 2:]
        lines.append("          %s = %s" % (name, re.sub(r"^[\w-]+: ", "", value)))
    return "\n".join(lines)


class NamedTrapPrinter:
    """Prints the notifications a named receiver's log gains, as they come."""

    def __init__(self, log: Path, out=None):
        self.log = log
        self.out = out
        self._offset = 0
        self._partial = b""

    def poll(self) -> int:
        """Prints what arrived since the last call; returns how many."""
        try:
            with open(self.log, "rb") as f:
                f.seek(self._offset)
                data = f.read()
        except FileNotFoundError:
            return 0
        self._offset += len(data)
        lines = (self._partial + data).split(b"\n")
        self._partial = lines.pop()
        count = 0
        for line in lines:
            trap = parse_named_trap_line(line.decode(errors="replace"))
            if trap is not None:
                print(format_named_trap(trap), file=self.out or sys.stdout, flush=True)
                count += 1
        return count


# ---------------------------------------------------------------------------
# Wireless: NetworkManager's nmcli, the modem tool modem-cmd and the
# NetworkManager connection files.
#
# Each file of tests/fixtures/nmcli is what nmcli 1.42 (LANG=C) printed for
# one of the three command lines the agent runs: wifi_*.txt for the Wi-Fi
# listing, status_*.txt for the device status listing, show_*.txt for the
# device blocks.

NMCLI_FIXTURES = REPO / "tests" / "fixtures" / "nmcli"
NMCLI_COMMANDS = {
    "wifi": "-f DEVICE,ACTIVE,SSID,BSSID,MODE,SIGNAL,SECURITY dev wifi list",
    "status": "-f DEVICE,TYPE,STATE,CON-UUID,CONNECTION dev status",
    "show": "dev show",
}
# A board with a Wi-Fi interface that is not connected and no modem.
DEFAULT_NMCLI = {"wifi": "wifi_none", "status": "status_none", "show": "show_none"}
NM_CONNECTIONS = "/etc/NetworkManager/system-connections"


def nmcli_fixture(name: str) -> str:
    """The nmcli output of fixture `name` (tests/fixtures/nmcli/NAME.txt)."""
    path = NMCLI_FIXTURES / (name + ".txt")
    if not path.exists():
        raise BoardError("no nmcli fixture %r (have: %s)" % (
            name, ", ".join(sorted(p.stem for p in NMCLI_FIXTURES.glob("*.txt")))))
    return path.read_text()


def modem_answer_key(device: str, command: str) -> str:
    """The file name the board's modem-cmd looks up for one device and AT
    command: every byte but letters, digits and '_' as '_' (what tr -c does)."""
    raw = (device + "__" + command).encode()
    return "".join(chr(b) if (chr(b).isascii() and (chr(b).isalnum() or chr(b) == "_")) else "_" for b in raw)


def nm_connection_text(name: str, apn: Optional[str], uuid: str = "5b4b1cbb-6a3e-4f2e-9a51-3b0a6f1d2c44") -> str:
    """A NetworkManager keyfile of a GSM connection, as nmcli writes one."""
    lines = ["[connection]", "id=%s" % name, "uuid=%s" % uuid, "type=gsm", "autoconnect=true", "",
             "[gsm]"]
    if apn is not None:
        lines.append("apn=%s" % apn)
    lines += ["number=*99#", "", "[ipv4]", "method=auto", "", "[ipv6]", "addr-gen-mode=default",
              "method=auto", "", "[proxy]"]
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------
# Host plumbing.

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1
_CLONE_NEWNET = 0x40000000
_netns_lock = threading.Lock()


def _die_with_parent():
    """preexec_fn: the child gets SIGKILL when the process that started it
    dies, also when that happened between fork and this call."""
    parent = os.getpid()

    def arm():
        _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
        if os.getppid() != parent:
            os.kill(os.getpid(), signal.SIGKILL)

    return arm


def netns_socket(pid: int, family=socket.AF_INET, kind=socket.SOCK_DGRAM, proto: int = 0) -> socket.socket:
    """A socket that belongs to the network namespace of process `pid`.

    The calling thread enters the namespace just long enough to create the
    socket; a socket stays in the namespace it was created in."""
    with _netns_lock:
        own = os.open("/proc/thread-self/ns/net", os.O_RDONLY | os.O_CLOEXEC)
        try:
            target = os.open("/proc/%d/ns/net" % pid, os.O_RDONLY | os.O_CLOEXEC)
            try:
                if _libc.setns(target, _CLONE_NEWNET) != 0:
                    err = ctypes.get_errno()
                    raise OSError(err, "setns into the board: " + os.strerror(err))
                try:
                    return socket.socket(family, kind, proto)
                finally:
                    if _libc.setns(own, _CLONE_NEWNET) != 0:
                        # This thread would go on talking in the board's network.
                        os.write(2, b"simboard: cannot leave the board's network namespace\n")
                        os._exit(70)
            finally:
                os.close(target)
        finally:
            os.close(own)


def uevent_sockets(pid: int) -> List[Tuple[int, int, int]]:
    """(port id, multicast groups, inode) of every user-space uevent socket
    (NETLINK_KOBJECT_UEVENT) in the network namespace of process `pid`."""
    found = []
    try:
        with open("/proc/%d/net/netlink" % pid) as f:
            next(f)
            for line in f:
                fields = line.split()
                if len(fields) >= 10 and int(fields[1]) == NETLINK_KOBJECT_UEVENT and int(fields[2]) != 0:
                    found.append((int(fields[2]), int(fields[3], 16), int(fields[9])))
    except (OSError, ValueError, StopIteration):
        pass
    return found


def _socket_inodes(pid: int) -> set:
    inodes = set()
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            try:
                target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
            except OSError:
                continue
            if target.startswith("socket:["):
                inodes.add(int(target[8:-1]))
    except OSError:
        pass
    return inodes


def _children(pid: int) -> List[int]:
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(x) for x in f.read().split()]
    except OSError:
        return []


def _mountpoints(pid: int) -> set:
    with open("/proc/%d/mountinfo" % pid) as f:
        return {line.split()[4] for line in f}


BOARD_PREFIX = "vlm-board-"

_runtimes_cache: Dict[str, List[str]] = {}


def _sanitizer_runtimes(binary: Path) -> List[str]:
    """AddressSanitizer insists on its runtime coming first among the loaded
    libraries; for a sanitized agent it is preloaded ahead of the shim."""
    key = str(binary)
    if key not in _runtimes_cache:
        found = []
        try:
            out = subprocess.run(["ldd", key], capture_output=True, text=True, timeout=10).stdout
            for line in out.splitlines():
                name, _, rest = line.strip().partition(" => ")
                if name.startswith("libasan.so") and rest.startswith("/"):
                    found.append(rest.split()[0])
        except (OSError, subprocess.TimeoutExpired):
            pass
        _runtimes_cache[key] = found
    return _runtimes_cache[key]


def _holder_alive(pid: int, root: Union[str, Path]) -> bool:
    """True while process `pid` is the holder of the board in `root` (its
    command line names the sandbox): a pid that was reused or a zombie is not."""
    try:
        with open("/proc/%d/cmdline" % int(pid), "rb") as f:
            return str(root).encode() in f.read()
    except (OSError, ValueError):
        return False


def _sweep_stale_boards():
    """Removes the sandbox directories of boards whose creator was killed
    before it could clean up: their holder is gone. Boards kept on purpose
    (VLM_KEEP_BOARD) stay."""
    for root in Path(tempfile.gettempdir()).glob(BOARD_PREFIX + "*"):
        try:
            info = json.loads((root / "board.json").read_text())
            if (root / "keep").exists() or _holder_alive(info["holder_pid"], root):
                continue
        except (OSError, ValueError, KeyError, TypeError):
            continue  # still being set up, or not ours
        shutil.rmtree(root, ignore_errors=True)


# ---------------------------------------------------------------------------
# Processes inside the board.


class BoardProcess:
    """A program started inside the board through nsenter. `returncode`
    follows subprocess: the exit status, or -N when killed by signal N."""

    def __init__(self, name: str, popen: subprocess.Popen, out: Path, err: Path):
        self.name = name
        self.popen = popen
        self.out_path = out
        self.err_path = err
        self.pid = None  # host pid of the program (nsenter forks it)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            kids = _children(popen.pid)
            if kids:
                self.pid = kids[0]
                break
            if popen.poll() is not None:
                break
            time.sleep(0.002)

    @property
    def returncode(self) -> Optional[int]:
        return self.popen.poll()

    def running(self) -> bool:
        return self.popen.poll() is None

    def send_signal(self, sig: int):
        if self.pid is not None and self.popen.poll() is None:
            try:
                os.kill(self.pid, sig)
            except ProcessLookupError:
                pass

    def wait(self, timeout: float) -> int:
        return self.popen.wait(timeout)

    def stop(self, sig: int = signal.SIGTERM, timeout: float = 5.0) -> int:
        """Sends `sig`, waits for the end; SIGKILL after `timeout`."""
        if self.popen.poll() is None:
            self.send_signal(sig)
            try:
                self.popen.wait(timeout)
            except subprocess.TimeoutExpired:
                self.send_signal(signal.SIGKILL)
                try:
                    self.popen.wait(2)
                except subprocess.TimeoutExpired:
                    self.popen.kill()
                    self.popen.wait(2)
        return self.popen.returncode

    def stdout(self) -> str:
        return self.out_path.read_text(errors="replace")

    def stderr(self) -> str:
        return self.err_path.read_text(errors="replace")


# ---------------------------------------------------------------------------
# The board.

_live_boards: List["Board"] = []


class Board:
    """One simulated board. Typical use:

        with Board() as b:
            b.start_trapd(); b.start_snmpd(); b.start_agent()
            b.snmpget(SYSINFO + ".1.0")

    Constructor arguments set the initial stand-ins; every one of them can be
    changed later through the methods below (before or while the agent runs).
    `config` is the agent's XML file content: FACTORY (the repository's file),
    a string, or None for no file at all. `sensors` are the inputs of the
    board's vlmhwmon chip; None: the board has no such chip (its hwmon class
    is then empty). `usb_devices` are the fixture names of the USB devices
    attached at start (tests/fixtures/lsusb). `disks` maps the device nodes
    of the hard disks, in smartctl's scan order, to their captures
    (tests/fixtures/smartctl); None: DEFAULT_DISKS."""

    def __init__(self, config=FACTORY, product_name: Optional[str] = DEFAULT_PRODUCT_NAME,
                 psu_inputs: Optional[str] = DEFAULT_PSU_INPUTS,
                 issue: str = DEFAULT_ISSUE, lsb_release: str = DEFAULT_LSB_RELEASE,
                 meminfo: Optional[Dict[str, int]] = None,
                 sensors: Optional[Sequence[Sensor]] = DEFAULT_SENSORS,
                 usb_devices: Sequence[str] = DEFAULT_USB_DEVICES,
                 disks: Optional[Dict[str, str]] = None,
                 agent: Optional[str] = None, shim: Optional[str] = None,
                 keep: bool = False):
        self.agent_path = Path(agent or os.environ.get("VLM_SUBAGENT") or REPO / "build" / "vlm_subagent")
        self.shim_path = Path(shim or os.environ.get("VLM_DEVSHIM") or REPO / "build" / "libvlmdevshim.so")
        self.keep = keep or bool(os.environ.get("VLM_KEEP_BOARD"))
        self._config = factory_config() if config is FACTORY else config
        self._product_name = product_name
        self._psu_inputs = psu_inputs
        self._issue = issue
        self._lsb_release = lsb_release
        self._meminfo = dict(DEFAULT_MEMINFO, **(meminfo or {}))
        self._filesystems: List[FileSystem] = list(DEFAULT_FILESYSTEMS)
        self._proc_stat: Tuple[int, ...] = DEFAULT_PROC_STAT
        self._sensors = None if sensors is None else list(sensors)
        self._removed_temperatures: List[Sensor] = []
        self._usb_devices = list(usb_devices)
        self._disks: List[Tuple[str, str]] = list((disks or dict(DEFAULT_DISKS)).items())
        self._partitions: Dict[str, int] = dict(DEFAULT_PARTITIONS)
        self.root: Optional[Path] = None
        self.holder: Optional[subprocess.Popen] = None
        self.holder_pid: Optional[int] = None
        self.snmpd: Optional[BoardProcess] = None
        self.trapds: Dict[str, BoardProcess] = {}
        self.agent: Optional[BoardProcess] = None
        self._binds: List[List[str]] = []
        self._closed = False
        self._attached = False   # a handle on another process's board (attach())

    # -- layout -------------------------------------------------------------

    @property
    def etc(self) -> Path:
        """Host directory the board sees as /etc/snmp."""
        return self.root / "etc" / "snmp"

    @property
    def config_path(self) -> Path:
        return self.etc / CONFIG_NAME

    @property
    def snmpd_conf(self) -> Path:
        return self.etc / "snmpd.conf"

    @property
    def dev_dir(self) -> Path:
        """Backing files of the shim's devices (VLM_DEV_DIR)."""
        return self.root / "dev"

    @property
    def bin_dir(self) -> Path:
        return self.root / "bin"

    @property
    def log_dir(self) -> Path:
        return self.root / "log"

    @property
    def agentx_socket(self) -> str:
        return str(self.root / "run" / "agentx.sock")

    def _standin_path(self, target: str) -> Path:
        return self.root / "files" / target.strip("/").replace("/", "__")

    # -- life cycle ---------------------------------------------------------

    def start(self) -> "Board":
        """Creates the sandbox; no SNMP process runs yet."""
        if not self.agent_path.exists():
            raise BoardError("agent binary %s is missing (run make)" % self.agent_path)
        _sweep_stale_boards()
        self.root = Path(tempfile.mkdtemp(prefix=BOARD_PREFIX))
        if self.keep:
            (self.root / "keep").touch()
        _live_boards.append(self)
        for d in ("etc/snmp", "var/lib/snmp", "dev", "bin", "cmd", "files", "log", "run", "home", "layer"):
            (self.root / d).mkdir(parents=True)
        self._ensure_shim()
        self._write_snmp_configs()
        if self._config is not None:
            self.write_config(self._config)
        self.set_product_name(self._product_name)
        self.set_psu_inputs(self._psu_inputs)
        self.add_file("/etc/issue", self._issue)
        self.add_command("lsb_release", self._lsb_release)
        self.add_file("/proc/meminfo", meminfo_text(**self._meminfo))
        self._make_df()
        self._make_lsusb()
        self._make_disks()
        self._make_wireless()
        self.add_file("/proc/stat", proc_stat_text(*self._proc_stat))
        self._make_cpu_tree()
        self._make_watchdog()
        class_binds = self._make_sys_class()
        if self._sensors is not None:
            self.add_chip(HWMON_CHIP, self._sensors)

        layout = {
            # Mount points the host lacks, made inside the board only.
            "make_dirs": [NM_CONNECTIONS] if not os.path.isdir(NM_CONNECTIONS) else [],
            "layer": str(self.root / "layer"),
            "binds": [[str(self.etc), "/etc/snmp"],
                      [str(self.root / "var" / "lib" / "snmp"), "/var/lib/snmp"]] +
            class_binds + self._binds,
        }
        holder_err = open(self.log_dir / "holder.err", "wb")
        self.holder = subprocess.Popen(
            ["unshare", "--mount", "--ipc", "--net", "--pid", "--fork", "--kill-child",
             "--mount-proc", "--propagation", "private", "--",
             sys.executable, str(Path(__file__).resolve()), "_holder", json.dumps(layout)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=holder_err,
            preexec_fn=_die_with_parent(), start_new_session=True, close_fds=True)
        holder_err.close()
        line = b""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not line.endswith(b"\n"):
            ready, _, _ = select.select([self.holder.stdout], [], [], 0.1)
            if ready:
                chunk = os.read(self.holder.stdout.fileno(), 256)
                if not chunk:
                    break
                line += chunk
        if line.strip() != b"ready":
            err = (self.log_dir / "holder.err").read_text(errors="replace")
            self.close()
            raise BoardError("board sandbox did not come up: %r %s" % (line, err))
        kids = _children(self.holder.pid)
        if len(kids) != 1:
            self.close()
            raise BoardError("cannot find the board's holder process")
        self.holder_pid = kids[0]
        self._check_isolation()
        (self.root / "board.json").write_text(json.dumps(
            {"holder_pid": self.holder_pid, "root": str(self.root), "env": self.env()}))
        return self

    def _check_isolation(self):
        """Refuses to go on unless the board's own directories are mounted
        over the host's in the holder's mount namespace."""
        points = _mountpoints(self.holder_pid)
        for p in ("/etc/snmp", "/var/lib/snmp", "/dev", "/run", "/etc/issue", "/sys/class", NM_CONNECTIONS):
            if p not in points:
                self.close()
                raise BoardError("board mount of %s is missing" % p)
        if os.readlink("/proc/%d/ns/mnt" % self.holder_pid) == os.readlink("/proc/self/ns/mnt"):
            self.close()
            raise BoardError("board shares the host mount namespace")

    def close(self):
        """Stops everything and removes the sandbox. Safe to call twice."""
        if self._closed or self._attached:
            return
        self._closed = True
        procs = ([self.agent] if self.agent else []) + list(self.trapds.values()) + \
            ([self.snmpd] if self.snmpd else [])
        for p in procs:
            if p.running():
                p.send_signal(signal.SIGTERM)
        deadline = time.monotonic() + 3
        for p in procs:
            try:
                p.popen.wait(max(0.05, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                pass
        if self.holder is not None:
            try:
                self.holder.stdin.close()  # EOF: the holder ends, and the board with it
            except OSError:
                pass
            try:
                self.holder.wait(5)
            except subprocess.TimeoutExpired:
                self.holder.kill()
                self.holder.wait(5)
            self.holder.stdout.close()
        for p in procs:
            try:
                p.popen.wait(5)
            except subprocess.TimeoutExpired:
                p.popen.kill()
                p.popen.wait(5)
        if self in _live_boards:
            _live_boards.remove(self)
        if self.root is not None and not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    @classmethod
    def attach(cls, root: Union[str, Path], holder_pid: int) -> "Board":
        """A handle on a board that another process runs (the demo): its
        stand-ins can be changed and uevents sent through it; closing the
        handle leaves the board alone."""
        board = cls(config=None)
        board.root = Path(root)
        board.holder_pid = int(holder_pid)
        board._attached = True
        return board

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    def _ensure_shim(self):
        if self.shim_path.exists():
            return
        # Not built yet (e.g. a tree without a CMake build): build a private copy.
        src = REPO / "tools" / "devshim.c"
        out = self.root / "libvlmdevshim.so"
        subprocess.run(["gcc", "-shared", "-fPIC", "-O2", "-Wall", "-Werror", "-o", str(out),
                        str(src), "-ldl"], check=True)
        self.shim_path = out

    # -- configuration files ------------------------------------------------

    def _write_snmp_configs(self):
        sock = self.agentx_socket
        self.snmpd_conf.write_text(
            "# snmpd of the simulated board: AgentX master on a private socket,\n"
            "# SNMP on loopback only, notifications to the board's snmptrapd.\n"
            "master agentx\n"
            "agentXSocket %s\n"
            "agentaddress udp:127.0.0.1:161\n"
            "rocommunity public 127.0.0.1\n"
            "rwcommunity private 127.0.0.1\n"
            "trapsink 127.0.0.1 public 162\n"
            "# no log line per request: the benchmark sends thousands\n"
            "dontLogTCPWrappersConnects yes\n" % sock)
        # The tools and the agent read this one; the daemons run with -C and
        # get the same settings through their own files.
        (self.etc / "snmp.conf").write_text("mibs :\nhexOutputLength 0\n")
        (self.etc / (AGENT_APP_NAME + ".conf")).write_text("agentXSocket %s\n" % sock)
        (self.etc / "snmptrapd.conf").write_text(
            "[snmp] mibs :\n"
            "[snmp] hexOutputLength 0\n"
            "[snmptrapd]\n"
            "disableAuthorization yes\n"
            "format1 VLMTRAP\\tv1\\t%w\\t%q\\t%N\\t%u\\t%v\\n\n"
            "format2 VLMTRAP\\tv2\\t%w\\t%q\\t%N\\t%u\\t%v\\n\n")

    def add_trapsink(self, host: str, community: str = "public", port: int = 162, joined: bool = False):
        """Adds a trapsink line to snmpd.conf (read by snmpd and the agent at
        start): "trapsink HOST COMMUNITY PORT", or with `joined` the form
        snmpd documents today, "trapsink HOST:PORT COMMUNITY"."""
        with open(self.snmpd_conf, "a") as f:
            if joined:
                f.write("trapsink %s:%d %s\n" % (host, port, community))
            else:
                f.write("trapsink %s %s %d\n" % (host, community, port))

    def add_trap2sink(self, host: str, community: str = "public", port: int = 162):
        """Adds a trap2sink line to snmpd.conf: snmpd then forwards every
        notification to that receiver as an SNMPv2c trap too (the agent
        itself reads only the trapsink lines)."""
        with open(self.snmpd_conf, "a") as f:
            f.write("trap2sink %s %s %d\n" % (host, community, port))

    def read_config(self) -> str:
        return self.config_path.read_text()

    def write_config(self, text: Union[str, bytes]):
        data = text.encode() if isinstance(text, str) else text
        self.config_path.write_bytes(data)

    def remove_config(self):
        self.config_path.unlink(missing_ok=True)

    def config_detail(self, group: str, key: str) -> str:
        return config_detail(self.config_path.read_bytes(), group, key)

    def set_config_details(self, changes: Dict[Tuple[str, str], str]):
        self.write_config(config_with(self.config_path.read_bytes(), changes))

    # -- stand-ins ----------------------------------------------------------

    def set_product_name(self, name: Optional[Union[str, bytes]]):
        """What the /dev/vmspname driver answers; None: no such device."""
        self.set_device("vmspname", name)

    def set_psu_inputs(self, inputs: Optional[str]):
        """What /dev/vlmpsustatus answers from now on: "11" both inputs good,
        "10" input 2 down, "1E" input 2 cannot be read; None: no device."""
        self.set_device("vlmpsustatus", inputs)

    def set_device(self, name: str, content: Optional[Union[str, bytes]]):
        path = self.dev_dir / name
        if content is None:
            path.unlink(missing_ok=True)
        else:
            # Written over in place and cut to length afterwards: the agent
            # reads a device it keeps open again and again, and must never
            # find it empty in between.
            data = content.encode() if isinstance(content, str) else content
            with open(path, "r+b" if path.exists() else "wb") as f:
                f.write(data)
                f.truncate(len(data))

    def add_file(self, target: str, content: Union[str, bytes]) -> Path:
        """A board file shown over the system file `target` (which must exist
        on the host: /etc/issue, /proc/stat ...); returns its host path."""
        path = self._standin_path(target)
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        self.add_bind(path, target)
        return path

    def add_tree(self, target: str) -> Path:
        """An empty board directory shown over the system directory `target`
        (e.g. /etc/ssl/certs); fill it through the returned host path. The
        hwmon chips have methods of their own (add_chip, set_sensor ...)."""
        path = self._standin_path(target)
        path.mkdir()
        self.add_bind(path, target)
        return path

    def add_bind(self, source: Union[str, Path], target: str):
        """Shows host path `source` at `target` inside the board. Before
        start() it is mounted with the sandbox; afterwards at once."""
        if self.holder_pid is None:
            self._binds.append([str(source), target])
        else:
            self.bind(str(source), target)

    def write_file(self, target: str, content: Union[str, bytes]):
        """New content for a stand-in file, written in place (a bind mount
        follows the inode, so the file must not be replaced)."""
        with open(self._standin_path(target), "r+b") as f:
            f.truncate(0)
            f.write(content.encode() if isinstance(content, str) else content)

    def set_issue(self, text: str):
        self.write_file("/etc/issue", text)

    def bind(self, source: str, target: str):
        """Bind-mounts a host path over `target` inside the running board."""
        self.exec(["mount", "--bind", source, target], check=True)

    def add_command(self, name: str, output: Union[str, bytes], status: int = 0):
        """A command on the board's PATH that prints `output` and exits with
        `status`, whatever its arguments; set_command_output() changes both."""
        self.add_script(name,
                        "#!/bin/sh\n"
                        "# Stand-in for %s on the simulated board.\n"
                        "/bin/cat '%s'\n"
                        "exit \"$(/bin/cat '%s')\"\n" % (name, self.root / "cmd" / (name + ".out"),
                                                     self.root / "cmd" / (name + ".status")))
        self.set_command_output(name, output, status)

    def add_script(self, name: str, text: str):
        """An executable on the board's PATH, ahead of the system's. Replaced
        in one step: a run of the old one that starts meanwhile finds the old
        script or the new one whole, never an empty or half-written file."""
        _replace_file(self.bin_dir / name, text, 0o755)

    def set_command_output(self, name: str, output: Union[str, bytes], status: int = 0):
        (self.root / "cmd" / (name + ".out")).write_bytes(
            output.encode() if isinstance(output, str) else output)
        (self.root / "cmd" / (name + ".status")).write_text("%d\n" % status)

    def remove_command(self, name: str):
        """From now on the board has no command `name`. vlm_smartctl (the
        agent runs it by its path) is deleted from /usr/local/sbin; any
        other name, which the agent looks up on PATH through the shell,
        gets a stand-in ahead of the system's that fails as the shell does
        for an unknown command (status 127, "not found" on stderr, nothing
        on stdout). Every attempt to run it is logged: missing_calls()."""
        if name == "vlm_smartctl":
            (self.sbin_dir / name).unlink(missing_ok=True)
            return
        log = self.root / "cmd" / (name + ".missing")
        log.write_text("")
        self.add_script(name,
                        "#!/bin/sh\n"
                        "# %s is not installed on the simulated board.\n"
                        "echo \"$*\" >> '%s'\n"
                        "echo \"sh: 1: %s: not found\" >&2\n"
                        "exit 127\n" % (name, log, name))

    def restore_command(self, name: str):
        """Undoes remove_command(name): the board's own stand-in again (df,
        lsusb) or the system's command."""
        if name == "df":
            self._make_df()
        elif name == "lsusb":
            self._write_lsusb_script()
        else:
            (self.bin_dir / name).unlink(missing_ok=True)

    def _set_hang(self, tool: str, hang: bool):
        """Switches the hang of a stand-in that checks the flag file
        cmd/TOOL.hang at every run and, hanging, leaves the marker
        cmd/TOOL.hung (cleared when the hang is switched on)."""
        flag = self.root / "cmd" / (tool + ".hang")
        if hang:
            (self.root / "cmd" / (tool + ".hung")).unlink(missing_ok=True)
            flag.touch()
        else:
            flag.unlink(missing_ok=True)

    def _hanging(self, tool: str) -> bool:
        """True once a run of the stand-in has started hanging since _set_hang."""
        return (self.root / "cmd" / (tool + ".hung")).exists()

    def hang_command(self, name: str):
        """From now on every run of the PATH command `name` blocks (until
        it is killed), leaving a marker: command_hung()."""
        marker = self.root / "cmd" / (name + ".hung")
        marker.unlink(missing_ok=True)
        self.add_script(name,
                        "#!/bin/sh\n"
                        "# %s never answers on the simulated board.\n"
                        ": > '%s'\n"
                        "exec /bin/sleep 3600\n" % (name, marker))

    def command_hung(self, name: str) -> bool:
        """True once a run of a command set by hang_command() has started."""
        return self._hanging(name)

    def missing_calls(self, name: str) -> List[str]:
        """The arguments of every attempt to run a removed command."""
        return (self.root / "cmd" / (name + ".missing")).read_text().splitlines()

    def make_unreadable(self, target: str):
        """Makes the board file `target` (/proc/meminfo, /proc/stat ...)
        unreadable, even for root: a write-only sysctl file is bound over
        it, so that opening it for reading fails with EACCES while the path
        still exists. For a running board; lasts until the board closes."""
        self.bind("/proc/sys/vm/drop_caches", target)

    def set_lsb_release(self, output: str):
        self.set_command_output("lsb_release", output)

    def set_meminfo(self, **figures: int):
        """New /proc/meminfo figures (meminfo_text's names; the others keep
        their values), while the agent runs. Written over the old text before
        the file is cut to length, so that a reader never finds it empty."""
        self._meminfo.update(figures)
        data = meminfo_text(**self._meminfo).encode()
        with open(self._standin_path("/proc/meminfo"), "r+b") as f:
            f.write(data)
            f.flush()
            f.truncate(len(data))

    # -- processors: /proc/stat and /sys/devices/system/cpu ----------------------

    def set_proc_stat(self, user: int, nice: int, system: int, idle: int, iowait: int = 0):
        """New aggregate counters of /proc/stat, while the agent runs: the
        agent's load is the busy share of the change between its two
        readings, one second apart. Written like set_meminfo, never empty."""
        self._proc_stat = (user, nice, system, idle, iowait)
        if self.root is None:
            return   # written when the board starts
        data = proc_stat_text(*self._proc_stat).encode()
        with open(self._standin_path("/proc/stat"), "r+b") as f:
            f.write(data)
            f.flush()
            f.truncate(len(data))

    @property
    def cpu_dir(self) -> Path:
        """Host directory the board sees as /sys/devices/system/cpu."""
        return self._standin_path("/sys/devices/system/cpu")

    def _make_cpu_tree(self):
        """cpu0 and cpu1 with their cpufreq files (what libcpupower reads:
        cpuN/cpufreq/cpuinfo_min_freq, cpuinfo_max_freq, scaling_cur_freq),
        and the online list that get_nprocs() reads."""
        self.add_tree("/sys/devices/system/cpu")
        for name in ("online", "possible", "present"):
            (self.cpu_dir / name).write_text("0-%d\n" % (len(DEFAULT_CPUFREQ) - 1))
        for n, (cur, low, high) in enumerate(DEFAULT_CPUFREQ):
            (self.cpu_dir / ("cpu%d" % n)).mkdir()
            if n:
                (self.cpu_dir / ("cpu%d" % n) / "online").write_text("1\n")
            self.set_cpufreq(n, cur, low, high)

    def set_cpus_online(self, text: str):
        """The online list ("0-1", "0" ...): get_nprocs() counts from it."""
        _replace_file(self.cpu_dir / "online", text + "\n", 0o444)

    def set_cpufreq(self, cpu: int, cur: Optional[int] = None, low: Optional[int] = None,
                    high: Optional[int] = None):
        """Clocks of processor `cpu` in kHz (current, hardware minimum and
        maximum; None keeps a file as it is); creates its cpufreq directory
        when it has none. Each file is replaced in one step."""
        freq = self.cpu_dir / ("cpu%d" % cpu) / "cpufreq"
        freq.mkdir(parents=True, exist_ok=True)
        for name, value in (("scaling_cur_freq", cur), ("cpuinfo_min_freq", low), ("cpuinfo_max_freq", high)):
            if value is not None:
                _replace_file(freq / name, "%d\n" % value, 0o444)

    def remove_cpufreq(self, cpu: int):
        """Processor `cpu` without cpufreq: the frequency library no longer
        knows it."""
        freq = self.cpu_dir / ("cpu%d" % cpu) / "cpufreq"
        gone = self.root / "files" / (".cpu%d-cpufreq.gone" % cpu)
        shutil.rmtree(gone, ignore_errors=True)
        os.rename(freq, gone)
        shutil.rmtree(gone, ignore_errors=True)

    # -- the watchdog driver's /proc/vlmwdtinfo -------------------------------------
    #
    # The board's /proc is its own proc mount, which has no vlmwdtinfo entry to
    # bind a file over. The agent reads it with "cat /proc/vlmwdtinfo", so a
    # stand-in cat on the board's PATH serves that one path from a board file
    # and hands every other call to the real cat.

    @property
    def wdtinfo_path(self) -> Path:
        """Host file the board's cat serves as /proc/vlmwdtinfo."""
        return self._standin_path("/proc/vlmwdtinfo")

    def _make_watchdog(self):
        self.add_script("cat",
                        "#!/bin/sh\n"
                        "# Stand-in for cat on the simulated board: /proc/vlmwdtinfo from the\n"
                        "# board's file (the real cat's error when there is none), everything\n"
                        "# else to the real cat. With the hang flag it never answers.\n"
                        "if [ \"$#\" -eq 1 ] && [ \"$1\" = /proc/vlmwdtinfo ]; then\n"
                        "    if [ -e '{hang}' ]; then\n"
                        "        : > '{hung}'\n"
                        "        exec /bin/sleep 3600\n"
                        "    fi\n"
                        "    [ -e '{file}' ] && exec /bin/cat '{file}'\n"
                        "fi\n"
                        "exec /bin/cat \"$@\"\n".format(
                            hang=self.root / "cmd" / "cat.hang", hung=self.root / "cmd" / "cat.hung",
                            file=self.wdtinfo_path))
        self.set_wdtinfo(DEFAULT_WDTINFO)

    def set_wdtinfo(self, fields: Optional[Union[Dict[str, str], str]]):
        """What /proc/vlmwdtinfo holds: {key: value} (see wdtinfo_text), a
        text as is, or None for a board without the driver. Replaced in one
        step."""
        if fields is None:
            self.wdtinfo_path.unlink(missing_ok=True)
            return
        text = fields if isinstance(fields, str) else wdtinfo_text(fields)
        _replace_file(self.wdtinfo_path, text, 0o444)

    def hang_wdtinfo(self, hang: bool = True):
        """With `hang`, every later "cat /proc/vlmwdtinfo" blocks (until the
        agent kills it); wdtinfo_hung() tells when one has."""
        self._set_hang("cat", hang)

    def wdtinfo_hung(self) -> bool:
        return self._hanging("cat")

    # -- mounted file systems: a stand-in df ------------------------------------
    #
    # The agent runs "df -m" through the shell, so a df on the board's PATH
    # prints the board's file systems (whatever the arguments). With the hang
    # flag it never answers, like df on a dead network mount; it leaves a
    # marker when it is hanging.

    def _make_df(self):
        cmd = self.root / "cmd"
        self.add_script("df",
                        "#!/bin/sh\n"
                        "# Stand-in for df on the simulated board. With the network-mount\n"
                        "# flag, a df asked for every file system (no -l) hangs on it.\n"
                        "if [ -e '{netmount}' ]; then\n"
                        "    case \" $* \" in *\" -l \"*) ;; *) : > '{hung}'; exec /bin/sleep 3600 ;; esac\n"
                        "fi\n"
                        "if [ -e '{hang}' ]; then\n"
                        "    : > '{hung}'\n"
                        "    exec /bin/sleep 3600\n"
                        "fi\n"
                        "/bin/cat '{out}'\n"
                        "exit \"$(/bin/cat '{status}')\"\n".format(
                            hang=cmd / "df.hang", hung=cmd / "df.hung", out=cmd / "df.out",
                            status=cmd / "df.status", netmount=cmd / "df.netmount"))
        self.set_df(self._filesystems)

    def set_df(self, filesystems: Sequence[FileSystem], status: int = 0):
        """The file systems df lists from now on (and its exit status)."""
        self._filesystems = list(filesystems)
        if self.root is not None:
            self.set_command_output("df", df_text(self._filesystems), status)

    def set_df_hang(self, hang: bool = True):
        """While set, every df run hangs (until the agent kills it)."""
        self._set_hang("df", hang)

    def set_dead_network_mount(self, dead: bool = True):
        """While set, the board has a network mount whose server is gone: a
        df that looks at every file system hangs on it, one asked for local
        file systems only (-l) does not."""
        flag = self.root / "cmd" / "df.netmount"
        if dead:
            (self.root / "cmd" / "df.hung").unlink(missing_ok=True)
            flag.touch()
        else:
            flag.unlink(missing_ok=True)

    def df_hanging(self) -> bool:
        """True once a df run has started hanging since set_df_hang()."""
        return self._hanging("df")

    # -- hard disks: smartctl, vlm_smartctl and fdisk ------------------------------
    #
    # The agent reads its disks through /usr/local/sbin/vlm_smartctl, which
    # runs smartctl, and counts partitions with "fdisk -l". The board's
    # /usr/local/sbin is a board directory holding a copy of the repository's
    # packaging/vlm_smartctl (the real script, not a stand-in); smartctl and
    # fdisk on the board's PATH are stand-ins that serve the board's disks.
    #
    # smartctl --scan lists the disks; smartctl -a NODE prints the capture of
    # that disk (tests/fixtures/smartctl/NAME.txt, with its exit status), or
    # for a node that is not a disk of the board what smartctl prints when it
    # cannot open a device (status 2). Every run is logged. A mode changes
    # that: "silent" prints nothing (status 0), "hang" never ends (until the
    # agent kills it) and leaves a marker, "fail" prints an error on stderr
    # only and exits with status 2. The state lives in files under cmd/, so
    # that another process (the demo's) can change it.

    @property
    def sbin_dir(self) -> Path:
        """Host directory the board sees as /usr/local/sbin."""
        return self._standin_path("/usr/local/sbin")

    @property
    def _smart_dir(self) -> Path:
        return self.root / "cmd" / "smart"

    def _make_disks(self):
        cmd = self.root / "cmd"
        self.add_tree("/usr/local/sbin")
        shutil.copy(VLM_SMARTCTL, self.sbin_dir / "vlm_smartctl")
        (self.sbin_dir / "vlm_smartctl").chmod(0o755)
        self._smart_dir.mkdir()
        for name in smartctl_fixture_names():
            self.add_smartctl_fixture(name, *smartctl_fixture(name))
        self.add_script("smartctl",
                        "#!/bin/sh\n"
                        "# Stand-in for smartctl on the simulated board.\n"
                        "cmd='{cmd}'\n"
                        "tab=$(printf '\\t')\n"
                        "echo \"$*\" >> \"$cmd/smartctl.runs\"\n"
                        "# mode_for KEY DEFAULT: the mode set for KEY (\"--scan\", \"*\" for every\n"
                        "# -a, or a node), else DEFAULT.\n"
                        "mode_for() {{\n"
                        "    found=$2\n"
                        "    while IFS=\"$tab\" read -r key value; do\n"
                        "        [ \"$key\" = \"$1\" ] && found=$value\n"
                        "    done < \"$cmd/smartctl.mode\"\n"
                        "    echo \"$found\"\n"
                        "}}\n"
                        "for node; do :; done   # the last argument\n"
                        "case \"$1\" in\n"
                        "--scan) mode=$(mode_for --scan ok) ;;\n"
                        "-a|--all|-x|--xall|-i|--info) mode=$(mode_for \"$node\" \"$(mode_for '*' ok)\") ;;\n"
                        "*) echo \"smartctl stand-in: unsupported arguments: $*\" >&2; exit 1 ;;\n"
                        "esac\n"
                        "case \"$mode\" in\n"
                        "hang) : > \"$cmd/smartctl.hung\"; exec /bin/sleep 3600 ;;\n"
                        "fail) echo \"Smartctl open device: $node failed: Input/output error\" >&2; exit 2 ;;\n"
                        "silent) exit 0 ;;\n"
                        "esac\n"
                        "if [ \"$1\" = --scan ]; then\n"
                        "    exec /bin/cat \"$cmd/smartctl.scan\"\n"
                        "fi\n"
                        "while IFS=\"$tab\" read -r disk name; do\n"
                        "    if [ \"$disk\" = \"$node\" ]; then\n"
                        "        /bin/cat \"$cmd/smart/$name.txt\"\n"
                        "        exit \"$(/bin/cat \"$cmd/smart/$name.status\")\"\n"
                        "    fi\n"
                        "done < \"$cmd/smartctl.disks\"\n"
                        "printf '%s' '{banner}'\n"
                        "echo \"Smartctl open device: $node failed: No such device\"\n"
                        "exit 2\n".format(cmd=cmd, banner=SMARTCTL_BANNER))
        self.add_script("fdisk",
                        "#!/bin/sh\n"
                        "# Stand-in for fdisk on the simulated board: -l lists the board's disks.\n"
                        "echo \"$*\" >> '{runs}'\n"
                        "if [ -e '{hang}' ]; then\n"
                        "    : > '{hung}'\n"
                        "    exec /bin/sleep 3600\n"
                        "fi\n"
                        "if [ \"$1\" = -l ]; then\n"
                        "    exec /bin/cat '{out}'\n"
                        "fi\n"
                        "echo \"fdisk stand-in: unsupported arguments: $*\" >&2\n"
                        "exit 1\n".format(runs=cmd / "fdisk.runs", hang=cmd / "fdisk.hang",
                                           hung=cmd / "fdisk.hung", out=cmd / "fdisk.out"))
        for name in ("smartctl.runs", "fdisk.runs", "smartctl.mode"):
            (cmd / name).write_text("")
        self.set_disks(dict(self._disks))

    def add_smartctl_fixture(self, name: str, text: Union[str, bytes], status: int = 0):
        """A capture of the board's own, usable in set_disks() like those of
        tests/fixtures/smartctl (a name of theirs is replaced on this board only)."""
        if self.root is None:
            raise BoardError("the board is not started")
        if not name or "/" in name or "\t" in name or "\n" in name:
            raise ValueError("unusable capture name %r" % name)
        _replace_file(self._smart_dir / (name + ".txt"), text, 0o644)
        _replace_file(self._smart_dir / (name + ".status"), "%d\n" % status, 0o644)

    def _smart_capture(self, name: str) -> str:
        path = self._smart_dir / (name + ".txt")
        if not path.exists():
            raise BoardError("no smartctl capture %r on the board (have: %s)" % (
                name, ", ".join(sorted(p.stem for p in self._smart_dir.glob("*.txt")))))
        return path.read_text(errors="replace")

    def set_disks(self, disks: Dict[str, str]):
        """The board's hard disks from now on: device node -> capture name,
        in smartctl's scan order. Partition counts stay as set_partitions()
        made them (1 for a disk never given one)."""
        for node, name in disks.items():
            if not node or any(c in node for c in "\t\n ") or "\t" in name:
                raise ValueError("unusable disk %r: %r" % (node, name))
        self._disks = list(disks.items())
        if self.root is None:
            return   # written when the board starts
        captures = {name: self._smart_capture(name) for _, name in self._disks}
        cmd = self.root / "cmd"
        _replace_file(cmd / "smartctl.disks", "".join("%s\t%s\n" % d for d in self._disks), 0o644)
        _replace_file(cmd / "smartctl.scan",
                      "".join(smartctl_scan_line(node, captures[name]) + "\n" for node, name in self._disks), 0o644)
        self._write_fdisk()

    def disks(self) -> Dict[str, str]:
        """The board's disks: device node -> capture name, in scan order."""
        if self.root is not None:
            try:
                lines = (self.root / "cmd" / "smartctl.disks").read_text().splitlines()
                return dict(line.split("\t", 1) for line in lines)
            except OSError:
                pass
        return dict(self._disks)

    def set_partitions(self, counts: Dict[str, int]):
        """Partition counts of disks (node -> count) that fdisk -l shows from
        now on; the other disks keep theirs."""
        self._partitions.update(counts)
        if self.root is not None:
            self._write_fdisk()

    def _write_fdisk(self):
        disks = []
        for node, name in self.disks().items():
            if not plain_device_node(node):
                continue   # no block device has such a name
            text = self._smart_capture(name)
            disks.append((node, smart_disk_bytes(text) or UNKNOWN_DISK_BYTES,
                           smart_disk_model(text) or UNKNOWN_DISK_MODEL, self._partitions.get(node, 1)))
        _replace_file(self.root / "cmd" / "fdisk.out", fdisk_text(disks), 0o644)

    def fdisk_output(self) -> str:
        return (self.root / "cmd" / "fdisk.out").read_text()

    def set_smartctl_mode(self, mode: str, node: Optional[str] = None, scan: bool = False):
        """How smartctl answers from now on (see above: "ok", "silent",
        "hang" or "fail"). With `node`, only for -a of that node; without,
        for -a of every node (modes set for single nodes are dropped), and
        for --scan too when `scan` (otherwise --scan answers normally)."""
        if mode not in SMARTCTL_MODES:
            raise ValueError("unknown smartctl mode %r (one of %s)" % (mode, ", ".join(SMARTCTL_MODES)))
        path = self.root / "cmd" / "smartctl.mode"
        if node is None:
            entries = [("*", mode), ("--scan", mode if scan else "ok")]
        else:
            entries = [tuple(line.split("\t", 1)) for line in path.read_text().splitlines()]
            entries = [e for e in entries if e[0] != node] + [(node, mode)]
        if mode == "hang":
            (self.root / "cmd" / "smartctl.hung").unlink(missing_ok=True)
        _replace_file(path, "".join("%s\t%s\n" % e for e in entries), 0o644)

    def smartctl_hanging(self) -> bool:
        """True once a smartctl run has started hanging since it was set to."""
        return self._hanging("smartctl")

    def smartctl_calls(self) -> List[str]:
        """The arguments of every smartctl run so far, oldest first
        ("--scan", "-a /dev/sda" ...)."""
        return (self.root / "cmd" / "smartctl.runs").read_text().splitlines()

    def set_fdisk_hang(self, hang: bool = True):
        """While set, every fdisk run hangs (until the agent kills it)."""
        self._set_hang("fdisk", hang)

    def fdisk_hanging(self) -> bool:
        """True once an fdisk run has started hanging since set_fdisk_hang()."""
        return self._hanging("fdisk")

    def fdisk_calls(self) -> List[str]:
        """The arguments of every fdisk run so far, oldest first."""
        return (self.root / "cmd" / "fdisk.runs").read_text().splitlines()

    # -- USB devices: a stand-in lsusb and kernel uevents ------------------------
    #
    # The agent learns of a USB device coming or going from the kernel's
    # uevent broadcast, then runs "lsusb -v" through the shell to find out
    # which device it was. The board's lsusb prints the board's device list
    # (the blocks of the fixtures named in cmd/usb.json) whatever its
    # arguments, and counts its runs. While errors are pending, a run adds
    # the line lsusb prints for a device that does not answer yet; with the
    # hang flag a run never ends (until the agent kills it) and leaves a
    # marker. The state lives in files, so that `simboard.py plug` can change
    # the demo board from another process.

    @property
    def _usb_state_path(self) -> Path:
        return self.root / "cmd" / "usb.json"

    def _usb_state(self) -> dict:
        try:
            return json.loads(self._usb_state_path.read_text())
        except (OSError, ValueError):
            return {"devices": list(self._usb_devices), "slots": {}, "seqnum": FIRST_UEVENT_SEQNUM}

    def _save_usb_state(self, state: dict):
        _replace_file(self._usb_state_path, json.dumps(state), 0o644)

    def _make_lsusb(self):
        self._write_lsusb_script()
        (self.root / "cmd" / "lsusb.runs").write_text("")
        self.set_usb_devices(self._usb_devices)

    def _write_lsusb_script(self):
        cmd = self.root / "cmd"
        self.add_script("lsusb",
                        "#!/bin/sh\n"
                        "# Stand-in for lsusb on the simulated board.\n"
                        "echo \"$*\" >> '{runs}'\n"
                        "if [ -e '{hang}' ]; then\n"
                        "    : > '{hung}'\n"
                        "    exec /bin/sleep 3600\n"
                        "fi\n"
                        "left=$(/bin/cat '{errors}' 2>/dev/null)\n"
                        "if [ \"${{left:-0}}\" -gt 0 ]; then\n"
                        "    echo $((left - 1)) > '{errors}'\n"
                        "    exec /bin/cat '{err_out}'\n"
                        "fi\n"
                        "exec /bin/cat '{out}'\n".format(
                            runs=cmd / "lsusb.runs", hang=cmd / "lsusb.hang", hung=cmd / "lsusb.hung",
                            errors=cmd / "lsusb.errors", err_out=cmd / "lsusb.err.out", out=cmd / "lsusb.out"))

    def _write_lsusb(self, text: str):
        cmd = self.root / "cmd"
        _replace_file(cmd / "lsusb.err.out", lsusb_text_with_error(text), 0o644)
        _replace_file(cmd / "lsusb.out", text, 0o644)

    def set_usb_devices(self, names: Sequence[str]):
        """The devices attached from now on, by fixture name, in lsusb's
        order. Sends no uevent (see plug, unplug and usb_event)."""
        self._usb_devices = list(names)
        if self.root is None:
            return   # written when the board starts
        text = lsusb_text([usb_fixture(n) for n in self._usb_devices])
        state = self._usb_state()
        state["devices"] = list(self._usb_devices)
        self._save_usb_state(state)
        self._write_lsusb(text)

    def usb_devices(self) -> Optional[List[str]]:
        """The attached devices' fixture names; None after set_lsusb_output."""
        if self.root is None:
            return list(self._usb_devices)
        return self._usb_state()["devices"]

    def set_lsusb_output(self, text: str):
        """What lsusb prints from now on, as is (no device list any more)."""
        state = self._usb_state()
        state["devices"] = None
        self._save_usb_state(state)
        self._write_lsusb(text)

    def lsusb_output(self) -> str:
        return (self.root / "cmd" / "lsusb.out").read_text()

    def set_lsusb_error(self, runs: int = 1):
        """The next `runs` lsusb runs report a device that does not answer
        (a line with "error" after the first device block); later runs
        print the list as usual."""
        (self.root / "cmd" / "lsusb.errors").write_text("%d\n" % runs)

    def lsusb_errors_pending(self) -> int:
        try:
            return int((self.root / "cmd" / "lsusb.errors").read_text().strip() or 0)
        except OSError:
            return 0

    def set_lsusb_hang(self, hang: bool = True):
        """While set, every lsusb run hangs (until the agent kills it)."""
        self._set_hang("lsusb", hang)

    def lsusb_hanging(self) -> bool:
        """True once an lsusb run has started hanging since set_lsusb_hang()."""
        return self._hanging("lsusb")

    def lsusb_calls(self) -> List[str]:
        """The arguments of every lsusb run so far, oldest first."""
        return (self.root / "cmd" / "lsusb.runs").read_text().splitlines()

    def lsusb_runs(self) -> int:
        """How many times lsusb has been started so far."""
        return len(self.lsusb_calls())

    def send_uevent(self, action: str, devpath: str, props: Optional[Dict[str, str]] = None) -> bytes:
        """Broadcasts one uevent as the kernel does (uevent_message, the next
        sequence number) to the uevent listeners of the board's network
        namespace; returns the message."""
        state = self._usb_state()
        seqnum = state.get("seqnum", FIRST_UEVENT_SEQNUM)
        state["seqnum"] = seqnum + 1
        self._save_usb_state(state)
        message = uevent_message(action, devpath, props, seqnum)
        self.send_uevent_raw(message)
        return message

    def send_uevent_raw(self, payload: bytes):
        """Broadcasts `payload` as it is on the kernel's uevent group."""
        with netns_socket(self.holder_pid, socket.AF_NETLINK, socket.SOCK_RAW, NETLINK_KOBJECT_UEVENT) as s:
            s.sendto(payload, (0, UEVENT_GROUP))

    def uevent_listener(self, timeout: float = 2.0) -> socket.socket:
        """A socket in the board that receives the uevents broadcast there,
        as the agent's does (for checking the board itself)."""
        s = netns_socket(self.holder_pid, socket.AF_NETLINK, socket.SOCK_RAW, NETLINK_KOBJECT_UEVENT)
        s.bind((0, UEVENT_GROUP))
        s.settimeout(timeout)
        return s

    def agent_listens_for_uevents(self) -> bool:
        """True when the agent holds a uevent socket that receives the
        kernel's broadcasts."""
        if self.agent is None or self.agent.pid is None:
            return False
        mine = _socket_inodes(self.agent.pid)
        return any(groups & UEVENT_GROUP and inode in mine
                   for _, groups, inode in uevent_sockets(self.holder_pid))

    def wait_uevent_listener(self, timeout: float = 5.0) -> float:
        """Waits until the agent listens for uevents (its watcher starts
        about a second after the agent); returns the seconds waited."""
        start = time.monotonic()
        while not self.agent_listens_for_uevents():
            if time.monotonic() - start > timeout:
                raise BoardError("the agent did not listen for uevents within %.1f s:\n%s" % (
                    timeout, self.agent_output()))
            time.sleep(0.02)
        return time.monotonic() - start

    def _usb_slot(self, name: str) -> int:
        """The port a device sits on, the same for its arrival and removal."""
        state = self._usb_state()
        slots = state.setdefault("slots", {})
        if name not in slots:
            slots[name] = len(slots)
            self._save_usb_state(state)
        return slots[name]

    def usb_event(self, action: str, name: str, kind: Optional[str] = None, full: bool = False) -> List[bytes]:
        """Sends the uevent(s) of device `name` coming ("add") or going
        ("remove") without changing the device list: for its kind (given,
        or usb_kind of its block) the one the agent watches, or with `full`
        the kernel's whole burst (see usb_uevents). Returns the messages."""
        block = usb_fixture(name)
        kind = kind or usb_kind(block)
        return [self.send_uevent(a, path, props)
                for a, path, props in usb_uevents(kind, action, self._usb_slot(name), block, full)]

    def plug(self, name: str, kind: Optional[str] = None, full: bool = False, at: Optional[int] = None) -> List[bytes]:
        """Device `name` arrives: added to the list (at the end, or at index
        `at`), then its uevent(s) sent (see usb_event)."""
        devices = self.usb_devices()
        if devices is None:
            raise BoardError("the lsusb output was set as text; set_usb_devices() first")
        devices.insert(len(devices) if at is None else at, name)
        self.set_usb_devices(devices)
        return self.usb_event("add", name, kind, full)

    def unplug(self, name: str, kind: Optional[str] = None, full: bool = False) -> List[bytes]:
        """Device `name` leaves: its first block taken from the list, then
        its uevent(s) sent (see usb_event)."""
        devices = self.usb_devices()
        if devices is None or name not in devices:
            raise BoardError("%s is not attached" % name)
        devices.remove(name)
        self.set_usb_devices(devices)
        return self.usb_event("remove", name, kind, full)

    # -- wireless: nmcli, modem-cmd and the NetworkManager connection files ------
    #
    # The agent's Wi-Fi and mobile broadband groups run three nmcli command
    # lines through the shell (NMCLI_COMMANDS, with grep filters after two of
    # them), read connection files from /etc/NetworkManager/system-connections
    # and send AT commands with "modem-cmd DEVICE COMMAND". The board's nmcli
    # answers each of the three from an output a test chooses (an nmcli
    # fixture or a text) and refuses anything else; its modem-cmd prints the
    # answer set for that device and command (with OK after it), or fails as
    # for a port it cannot open. Both log every run; with the hang flag
    # modem-cmd never answers (until the agent kills it) and leaves a marker.
    # The connection directory is a board directory shown over the system's.

    @property
    def nm_connections_dir(self) -> Path:
        """Host directory the board sees as /etc/NetworkManager/system-connections."""
        return self._standin_path(NM_CONNECTIONS)

    def _make_wireless(self):
        cmd = self.root / "cmd"
        (cmd / "modem").mkdir()
        cases = "".join("\"%s\") out=%s ;;\n" % (args, kind) for kind, args in NMCLI_COMMANDS.items())
        self.add_script("nmcli",
                        "#!/bin/sh\n"
                        "# Stand-in for nmcli on the simulated board: the listings the agent asks for.\n"
                        "printf '%s\\n' \"$*\" >> '{runs}'\n"
                        "case \"$*\" in\n"
                        "{cases}"
                        "*) echo \"Error: nmcli stand-in: unsupported arguments: $*\" >&2; exit 2 ;;\n"
                        "esac\n"
                        "exec /bin/cat '{cmd}/nmcli.'\"$out\"'.out'\n".format(
                            runs=cmd / "nmcli.runs", cases=cases, cmd=cmd))
        self.add_script("modem-cmd",
                        "#!/bin/sh\n"
                        "# Stand-in for modem-cmd on the simulated board: DEVICE AT-COMMAND.\n"
                        "printf '%s\\n' \"$*\" >> '{runs}'\n"
                        "if [ -e '{hang}' ]; then\n"
                        "    : > '{hung}'\n"
                        "    exec /bin/sleep 3600\n"
                        "fi\n"
                        "if [ \"$#\" -ne 2 ]; then\n"
                        "    echo 'usage: modem-cmd DEVICE AT-COMMAND' >&2\n"
                        "    exit 2\n"
                        "fi\n"
                        "key=$(printf '%s__%s' \"$1\" \"$2\" | tr -c 'A-Za-z0-9_' '_')\n"
                        "if [ ! -e '{answers}/'\"$key\" ]; then\n"
                        "    echo \"modem-cmd: cannot open $1: No such file or directory\" >&2\n"
                        "    exit 1\n"
                        "fi\n"
                        "exec /bin/cat '{answers}/'\"$key\"\n".format(
                            runs=cmd / "modem-cmd.runs", hang=cmd / "modem-cmd.hang",
                            hung=cmd / "modem-cmd.hung", answers=cmd / "modem"))
        for name in ("nmcli.runs", "modem-cmd.runs"):
            (cmd / name).write_text("")
        for kind, fixture in DEFAULT_NMCLI.items():
            self.set_nmcli(kind, fixture)
        self.add_tree(NM_CONNECTIONS)

    def set_nmcli(self, kind: str, fixture: Optional[str] = None, text: Optional[str] = None):
        """What nmcli prints from now on for one of its command lines
        ("wifi", "status" or "show", see NMCLI_COMMANDS): nmcli fixture
        `fixture`, or `text` as it is. Replaced in one step."""
        if kind not in NMCLI_COMMANDS:
            raise ValueError("unknown nmcli listing %r (one of %s)" % (kind, ", ".join(NMCLI_COMMANDS)))
        if (fixture is None) == (text is None):
            raise ValueError("give a fixture or a text")
        _replace_file(self.root / "cmd" / ("nmcli.%s.out" % kind),
                      nmcli_fixture(fixture) if fixture is not None else text, 0o644)

    def nmcli_calls(self) -> List[str]:
        """The arguments of every nmcli run so far, oldest first."""
        return (self.root / "cmd" / "nmcli.runs").read_text().splitlines()

    def set_modem_answer(self, device: str, command: str, answer: Optional[str]):
        """What modem-cmd prints for `command` sent to `device` from now on:
        `answer` as its first line, then OK unless the answer is an error;
        None: the port cannot be opened. Include "\\r" in `answer` for a
        modem that ends its lines with one."""
        path = self.root / "cmd" / "modem" / modem_answer_key(device, command)
        if answer is None:
            path.unlink(missing_ok=True)
            return
        error = answer.rstrip("\r\n") == "ERROR" or answer.startswith("+CME ERROR")
        _replace_file(path, answer + "\n" + ("" if error else "OK\n"), 0o644)

    def set_modem(self, device: str, answers: Dict[str, Optional[str]]):
        """Several answers of one device at once: {AT command: answer}."""
        for command, answer in answers.items():
            self.set_modem_answer(device, command, answer)

    def set_modem_hang(self, hang: bool = True):
        """While set, every modem-cmd run hangs (until the agent kills it)."""
        self._set_hang("modem-cmd", hang)

    def modem_hanging(self) -> bool:
        """True once a modem-cmd run has started hanging since set_modem_hang()."""
        return self._hanging("modem-cmd")

    def modem_calls(self) -> List[str]:
        """The arguments of every modem-cmd run so far ("/dev/ttyACM2 AT+CSQ" ...)."""
        return (self.root / "cmd" / "modem-cmd.runs").read_text().splitlines()

    def add_nm_connection(self, name: str, apn: Optional[str] = None, text: Optional[str] = None) -> Path:
        """A connection file named `name` in the board's connection directory:
        `text` as it is, or a GSM connection keyfile with `apn`. Returns its
        host path."""
        if not name or "/" in name or name in (".", ".."):
            raise ValueError("unusable connection file name %r" % name)
        path = self.nm_connections_dir / name
        path.write_text(text if text is not None else nm_connection_text(name, apn))
        path.chmod(0o600)
        return path

    # -- the hardware-monitor chip (libsensors' view of /sys/class/hwmon) -----
    #
    # The board's /sys/class is a directory of its own: every class of the
    # host is bound back into it, except hwmon, which holds only the chips
    # made here. libsensors finds a hwmon device without a "device" link as a
    # virtual chip named by its "name" file, with one feature per channel
    # that has an input file (in0_input, temp1_input, curr1_input ...), its
    # label from CHANNEL_label. libsensors drops the last character of a
    # label file (the driver's newline), so every label is written with one.
    # The agent initialises libsensors in every cycle, so every change below
    # is seen at its next cycle.

    @property
    def hwmon_dir(self) -> Path:
        """Host directory the board sees as /sys/class/hwmon."""
        return self._standin_path("/sys/class") / "hwmon"

    def _make_sys_class(self) -> List[List[str]]:
        """The board's /sys/class: the host's classes bound into a board
        directory (hwmon left out), that directory then bound, with those
        mounts, over /sys/class. Returns the holder's bind list."""
        tree = self._standin_path("/sys/class")
        tree.mkdir()
        binds = []
        for entry in sorted(os.listdir("/sys/class")):
            if entry == "hwmon" or not os.path.isdir(os.path.join("/sys/class", entry)):
                continue
            (tree / entry).mkdir()
            binds.append([os.path.join("/sys/class", entry), str(tree / entry)])
        (tree / "hwmon").mkdir()
        binds.append([str(tree), "/sys/class", "rbind"])
        return binds

    def chips(self) -> Dict[str, str]:
        """The board's hwmon devices: {"hwmon0": "vlmhwmon", ...}."""
        out = {}
        for d in sorted(self.hwmon_dir.iterdir()):
            try:
                out[d.name] = (d / "name").read_text().strip()
            except OSError:
                pass
        return out

    def add_chip(self, name: str = HWMON_CHIP, sensors: Sequence[Sensor] = DEFAULT_SENSORS) -> str:
        """A new hwmon device (the next free hwmonN) named `name` with
        `sensors`; it appears whole (built aside, then renamed into place).
        Returns its directory name."""
        n = 0
        while (self.hwmon_dir / ("hwmon%d" % n)).exists():
            n += 1
        staging = self.root / "files" / (".hwmon%d.new" % n)
        staging.mkdir()
        (staging / "name").write_text(name + "\n")
        for sensor in sensors:
            self._write_sensor(staging, sensor)
        os.rename(staging, self.hwmon_dir / ("hwmon%d" % n))
        return "hwmon%d" % n

    def remove_chip(self, chip: Optional[str] = None):
        """Takes a hwmon device away at once (default: the vlmhwmon chip)."""
        path = self._chip_path(chip)
        gone = self.root / "files" / (".%s.gone" % path.name)
        shutil.rmtree(gone, ignore_errors=True)
        os.rename(path, gone)
        shutil.rmtree(gone, ignore_errors=True)

    def _chip_path(self, chip: Optional[str]) -> Path:
        if chip is not None:
            return self.hwmon_dir / chip
        for d, name in self.chips().items():
            if name == HWMON_CHIP:
                return self.hwmon_dir / d
        raise BoardError("the board has no %s chip" % HWMON_CHIP)

    @staticmethod
    def _write_sensor(chip_dir: Path, sensor: Sensor) -> str:
        if sensor.kind not in HWMON_KINDS:
            raise ValueError("unknown sensor kind %r" % sensor.kind)
        number = sensor.number
        if number is None:
            number = 0 if sensor.kind == "in" else 1
            while (chip_dir / ("%s%d_input" % (sensor.kind, number))).exists():
                number += 1
        channel = "%s%d" % (sensor.kind, number)
        if (chip_dir / (channel + "_input")).exists():
            raise BoardError("%s already has %s" % (chip_dir.name, channel))
        # The label first: the feature exists from its input file on.
        _replace_file(chip_dir / (channel + "_label"), sensor.label + "\n", 0o444)
        _replace_file(chip_dir / (channel + "_input"), _sysfs_reading(sensor.value), 0o444)
        return channel

    def _channel(self, sensor: str, chip: Optional[str]) -> Tuple[Path, str]:
        """(chip directory, channel) of the input labelled `sensor`, or
        of the channel named `sensor` ("temp1", "in3" ...)."""
        path = self._chip_path(chip)
        if (path / (sensor + "_input")).exists():
            return path, sensor
        for label_file in sorted(path.glob("*_label")):
            channel = label_file.name[:-len("_label")]
            if label_file.read_text()[:-1] == sensor and (path / (channel + "_input")).exists():
                return path, channel
        raise KeyError("no sensor %r on %s" % (sensor, path.name))

    def sensors(self, chip: Optional[str] = None) -> List[Sensor]:
        """The inputs of a chip as sysfs has them, in libsensors' order
        (voltages, temperatures, currents; each by channel number)."""
        path = self._chip_path(chip)
        found = []
        for f in path.glob("*_input"):
            channel = f.name[:-len("_input")]
            kind = channel.rstrip("0123456789")
            if kind not in HWMON_KINDS:
                continue
            try:
                label = (path / (channel + "_label")).read_text()[:-1]
            except OSError:
                label = channel
            raw = f.read_text().strip()
            try:
                value: Union[float, str] = int(raw) / 1000
            except ValueError:
                value = raw
            found.append(Sensor(kind, label, value, int(channel[len(kind):])))
        return sorted(found, key=lambda s: (HWMON_KINDS.index(s.kind), s.number))

    def set_sensor(self, sensor: str, value: Union[float, str], chip: Optional[str] = None):
        """A new reading of the input labelled `sensor` (or of channel
        `sensor`) in degrees C, V or A, while the agent runs; a str is written
        into the input file as is. The file is replaced in one step (rename),
        keeping its mode, so that a reader finds the old or the new reading."""
        path, channel = self._channel(sensor, chip)
        target = path / (channel + "_input")
        _replace_file(target, _sysfs_reading(value), stat.S_IMODE(target.stat().st_mode))

    def set_sensor_readable(self, sensor: str, readable: bool = True, chip: Optional[str] = None):
        """Unreadable: the input file loses its read permission, which
        libsensors takes as a subfeature it may not read (SENSORS_ERR_ACCESS_R)
        while the feature and its label stay."""
        path, channel = self._channel(sensor, chip)
        (path / (channel + "_input")).chmod(0o444 if readable else 0)

    def add_sensor(self, kind: str, label: str, value: Union[float, str],
                   number: Optional[int] = None, chip: Optional[str] = None) -> str:
        """A new input on a chip; returns its channel ("in5" ...)."""
        return self._write_sensor(self._chip_path(chip), Sensor(kind, label, value, number))

    def remove_sensor(self, sensor: str, chip: Optional[str] = None) -> Sensor:
        """Takes an input away (its input file first, then its label);
        returns it, for add_sensor(*removed)."""
        path, channel = self._channel(sensor, chip)
        kind = channel.rstrip("0123456789")
        removed = [s for s in self.sensors(chip) if (s.kind, s.number) == (kind, int(channel[len(kind):]))][0]
        for suffix in ("_input", "_label"):
            (path / (channel + suffix)).unlink(missing_ok=True)
        return removed

    def remove_temperatures(self, chip: Optional[str] = None) -> List[Sensor]:
        """Takes every temperature input away; restore_temperatures() puts
        them back as they were."""
        removed = [self.remove_sensor("%s%d" % (s.kind, s.number), chip)
                   for s in self.sensors(chip) if s.kind == "temp"]
        self._removed_temperatures += removed
        return removed

    def restore_temperatures(self, chip: Optional[str] = None):
        for s in self._removed_temperatures:
            self.add_sensor(*s, chip=chip)
        self._removed_temperatures = []

    def libsensors(self) -> List[dict]:
        """What libsensors reports inside the board: one dict per chip,
        {"prefix", "path", "features": [{"name", "type", "label", "value",
        "error"}]}, "value" None and "error" the libsensors error number when
        the input cannot be read."""
        proc = self.exec([sys.executable, str(Path(__file__).resolve()), "_libsensors"], check=True)
        return json.loads(proc.stdout)

    # -- running things inside ----------------------------------------------

    def env(self) -> Dict[str, str]:
        """Environment of every program run inside the board."""
        env = {
            "PATH": "%s:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin" % self.bin_dir,
            "HOME": str(self.root / "home"),
            "SNMPCONFPATH": "/etc/snmp",
            "SNMP_PERSISTENT_DIR": "/var/lib/snmp",
            "LANG": "C",
        }
        for k in ("TZ", "TERM", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if k in os.environ:
                env[k] = os.environ[k]
        return env

    def _nsenter(self, argv: Sequence[str], env: Optional[Dict[str, str]] = None) -> List[str]:
        """The command line running argv inside the board. Variables of `env`
        are set by env(1) inside, so that nsenter itself never runs with
        them: a preloaded sanitizer runtime would run its leak check in
        nsenter, whose /proc view inside the board does not show it."""
        if self.holder_pid is None or self._closed:
            raise BoardError("board is not running")
        prefix = ["nsenter", "-t", str(self.holder_pid), "-m", "-i", "-n", "-p",
                  "--wd=%s" % (self.root / "run"), "--"]
        if env:
            prefix += ["/usr/bin/env"] + ["%s=%s" % kv for kv in env.items()]
        return prefix + list(argv)

    def exec(self, argv: Sequence[Union[str, bytes]], timeout: float = 10, check: bool = False,
             env: Optional[Dict[str, str]] = None, text: bool = True) -> subprocess.CompletedProcess:
        """Runs a command inside the board and returns its result."""
        return subprocess.run(self._nsenter(argv, env), env=self.env(), capture_output=True,
                              timeout=timeout, check=check, text=text,
                              errors="replace" if text else None, stdin=subprocess.DEVNULL)

    def spawn(self, name: str, argv: Sequence[str], env: Optional[Dict[str, str]] = None) -> BoardProcess:
        """Starts a long-running program inside the board; its output goes
        to log/NAME.out and log/NAME.err."""
        out, err = self.log_dir / (name + ".out"), self.log_dir / (name + ".err")
        with open(out, "wb") as fo, open(err, "wb") as fe:
            popen = subprocess.Popen(self._nsenter(argv, env), env=self.env(), stdin=subprocess.DEVNULL,
                                     stdout=fo, stderr=fe, preexec_fn=_die_with_parent(),
                                     start_new_session=True, close_fds=True)
        return BoardProcess(name, popen, out, err)

    def client(self, community: str = "public", timeout: float = 1.0,
               addr=("127.0.0.1", 161)) -> snmpclient.Client:
        """A raw SNMPv2c client talking from inside the board's network."""
        return snmpclient.Client(netns_socket(self.holder_pid), addr, community, timeout)

    # -- snmptrapd ----------------------------------------------------------

    def start_trapd(self, name: str = "main", address: str = "127.0.0.1:162",
                    timeout: float = 5) -> BoardProcess:
        """Starts an snmptrapd receiver listening on `address`; received
        notifications are read back with traps(name)."""
        log = self.log_dir / ("snmptrapd-%s.log" % name)
        log.write_bytes(b"")
        proc = self.spawn("snmptrapd-" + name, [
            "snmptrapd", "-f", "-Lf", str(log), "-C", "-c", "/etc/snmp/snmptrapd.conf",
            "-On", "-Ox", address])
        self.trapds[name] = proc
        deadline = time.monotonic() + timeout
        while "NET-SNMP version" not in log.read_text(errors="replace"):
            if not proc.running() or time.monotonic() > deadline:
                raise BoardError("snmptrapd %s did not start: %s%s" % (
                    name, log.read_text(errors="replace"), proc.stderr()))
            time.sleep(0.01)
        return proc

    def start_named_trapd(self, port: int = NAMED_TRAPD_PORT, timeout: float = 5) -> Path:
        """A second snmptrapd, with our module loaded, on 127.0.0.1:`port`:
        snmpd sends it every notification as an SNMPv2c trap (a trap2sink
        line, so it is started before snmpd). Its log holds a line per
        notification (see parse_named_trap_line); returns the log's path."""
        log = self.log_dir / NAMED_TRAPD_LOG
        log.write_bytes(b"")
        conf = self.etc / "snmptrapd-named.conf"
        conf.write_text("disableAuthorization yes\n"
                        "format2 %s\\t%%t\\t%%v\\n\n" % NAMED_TRAP_LINE)
        self.add_trap2sink("127.0.0.1", port=port)
        proc = self.spawn("snmptrapd-named", ["snmptrapd", "-f", "-Lf", str(log), "-C", "-c",
                                              "/etc/snmp/" + conf.name] + WITH_MIB + ["127.0.0.1:%d" % port])
        self.trapds["named"] = proc
        deadline = time.monotonic() + timeout
        while "NET-SNMP version" not in log.read_text(errors="replace"):
            if not proc.running() or time.monotonic() > deadline:
                raise BoardError("snmptrapd with the MIB did not start: %s%s" % (
                    log.read_text(errors="replace"), proc.stderr()))
            time.sleep(0.01)
        return log

    def traps(self, name: str = "main", enterprise: Optional[str] = ENTERPRISE) -> List[Trap]:
        """Notifications received so far by receiver `name`, oldest first;
        with `enterprise`, only those under it (snmpd sends its own too)."""
        log = self.log_dir / ("snmptrapd-%s.log" % name)
        out = []
        for line in log.read_text(errors="replace").splitlines():
            trap = parse_trap_line(line)
            if trap is None:
                continue
            if enterprise is None or trap.enterprise == enterprise or \
                    trap.enterprise.startswith(enterprise + "."):
                out.append(trap)
        return out

    def wait_trap(self, predicate=lambda t: True, name: str = "main", timeout: float = 5,
                  enterprise: Optional[str] = ENTERPRISE, after: int = 0) -> Trap:
        """The first notification (from index `after` on) matching `predicate`."""
        deadline = time.monotonic() + timeout
        while True:
            for trap in self.traps(name, enterprise)[after:]:
                if predicate(trap):
                    return trap
            if time.monotonic() > deadline:
                raise TimeoutError("no matching notification within %.1f s" % timeout)
            time.sleep(0.02)

    # -- snmpd ----------------------------------------------------------------

    def start_snmpd(self, timeout: float = 5) -> BoardProcess:
        self.snmpd = self.spawn("snmpd", [
            "snmpd", "-f", "-Lf", str(self.log_dir / "snmpd.log"), "-C", "-c",
            "/etc/snmp/snmpd.conf", "-I", "-smux"], env={"MIBS": ""})
        deadline = time.monotonic() + timeout
        with self.client(timeout=0.1) as c:
            while True:
                try:
                    if not c.get(SNMPD_UPTIME).error_status:
                        break
                except snmpclient.SnmpTimeout:
                    pass
                if not self.snmpd.running() or time.monotonic() > deadline:
                    raise BoardError("snmpd did not start:\n" + self.log_tail("snmpd.log"))
        return self.snmpd

    def stop_snmpd(self, sig: int = signal.SIGTERM) -> int:
        return self.snmpd.stop(sig)

    def restart_snmpd(self) -> BoardProcess:
        self.stop_snmpd()
        return self.start_snmpd()

    # -- the agent --------------------------------------------------------------

    def start_agent(self, args: Sequence[str] = (), wait: bool = True,
                    timeout: float = 5) -> BoardProcess:
        """Starts vlm_subagent with `args`; with `wait`, returns once its
        objects answer through snmpd (raises if it exits first)."""
        if self.agent is not None and self.agent.running():
            raise BoardError("the agent is already running")
        preload = _sanitizer_runtimes(self.agent_path) + [str(self.shim_path)]
        self.agent = self.spawn("agent", [str(self.agent_path)] + list(args), env={
            "LD_PRELOAD": " ".join(preload),
            "VLM_DEV_DIR": str(self.dev_dir),
        })
        if wait:
            self.wait_agent(timeout)
        return self.agent

    def run_agent(self, args: Sequence[str] = (), timeout: float = 5) -> BoardProcess:
        """Starts the agent and waits for it to exit by itself (it is killed
        after `timeout`, and the test then sees a negative returncode)."""
        proc = self.start_agent(args, wait=False)
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.stop(signal.SIGKILL)
        return proc

    def agent_answers(self, client: Optional[snmpclient.Client] = None) -> bool:
        own = client is None
        c = client or self.client(timeout=0.2)
        try:
            resp = c.get(SYSINFO + ".1.0", timeout=0.2)
            return resp.error_status == 0 and resp.varbinds[0].type == "OCTET STRING"
        except snmpclient.SnmpTimeout:
            return False
        finally:
            if own:
                c.close()

    def wait_agent(self, timeout: float = 5) -> float:
        """Waits until the agent's objects answer; returns the seconds waited."""
        start = time.monotonic()
        with self.client(timeout=0.2) as c:
            while not self.agent_answers(c):
                if self.agent is not None and not self.agent.running():
                    raise BoardError("the agent exited with %s before answering:\n%s" % (
                        self.agent.returncode, self.agent_output()))
                if time.monotonic() - start > timeout:
                    raise BoardError("the agent did not answer within %.1f s:\n%s" % (
                        timeout, self.agent_output()))
                time.sleep(0.02)
        return time.monotonic() - start

    def stop_agent(self, sig: int = signal.SIGTERM, timeout: float = 5) -> int:
        return self.agent.stop(sig, timeout)

    def kill_agent(self) -> int:
        return self.agent.stop(signal.SIGKILL)

    def restart_agent(self, args: Sequence[str] = (), timeout: float = 5) -> BoardProcess:
        if self.agent is not None:
            self.stop_agent()
        return self.start_agent(args, timeout=timeout)

    def agent_output(self) -> str:
        if self.agent is None:
            return "(agent never started)"
        return "--- agent stdout ---\n%s--- agent stderr ---\n%s" % (
            self.agent.stdout(), self.agent.stderr())

    def start_all(self, agent_args: Sequence[str] = ()) -> "Board":
        """snmptrapd, snmpd and the agent, in that order (the receiver first,
        so that it sees snmpd's coldStart)."""
        self.start_trapd()
        self.start_snmpd()
        self.start_agent(agent_args)
        return self

    # -- Net-SNMP tools -------------------------------------------------------

    def snmp(self, tool: str, *args: Union[str, bytes], community: str = "public",
             timeout: float = 10) -> subprocess.CompletedProcess:
        """Runs a Net-SNMP tool against the board's snmpd, numeric OIDs and
        octet strings in hex, one try with a one-second timeout."""
        return self.exec([tool, "-v2c", "-c", community, "-t", "1", "-r", "0", "-On", "-Ox",
                          "127.0.0.1"] + list(args), timeout=timeout)

    def _varbinds(self, tool: str, args, community: str) -> List[snmpclient.VarBind]:
        proc = self.snmp(tool, *args, community=community)
        err = _tool_error(proc)
        if err:
            raise err
        return [parse_varbind(line) for line in proc.stdout.splitlines() if " = " in line]

    def snmpget(self, *oids: str, community: str = "public") -> List[snmpclient.VarBind]:
        return self._varbinds("snmpget", oids, community)

    def snmpgetnext(self, *oids: str, community: str = "public") -> List[snmpclient.VarBind]:
        return self._varbinds("snmpgetnext", oids, community)

    def snmpwalk(self, root: str, community: str = "public") -> List[snmpclient.VarBind]:
        return self._varbinds("snmpwalk", [root], community)

    def snmpbulkwalk(self, root: str, community: str = "public") -> List[snmpclient.VarBind]:
        return self._varbinds("snmpbulkwalk", [root], community)

    def snmpset(self, *varbinds: Tuple[str, str, Union[str, bytes]],
                community: str = "private") -> List[snmpclient.VarBind]:
        """varbinds: (oid, snmpset type letter, value); raises SnmpError."""
        args: List[Union[str, bytes]] = []
        for oid, kind, value in varbinds:
            args += [oid, kind, value]
        return self._varbinds("snmpset", args, community)

    def group_health(self) -> Dict[str, dict]:
        """The agent's group table: {group name: {"status": "ok", "failing"
        or "absent", "last_good": DateAndTime octets, "failures": count,
        "error": text}}."""
        columns = {3: "status", 4: "last_good", 5: "failures", 6: "error"}
        rows: Dict[int, dict] = {}
        for vb in self.snmpwalk(GROUP_ENTRY):
            column, index = (int(p) for p in vb.oid[len(GROUP_ENTRY) + 1:].split("."))
            row = rows.setdefault(index, {})
            if column == 2:
                row["name"] = vb.value.decode()
            elif column in columns:
                row[columns[column]] = GROUP_STATUS.get(vb.value, vb.value) if column == 3 else \
                    vb.value.decode() if column == 6 else vb.value
        return {row.pop("name"): row for _, row in sorted(rows.items())}

    def wait_groups(self, expected: Dict[str, str], timeout: float = 10) -> Dict[str, dict]:
        """Waits until every group named in `expected` has that status and
        every other group is ok after a complete reading (a group shows ok
        before its first reading too); returns the table."""
        deadline = time.monotonic() + timeout
        while True:
            health = self.group_health()
            got = {name: row["status"] if row["status"] != "ok" or row["last_good"] else "unread"
                   for name, row in health.items()}
            if got == {name: expected.get(name, "ok") for name in got}:
                return health
            if time.monotonic() > deadline:
                raise AssertionError("group statuses %r, not %r" % (got, expected))
            time.sleep(0.2)

    def group_notifications(self, name: str = "main") -> List[Tuple[str, str, str]]:
        """The group-status notifications received so far, oldest first:
        (group name, status, last error)."""
        out = []
        for trap in self.traps(name):
            if trap.number != GROUP_NOTIFICATION:
                continue
            values = [vb.value for vb in trap.varbinds]
            out.append((values[0].decode(), GROUP_STATUS.get(values[1], values[1]), values[2].decode()))
        return out

    def group_log_lines(self) -> List[str]:
        """The agent's log lines about its groups' status ("group storage
        failing: ...", "group storage ok again ...")."""
        return [line for line in self.agent.stderr().splitlines() if line.startswith("group ")]

    def get_value(self, oid: str):
        """Value of one object (bytes for OCTET STRING, int for INTEGER)."""
        vb = self.snmpget(oid)[0]
        if vb.type in ("noSuchObject", "noSuchInstance", "endOfMibView"):
            raise SnmpError(vb.type, oid, "")
        return vb.value

    # -- diagnostics ------------------------------------------------------------

    def log_tail(self, name: str, lines: int = 40) -> str:
        path = self.log_dir / name
        if not path.exists():
            return "(no %s)" % name
        return "\n".join(path.read_text(errors="replace").splitlines()[-lines:])

    def describe(self) -> str:
        """Logs of the board, for a failed test's report."""
        parts = ["board %s (holder pid %s)" % (self.root, self.holder_pid)]
        if self.agent is not None:
            parts.append("agent returncode: %s" % self.agent.returncode)
            parts.append(self.agent_output())
        parts.append("--- snmpd.log ---\n" + self.log_tail("snmpd.log"))
        for name in self.trapds:
            parts.append("--- snmptrapd-%s.log ---\n%s" % (name, self.log_tail("snmptrapd-%s.log" % name)))
        return "\n".join(parts)


@atexit.register
def _close_live_boards():
    for b in list(_live_boards):
        b.close()


# ---------------------------------------------------------------------------
# The holder: PID 1 of a board, run by unshare inside the new namespaces.


def _holder_make_dirs(paths: Sequence[str], layer: Optional[str], run) -> None:
    """Creates directories the host does not have (mount points for the
    board's own directories) in the board's mount namespace only: the nearest
    directory that exists becomes an overlay whose upper layer is a tmpfs of
    the board, so the host's tree stays as it is. Mounts below that
    directory (a container's /etc/hosts ...) are bound back on top."""
    for index, path in enumerate(paths):
        top = os.path.dirname(path)
        while not os.path.isdir(top):
            top = os.path.dirname(top)
        if top == "/":
            raise BoardError("no directory to put %s into" % path)
        scratch = os.path.join(layer, str(index))
        os.mkdir(scratch)
        run("mount", "-t", "tmpfs", "-o", "mode=755", "vlm-layer", scratch)
        for d in ("upper", "work", "orig"):
            os.mkdir(os.path.join(scratch, d))
        below = sorted(m for m in _mountpoints(os.getpid()) if m.startswith(top + "/"))
        below = [m for m in below if not any(m.startswith(o + "/") for o in below)]
        if below:
            run("mount", "--rbind", top, os.path.join(scratch, "orig"))
        run("mount", "-t", "overlay", "vlm-overlay", "-o", "lowerdir=%s,upperdir=%s,workdir=%s" % (
            top, os.path.join(scratch, "upper"), os.path.join(scratch, "work")), top)
        for m in below:
            run("mount", "--rbind", os.path.join(scratch, "orig", os.path.relpath(m, top)), m)
        os.makedirs(path, exist_ok=True)


def _holder_main(layout_json: str) -> int:
    layout = json.loads(layout_json)

    def run(*argv):
        subprocess.run(argv, check=True, stdin=subprocess.DEVNULL)

    try:
        # A private /dev: the board's programs cannot touch the host's nodes,
        # and POSIX shared memory (/dev/shm) stays inside too.
        run("mount", "-t", "tmpfs", "-o", "mode=755,nosuid,noexec", "vlm-dev", "/dev")
        for name, major, minor in (("null", 1, 3), ("zero", 1, 5), ("full", 1, 7),
                                   ("random", 1, 8), ("urandom", 1, 9), ("tty", 5, 0)):
            os.mknod("/dev/" + name, 0o666 | stat.S_IFCHR, os.makedev(major, minor))
            os.chmod("/dev/" + name, 0o666)
        for name, target in (("fd", "/proc/self/fd"), ("stdin", "/proc/self/fd/0"),
                             ("stdout", "/proc/self/fd/1"), ("stderr", "/proc/self/fd/2")):
            os.symlink(target, "/dev/" + name)
        os.mkdir("/dev/shm")
        run("mount", "-t", "tmpfs", "-o", "mode=1777,nosuid,nodev", "vlm-shm", "/dev/shm")
        # A private /run: the agent's lock (one agent per board) is the board's.
        run("mount", "-t", "tmpfs", "-o", "mode=755,nosuid,nodev", "vlm-run", "/run")
        _holder_make_dirs(layout.get("make_dirs", []), layout.get("layer"), run)
        for source, target, *how in layout["binds"]:
            run("mount", "--rbind" if how == ["rbind"] else "--bind", source, target)
        run("ip", "link", "set", "lo", "up")
    except Exception as e:  # reported to the creator, which closes the board
        sys.stderr.write("holder setup failed: %s\n" % e)
        return 1

    def reap(_signo, _frame):
        while True:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return

    signal.signal(signal.SIGCHLD, reap)
    os.write(1, b"ready\n")
    # Lives as long as its creator keeps the pipe open.
    while os.read(0, 4096):
        pass
    return 0


# ---------------------------------------------------------------------------
# Boards by name. A board that other processes reach (the demo's) has a
# state directory BOARDS_DIR/NAME holding
#   lock        locked (flock) by the process that runs the board, for as
#               long as it runs it: the name is taken while the lock is held
#   board.json  the holder's pid, the sandbox directory and the environment
#               of programs inside, written once the board serves
#   dev, log    links to the board's device files (vlmpsustatus ...) and logs
# A board runs while its holder does. A directory whose lock is free and
# whose holder is gone is what a killed board left behind: whoever finds it
# removes it.

BOARD_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9_-]{0,31}$")
STATE_FILE = "board.json"


def _state_info(directory: Path) -> Optional[dict]:
    """The board.json of a state directory while its holder runs, else None."""
    try:
        info = json.loads((directory / STATE_FILE).read_text())
        if _holder_alive(info["holder_pid"], info["root"]):
            return info
    except (OSError, ValueError, KeyError, TypeError):
        pass
    return None


def _lock_state(directory: Path) -> Optional[int]:
    """Locks the lock file of a state directory; returns its descriptor, or
    None while another process holds it. FileNotFoundError when the
    directory is gone or was replaced meanwhile."""
    fd = os.open(directory / "lock", os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o644)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        os.close(fd)
        return None
    try:
        here, mine = os.stat(directory / "lock"), os.fstat(fd)
        if (here.st_dev, here.st_ino) != (mine.st_dev, mine.st_ino):
            raise FileNotFoundError(str(directory / "lock"))
    except OSError:
        os.close(fd)
        raise
    return fd


def running_boards() -> Dict[str, dict]:
    """The boards that run now, by name: their board.json. The state of a
    board whose holder is gone is removed on the way."""
    found: Dict[str, dict] = {}
    try:
        entries = sorted(BOARDS_DIR.iterdir())
    except FileNotFoundError:
        return found
    for directory in entries:
        if not BOARD_NAME.match(directory.name) or directory.is_symlink() or not directory.is_dir():
            continue
        info = _state_info(directory)
        if info is not None:
            found[directory.name] = info
            continue
        try:
            fd = _lock_state(directory)
        except OSError:
            continue
        if fd is None:
            continue   # its board is being brought up or taken down
        stale = None
        try:
            # Moved out of the way first: a process taking the name meanwhile
            # makes a directory of its own.
            stale = Path(tempfile.mkdtemp(prefix=".stale-", dir=BOARDS_DIR))
            os.rename(directory, stale / directory.name)
        except OSError:
            pass
        finally:
            os.close(fd)
        if stale is not None:
            shutil.rmtree(stale, ignore_errors=True)
    return found


class BoardState:
    """The name and state directory of a board this process runs:

        with BoardState.claim() as state:   # board1, or the next free name
            ... board.start() ...
            state.publish(board)
    """

    def __init__(self, name: str, fd: int):
        self.name = name
        self.directory = BOARDS_DIR / name
        self._fd: Optional[int] = fd

    @classmethod
    def claim(cls, name: Optional[str] = None) -> "BoardState":
        """Takes `name`, or without one the first free of board1, board2 ...;
        BoardError when `name` is taken."""
        if name is not None and not BOARD_NAME.match(name):
            raise BoardError("Unusable board name %r: letters, digits, '-' and '_', at most 32." % name)
        BOARDS_DIR.mkdir(parents=True, exist_ok=True)
        if name is not None:
            state = cls._take(name)
            if state is None:
                raise BoardError("A board named %s is already running." % name)
            return state
        n = 1
        while True:
            state = cls._take("board%d" % n)
            if state is not None:
                return state
            n += 1

    @classmethod
    def _take(cls, name: str) -> Optional["BoardState"]:
        directory = BOARDS_DIR / name
        for _ in range(20):
            try:
                directory.mkdir(exist_ok=True)
                fd = _lock_state(directory)
            except FileNotFoundError:
                continue   # swept away meanwhile
            if fd is None:
                return None
            if _state_info(directory) is not None:
                os.close(fd)   # a live holder: its board is not ours to take over
                return None
            for entry in directory.iterdir():   # what a killed board left
                if entry.name != "lock":
                    if entry.is_dir() and not entry.is_symlink():
                        shutil.rmtree(entry, ignore_errors=True)
                    else:
                        entry.unlink(missing_ok=True)
            return cls(name, fd)
        raise BoardError("Cannot take the board name %s: its directory keeps changing." % name)

    def publish(self, board: "Board"):
        """Makes `board` reachable by this name (once it serves)."""
        for link, target in (("dev", board.dev_dir), ("log", board.log_dir)):
            path = self.directory / link
            path.unlink(missing_ok=True)
            path.symlink_to(target)
        _replace_file(self.directory / STATE_FILE, json.dumps({
            "name": self.name, "holder_pid": board.holder_pid, "root": str(board.root),
            "env": board.env(), "pid": os.getpid()}), 0o644)

    def release(self):
        """Gives the name up (before the board is closed). Safe to call twice."""
        if self._fd is None:
            return
        shutil.rmtree(self.directory, ignore_errors=True)
        os.close(self._fd)
        self._fd = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()


def find_board(name: Optional[str] = None) -> dict:
    """The board.json of the running board called `name`, or of the only
    one running; BoardError saying which run otherwise."""
    boards = running_boards()
    if name is not None:
        if name in boards:
            return boards[name]
        raise BoardError("No board named %s is running (%s)." % (
            name, "running: " + ", ".join(boards) if boards else "none is"))
    if len(boards) == 1:
        return next(iter(boards.values()))
    if not boards:
        raise BoardError("No simulated board is running (start one with: make demo).")
    raise BoardError("%d boards are running (%s): name one with --board NAME." % (len(boards), ", ".join(boards)))


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


if __name__ == "__main__":
    sys.exit(main(sys.argv))
