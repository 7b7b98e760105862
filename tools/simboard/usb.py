# SPDX-License-Identifier: BSD-3-Clause
"""USB devices: a stand-in lsusb that lists the attached devices, and the
kernel's uevents when one is plugged or pulled."""

import json
import os
import socket
import time
from pathlib import Path
from typing import Dict, List, Optional, Sequence, Tuple

from .common import REPO, BoardError, _replace_file
from .sandbox import netns_socket

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


class UsbMixin:
    """Board methods for USB devices and uevents."""

    # -- USB devices: a stand-in lsusb and kernel uevents ------------------------
    #
    # The agent learns of a USB device coming or going from the kernel's
    # uevent broadcast, then runs "lsusb -v" (found on PATH) to find out
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
