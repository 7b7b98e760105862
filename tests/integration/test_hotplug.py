# SPDX-License-Identifier: BSD-3-Clause
"""USB hot-plug detection: the start-up inventory of "lsusb -v", the watcher
of the kernel's uevents and the hardware-detect group
(1.3.6.1.4.1.42424.200.3.6: notification switch, table limit, row count and
the event table .6.4) with its notification (.200.10.0.5).

The board's lsusb prints the blocks of tests/fixtures/lsusb; a test changes
that list and then broadcasts the uevent the kernel would send in the
board's network namespace, where the agent's netlink socket receives it."""

import datetime
import socket
import time
from typing import Dict, List, NamedTuple

import pytest

import simboard
from simboard import ENTERPRISE, SNMP_TRAP_OID, SNMPD_UPTIME, SYSINFO, SnmpError

HWD = ENTERPRISE + ".200.3.6"
TRAP_ENABLE, MAX_ROWS, NUMBER = ("%s.%d.0" % (HWD, i) for i in (1, 2, 3))
TABLE = HWD + ".4"
ENTRY = TABLE + ".1"
NOTIFICATIONS = ENTERPRISE + ".200.10"
HWD_TRAP = 5

USB_GUID = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}"
DISK_GUID = "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}"
HID_GUID = "{4D1E55B2-F16F-11CF-88CB-001111000030}"
ADD, REMOVE = 1, 2

# Device instance names of the fixtures: vendor and product ids, the
# manufacturer and product strings (at most 39 characters each) and the
# serial string.
STICK_A = "USB#Vid_0781&Pid_5567#SanDisk Cruzer Blade#4C530001230822115234"
STICK_B = "USB#Vid_0951&Pid_1666#Kingston DataTraveler 3.0#E0D55EA57414F510B8A10CF4"
STICK_C = "USB#Vid_0781&Pid_5567#SanDisk Cruzer Blade#4C530001160315104495"   # stick_a's model
STICK_NOSERIAL = "USB#Vid_090c&Pid_1000#SMI Corporation USB DISK#"
LONG_MAKER = "Longsys Industrial Storage Division Ltd"            # 39 characters
LONG_PRODUCT = "Industrial Wide-Temperature Flash Drive"          # 39 characters
STICK_LONG = "USB#Vid_346d&Pid_5678#%s %s#070B2B3C4D5E6F01" % (LONG_MAKER, LONG_PRODUCT)
KEYBOARD_A = "USB#Vid_046d&Pid_c31c#Logitech USB Keyboard#"
KEYBOARD_B = "USB#Vid_413c&Pid_2113# Dell KB216 Wired Keyboard#"                 # no manufacturer string
MOUSE_A = "USB#Vid_045e&Pid_0040#Microsoft Microsoft 3-Button Mouse with IntelliEy#"  # product cut to 39
COMBO = "USB#Vid_046d&Pid_c52b#Logitech USB Receiver#"

HUBS = ["root_hub_2", "root_hub_3"]


class Row(NamedTuple):
    device_type: int
    guid: str
    name: str
    friendly: str
    event: int


def storage_pair(name, friendly, event=ADD):
    return [Row(1, USB_GUID, name, "USB Mass Storage Device", event), Row(2, DISK_GUID, name, friendly, event)]


def keyboard_pair(name, event=ADD):
    return [Row(1, USB_GUID, name, "USB Composite Device", event), Row(4, HID_GUID, name, "HID Keyboard Device", event)]


def mouse_pair(name, event=ADD):
    return [Row(1, USB_GUID, name, "USB Input Device", event), Row(4, HID_GUID, name, "HID-compliant mouse", event)]


def numbered(rows, first=1):
    return {first + i: row for i, row in enumerate(rows)}


# -- reading the group ---------------------------------------------------------------


class Walk(NamedTuple):
    rows: Dict[int, Row]
    times: Dict[int, bytes]
    order: List[List[int]]     # the row indexes of each column, in walk order


class TornWalk(AssertionError):
    """The table changed while it was walked (a column with other rows)."""


def walk(board) -> Walk:
    columns: Dict[int, Dict[int, object]] = {}
    order: Dict[int, List[int]] = {}
    for vb in board.snmpwalk(TABLE):
        if vb.type in ("noSuchObject", "noSuchInstance", "endOfMibView"):
            continue   # an empty table
        column, index = (int(p) for p in vb.oid.split(".")[-2:])
        value = vb.value.decode() if isinstance(vb.value, bytes) and column in (4, 5, 6) else vb.value
        columns.setdefault(column, {})[index] = value
        order.setdefault(column, []).append(index)
    assert sorted(columns) in ([], list(range(1, 8))), "columns served: %s" % sorted(columns)
    indexes = sorted(columns.get(1, {}))
    for column in columns.values():
        if sorted(column) != indexes:
            raise TornWalk("a column with other rows than the index column: %s" % columns)
    rows = {i: Row(*(columns[c][i] for c in (3, 4, 5, 6, 7))) for i in indexes}
    assert all(columns[1][i] == i for i in indexes)
    return Walk(rows, {i: columns[2][i] for i in indexes}, [order[c] for c in sorted(order)])


def wait_rows(board, expected: Dict[int, Row], timeout=5.0) -> Walk:
    """Polls the table until it holds exactly `expected` (rows by index)."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            got = walk(board)
        except TornWalk:
            if time.monotonic() > deadline:
                raise
            continue
        if got.rows == expected:
            return got
        if time.monotonic() > deadline:
            assert got.rows == expected, "hwdTable after %.1f s" % timeout
        time.sleep(0.05)


def wait_handled(board, runs_before, runs=2, timeout=5.0):
    """Waits until the agent has run lsusb `runs` more times (every handled
    event lists the devices at least twice) and the rows are written."""
    deadline = time.monotonic() + timeout
    while board.lsusb_runs() < runs_before + runs:
        assert time.monotonic() < deadline, "the agent did not run lsusb for the event"
        time.sleep(0.02)
    time.sleep(0.4)


def scalars(board):
    """trapEnable, maxTableRow and number as served, and the two stored."""
    served = [vb.value for vb in board.snmpget(TRAP_ENABLE, MAX_ROWS, NUMBER)]
    stored = [board.config_detail("hardwareDetect", k) for k in ("trapEnable", "maxTableRow")]
    return served, stored


def date_and_time(octets: bytes):
    """(UTC seconds, minutes east of UTC) of an 11-octet DateAndTime."""
    assert len(octets) == 11, octets
    year = octets[0] << 8 | octets[1]
    month, day, hour, minute, second, decis = octets[2:8]
    assert octets[8:9] in (b"+", b"-"), octets
    offset = (octets[9] * 60 + octets[10]) * (1 if octets[8:9] == b"+" else -1)
    local = datetime.datetime(year, month, day, hour, minute, second, decis * 100000,
                              tzinfo=datetime.timezone(datetime.timedelta(minutes=offset)))
    return local.timestamp(), offset


def check_time(octets: bytes, around: float):
    stamp, offset = date_and_time(octets)
    assert abs(stamp - around) < 3, "event time %s, plugged at %s" % (stamp, around)
    assert offset == time.localtime(around).tm_gmtoff // 60


# -- notifications ---------------------------------------------------------------------


def hwd_traps(board, receiver="main"):
    if receiver == "main":
        return [t for t in board.traps(enterprise=NOTIFICATIONS) if t.number == HWD_TRAP]
    return [t for t in board.traps(receiver, enterprise=NOTIFICATIONS)
            if t.enterprise == "%s.0.%d" % (NOTIFICATIONS, HWD_TRAP)]


def wait_traps(board, count, receiver="main", timeout=3.0):
    deadline = time.monotonic() + timeout
    while len(hwd_traps(board, receiver)) < count:
        assert time.monotonic() < deadline, "%d of %d notifications at %s" % (
            len(hwd_traps(board, receiver)), count, receiver)
        time.sleep(0.02)
    return hwd_traps(board, receiver)


def trap_objects(row: Row):
    """The three objects a row's notification carries, in order: column OIDs
    without index; the friendly name cut to 40 characters."""
    return [(ENTRY + ".3", "INTEGER", row.device_type), (ENTRY + ".7", "INTEGER", row.event),
            (ENTRY + ".6", "OCTET STRING", row.friendly[:40].encode())]


def check_v1(trap, row: Row):
    """As the master forwards it to its trapsink (SNMPv1: snmpTrapOID.0
    becomes the enterprise and the trap number)."""
    assert (trap.version, trap.generic, trap.number, trap.enterprise) == ("v1", 6, HWD_TRAP, NOTIFICATIONS)
    assert [(vb.oid, vb.type, vb.value) for vb in trap.varbinds] == trap_objects(row)


def check_v2(trap, row: Row):
    """As the master forwards it to a trap2sink: sysUpTime.0 (added by the
    agent library), then exactly the four variables of the notification."""
    assert trap.version == "v2"
    assert trap.varbinds[0].oid == SNMPD_UPTIME
    assert [(vb.oid, vb.type, vb.value) for vb in trap.varbinds[1:]] == \
        [(SNMP_TRAP_OID, "OID", "%s.0.%d" % (NOTIFICATIONS, HWD_TRAP))] + trap_objects(row)


# -- boards ----------------------------------------------------------------------------


def start_agent(board):
    """Starts the agent, waits for the group and for the watcher's socket
    (the watcher starts about a second after the agent)."""
    board.start_agent()
    deadline = time.monotonic() + 3
    while board.snmpget(NUMBER)[0].type != "INTEGER":
        assert time.monotonic() < deadline, "the hardware-detect group was not registered within 3 s"
        time.sleep(0.05)
    board.wait_uevent_listener(timeout=5)


@pytest.fixture
def hotplug_board(make_board):
    """hotplug_board(devices, config=None, v2=False): a board whose USB
    devices at start are `devices` (fixture names), with the configuration
    details `config` changed, snmptrapd ("main", and with `v2` a second
    receiver "v2" on 127.0.0.2 fed by a trap2sink line), snmpd and the
    agent running."""
    def make(devices, config=None, v2=False):
        board = make_board(usb_devices=devices)
        if config:
            board.set_config_details(config)
        board.start_trapd()
        if v2:
            board.add_trap2sink("127.0.0.2")
            board.start_trapd("v2", "127.0.0.2:162")
        board.start_snmpd()
        start_agent(board)
        return board
    return make


# -- the board's stand-ins -------------------------------------------------------------


def test_board_lists_usb_devices_like_lsusb_and_broadcasts_uevents(sandbox):
    # Faults (of the board): blocks joined without lsusb's blank line before
    # each, or with one after the last; the error line missing, never ending
    # or on another run; a uevent not reaching a listener of the kernel's
    # group in the board, or not in the kernel's format; runs not counted.
    # Any of these would make the agent's tests pass or fail for the wrong
    # reason.
    board = sandbox
    listing = board.exec(["lsusb", "-v"]).stdout
    assert listing == "\n" + simboard.usb_fixture("root_hub_2") + "\n" + simboard.usb_fixture("root_hub_3")
    assert not listing.endswith("\n\n") and listing.count("\nBus ") == 2
    board.set_usb_devices(["stick_a", "keyboard_a"])
    board.set_lsusb_error(2)
    runs = [board.exec(["sh", "-c", "lsusb -v"]).stdout for _ in range(3)]
    assert [("error" in r) for r in runs] == [True, True, False]
    assert runs[0].replace(simboard.LSUSB_ERROR_LINE + "\n", "") == runs[2]
    assert runs[2].startswith("\nBus 001 Device 003: ID 0781:5567 ") and runs[2].count("\n\nBus ") == 1
    assert board.lsusb_calls() == ["-v"] * 4

    with board.uevent_listener() as listener:
        board.plug("mouse_a")
        header, *fields = listener.recv(4096).split(b"\0")
        assert header.startswith(b"add@/devices/") and header.endswith(b"/mouse0")
        assert fields[:3] == [b"ACTION=add", b"DEVPATH=" + header[4:], b"SUBSYSTEM=input"]
        assert fields[-2].startswith(b"SEQNUM=") and fields[-1] == b""
        sent = board.unplug("stick_a", full=True)
        got = [listener.recv(4096) for _ in sent]
        assert got == sent and sum(b"/scsi_disk/" in m.split(b"\0")[0] for m in got) == 1
        assert all(m.startswith(b"remove@") for m in got)
    assert board.usb_devices() == ["keyboard_a", "mouse_a"]
    # nothing of it reaches the host's own listeners (its udev)
    host = socket.socket(socket.AF_NETLINK, socket.SOCK_RAW, simboard.NETLINK_KOBJECT_UEVENT)
    with host:
        host.bind((0, simboard.UEVENT_GROUP))
        host.settimeout(0.3)
        board.send_uevent("add", "/devices/virtual/misc/vlm-board-check")
        with pytest.raises(socket.timeout):
            while True:
                if b"vlm-board-check" in host.recv(4096):
                    break


# -- arrivals ------------------------------------------------------------------------------


def test_each_stick_plugged_in_gets_its_pair_of_rows_and_notifications(hotplug_board):
    # Faults: a device of the start-up inventory reported as arriving (the
    # inventory missing the last block lsusb lists, which has no blank line
    # after it); the arriving stick taken from the wrong block (the first or
    # last of the kind, or a known stick of the same model told apart only by
    # its serial); the burst of other uevents of a plug-in (usb, scsi, block
    # ...) giving rows; rows out of order, with each other's values, another
    # class GUID, a time without the UTC offset or of the wrong moment;
    # notifications missing, extra, out of row order, without snmpTrapOID.0
    # first or with other objects; a friendly name not cut to 59 characters
    # in the table and 40 in the notification.
    board = hotplug_board(HUBS + ["stick_a"], v2=True)
    assert walk(board).rows == {} and board.get_value(NUMBER) == 0
    expected: Dict[int, Row] = {}
    plugged = []
    for name, at, pair in [
        ("stick_b", None, storage_pair(STICK_B, "Kingston DataTraveler 3.0")),   # after stick_a
        ("stick_c", None, storage_pair(STICK_C, "SanDisk Cruzer Blade")),        # two known: a, b
        ("stick_long", 0, storage_pair(STICK_LONG, (LONG_MAKER + " " + LONG_PRODUCT)[:59])),
    ]:
        plugged_at = time.time()
        board.plug(name, full=True, at=at)
        expected.update(numbered(pair, len(expected) + 1))
        got = wait_rows(board, expected)
        first, second = len(expected) - 1, len(expected)
        assert got.times[first] == got.times[second]
        check_time(got.times[second], plugged_at)
        plugged.append(pair)
    assert board.get_value(NUMBER) == 6

    rows = [row for pair in plugged for row in pair]
    main, v2 = wait_traps(board, 6), wait_traps(board, 6, "v2")
    for trap, row in zip(main, rows):
        check_v1(trap, row)
    for trap, row in zip(v2, rows):
        check_v2(trap, row)
    assert rows[-1].friendly == "Longsys Industrial Storage Division Ltd Industrial Wide-Tem"
    assert v2[-1].value(ENTRY + ".6") == b"Longsys Industrial Storage Division Ltd "
    time.sleep(0.3)
    assert len(hwd_traps(board)) == 6 and len(hwd_traps(board, "v2")) == 6


def test_keyboard_mouse_and_composite_receiver_arrivals(hotplug_board):
    # Faults: the kind mixed up (a keyboard's pair for a mouse event, the
    # storage friendly names); a known keyboard reported instead of the new
    # one; a missing manufacturer string or a product string longer than 39
    # characters breaking the name; the composite receiver not reported for
    # a mouse event, or not for a keyboard event although the inventory
    # and the watcher know it only as a mouse.
    board = hotplug_board(HUBS + ["keyboard_a"])
    board.plug("keyboard_b", full=True)
    expected = numbered(keyboard_pair(KEYBOARD_B))
    wait_rows(board, expected)
    board.plug("mouse_a", full=True, at=0)
    expected.update(numbered(mouse_pair(MOUSE_A), 3))
    wait_rows(board, expected)
    board.plug("combo", kind="mouse")
    expected.update(numbered(mouse_pair(COMBO), 5))
    wait_rows(board, expected)
    # the receiver's keyboard also announces itself (its Caps Lock LED)
    board.usb_event("add", "combo", kind="keyboard")
    expected.update(numbered(keyboard_pair(COMBO), 7))
    wait_rows(board, expected)

    traps = wait_traps(board, 8)
    for trap, row in zip(traps, [expected[i] for i in range(1, 9)]):
        check_v1(trap, row)


# -- removals ---------------------------------------------------------------------------------


def test_one_removal_event_reports_every_device_of_its_kind_that_is_gone(hotplug_board):
    # Faults: only one of two keyboards unplugged together reported; a
    # device of another kind (the mouse, also gone) reported for a keyboard
    # event; a reported device kept in the known list, so that the next
    # removal event reports it again; a present device reported as gone;
    # removal pairs without device type 1 first, with the arrival code, or
    # a stick's second row without its own friendly name.
    board = hotplug_board(HUBS + ["keyboard_a", "stick_a", "keyboard_b", "mouse_a"])
    board.set_usb_devices(HUBS + ["stick_a"])      # both keyboards and the mouse pulled out
    board.usb_event("remove", "keyboard_a")
    # the known list runs from the newest device: keyboard_b was listed later
    expected = numbered(keyboard_pair(KEYBOARD_B, REMOVE) + keyboard_pair(KEYBOARD_A, REMOVE))
    wait_rows(board, expected)

    runs = board.lsusb_runs()
    board.usb_event("remove", "keyboard_b")
    wait_handled(board, runs)
    assert walk(board).rows == expected

    board.usb_event("remove", "mouse_a", full=True)
    expected.update(numbered(mouse_pair(MOUSE_A, REMOVE), 5))
    wait_rows(board, expected)
    board.unplug("stick_a")
    expected.update(numbered(storage_pair(STICK_A, "SanDisk Cruzer Blade", REMOVE), 7))
    wait_rows(board, expected)
    # a stick plugged in again is an arrival again
    board.plug("stick_a")
    expected.update(numbered(storage_pair(STICK_A, "SanDisk Cruzer Blade"), 9))
    wait_rows(board, expected)
    traps = wait_traps(board, 10)
    for trap, row in zip(traps, [expected[i] for i in range(1, 11)]):
        check_v1(trap, row)


# -- what the watcher leaves alone and waits for ------------------------------------------------


def test_uevents_of_other_devices_and_actions_are_ignored(hotplug_board):
    # Faults: lsusb run (and a row written, or a device taken for gone) for
    # a uevent that names none of the three kinds, or for a watched device's
    # bind, unbind, change, move or online; a short message upsetting the
    # watcher.
    board = hotplug_board(HUBS + ["keyboard_a", "stick_a"])
    runs = board.lsusb_runs()
    board.plug("stick_b")
    wait_rows(board, numbered(storage_pair(STICK_B, "Kingston DataTraveler 3.0")))
    per_event = board.lsusb_runs() - runs
    assert per_event >= 2

    board.set_usb_devices(HUBS + ["stick_b"])       # a removal would find stick_a and keyboard_a gone
    runs = board.lsusb_runs()
    usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0"
    disk = usb + "/host2/target2:0:0/2:0:0:0/scsi_disk/2:0:0:0"
    leds = usb + "/0003:046D:C31C.0001/input/input5/input5::capslock"
    mouse = usb + "/0003:045E:0040.0002/input/input6/mouse0"
    for action, devpath in [
        ("add", "/devices/pci0000:00/0000:00:1c.0/0000:02:00.0/net/eth1"),
        ("remove", "/devices/pci0000:00/0000:00:1c.0/0000:02:00.0/net/eth1"),
        ("add", "/devices/virtual/block/loop3"),
        ("remove", usb + "/host2/target2:0:0/2:0:0:0/block/sdb"),
        ("bind", disk), ("unbind", disk), ("change", disk), ("online", disk), ("offline", disk),
        ("change", leds), ("move", mouse), ("bind", mouse),
    ]:
        board.send_uevent(action, devpath)
    board.send_uevent_raw(b"r")      # shorter than any header
    # A real event after them: once it is handled, so are they (in order).
    board.plug("stick_c")
    wait_rows(board, numbered(storage_pair(STICK_B, "Kingston DataTraveler 3.0") +
                              storage_pair(STICK_C, "SanDisk Cruzer Blade")))
    assert board.lsusb_runs() - runs == per_event


def test_arrival_waits_for_a_settled_device_list_but_not_forever(hotplug_board):
    # Faults: the device list read while lsusb still reports a device that
    # does not answer (the new stick missed or an error line taken in), the
    # wait never ending for a device that never answers (the watcher frozen
    # for good), or the event dropped after the waiting.
    board = hotplug_board(HUBS + ["stick_a"])
    runs = board.lsusb_runs()
    board.set_lsusb_error(3)
    board.plug("stick_b")
    expected = numbered(storage_pair(STICK_B, "Kingston DataTraveler 3.0"))
    wait_rows(board, expected)
    assert board.lsusb_errors_pending() == 0
    assert board.lsusb_runs() - runs >= 5     # three with the error, one without, one read

    # A device that never stops failing: the agent waits (about ten seconds)
    # and then goes on with the last listing it got.
    board.set_lsusb_error(10000)
    started = time.monotonic()
    board.plug("stick_c")
    expected.update(numbered(storage_pair(STICK_C, "SanDisk Cruzer Blade"), 3))
    wait_rows(board, expected, timeout=25)
    assert time.monotonic() - started > 5
    board.set_lsusb_error(0)
    board.unplug("stick_b")
    expected.update(numbered(storage_pair(STICK_B, "Kingston DataTraveler 3.0", REMOVE), 5))
    wait_rows(board, expected)


def test_a_hung_lsusb_does_not_stop_the_agent(hotplug_board):
    # Faults: lsusb run with the group's semaphore held (requests for the
    # scalars or the table wait for it and the master gives up on the
    # agent), or on the main thread; a hung lsusb never killed, so that no
    # later event is ever handled.
    board = hotplug_board(HUBS + ["stick_a"])
    board.plug("stick_b")
    expected = numbered(storage_pair(STICK_B, "Kingston DataTraveler 3.0"))
    wait_rows(board, expected)

    board.set_lsusb_hang()
    board.plug("stick_c")
    deadline = time.monotonic() + 3
    while not board.lsusb_hanging():
        assert time.monotonic() < deadline, "the agent did not run lsusb"
        time.sleep(0.02)
    with board.client(timeout=1.0) as c:
        for _ in range(3):
            started = time.monotonic()
            resp = c.get(SYSINFO + ".1.0", TRAP_ENABLE, MAX_ROWS, NUMBER, ENTRY + ".5.1")   # SnmpTimeout after 1 s
            assert time.monotonic() - started < 1.0
            assert [vb.value for vb in resp.varbinds][1:] == [1, 100, 2, STICK_B.encode()]
            time.sleep(0.2)
    board.set_lsusb_hang(False)
    # The hung run is killed at its time limit; the listing after it works.
    expected.update(numbered(storage_pair(STICK_C, "SanDisk Cruzer Blade"), 3))
    wait_rows(board, expected, timeout=10)
    board.plug("keyboard_a")
    expected.update(numbered(keyboard_pair(KEYBOARD_A), 5))
    wait_rows(board, expected)


# -- switch, limit and numbering -------------------------------------------------------------


def test_with_notifications_off_rows_are_recorded_and_nothing_is_sent(hotplug_board):
    # Faults: the switch not stored, stored under another key or group, or
    # not loaded at start; notifications sent while it is 2, or not sent
    # again once it is back to 1.
    board = hotplug_board(HUBS)
    board.snmpset((TRAP_ENABLE, "i", "2"))
    assert scalars(board) == ([2, 100, 0], ["2", "100"])
    board.plug("stick_a")
    expected = numbered(storage_pair(STICK_A, "SanDisk Cruzer Blade"))
    wait_rows(board, expected)
    board.stop_agent()
    start_agent(board)
    assert scalars(board) == ([2, 100, 0], ["2", "100"])
    board.plug("keyboard_a")
    expected = numbered(keyboard_pair(KEYBOARD_A))    # the table starts empty again
    wait_rows(board, expected)
    time.sleep(0.5)
    assert hwd_traps(board) == []

    board.snmpset((TRAP_ENABLE, "i", "1"))
    board.plug("mouse_a")
    expected.update(numbered(mouse_pair(MOUSE_A), 3))
    wait_rows(board, expected)
    traps = wait_traps(board, 2)
    for trap, row in zip(traps, [expected[3], expected[4]]):
        check_v1(trap, row)
    assert board.config_detail("hardwareDetect", "trapEnable") == "1"


def test_row_numbering_follows_the_table_limit(hotplug_board):
    # Faults: the limit not applied, or a new pair not replacing the rows of
    # its indexes (two rows with one index, a third row); number growing
    # past the limit; the limit lost across a restart; a walk in the order
    # of the rows' age instead of their indexes once the table has cycled;
    # a row index that was never written served.
    board = hotplug_board(HUBS)
    board.snmpset((MAX_ROWS, "i", "2"))
    board.plug("stick_a")
    wait_rows(board, numbered(storage_pair(STICK_A, "SanDisk Cruzer Blade")))
    board.plug("stick_b")
    wait_rows(board, numbered(storage_pair(STICK_B, "Kingston DataTraveler 3.0")))
    board.plug("keyboard_a")
    wait_rows(board, numbered(keyboard_pair(KEYBOARD_A)))
    assert scalars(board) == ([1, 2, 2], ["1", "2"])
    assert len(wait_traps(board, 6)) == 6

    board.snmpset((MAX_ROWS, "i", "3"))
    board.stop_agent()
    start_agent(board)       # number and the table start over
    assert scalars(board) == ([1, 3, 0], ["1", "3"])
    board.plug("stick_noserial")
    board.plug("stick_c")
    # rows 1, 2, 3, then the table has filled: the fourth row takes index 1
    got = wait_rows(board, {1: storage_pair(STICK_C, "SanDisk Cruzer Blade")[1],
                            2: storage_pair(STICK_NOSERIAL, "SMI Corporation USB DISK")[1],
                            3: storage_pair(STICK_C, "SanDisk Cruzer Blade")[0]})
    assert got.order == [[1, 2, 3]] * 7
    assert date_and_time(got.times[1])[0] >= date_and_time(got.times[2])[0]
    assert board.get_value(NUMBER) == 3
    assert [vb.type for vb in board.snmpget(ENTRY + ".5.4", ENTRY + ".8.1")] == ["noSuchInstance", "noSuchObject"]


def test_refused_sets_change_nothing(hotplug_board):
    # Faults: a limit below 1 or a switch other than 1 or 2 accepted; a value
    # of the wrong type accepted or answered with another error; number or
    # a table column answering a SET with success (a failure reported as
    # success) or changing; a refused SET touching the file.
    board = hotplug_board(HUBS)
    board.plug("stick_a")
    expected = numbered(storage_pair(STICK_A, "SanDisk Cruzer Blade"))
    wait_rows(board, expected)
    before = scalars(board)
    assert before == ([1, 100, 2], ["1", "100"])
    config = board.read_config()
    for varbinds, reason in [
        ([(MAX_ROWS, "i", "0")], "wrongValue"),
        ([(MAX_ROWS, "i", "-1")], "wrongValue"),
        ([(MAX_ROWS, "i", "-2147483648")], "wrongValue"),
        ([(TRAP_ENABLE, "i", "3")], "wrongValue"),
        ([(TRAP_ENABLE, "i", "0")], "wrongValue"),
        ([(MAX_ROWS, "s", "5")], "wrongType"),
        ([(TRAP_ENABLE, "s", "1")], "wrongType"),
        ([(TRAP_ENABLE, "u", "1")], "wrongType"),
        ([(NUMBER, "i", "5")], "notWritable"),
        ([(ENTRY + ".7.1", "i", "2")], "notWritable"),
        ([(ENTRY + ".6.2", "s", "renamed")], "notWritable"),
        ([(ENTRY + ".3.1", "i", "1")], "notWritable"),
    ]:
        with pytest.raises(SnmpError) as err:
            board.snmpset(*varbinds)
        assert (varbinds, err.value.reason) == (varbinds, reason)
    assert scalars(board) == before
    assert board.read_config() == config
    assert walk(board).rows == expected

    board.snmpset((MAX_ROWS, "i", "2147483647"), (TRAP_ENABLE, "i", "2"))
    assert scalars(board) == ([2, 2147483647, 2], ["2", "2147483647"])
    board.snmpset((MAX_ROWS, "i", "1"))
    assert scalars(board) == ([2, 1, 2], ["2", "1"])
