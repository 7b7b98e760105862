# SPDX-License-Identifier: BSD-3-Clause
"""The memory group (1.3.6.1.4.1.42424.200.2.5): usage read from the board's
/proc/meminfo, thresholds and switch set over SNMP and kept in the file, and
the raise (.101) and clear (.102) notifications reaching the master's
trapsink."""

import time

import pytest

from simboard import DEFAULT_MEMINFO, ENTERPRISE, SnmpError

MEMORY = ENTERPRISE + ".200.2.5"
MEM_TOTAL, USED, SEVERITY, TH1, TH2, TH3, TH4, TRAP_STATE = ("%s.%d.0" % (MEMORY, i) for i in range(1, 9))
ALL = [MEM_TOTAL, USED, SEVERITY, TH1, TH2, TH3, TH4, TRAP_STATE]
NOTIFICATIONS = ENTERPRISE + ".200.10"
RAISE, CLEAR = 101, 102
TOTAL = DEFAULT_MEMINFO["total"]


def usage(percent):
    """meminfo figures giving exactly `percent` in use (default caches)."""
    d = DEFAULT_MEMINFO
    used = TOTAL * percent // 100
    return {"free": TOTAL - used - d["buffers"] - d["cached"] - d["slab"]}


def start_agent(board):
    """Starts the agent and waits for the memory group too: the agent answers
    for the groups registered before it while it still registers this one."""
    board.start_agent()
    deadline = time.monotonic() + 3
    while board.snmpget(TRAP_STATE)[0].type != "INTEGER":
        if time.monotonic() > deadline:
            raise AssertionError("the memory group was not registered within 3 s")
        time.sleep(0.02)


@pytest.fixture
def memory_board(board):
    """A board with the agent running on the factory configuration."""
    start_agent(board)
    return board


def wait_value(board, oid, expected, timeout=4.0):
    """Polls until the object serves `expected` (the memory thread reads
    every second, the first time two seconds after start)."""
    deadline = time.monotonic() + timeout
    while True:
        value = board.get_value(oid)
        if value == expected:
            return
        if time.monotonic() > deadline:
            raise AssertionError("%s is %r, not %r, after %.1f s" % (oid, value, expected, timeout))
        time.sleep(0.1)


def memory_traps(board):
    return board.traps(enterprise=NOTIFICATIONS)


def configured(board, th=("80", "90", "95", "-1"), state="1"):
    changes = {("memory", "memoryTh%d" % (i + 1)): v for i, v in enumerate(th)}
    changes[("memory", "memoryTrapState")] = state
    board.set_config_details(changes)


def settings(board):
    """The thresholds and the switch, as served and as in the file."""
    served = [vb.value for vb in board.snmpget(TH1, TH2, TH3, TH4, TRAP_STATE)]
    stored = [board.config_detail("memory", k) for k in
              ("memoryTh1", "memoryTh2", "memoryTh3", "memoryTh4", "memoryTrapState")]
    return served, stored


# -- reading --------------------------------------------------------------------------


def test_get_serves_the_figures_of_meminfo_and_the_file(board):
    # Faults: an object missing or of the wrong type; SwapCached read as
    # Cached (usage 25 instead of 35); thresholds or switch not from the file;
    # a rewritten /proc/meminfo not picked up while running; severity not
    # following usage; a notification sent though the switch is off.
    configured(board, th=("20", "30", "-1", "50"), state="2")
    start_agent(board)
    wait_value(board, USED, 35)
    got = board.snmpget(*ALL)
    assert [vb.oid for vb in got] == ALL
    assert [vb.type for vb in got] == ["INTEGER"] * 8
    assert [vb.value for vb in got] == [TOTAL, 35, 3, 20, 30, -1, 50, 2]
    assert board.snmpwalk(MEMORY) == got

    board.set_meminfo(total=1000000, free=200000, buffers=50000, cached=100000, slab=50000)
    wait_value(board, USED, 60)
    assert [vb.value for vb in board.snmpget(MEM_TOTAL, SEVERITY)] == [1000000, 5]
    assert memory_traps(board) == []


# -- writing ------------------------------------------------------------------------------


@pytest.mark.parametrize("varbinds, reason", [
    ([(TH1, "i", "101")], "wrongValue"),
    ([(TH4, "i", "-2")], "wrongValue"),
    ([(TH2, "i", "80")], "wrongValue"),
    ([(TH1, "i", "92")], "wrongValue"),
    ([(TRAP_STATE, "i", "0")], "wrongValue"),
    ([(TRAP_STATE, "i", "3")], "wrongValue"),
    ([(TH1, "s", "70")], "wrongType"),
    ([(TH1, "i", "85"), (TH2, "i", "82")], "wrongValue"),
    ([(TH4, "i", "99"), (TRAP_STATE, "i", "5")], "wrongValue"),
    ([(USED, "i", "10")], "notWritable"),
], ids=["above-100", "below-minus-1", "equal-to-th1", "across-th2", "switch-0", "switch-3",
        "octet-string", "pair-out-of-order", "good-then-bad", "read-only"])
def test_rejected_set_changes_nothing(memory_board, varbinds, reason):
    # Faults: a value outside the rules accepted; the wrong error; a refused
    # request leaving a threshold changed in memory or in the file; two
    # thresholds of one request that are each fine stored out of order.
    before = settings(memory_board)
    config = memory_board.read_config()
    with pytest.raises(SnmpError) as err:
        memory_board.snmpset(*varbinds)
    assert err.value.reason == reason
    assert settings(memory_board) == before
    assert memory_board.read_config() == config


def test_valid_set_is_stored_in_the_memory_group_and_kept(memory_board):
    # Faults: a threshold written under another group or key, the switch not
    # written, the values lost across a restart; the edges -1 and 100 refused;
    # thresholds raised together (80/90/95 to 91/92/93) refused because each
    # was checked against the others as they were.
    memory_board.snmpset((TH1, "i", "91"), (TH2, "i", "92"), (TH3, "i", "93"))
    assert settings(memory_board)[0][:3] == [91, 92, 93]
    memory_board.snmpset((TH4, "i", "100"), (TRAP_STATE, "i", "2"))
    memory_board.snmpset((TH1, "i", "-1"))
    memory_board.snmpset((TH2, "i", "85"), (TH3, "i", "92"))
    expected = ([-1, 85, 92, 100, 2], ["-1", "85", "92", "100", "2"])
    assert settings(memory_board) == expected
    memory_board.stop_agent()
    start_agent(memory_board)
    assert settings(memory_board) == expected


# -- notifications ---------------------------------------------------------------------


def check_notification(trap, number, used, severity, th):
    assert (trap.version, trap.generic, trap.number, trap.enterprise) == ("v1", 6, number, NOTIFICATIONS)
    assert [(vb.oid, vb.type) for vb in trap.varbinds] == [(oid, "INTEGER") for oid in
                                                           (USED, SEVERITY, TH1, TH2, TH3, TH4)]
    assert [vb.value for vb in trap.varbinds] == [used, severity] + list(th)


def test_crossing_a_threshold_raises_once_and_returning_clears(memory_board):
    # Faults: no raise, or a raise repeated every second while usage stays
    # above; varbinds missing, out of order or of the old severity; no clear
    # when usage returns.
    wait_value(memory_board, USED, 35)
    memory_board.set_meminfo(**usage(85))
    raised = memory_board.wait_trap(lambda t: t.number == RAISE, enterprise=NOTIFICATIONS, timeout=4)
    check_notification(raised, RAISE, 85, 2, (80, 90, 95, -1))
    assert memory_board.get_value(SEVERITY) == 2
    time.sleep(1.5)   # at least one more reading in the same band
    memory_board.set_meminfo(**usage(35))
    cleared = memory_board.wait_trap(lambda t: t.number == CLEAR, enterprise=NOTIFICATIONS, timeout=4)
    check_notification(cleared, CLEAR, 35, 1, (80, 90, 95, -1))
    assert [t.number for t in memory_traps(memory_board)] == [RAISE, CLEAR]
    assert memory_board.get_value(SEVERITY) == 1


def test_switch_and_thresholds_set_while_above_take_effect(board):
    # Faults: a notification sent while the switch is off; turning it on
    # while usage is above a threshold never raising; a threshold SET not
    # seen by the check, or the notification carrying the old thresholds.
    configured(board, state="2")
    board.set_meminfo(**usage(85))
    start_agent(board)
    wait_value(board, SEVERITY, 2)
    board.snmpset((TRAP_STATE, "i", "1"))
    raised = board.wait_trap(lambda t: t.number == RAISE, enterprise=NOTIFICATIONS, timeout=4)
    check_notification(raised, RAISE, 85, 2, (80, 90, 95, -1))
    board.snmpset((TH2, "i", "84"))
    banded = board.wait_trap(lambda t: t.number == RAISE, enterprise=NOTIFICATIONS, timeout=4, after=1)
    check_notification(banded, RAISE, 85, 3, (80, 84, 95, -1))
    assert board.get_value(SEVERITY) == 3
    assert len(memory_traps(board)) == 2
