# SPDX-License-Identifier: BSD-3-Clause
"""The storage group (1.3.6.1.4.1.42424.200.2.7: thresholds, switch, row
count and the table .7.7) and the NVRAM group (1.3.6.1.4.1.42424.200.3.5:
count and table .5.2), both filled from "df -m" every five seconds, which the
board answers through its stand-in df; the raise (.103) and clear (.104)
notifications reaching the master's trapsink."""

import time

import pytest

from simboard import ENTERPRISE, FileSystem, SnmpError

STORAGE = ENTERPRISE + ".200.2.7"
TH1, TH2, TH3, TH4, TRAP_ENABLE, NUMBER = ("%s.%d.0" % (STORAGE, i) for i in range(1, 7))
TABLE = STORAGE + ".7"
ENTRY = TABLE + ".1"
NVRAM = ENTERPRISE + ".200.3.5"
NVRAM_NUMBER = NVRAM + ".1.0"
NVRAM_TABLE = NVRAM + ".2"
NVRAM_ENTRY = NVRAM_TABLE + ".1"
NOTIFICATIONS = ENTERPRISE + ".200.10"
RAISE, CLEAR = 103, 104
PASS = 5   # seconds between two df passes


def disk(device, use, size=500, mount="/data"):
    used = size * use // 100
    return FileSystem(device, size, used, size - used, "%d%%" % use, mount)


def nvram(device, size, available, mount):
    return FileSystem(device, size, size - available, available, "%d%%" % ((size - available) * 100 // size),
                      mount)


SDA1 = disk("/dev/sda1", 1, size=1000000, mount="/")
TMPFS = FileSystem("tmpfs", 394, 2, 392, "1%", "/run")


def start_agent(board):
    """Starts the agent and waits until both groups are registered."""
    board.start_agent()
    deadline = time.monotonic() + 3
    while board.snmpget(NUMBER)[0].type != "INTEGER" or board.snmpget(NVRAM_NUMBER)[0].type != "INTEGER":
        if time.monotonic() > deadline:
            raise AssertionError("the storage and NVRAM groups were not registered within 3 s")
        time.sleep(0.05)


def table(board, root=TABLE):
    """{index: [column values]} of a table, from a walk."""
    rows = {}
    for vb in board.snmpwalk(root):
        if vb.type in ("noSuchObject", "noSuchInstance", "endOfMibView"):
            continue   # an empty table
        column, index = (int(p) for p in vb.oid.split(".")[-2:])
        rows.setdefault(index, []).append(vb.value)
        assert len(rows[index]) == column
    return rows


def wait_table(board, expected, root=TABLE, timeout=PASS + 2.0):
    deadline = time.monotonic() + timeout
    while True:
        got = table(board, root)
        if got == expected:
            return
        if time.monotonic() > deadline:
            raise AssertionError("%s is %r, not %r, after %.1f s" % (root, got, expected, timeout))
        time.sleep(0.1)


def storage_traps(board):
    return [t for t in board.traps(enterprise=NOTIFICATIONS) if t.number in (RAISE, CLEAR)]


def check_notification(trap, number, path, used, severity, th):
    assert (trap.version, trap.generic, trap.number, trap.enterprise) == ("v1", 6, number, NOTIFICATIONS)
    assert [(vb.oid, vb.type) for vb in trap.varbinds] == \
        [(ENTRY + ".2", "OCTET STRING"), (ENTRY + ".4", "INTEGER"), (ENTRY + ".5", "INTEGER")] + \
        [("%s.%d.0" % (STORAGE, i), "INTEGER") for i in range(1, 5)]
    assert [vb.value for vb in trap.varbinds] == [path.encode(), used, severity] + list(th)


def settings(board):
    """The thresholds and the switch, as served and as in the file."""
    served = [vb.value for vb in board.snmpget(TH1, TH2, TH3, TH4, TRAP_ENABLE)]
    stored = [board.config_detail("storage", k) for k in
              ("siUsageTh1", "siUsageTh2", "siUsageTh3", "siUsageTh4", "storageTrapEnable")]
    return served, stored


# -- the tables and the notifications, pass after pass ---------------------------------


def test_each_pass_rebuilds_storage_and_nvram_rows_with_one_raise_and_a_clear(board):
    # Storage faults: the header, tmpfs or an NVRAM disk given a row; rows out
    # of df order, with another line's values or a stale count; the raise
    # missing, repeated at the next pass or with varbinds missing or out of
    # order; no clear when use drops; an unmount leaving a row behind, an
    # index gap, or a clear for a device that went away while above its
    # threshold.
    # NVRAM faults (the same passes): the used column served as free space;
    # after a second disk is mounted and the first unmounted, the remaining
    # row carrying the gone disk's values or its old index 2 (rows matched
    # to disks through stale bookkeeping).
    board.set_config_details({("storage", "siUsageTh1"): "80", ("storage", "siUsageTh2"): "-1",
                              ("storage", "siUsageTh3"): "-1", ("storage", "siUsageTh4"): "-1"})
    sdb1, sdc1 = disk("/dev/sdb1", 90), disk("/dev/sdc1", 85, size=200, mount="/srv")
    nv0 = nvram("/dev/vlmnvram0", 64, 60, "/mnt/nvram0")
    nv1 = nvram("/dev/vlmnvram1", 128, 100, "/mnt/nvram1")
    board.set_df([TMPFS, SDA1, sdb1, nv0, sdc1])
    start_agent(board)
    wait_table(board, {1: [1, b"/dev/sda1", 1000000, 1, 1], 2: [2, b"/dev/sdb1", 500, 90, 2],
                       3: [3, b"/dev/sdc1", 200, 85, 2]})
    assert board.get_value(NUMBER) == 3
    # The NVRAM rows come from the same pass, right after the storage rows.
    wait_table(board, {1: [1, 64, 64, 60]}, root=NVRAM_TABLE, timeout=1)
    assert board.get_value(NVRAM_NUMBER) == 1
    raised = {}
    for path in ("/dev/sdb1", "/dev/sdc1"):
        raised[path] = board.wait_trap(lambda t: t.number == RAISE and t.value(ENTRY + ".2") == path.encode(),
                                       enterprise=NOTIFICATIONS, timeout=3)
    check_notification(raised["/dev/sdb1"], RAISE, "/dev/sdb1", 90, 2, (80, -1, -1, -1))
    check_notification(raised["/dev/sdc1"], RAISE, "/dev/sdc1", 85, 2, (80, -1, -1, -1))

    time.sleep(PASS + 0.5)   # at least one more pass with the same data
    assert len(storage_traps(board)) == 2

    # /dev/sdb1 drops below its threshold; a second NVRAM disk is mounted.
    board.set_df([TMPFS, SDA1, disk("/dev/sdb1", 70), nv0, sdc1, nv1])
    cleared = board.wait_trap(lambda t: t.number == CLEAR, enterprise=NOTIFICATIONS, timeout=PASS + 2)
    check_notification(cleared, CLEAR, "/dev/sdb1", 70, 1, (80, -1, -1, -1))
    wait_table(board, {1: [1, b"/dev/sda1", 1000000, 1, 1], 2: [2, b"/dev/sdb1", 500, 70, 1],
                       3: [3, b"/dev/sdc1", 200, 85, 2]}, timeout=1)
    wait_table(board, {1: [1, 64, 64, 60], 2: [2, 128, 128, 100]}, root=NVRAM_TABLE, timeout=1)
    assert board.get_value(NVRAM_NUMBER) == 2

    # /dev/sda1, /dev/sdc1 (still above its threshold) and the first NVRAM
    # disk unmounted.
    board.set_df([TMPFS, disk("/dev/sdb1", 70), nv1])
    wait_table(board, {1: [1, b"/dev/sdb1", 500, 70, 1]})
    assert board.get_value(NUMBER) == 1
    wait_table(board, {1: [1, 128, 128, 100]}, root=NVRAM_TABLE, timeout=1)
    assert board.get_value(NVRAM_NUMBER) == 1
    time.sleep(1)
    assert len(storage_traps(board)) == 3


def test_storage_answers_within_a_second_while_df_hangs(board):
    # Faults: df run with the storage semaphore held, so that every storage
    # request waits for a stuck df and the master gives up on the agent; a
    # stuck df's missing output taken as "nothing mounted" (rows and count
    # emptied); a stuck df never killed, so that the group never recovers;
    # the stuck df not shown as the storage and NVRAM groups failing (table,
    # one notification and one log line each, way and back); a dead network
    # mount making every df hang, though only local file systems are shown.
    start_agent(board)
    before = {1: [1, b"/dev/sda1", 29396, 30, 1], 2: [2, b"/dev/sda2", 476, 24, 1]}
    wait_table(board, before, timeout=3)
    board.set_df_hang()
    deadline = time.monotonic() + PASS + 2
    while not board.df_hanging():
        assert time.monotonic() < deadline, "the agent did not run df"
        time.sleep(0.05)
    hung_at = time.monotonic()

    with board.client(timeout=1.0) as c:
        for _ in range(4):
            started = time.monotonic()
            resp = c.get(NUMBER, ENTRY + ".2.1", ENTRY + ".4.2", NVRAM_NUMBER)   # SnmpTimeout after 1 s
            assert time.monotonic() - started < 1.0
            assert [vb.value for vb in resp.varbinds] == [2, b"/dev/sda1", 24, 1]
            time.sleep(0.25)

    # Killed at its time limit; the previous pass's rows stay until a df
    # answers again.
    time.sleep(max(0.0, hung_at + 4 - time.monotonic()))
    assert table(board) == before and board.get_value(NUMBER) == 2
    health = board.wait_groups({"storage": "failing", "nvram": "failing"}, timeout=1)
    assert health["storage"]["error"] == "df -m -l: no answer in 3 s"
    # Another pass into the same hang: counted, but no second line or
    # notification.
    deadline = time.monotonic() + PASS + 5
    while board.group_health()["storage"]["failures"] < 2:
        assert time.monotonic() < deadline, "no second pass into the hang"
        time.sleep(0.2)
    board.set_df([SDA1])
    board.set_df_hang(False)
    wait_table(board, {1: [1, b"/dev/sda1", 1000000, 1, 1]}, timeout=PASS + 4)
    assert board.get_value(NUMBER) == 1 and board.get_value(NVRAM_NUMBER) == 0
    # No NVRAM disk mounted any more: that group is absent, not failing.
    health = board.wait_groups({"nvram": "absent"}, timeout=1)
    assert health["storage"]["failures"] >= 2 and health["storage"]["error"] == "df -m -l: no answer in 3 s"
    assert len(health["storage"]["last_good"]) == 11
    assert board.group_notifications() == [
        ("storage", "failing", "df -m -l: no answer in 3 s"), ("nvram", "failing", "df -m -l: no answer in 3 s"),
        ("storage", "ok", "df -m -l: no answer in 3 s"),
        ("nvram", "absent", "no NVRAM disk (/dev/vlmnvram*) mounted")]
    assert [line for line in board.group_log_lines() if "storage" in line] == [
        "group storage failing: df -m -l: no answer in 3 s", "group storage ok again (was failing)"]

    # A network mount whose server is gone: only local file systems are
    # asked for, so df still answers.
    board.set_dead_network_mount()
    board.set_df([SDA1, disk("/dev/sdb1", 50)])
    wait_table(board, {1: [1, b"/dev/sda1", 1000000, 1, 1], 2: [2, b"/dev/sdb1", 500, 50, 1]}, timeout=PASS + 2)
    assert not board.df_hanging() and board.group_health()["storage"]["status"] == "ok"


# -- thresholds and switch ---------------------------------------------------------------


@pytest.fixture
def storage_board(board):
    start_agent(board)
    return board


def test_rejected_sets_change_nothing_and_tables_are_not_writable(storage_board):
    # Faults: a threshold outside -1..100, one out of order with the others
    # (alone or with another varbind of the same request) or a switch other
    # than 1 or 2 accepted; the wrong error; a refused request leaving a
    # value changed in memory or in the file; a table or count column
    # accepting a SET (a failure reported as success).
    b = storage_board
    wait_table(b, {1: [1, b"/dev/sda1", 29396, 30, 1], 2: [2, b"/dev/sda2", 476, 24, 1]}, timeout=3)
    wait_table(b, {1: [1, 64, 64, 60]}, root=NVRAM_TABLE, timeout=1)
    before = settings(b)
    config = b.read_config()
    for varbinds, reason in [
        ([(TH3, "i", "85")], "wrongValue"),                       # below siUsageTh2 (90)
        ([(TH1, "i", "101")], "wrongValue"),
        ([(TH4, "i", "-2")], "wrongValue"),
        ([(TRAP_ENABLE, "i", "0")], "wrongValue"),
        ([(TRAP_ENABLE, "i", "3")], "wrongValue"),
        ([(TH1, "s", "70")], "wrongType"),
        ([(TH1, "i", "85"), (TH2, "i", "82")], "wrongValue"),     # each fine alone
        ([(TH4, "i", "99"), (TRAP_ENABLE, "i", "5")], "wrongValue"),
        ([(NUMBER, "i", "5")], "notWritable"),
        ([(ENTRY + ".3.1", "i", "5")], "notWritable"),
        ([(ENTRY + ".2.2", "s", "/dev/sdz9")], "notWritable"),
        ([(NVRAM_ENTRY + ".4.1", "i", "5")], "notWritable"),
        ([(NVRAM_ENTRY + ".1.1", "i", "1")], "notWritable"),
    ]:
        with pytest.raises(SnmpError) as err:
            b.snmpset(*varbinds)
        assert (varbinds, err.value.reason) == (varbinds, reason)
    assert settings(b) == before
    assert b.read_config() == config
    assert table(b, NVRAM_TABLE) == {1: [1, 64, 64, 60]}
    assert b.get_value(ENTRY + ".3.1") == 29396


def test_valid_set_is_kept_and_takes_effect_at_the_next_pass(storage_board):
    # Faults: a threshold written under another group or key or lost across
    # a restart; the edges -1 and 100 refused; a new threshold never reaching
    # the severity or the per-device check (only copied when a device first
    # appears), or the notification carrying the old thresholds.
    b = storage_board
    wait_table(b, {1: [1, b"/dev/sda1", 29396, 30, 1], 2: [2, b"/dev/sda2", 476, 24, 1]}, timeout=3)
    b.snmpset((TH4, "i", "100"), (TH1, "i", "20"), (TH3, "i", "-1"))
    expected = ([20, 90, -1, 100, 1], ["20", "90", "-1", "100", "1"])
    assert settings(b) == expected
    raised = b.wait_trap(lambda t: t.number == RAISE, enterprise=NOTIFICATIONS, timeout=PASS + 2)
    check_notification(raised, RAISE, "/dev/sda1", 30, 2, (20, 90, -1, 100))
    raised = b.wait_trap(lambda t: t.number == RAISE, enterprise=NOTIFICATIONS, timeout=1, after=1)
    check_notification(raised, RAISE, "/dev/sda2", 24, 2, (20, 90, -1, 100))
    wait_table(b, {1: [1, b"/dev/sda1", 29396, 30, 2], 2: [2, b"/dev/sda2", 476, 24, 2]}, timeout=1)
    b.stop_agent()
    start_agent(b)
    assert settings(b) == expected
