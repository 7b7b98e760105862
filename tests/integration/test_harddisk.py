# SPDX-License-Identifier: BSD-3-Clause
"""The hard disk group (1.3.6.1.4.1.42424.200.3.1: the disk count .1.0, the
disk table .2 and the SMART attribute table .3 with two indexes, disk and
attribute row), filled about 1 s after the start and then every 120 s from
the board's /usr/local/sbin/vlm_smartctl (the repository's script) over its
stand-in smartctl, which serves the captures of tests/fixtures/smartctl,
and from its stand-in "fdisk -l"."""

import os
import re
import time
from typing import Dict, List, NamedTuple, Tuple

import pytest

import simboard
from simboard import ENTERPRISE, SYSINFO, SnmpError

HDD = ENTERPRISE + ".200.3.1"
COUNT = HDD + ".1.0"
HD_TABLE = HDD + ".2"
HD_ENTRY = HD_TABLE + ".1"
SMART_TABLE = HDD + ".3"
SMART_ENTRY = SMART_TABLE + ".1"

HD_TYPES = ["INTEGER"] + ["OCTET STRING"] * 4 + ["INTEGER"] * 2
SMART_TYPES = ["INTEGER"] * 2 + ["OCTET STRING"] + ["INTEGER"] * 3 + ["OCTET STRING"]
EXCEPTIONS = ("noSuchObject", "noSuchInstance", "endOfMibView")

FIRST_REFRESH = 1.0      # seconds after the start
PERIOD = 120.0           # seconds between refreshes
FDISK_LIMIT = 10.0       # seconds an fdisk run may take


class Disk(NamedTuple):
    family: bytes
    model: bytes
    firmware: bytes
    serial: bytes
    mib: int
    partitions: int


class Attribute(NamedTuple):
    id: int
    name: bytes
    value: int
    worst: int
    threshold: int
    raw: bytes        # 12 upper-case hexadecimal digits


def attr(id_, name, value, worst, threshold, raw):
    return Attribute(id_, name.encode(), value, worst, threshold, b"%012X" % raw)


# The two disks of a default board. /dev/sdb has no "Model Family:" line.
WD = Disk(b"Western Digital Blue", b"WDC WD5000AZLX-00K2TA0", b"18.01A18", b"WD-WCC6Z4HJ7KLD", 476939, 3)
ST = Disk(b"N/A", b"ST1000DM010-2EP102", b"CC43", b"Z9A3KD1B", 953868, 1)

WD_SMART = [
    attr(1, "Raw_Read_Error_Rate", 200, 200, 51, 0),
    attr(3, "Spin_Up_Time", 175, 172, 21, 2233),
    attr(4, "Start_Stop_Count", 99, 99, 0, 1187),
    attr(5, "Reallocated_Sector_Ct", 200, 200, 140, 0),
    attr(7, "Seek_Error_Rate", 200, 200, 0, 0),
    attr(9, "Power_On_Hours", 82, 82, 0, 13458),
    attr(10, "Spin_Retry_Count", 100, 100, 0, 0),
    attr(11, "Calibration_Retry_Count", 100, 100, 0, 0),
    attr(12, "Power_Cycle_Count", 99, 99, 0, 1185),
    attr(16, "Vendor Specific", 100, 100, 0, 26),            # Unknown_Attribute
    attr(192, "Power-Off_Retract_Count", 200, 200, 0, 47),
    attr(193, "Load_Cycle_Count", 200, 200, 0, 1139),
    attr(194, "Temperature_Celsius", 36, 45, 0, 36),         # raw "36 (Min/Max 20/45)"
    attr(196, "Reallocated_Event_Count", 200, 200, 0, 0),
    attr(197, "Current_Pending_Sector", 200, 200, 0, 0),
    attr(198, "Offline_Uncorrectable", 100, 253, 0, 0),
    attr(199, "UDMA_CRC_Error_Count", 200, 200, 0, 0),
    attr(200, "Multi_Zone_Error_Rate", 100, 253, 0, 0),
    attr(241, "Total_LBAs_Written", 200, 200, 0, 123456789012),
]
ST_SMART = [
    attr(1, "Raw_Read_Error_Rate", 83, 64, 6, 118134312),
    attr(3, "Spin_Up_Time", 97, 97, 0, 0),
    attr(4, "Start_Stop_Count", 100, 100, 20, 412),
    attr(5, "Reallocated_Sector_Ct", 100, 100, 10, 0),
    attr(7, "Seek_Error_Rate", 81, 60, 45, 131206634),
    attr(9, "Power_On_Hours", 89, 89, 0, 9842),
    attr(10, "Spin_Retry_Count", 100, 100, 97, 0),
    attr(12, "Power_Cycle_Count", 100, 100, 20, 415),
    attr(183, "Runtime_Bad_Block", 100, 100, 0, 0),
    attr(184, "End-to-End_Error", 100, 100, 99, 0),
    attr(187, "Reported_Uncorrect", 100, 100, 0, 0),
    attr(188, "Command_Timeout", 100, 100, 0, 0),
    attr(189, "High_Fly_Writes", 100, 100, 0, 0),
    attr(190, "Airflow_Temperature_Cel", 66, 35, 40, 34),    # WHEN_FAILED In_the_past
    attr(193, "Load_Cycle_Count", 99, 99, 0, 3318),
    attr(194, "Temperature_Celsius", 34, 45, 0, 34),
    attr(195, "Hardware_ECC_Recovered", 83, 64, 0, 118134312),
    attr(197, "Current_Pending_Sector", 100, 100, 0, 0),
    attr(198, "Offline_Uncorrectable", 100, 100, 0, 0),
    attr(199, "UDMA_CRC_Error_Count", 200, 200, 0, 0),
    attr(240, "Head_Flying_Hours", 100, 253, 0, 9811),
    attr(241, "Total_LBAs_Written", 100, 253, 0, 10518326874),
    attr(242, "Total_LBAs_Read", 100, 253, 0, 76201463225),
]


def smart_rows(*disks: List[Attribute]) -> Dict[Tuple[int, int], Attribute]:
    """{(disk, attribute row): attribute} for disks 1, 2 ... in order; an
    empty list for a disk without attributes."""
    return {(k, r): a for k, attrs in enumerate(disks, 1) for r, a in enumerate(attrs, 1)}


# -- reading the group -------------------------------------------------------------------


class Walk(NamedTuple):
    rows: Dict[tuple, tuple]      # index -> values of columns 2..7
    order: List[tuple]            # (column,) + index of each object, in walk order


def walk(board, root: str, indexes: int, types: List[str]) -> Walk:
    """A table as snmpwalk (GETNEXT after GETNEXT) serves it. Checks each
    object's type, that every column has the same rows and that column 1
    repeats the last index."""
    columns: Dict[int, Dict[tuple, object]] = {}
    order = []
    for vb in board.snmpwalk(root):
        if vb.type in EXCEPTIONS:
            continue   # an empty table
        entry, column, *index = (int(p) for p in vb.oid[len(root) + 1:].split("."))
        assert entry == 1 and len(index) == indexes, vb.oid
        assert vb.type == types[column - 1], "%s is %s" % (vb.oid, vb.type)
        columns.setdefault(column, {})[tuple(index)] = vb.value
        order.append((column,) + tuple(index))
    assert sorted(columns) in ([], list(range(1, 8))), "columns served: %s" % sorted(columns)
    rows = sorted(columns.get(1, {}))
    for column in columns.values():
        assert sorted(column) == rows, "a column with other rows than the first: %s" % columns
    assert all(columns[1][i] == i[-1] for i in rows)
    return Walk({i: tuple(columns[c][i] for c in range(2, 8)) for i in rows}, order)


def disks_served(board) -> Dict[int, Disk]:
    return {i[0]: Disk(*values) for i, values in walk(board, HD_TABLE, 1, HD_TYPES).rows.items()}


def smart_served(board) -> Dict[Tuple[int, int], Attribute]:
    return {i: Attribute(*values) for i, values in walk(board, SMART_TABLE, 2, SMART_TYPES).rows.items()}


def wait_disks(board, count: int, timeout: float = 5.0) -> Dict[int, Disk]:
    """Waits until the disk table has `count` rows (the first refresh,
    about a second after the start, creates them all at once or disk by
    disk) and the SMART rows of the refresh are there too."""
    deadline = time.monotonic() + timeout
    while True:
        disks = disks_served(board)
        if len(disks) >= count:
            time.sleep(0.3)   # the last disk's attribute rows
            return disks_served(board)
        assert time.monotonic() < deadline, "%d of %d disk rows after %.1f s" % (len(disks), count, timeout)
        time.sleep(0.1)


def empty(board) -> bool:
    """True when the count is 0 and both tables have no rows."""
    return board.get_value(COUNT) == 0 and not disks_served(board) and not smart_served(board)


def other_groups_answer_at_once(board):
    """The system information group answers within a second (the refresh
    must not hold the agent's main loop)."""
    with board.client(timeout=1.0) as c:
        started = time.monotonic()
        resp = c.get(SYSINFO + ".1.0")    # SnmpTimeout after 1 s
        assert resp.error_status == 0 and resp.varbinds[0].type == "OCTET STRING"
        assert time.monotonic() - started < 1.0


# -- the board's stand-ins ---------------------------------------------------------------


def test_board_serves_its_disks_through_vlm_smartctl_smartctl_and_fdisk(sandbox):
    # Faults (of the board): another script than the repository's at
    # /usr/local/sbin; a scan or capture not matching the disks; the agent's
    # partition count off (the fdisk header line is counted too); a mode
    # set for one node reaching the others; runs not logged.
    b = sandbox
    assert b.exec(["cat", "/usr/local/sbin/vlm_smartctl"]).stdout == simboard.VLM_SMARTCTL.read_text()
    assert b.exec(["sh", "-c", "/usr/local/sbin/vlm_smartctl --scan |wc -l"]).stdout.strip() == "2"
    scan = b.exec(["/usr/local/sbin/vlm_smartctl", "--scan"]).stdout
    assert scan == (simboard.SMARTCTL_FIXTURES / "scan.txt").read_text()
    for node, name, partitions in (("/dev/sda", "ata_wd", 3), ("/dev/sdb", "ata_nofamily", 1)):
        run = b.exec(["/usr/local/sbin/vlm_smartctl", "-a", node])
        assert (run.returncode, run.stdout) == (0, (simboard.SMARTCTL_FIXTURES / (name + ".expected")).read_text())
        count = b.exec(["sh", "-c", "fdisk -l 2>/dev/null |grep '%s'|wc -l" % node]).stdout
        assert int(count) - 1 == partitions
    run = b.exec(["smartctl", "-a", "/dev/sdz"])
    assert run.returncode == 2 and "Smartctl open device: /dev/sdz failed: No such device" in run.stdout
    assert b.exec(["/usr/local/sbin/vlm_smartctl", "-a", "/dev/sdz"]).stdout == ""

    b.set_disks({"/dev/nvme0": "nvme", "/dev/sda": "ata_wd"})
    b.set_partitions({"/dev/nvme0": 5, "/dev/sda": 0})
    scan = b.exec(["smartctl", "--scan"]).stdout
    assert [line.split()[0] for line in scan.splitlines()] == ["/dev/nvme0", "/dev/sda"]
    fdisk = b.exec(["fdisk", "-l"]).stdout
    assert [line.split()[0] for line in fdisk.splitlines() if line.startswith("/dev/")] == \
        ["/dev/nvme0n1p%d" % n for n in range(1, 6)]
    assert "Disk /dev/sda: 465.76 GiB, 500107862016 bytes, 976773168 sectors" in fdisk

    b.set_smartctl_mode("silent", node="/dev/sda")
    assert b.exec(["/usr/local/sbin/vlm_smartctl", "-a", "/dev/sda"]).stdout == ""
    assert b.exec(["/usr/local/sbin/vlm_smartctl", "-a", "/dev/nvme0"]).stdout.startswith("Device Model:")
    b.set_smartctl_mode("fail")
    run = b.exec(["smartctl", "-a", "/dev/nvme0"])
    assert (run.returncode, run.stdout) == (2, "") and run.stderr
    assert b.exec(["smartctl", "--scan"]).stdout.count("\n") == 2
    b.set_smartctl_mode("ok")
    assert b.exec(["smartctl", "-a", "/dev/sda"]).stdout.startswith("smartctl 7.3")
    assert b.smartctl_calls()[-3:] == ["-a /dev/nvme0", "--scan", "-a /dev/sda"]


# -- the tables --------------------------------------------------------------------------


def test_walk_serves_both_tables_and_the_count_of_two_disks_in_index_order(board):
    # Faults: an identity value read from the wrong offset of its line or
    # from another key; the capacity in other units or rounded up; the
    # fdisk header counted as a partition; "N/A" missing for a disk without
    # "Model Family:"; attribute rows missing, shifted or mixed up between
    # disks; the raw value in lower case, without its padding or cut to 32
    # bits; "Unknown_Attribute" published as is; the SMART rows not ordered
    # by disk, then attribute row (a GETNEXT walk skipping or repeating
    # rows, or not stepping from the last row of disk 1 to disk 2 and from
    # the last row of a column to the next column); a wrong type.
    board.start_agent()
    assert wait_disks(board, 2) == {1: WD, 2: ST}
    assert board.snmpget(COUNT)[0].type == "INTEGER" and board.get_value(COUNT) == 2

    smart = walk(board, SMART_TABLE, 2, SMART_TYPES)
    assert {i: Attribute(*v) for i, v in smart.rows.items()} == smart_rows(WD_SMART, ST_SMART)
    assert smart.order == sorted(smart.order)   # column, then disk, then attribute row
    assert [o[1:] for o in smart.order if o[0] == 2] == list(smart_rows(WD_SMART, ST_SMART))
    assert b"000000000024" in [a.raw for a in WD_SMART] and b"0000070A9628" in [a.raw for a in ST_SMART]
    assert WD_SMART[-1].raw == b"001CBE991A14"   # above 2^31, kept whole

    # GETNEXT across the disk boundary and into the next column.
    for start, after in [(SMART_ENTRY, SMART_ENTRY + ".1.1.1"),
                         (SMART_ENTRY + ".2.1.19", SMART_ENTRY + ".2.2.1"),
                         (SMART_ENTRY + ".2.2.23", SMART_ENTRY + ".3.1.1"),
                         (SMART_ENTRY + ".7.2.23", None)]:
        got = board.snmpgetnext(start)[0]
        assert got.oid == after if after else not got.oid.startswith(SMART_TABLE + "."), (start, got)
    assert [vb.value for vb in board.snmpget(SMART_ENTRY + ".3.1.10", SMART_ENTRY + ".7.1.13",
                                             SMART_ENTRY + ".2.2.14", HD_ENTRY + ".2.2", HD_ENTRY + ".7.1")] == \
        [b"Vendor Specific", b"000000000024", 190, b"N/A", 3]
    for oid in (SMART_ENTRY + ".2.1.20", SMART_ENTRY + ".2.3.1", HD_ENTRY + ".2.3", SMART_ENTRY + ".2.0.1"):
        assert board.snmpget(oid)[0].type in ("noSuchInstance", "noSuchObject"), oid


def test_sets_are_not_writable_and_change_nothing(board):
    # Faults: a column or the count accepting a SET (or failing it with
    # another error), a refused SET changing the served value.
    board.start_agent()
    wait_disks(board, 2)
    before = disks_served(board), smart_served(board)
    for oid, kind, value in [
        (COUNT, "i", "5"),
        (HD_ENTRY + ".1.1", "i", "1"),
        (HD_ENTRY + ".2.1", "s", "Some Family"),
        (HD_ENTRY + ".5.2", "s", "SERIAL"),
        (HD_ENTRY + ".6.1", "i", "1"),
        (HD_ENTRY + ".7.2", "i", "9"),
        (SMART_ENTRY + ".1.1.1", "i", "1"),
        (SMART_ENTRY + ".2.2.3", "i", "9"),
        (SMART_ENTRY + ".3.1.13", "s", "Temperature"),
        (SMART_ENTRY + ".4.1.13", "i", "99"),
        (SMART_ENTRY + ".6.2.1", "i", "0"),
        (SMART_ENTRY + ".7.2.1", "s", "000000000000"),
    ]:
        with pytest.raises(SnmpError) as err:
            board.snmpset((oid, kind, value))
        assert (oid, err.value.reason) == (oid, "notWritable")
    assert (disks_served(board), smart_served(board)) == before
    assert board.get_value(COUNT) == 2


def test_nvme_usb_bridge_long_texts_and_no_more_than_four_disks(board):
    # Faults: NVMe identity lost (no "Model Family:" and no attribute
    # table); a disk without attributes getting another disk's rows or
    # stopping the walk; a device that refuses SMART stopping the refresh of
    # the others; texts longer than their fields written past them or not
    # cut to 59 (identity) and 39 (attribute name) characters; a capacity of
    # fewer than seven digits read as something else than 0; a fifth disk
    # given a row.
    text = board.exec(["cat", str(simboard.SMARTCTL_FIXTURES / "ata_wd.txt")]).stdout
    family = "Western Digital Blue, Black, Red Plus and Purple (SMR) Series!"   # 63 characters
    model = "WDC " + "WD5000AZLX-00K2TA0-" * 5                                   # 99 characters
    serial = "S" * 59
    firmware = "F" * 60
    long_name = "Helium_Level_Percentage_Of_Sealed_Drive_Left"                  # 44 characters
    text = (text.replace("Western Digital Blue", family)
                .replace("WDC WD5000AZLX-00K2TA0", model)
                .replace("WD-WCC6Z4HJ7KLD", serial)
                .replace("18.01A18", firmware)
                .replace("500,107,862,016 bytes [500 GB]", "999,424 bytes [999 KB]")
                .replace("241 Total_LBAs_Written", " 22 %s 0x0023   100   100   025    Pre-fail  Always       -       "
                         "100\n241 Total_LBAs_Written" % long_name))
    board.add_smartctl_fixture("ata_long", text)
    board.set_disks({"/dev/nvme0": "nvme", "/dev/sda": "ata_wd", "/dev/sdc": "usb_refuses",
                     "/dev/sdd": "ata_long", "/dev/sde": "ata_nofamily"})
    board.set_partitions({"/dev/nvme0": 2, "/dev/sdc": 0, "/dev/sdd": 1, "/dev/sde": 4})
    board.start_agent()
    disks = wait_disks(board, 4)
    assert sorted(disks) == [1, 2, 3, 4]
    assert disks[1] == Disk(b"N/A", b"SAMSUNG MZVLB512HBJQ-000L7", b"5M2QEXF7", b"S4ENNX0N812345", 488386, 2)
    assert disks[2] == WD
    # A USB bridge that refuses SMART: a disk without identity. Without a
    # capacity line its manufacturer may be left empty or be "N/A".
    assert disks[3]._replace(family=b"") == Disk(b"", b"", b"", b"", 0, 0)
    assert disks[3].family in (b"", b"N/A")
    assert disks[4] == Disk(family[:59].encode(), model[:59].encode(), firmware[:59].encode(), serial.encode(), 0, 1)

    long_smart = WD_SMART[:-1] + [attr(22, long_name[:39], 100, 100, 25, 100), WD_SMART[-1]]
    smart = walk(board, SMART_TABLE, 2, SMART_TYPES)
    assert {i: Attribute(*v) for i, v in smart.rows.items()} == smart_rows([], WD_SMART, [], long_smart)
    assert smart.order == sorted(smart.order)
    assert board.snmpgetnext(SMART_ENTRY + ".1.1")[0].oid == SMART_ENTRY + ".1.2.1"
    assert board.snmpgetnext(SMART_ENTRY + ".1.2.19")[0].oid == SMART_ENTRY + ".1.4.1"
    assert board.get_value(COUNT) in (4, 5)


def test_device_nodes_that_are_not_plain_paths_are_skipped(board):
    # Faults: a node from the scan put on the fdisk or vlm_smartctl command
    # line unchecked (the shell runs what it carries), or given a row; the
    # disks after it not served. The nodes are short enough for the node
    # field, so only the character check can stop them.
    quote_breaker = "/dev/sdc';>p1;'"      # escapes the quotes of the fdisk | grep command
    separator = "/dev/sdd;>p2"            # ends the vlm_smartctl -a command
    assert all(len(n) <= 19 for n in (quote_breaker, separator))
    board.set_disks({"/dev/sda": "ata_wd", quote_breaker: "ata_nofamily", separator: "ata_nofamily",
                     "/dev/sdb": "ata_nofamily"})
    board.start_agent()
    workdir = os.readlink("/proc/%d/cwd" % board.agent.pid)   # where the commands run
    wait_disks(board, 2)
    time.sleep(0.5)
    assert [d for _, d in sorted(disks_served(board).items())] == [WD, ST]
    assert sorted(smart_served(board).values()) == sorted(WD_SMART + ST_SMART)
    assert not any(n in call for call in board.smartctl_calls() for n in ("sdc", "sdd"))
    assert not {"p1", "p2"} & set(os.listdir(workdir)), "a command carried by a device node ran in " + workdir

    # The same nodes do run commands when put on those command lines as
    # they are: the check above is not vacuous.
    home = board.root / "home"
    for command in ("fdisk -l 2>/dev/null |grep '%s'|wc -l" % quote_breaker,
                    "/usr/local/sbin/vlm_smartctl -a %s" % separator):
        board.exec(["sh", "-c", "cd '%s' && %s" % (home, command)])
    assert {"p1", "p2"} <= set(os.listdir(home))


# -- refreshes that cannot run -----------------------------------------------------------


def test_count_is_0_and_tables_empty_before_the_first_refresh(board):
    # Faults: a count or rows published before the first refresh has read
    # the disks (the count from the scan alone, rows without values); the
    # agent waiting for the refresh before it answers.
    board.set_smartctl_mode("hang", scan=True)
    board.start_agent()
    deadline = time.monotonic() + FIRST_REFRESH + 3
    while not board.smartctl_hanging():
        assert time.monotonic() < deadline, "the agent did not run smartctl"
        time.sleep(0.05)
    other_groups_answer_at_once(board)
    assert board.snmpget(COUNT)[0].type == "INTEGER"
    assert empty(board)


def test_a_hanging_fdisk_is_cut_off_and_its_refresh_skipped(board):
    # Faults: fdisk run without a time limit (the refresh thread stuck for
    # good) or while holding the table semaphore (requests time out); the
    # agent exiting when a refresh fails; a disk published without its
    # partition count.
    board.set_fdisk_hang()
    board.start_agent()
    deadline = time.monotonic() + FIRST_REFRESH + 3
    while not board.fdisk_hanging():
        assert time.monotonic() < deadline, "the agent did not run fdisk"
        time.sleep(0.05)
    hung_at = time.monotonic()
    for _ in range(3):
        other_groups_answer_at_once(board)
        assert empty(board)
        time.sleep(0.5)
    time.sleep(max(0.0, hung_at + FDISK_LIMIT + 2 - time.monotonic()))
    assert board.exec(["pgrep", "-f", "sleep 3600"]).returncode == 1, "fdisk still runs after its time limit"
    assert board.agent.running()
    other_groups_answer_at_once(board)
    assert empty(board)


@pytest.mark.time_limit(200)
def test_a_refresh_that_reads_nothing_keeps_the_rows_of_the_last_good_one(board):
    # Faults: a disk whose smartctl prints nothing published as an empty
    # disk or dropped; the refresh applied to the disks read before the
    # failing one (rows of one refresh mixed with another's); the agent
    # exiting (the original behaviour) or refreshing only once.
    board.start_agent()
    assert wait_disks(board, 2) == {1: WD, 2: ST}
    before = disks_served(board), smart_served(board)
    assert before[1] == smart_rows(WD_SMART, ST_SMART)
    deadline = time.monotonic() + 3
    while board.smartctl_calls().count("-a /dev/sdb") < 1:
        assert time.monotonic() < deadline
        time.sleep(0.1)
    started = time.monotonic()

    # Before the second refresh: /dev/sda warmer and older, /dev/sdb silent.
    text = board.exec(["cat", str(simboard.SMARTCTL_FIXTURES / "ata_wd.txt")]).stdout
    later = re.sub(r"(194 Temperature_Celsius +0x0022 +)036( .* )36 \(", r"\g<1>041\g<2>41 (", text)
    later = later.replace("13458", "13460")
    assert later.count("041") == 1 and later != text
    board.add_smartctl_fixture("ata_wd_later", later)
    board.set_disks({"/dev/sda": "ata_wd_later", "/dev/sdb": "ata_nofamily"})
    board.set_smartctl_mode("silent", node="/dev/sdb")

    deadline = started + PERIOD + 15
    while board.smartctl_calls().count("-a /dev/sdb") < 2:
        assert time.monotonic() < deadline, "no second refresh: %s" % board.smartctl_calls()
        assert board.agent.running()
        time.sleep(0.5)
    assert board.smartctl_calls().count("-a /dev/sda") == 2
    for _ in range(4):   # the agent has read everything; nothing may change now
        time.sleep(0.5)
        assert (disks_served(board), smart_served(board)) == before
    assert board.get_value(COUNT) == 2
    assert board.agent.running()
    other_groups_answer_at_once(board)
