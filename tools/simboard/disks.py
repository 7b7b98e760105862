# SPDX-License-Identifier: BSD-3-Clause
"""Hard disks: stand-ins for smartctl and fdisk that serve captured smartctl
outputs, and the repository's vlm_smartctl over them."""

import shutil
from pathlib import Path
from typing import Dict, List, Optional, Sequence, Tuple, Union

from .common import REPO, BoardError, _replace_file

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


class DisksMixin:
    """Board methods for the hard disks."""

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
