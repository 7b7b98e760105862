# SPDX-License-Identifier: BSD-3-Clause
"""The CPU group (1.3.6.1.4.1.42424.200.2.4: load, current and maximum clock)
from the board's /proc/stat and /sys/devices/system/cpu, and the watchdog
group (1.3.6.1.4.1.42424.200.3.2) from the driver's /proc/vlmwdtinfo, which
the agent reads through "cat" and the board serves through its stand-in."""

import threading
import time

import pytest

from simboard import DEFAULT_WDTINFO, ENTERPRISE

CPU = ENTERPRISE + ".200.2.4"
LOAD, CUR, MAX = ("%s.%d.0" % (CPU, i) for i in range(1, 4))
WDT = ENTERPRISE + ".200.3.2"
STATE, TIMEOUT, MODE, LOG_EVENT, CHIP = ("%s.%d.0" % (WDT, i) for i in range(1, 6))
ABSENT = ("noSuchObject", "noSuchInstance")


def start_agent(board):
    """Starts the agent and waits until both groups are registered."""
    board.start_agent()
    deadline = time.monotonic() + 3
    while board.snmpget(MAX)[0].type != "INTEGER" or board.snmpgetnext(WDT)[0].oid == MAX:
        if time.monotonic() > deadline:
            raise AssertionError("the CPU group was not registered within 3 s")
        time.sleep(0.05)


def wait_values(board, expected, timeout=6.0):
    """Polls until the objects serve `expected` ({oid: value}, a value of
    None meaning the object is absent)."""
    deadline = time.monotonic() + timeout
    while True:
        got = {vb.oid: (None if vb.type in ABSENT else vb.value) for vb in board.snmpget(*expected)}
        if got == expected:
            return
        if time.monotonic() > deadline:
            raise AssertionError("served %r, not %r, after %.1f s" % (got, expected, timeout))
        time.sleep(0.1)


class Ticker:
    """Keeps /proc/stat moving: every 50 ms `busy` ticks go to user and
    system and `idle` to idle, so that any one-second sample of the agent
    sees the same share."""

    def __init__(self, board):
        self.board = board
        self.rate = (0, 0)
        self.counters = [4705, 150, 1120, 16250]
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while not self.stop.wait(0.05):
            busy, idle = self.rate
            self.counters[0] += busy - busy // 2
            self.counters[2] += busy // 2
            self.counters[3] += idle
            self.board.set_proc_stat(*self.counters, iowait=self.counters[3] // 3)

    def close(self):
        self.stop.set()
        self.thread.join()


@pytest.fixture
def ticker(board):
    t = Ticker(board)
    yield t
    t.close()


# -- CPU ---------------------------------------------------------------------------


def test_cpu_load_is_the_busy_share_of_the_last_second(board, ticker):
    # Faults: idle and busy swapped; the load rounded (2 of 3 must be 66);
    # iowait, which the board raises with idle, counted as busy; the two
    # readings of a sample not a second apart or the same reading twice; a
    # frozen /proc/stat (counters that did not move) failing the sample
    # instead of giving 0; a GET of a fourth object answered.
    start_agent(board)
    ticker.rate = (2, 1)
    wait_values(board, {LOAD: 66, CUR: 1500, MAX: 2400})
    ticker.rate = (3, 0)
    wait_values(board, {LOAD: 100})
    ticker.rate = (0, 5)
    wait_values(board, {LOAD: 0})
    ticker.rate = (0, 0)
    wait_values(board, {LOAD: 0, CUR: 1500, MAX: 2400})
    got = board.snmpget(CPU + ".4.0", CPU + ".1")
    assert [vb.type in ABSENT for vb in got] == [True, True]
    assert [vb.oid for vb in board.snmpwalk(CPU)] == [LOAD, CUR, MAX]


def test_cpu_clocks_come_from_cpufreq_of_the_online_processors(board):
    # Faults: the frequency library not reading the board's sysfs (the
    # host's clocks served); kHz not cut to MHz per processor; the mean
    # taken over a fixed processor count rather than those with cpufreq;
    # get_nprocs() ignored (an offline processor counted); a division by
    # zero, or stale values, once no processor has cpufreq.
    start_agent(board)
    wait_values(board, {CUR: 1500, MAX: 2400})
    board.set_cpufreq(0, cur=1000000, high=3000000)
    board.set_cpufreq(1, cur=1500000, high=2000000)
    wait_values(board, {CUR: 1250, MAX: 2500})
    board.set_cpufreq(1, cur=1000001, high=2000999)
    wait_values(board, {CUR: 1000, MAX: 2500})

    board.remove_cpufreq(0)
    wait_values(board, {CUR: 1000, MAX: 2000})
    board.set_cpus_online("0")
    board.set_cpufreq(0, cur=800000, low=800000, high=1600000)
    wait_values(board, {CUR: 800, MAX: 1600})
    board.remove_cpufreq(0)
    wait_values(board, {LOAD: 0, CUR: 0, MAX: 0})
    assert board.agent.running()


# -- watchdog ------------------------------------------------------------------------


def test_watchdog_objects_follow_the_driver_file(board):
    # Faults: a value taken from the wrong column; "No" not read as
    # disabled; a chip name too long for its field not cut; a timeout of 0
    # served instead of the object being absent, or its absence hiding the
    # other objects from a walk; a driver that goes away leaving the old
    # state served; changes not picked up while running.
    start_agent(board)
    wait_values(board, {STATE: 1, TIMEOUT: 60, MODE: 2, LOG_EVENT: 2,
                        CHIP: DEFAULT_WDTINFO["name"].encode()})
    assert [(vb.oid, vb.type) for vb in board.snmpwalk(WDT)] == [
        (STATE, "INTEGER"), (TIMEOUT, "INTEGER"), (MODE, "INTEGER"), (LOG_EVENT, "INTEGER"),
        (CHIP, "OCTET STRING")]

    board.set_wdtinfo({"name": "W" * 70, "timeout": "0", "is_enable": "No"})
    wait_values(board, {STATE: 2, TIMEOUT: None, MODE: 2, LOG_EVENT: 2, CHIP: b"W" * 59})
    assert [vb.oid for vb in board.snmpwalk(WDT)] == [STATE, MODE, LOG_EVENT, CHIP]

    board.set_wdtinfo(None)
    wait_values(board, {STATE: None, TIMEOUT: None, MODE: None, LOG_EVENT: None, CHIP: None})
    assert [vb.type for vb in board.snmpwalk(WDT)] == ["noSuchObject"]   # nothing under it


def test_watchdog_answers_within_a_second_while_cat_hangs(board):
    # Faults: the command run with the watchdog semaphore held, so that every
    # watchdog request waits for a stuck driver and the master gives up on
    # the agent; a stuck command never killed (the group frozen for good,
    # processes piling up); its missing output not counted as empty.
    start_agent(board)
    wait_values(board, {STATE: 1, TIMEOUT: 60, CHIP: DEFAULT_WDTINFO["name"].encode()})
    board.hang_wdtinfo()
    deadline = time.monotonic() + 7
    while not board.wdtinfo_hung():
        assert time.monotonic() < deadline, "the agent did not run cat /proc/vlmwdtinfo"
        time.sleep(0.05)

    with board.client(timeout=1.0) as c:
        # The command is killed 3 s after it started: these fall before.
        for _ in range(3):
            started = time.monotonic()
            resp = c.get(STATE, TIMEOUT, CHIP)   # raises SnmpTimeout after 1 s
            assert time.monotonic() - started < 1.0
            assert [vb.value for vb in resp.varbinds] == [1, 60, DEFAULT_WDTINFO["name"].encode()]
            time.sleep(0.2)

    # Past the time limit the command is killed and the driver counts as
    # silent; once it answers again the objects come back.
    wait_values(board, {STATE: None, TIMEOUT: None, CHIP: None}, timeout=6)
    assert board.exec(["pgrep", "-f", "sleep 3600"]).stdout == ""
    board.hang_wdtinfo(False)
    wait_values(board, {STATE: 1, TIMEOUT: 60, CHIP: DEFAULT_WDTINFO["name"].encode()}, timeout=10)
    assert board.agent_answers()
