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

Used by the integration tests (import simboard), `make demo`
(`tools/simboard.py demo`) and the benchmark. A demo board has a name
(board1, board2 ..., or `demo --name NAME`) through which other processes
reach it (see BoardState): `simboard.py exec CMD...` runs a command inside
it, `plug DEVICE` / `unplug DEVICE` attaches a USB device to it or takes one
away (the board's lsusb and a kernel uevent), `traps` prints the
notifications its manager received by name; each takes `--board NAME`, by
default the only board running.

The package, one module per part; Board is made of one mixin per kind of
device, and everything below is importable from the package itself:
  board      Board: its life from start() to close(), and the agent on it
  sandbox    namespaces, processes inside the board, the holder
  names      boards by name: their state directories under /run/vlm-simboard
  standins   stand-in files, directories and commands, which the parts below use
  procfiles  /proc/meminfo, /proc/stat, cpufreq, /proc/vlmwdtinfo, /etc/issue
  storage    df and the mounted file systems (disks, NVRAM)
  disks      smartctl, fdisk and vlm_smartctl
  usb        lsusb, plugging and pulling devices, uevents
  wireless   nmcli, modem-cmd, NetworkManager connection files
  hwmon      the hardware-monitor chip in /sys/class/hwmon (libsensors)
  devices    the shim's /dev/vmspname and /dev/vlmpsustatus
  snmp       snmpd, snmptrapd, the Net-SNMP tools, notifications read back
  common     paths, the agent's configuration file, BoardError
  cli        the command line of tools/simboard.py
"""

import sys
from pathlib import Path

# snmpclient, the raw SNMP client, sits beside the package in tools/.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import snmpclient  # noqa: E402

from .board import Board  # noqa: E402
from .cli import USAGE, main  # noqa: E402
from .common import (AGENT_APP_NAME, CONFIG_NAME, FACTORY, FACTORY_CONFIG, REPO, SCRIPT, USAGE_TEXT,  # noqa: E402
                     BoardError, config_detail, config_with, factory_config)
from .devices import DEFAULT_PRODUCT_NAME, DEFAULT_PSU_INPUTS  # noqa: E402
from .disks import (DEFAULT_DISKS, DEFAULT_PARTITIONS, SMARTCTL_BANNER, SMARTCTL_FIXTURES,  # noqa: E402
                    SMARTCTL_MODES, UNKNOWN_DISK_BYTES, UNKNOWN_DISK_MODEL, VLM_SMARTCTL, fdisk_disk_text,
                    fdisk_text, plain_device_node, smart_disk_bytes, smart_disk_model, smart_disk_title,
                    smartctl_fixture, smartctl_fixture_names, smartctl_scan_line)
from .hwmon import DEFAULT_SENSORS, HWMON_CHIP, HWMON_KINDS, Sensor  # noqa: E402
from .names import BOARD_NAME, BOARDS_DIR, STATE_FILE, BoardState, find_board, running_boards  # noqa: E402
from .procfiles import (DEFAULT_CPUFREQ, DEFAULT_ISSUE, DEFAULT_LSB_RELEASE, DEFAULT_MEMINFO,  # noqa: E402
                        DEFAULT_PROC_STAT, DEFAULT_WDTINFO, meminfo_text, proc_stat_text, wdtinfo_text)
from .sandbox import BOARD_PREFIX, BoardProcess, _sanitizer_runtimes, netns_socket  # noqa: E402
from .snmp import (ENTERPRISE, GROUP_ENTRY, GROUP_NAMES, GROUP_NOTIFICATION, GROUP_STATUS,  # noqa: E402
                   MIB_DIRS, MIB_MODULE, NAMED_TRAP_LINE, NAMED_TRAPD_LOG, NAMED_TRAPD_PORT, SNMP_TRAP_OID,
                   SNMPD_SYSDESCR, SNMPD_UPTIME, SYSINFO, WITH_MIB, NamedTrap, NamedTrapPrinter, SnmpError,
                   Trap, format_named_trap, named_notifications, parse_named_trap_line, parse_trap_line,
                   parse_value, parse_varbind)
from .storage import DEFAULT_FILESYSTEMS, FileSystem, df_text, filesystems_with_use  # noqa: E402
from .usb import (DEFAULT_USB_DEVICES, FIRST_UEVENT_SEQNUM, LSUSB_ERROR_LINE, LSUSB_FIXTURES,  # noqa: E402
                  NETLINK_KOBJECT_UEVENT, UEVENT_GROUP, lsusb_text, lsusb_text_with_error, uevent_message,
                  uevent_sockets, usb_fixture, usb_fixture_names, usb_kind, usb_uevents)
from .wireless import (DEFAULT_NMCLI, NM_CONNECTIONS, NMCLI_COMMANDS, NMCLI_FIXTURES,  # noqa: E402
                       modem_answer_key, nm_connection_text, nmcli_fixture)

# What the tests, the benchmark and the command line use as simboard.NAME.
__all__ = ["AGENT_APP_NAME", "BOARDS_DIR", "BOARD_NAME", "BOARD_PREFIX", "Board", "BoardError", "BoardProcess",
           "BoardState", "CONFIG_NAME", "DEFAULT_CPUFREQ", "DEFAULT_DISKS", "DEFAULT_FILESYSTEMS", "DEFAULT_ISSUE",
           "DEFAULT_LSB_RELEASE", "DEFAULT_MEMINFO", "DEFAULT_NMCLI", "DEFAULT_PARTITIONS", "DEFAULT_PROC_STAT",
           "DEFAULT_PRODUCT_NAME", "DEFAULT_PSU_INPUTS", "DEFAULT_SENSORS", "DEFAULT_USB_DEVICES",
           "DEFAULT_WDTINFO", "ENTERPRISE", "FACTORY", "FACTORY_CONFIG", "FIRST_UEVENT_SEQNUM", "FileSystem",
           "filesystems_with_use",
           "GROUP_ENTRY", "GROUP_NAMES", "GROUP_NOTIFICATION", "GROUP_STATUS", "HWMON_CHIP", "HWMON_KINDS",
           "LSUSB_ERROR_LINE", "LSUSB_FIXTURES", "MIB_DIRS", "MIB_MODULE", "NAMED_TRAPD_LOG", "NAMED_TRAPD_PORT",
           "NAMED_TRAP_LINE", "NETLINK_KOBJECT_UEVENT", "NMCLI_COMMANDS", "NMCLI_FIXTURES", "NM_CONNECTIONS",
           "NamedTrap", "NamedTrapPrinter", "REPO", "SCRIPT", "SMARTCTL_BANNER", "SMARTCTL_FIXTURES",
           "SMARTCTL_MODES", "SNMPD_SYSDESCR", "SNMPD_UPTIME", "SNMP_TRAP_OID", "STATE_FILE", "SYSINFO", "Sensor",
           "SnmpError", "Trap", "UEVENT_GROUP", "UNKNOWN_DISK_BYTES", "UNKNOWN_DISK_MODEL", "USAGE", "USAGE_TEXT",
           "VLM_SMARTCTL", "WITH_MIB", "_sanitizer_runtimes", "config_detail", "config_with", "df_text",
           "factory_config", "fdisk_disk_text", "fdisk_text", "find_board", "format_named_trap", "lsusb_text",
           "lsusb_text_with_error", "main", "meminfo_text", "modem_answer_key", "named_notifications",
           "netns_socket", "nm_connection_text", "nmcli_fixture", "parse_named_trap_line", "parse_trap_line",
           "parse_value", "parse_varbind", "plain_device_node", "proc_stat_text", "running_boards",
           "smart_disk_bytes", "smart_disk_model", "smart_disk_title", "smartctl_fixture", "smartctl_fixture_names",
           "smartctl_scan_line", "snmpclient", "uevent_message", "uevent_sockets", "usb_fixture",
           "usb_fixture_names", "usb_kind", "usb_uevents", "wdtinfo_text"]
