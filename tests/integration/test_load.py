# SPDX-License-Identifier: BSD-3-Clause
"""The agent under sustained load: four managers reading every group and
writing (good and bad values) for a minute while the board changes every
reading each second and a USB device comes or goes every few seconds.

Besides every answer, the test watches the agent's memory. In a plain build
its anonymous resident memory must level off after a warm-up: a leak of a
hundred bytes per request adds up to well over the allowance over the
thousands of requests of the measured window. A sanitizer build grows with
AddressSanitizer's quarantine of freed blocks instead, so there the leak
check is LeakSanitizer's report at the agent's exit, which lists every block
no pointer reaches any more."""

import os
import random
import re
import signal
import threading
import time
import xml.etree.ElementTree as ET
from typing import Dict, List, NamedTuple, Optional, Tuple

import pytest

import simboard
import snmpclient
from simboard import ENTERPRISE, SYSINFO, FileSystem, config_detail

DURATION = 60.0          # seconds of load
WARM_UP = 15.0           # seconds before the memory baseline is taken
SAMPLE_EVERY = 0.5       # seconds between two memory samples
EDGE = 5.0               # seconds at either end of the measured window that are compared
GROWTH_LIMIT = 192       # KiB the agent's anonymous memory may gain after the warm-up
CLIMB_STEP = 16          # KiB: a rise this large from each quarter of the window to the next is a leak
LEAK_PER_REQUEST = 100   # bytes: the smallest leak per request the window must be long enough to show
REQUEST_TIMEOUT = 5.0    # seconds a manager waits for an answer (loaded machine)

# -- the objects ------------------------------------------------------------------------------

MODULE_NAME, DEVICE_NAME, DESCR, IMAGE_VERSION = ("%s.%d.0" % (SYSINFO, i) for i in range(1, 5))
TRAP_SERVERS = ENTERPRISE + ".100.2"
TRAP_SERVER_COUNT = TRAP_SERVERS + ".1.1.0"
TRAP_ADDRESS_1 = TRAP_SERVERS + ".1.2.1.2.1"
SENSORS = ENTERPRISE + ".200.2"
TEMPERATURES, VOLTAGES, CURRENTS = (SENSORS + ".%d.2" % g for g in (1, 2, 6))
SENSOR_COUNTS = [SENSORS + ".%d.1.0" % g for g in (1, 2, 6)]
CPU = SENSORS + ".4"
MEMORY = SENSORS + ".5"
MEM_TOTAL, MEM_USED, MEM_SEVERITY, MEM_TH1, _, _, MEM_TH4, MEM_TRAPS = (
    "%s.%d.0" % (MEMORY, i) for i in range(1, 9))
STORAGE = SENSORS + ".7"
ST_TH1, _, _, ST_TH4, ST_TRAPS, ST_NUMBER = ("%s.%d.0" % (STORAGE, i) for i in range(1, 7))
ST_ENTRY = STORAGE + ".7.1"
POWER = SENSORS + ".8"
PSU_TRAPS, PSU_STATE = POWER + ".1.0", POWER + ".2.0"
PERIPHERALS = ENTERPRISE + ".200.3"
DISKS = PERIPHERALS + ".1"
WATCHDOG = PERIPHERALS + ".2"
NVRAM = PERIPHERALS + ".5"
HOTPLUG = PERIPHERALS + ".6"
HWD_TRAPS, HWD_MAX_ROWS, HWD_NUMBER = ("%s.%d.0" % (HOTPLUG, i) for i in range(1, 4))

# Sensor table columns.
VALUE, HIGH, LOW, STATE, HIGH_HIGH = 4, 5, 6, 8, 9


def cell(table, column, index):
    return "%s.1.%d.%d" % (table, column, index)


# The groups a manager reads: (name, subtree, scalars that always answer).
GROUPS = [
    ("system", SYSINFO, [MODULE_NAME, DEVICE_NAME, DESCR, IMAGE_VERSION]),
    ("trap servers", TRAP_SERVERS, [TRAP_SERVER_COUNT, TRAP_ADDRESS_1]),
    ("temperature", SENSORS + ".1", [SENSOR_COUNTS[0]]),
    ("voltage", SENSORS + ".2", [SENSOR_COUNTS[1]]),
    ("current", SENSORS + ".6", [SENSOR_COUNTS[2]]),
    ("cpu", CPU, ["%s.%d.0" % (CPU, i) for i in (1, 2, 3)]),
    ("memory", MEMORY, [MEM_TOTAL, MEM_USED, MEM_SEVERITY, MEM_TH1, MEM_TH4, MEM_TRAPS]),
    ("storage", STORAGE, [ST_TH1, ST_TH4, ST_TRAPS, ST_NUMBER]),
    ("power", POWER, [PSU_TRAPS, PSU_STATE]),
    ("hard disks", DISKS, [DISKS + ".1.0"]),
    ("watchdog", WATCHDOG, ["%s.%d.0" % (WATCHDOG, i) for i in (1, 2, 5)]),
    ("nvram", NVRAM, [NVRAM + ".1.0"]),
    ("hot-plug", HOTPLUG, [HWD_TRAPS, HWD_MAX_ROWS, HWD_NUMBER]),
]
ABSENT = ("noSuchObject", "noSuchInstance")


class Stream(NamedTuple):
    """A run of valid SETs of one object by one manager: value(n) gives the
    n-th value, where (config group, key) is where the agent keeps it."""
    name: str
    oid: str
    type: str
    value: object          # n -> value sent
    where: Tuple[str, str]


def numbered(fmt):
    return lambda n: (fmt % n).encode()


# Each manager owns its streams, so that the last value it saw acknowledged
# is the value the file must end with. Every value keeps its group's
# thresholds in order whatever the board reads meanwhile.
STREAMS = [
    [Stream("device name", DEVICE_NAME, "OCTET STRING", numbered("load-m0-%d"), ("atSystem", "sysDeviceName")),
     Stream("memory threshold 1", MEM_TH1, "INTEGER", lambda n: 50 + n % 30, ("memory", "memoryTh1"))],
    [Stream("description", DESCR, "OCTET STRING", numbered("rack <7> & row %d"), ("atSystem", "sysDescr")),
     Stream("VIN High", cell(VOLTAGES, HIGH, 1), "OCTET STRING",
            lambda n: b"%.2f" % (11.5 + (n % 160) / 100), ("VIN", "vtHigh")),
     Stream("VCORE switch", cell(VOLTAGES, STATE, 4), "INTEGER", lambda n: 1 + n % 2, ("VCORE", "vtState"))],
    [Stream("Temp CPU High", cell(TEMPERATURES, HIGH, 1), "OCTET STRING",
            lambda n: b"%d" % (60 + n % 34), ("Temp CPU", "tpHigh")),
     Stream("Current HighHigh", cell(CURRENTS, HIGH_HIGH, 1), "OCTET STRING",
            lambda n: b"%.1f" % (4.1 + (n % 50) / 10), ("Current", "crHighHigh")),
     Stream("storage threshold 1", ST_TH1, "INTEGER", lambda n: 10 + n % 70, ("storage", "siUsageTh1"))],
    # A small hot-plug table, so that new rows replace old ones.
    [Stream("hot-plug table size", HWD_MAX_ROWS, "INTEGER", lambda n: 2 + n % 5,
            ("hardwareDetect", "maxTableRow")),
     Stream("power switch", PSU_TRAPS, "INTEGER", lambda n: 1 + n % 2, ("power", "powerTrapState")),
     Stream("trap receiver address", TRAP_ADDRESS_1, "OCTET STRING",
            lambda n: b"127.0.0.%d" % (1 + n % 2), ("snmpd.conf", "trapsink"))],
]

# SETs that must fail, whatever the streams and the board have done: the
# values break a rule on their own, or their object is written by no stream.
# Some are all-or-nothing requests whose good first varbind must not stay.
REFUSED = [
    ([(DEVICE_NAME, "OCTET STRING", b"n" * 41)], "wrongLength"),
    ([(DESCR, "OCTET STRING", b"A\x01B")], "wrongValue"),
    ([(DEVICE_NAME, "OCTET STRING", b"\xff\xfe")], "wrongValue"),
    ([(DEVICE_NAME, "INTEGER", 5)], "wrongType"),
    ([(IMAGE_VERSION, "OCTET STRING", b"Debian")], "notWritable"),
    ([(TRAP_ADDRESS_1, "OCTET STRING", b"not-an-address")], "wrongValue"),
    ([(TRAP_ADDRESS_1, "OCTET STRING", b"1" * 21)], "wrongLength"),
    ([(TRAP_SERVERS + ".1.2.1.2.3", "OCTET STRING", b"127.0.0.3")], "noCreation"),
    ([(cell(VOLTAGES, HIGH, 2), "OCTET STRING", b"5.5")], "wrongValue"),   # 5VSB High = HighHigh
    ([(cell(VOLTAGES, HIGH, 2), "OCTET STRING", b"5.250000001")], "wrongLength"),
    ([(cell(VOLTAGES, HIGH, 2), "INTEGER", 5)], "wrongType"),
    ([(cell(VOLTAGES, HIGH, 2), "OCTET STRING", b"5.3"), (cell(VOLTAGES, STATE, 2), "INTEGER", 3)],
     "wrongValue"),
    ([(cell(VOLTAGES, VALUE, 1), "OCTET STRING", b"12.00")], "notWritable"),
    ([(cell(VOLTAGES, HIGH, 99), "OCTET STRING", b"5")], "noCreation"),
    ([(cell(CURRENTS, LOW, 1), "OCTET STRING", b"-0.5")], "wrongValue"),
    ([(cell(TEMPERATURES, STATE, 1), "INTEGER", 0)], "wrongValue"),
    ([(MEM_TH1, "INTEGER", 101)], "wrongValue"),
    ([(MEM_TH1, "OCTET STRING", b"70")], "wrongType"),
    ([(MEM_USED, "INTEGER", 10)], "notWritable"),
    ([(MEM_TH4, "INTEGER", 99), (MEM_TRAPS, "INTEGER", 5)], "wrongValue"),
    ([(ST_TH1, "INTEGER", 101)], "wrongValue"),
    ([(ST_TH4, "INTEGER", 99), (ST_TRAPS, "INTEGER", 0)], "wrongValue"),
    ([(ST_ENTRY + ".3.1", "INTEGER", 5)], "notWritable"),
    ([(NVRAM + ".2.1.4.1", "INTEGER", 5)], "notWritable"),
    ([(PSU_TRAPS, "INTEGER", 3)], "wrongValue"),
    ([(PSU_STATE, "INTEGER", 1)], "notWritable"),
    ([(HWD_MAX_ROWS, "INTEGER", 0)], "wrongValue"),
    ([(HWD_TRAPS, "OCTET STRING", b"1")], "wrongType"),
    ([(HWD_NUMBER, "INTEGER", 5)], "notWritable"),
    ([(DISKS + ".2.1.3.1", "OCTET STRING", b"model")], "notWritable"),
]

# Values that only refused SETs touch: the file must still hold them.
UNTOUCHED = {("5VSB", "vtHigh"): "5.25", ("5VSB", "vtState"): "1", ("Current", "crLow"): "",
             ("Temp CPU", "tpState"): "1", ("memory", "memoryTh4"): "-1", ("memory", "memoryTrapState"): "1",
             ("storage", "siUsageTh4"): "-1", ("storage", "storageTrapEnable"): "1",
             ("hardwareDetect", "trapEnable"): "1", ("atSystem", "sysBootCount"): "1"}


def oid_key(oid: str) -> Tuple[int, ...]:
    return tuple(snmpclient.oid_parts(oid))


# -- the managers -------------------------------------------------------------------------------


class Manager(threading.Thread):
    """One manager: rounds of GET, GETNEXT and GETBULK over every group, each
    group followed by a SET of the manager's next stream, and a refused SET
    after every fourth. Every answer that breaks a rule is kept in
    `faults`."""

    def __init__(self, board, number: int, stop: threading.Event):
        super().__init__(daemon=True, name="manager-%d" % number)
        self.number = number
        self.stop = stop
        self.rng = random.Random(42424 + number)
        self.reader = board.client(community="public", timeout=REQUEST_TIMEOUT)
        self.writer = board.client(community="private", timeout=REQUEST_TIMEOUT)
        self.streams = STREAMS[number]
        self.sent: Dict[str, List[object]] = {s.name: [] for s in self.streams}
        self.acked: Dict[str, List[object]] = {s.name: [] for s in self.streams}
        self.refused_seen = set()
        self.requests: List[float] = []      # monotonic time of every answered request
        self.timeouts: List[str] = []
        self.faults: List[str] = []

    def ask(self, what: str, call, *args, **kw) -> Optional[snmpclient.Response]:
        try:
            resp = call(*args, **kw)
        except snmpclient.SnmpTimeout:
            self.timeouts.append(what)
            return None
        self.requests.append(time.monotonic())
        return resp

    def fault(self, what: str, detail):
        if len(self.faults) < 50:
            self.faults.append("%s: %s" % (what, detail))

    def read_group(self, name: str, root: str, scalars: List[str]):
        c = self.reader
        resp = self.ask("GET " + name, c.get, *scalars)
        if resp is not None:
            types = [vb.type for vb in resp.varbinds]
            if resp.error_status or len(types) != len(scalars) or any(t in ABSENT for t in types):
                self.fault("GET " + name, (resp.error, types))
        # A step from the group's root and from a random point inside it.
        for start in (root, root + ".%d" % self.rng.randint(1, 8)):
            resp = self.ask("GETNEXT " + start, c.getnext, start)
            if resp is None:
                continue
            vbs = resp.varbinds
            if resp.error_status or len(vbs) != 1 or (
                    vbs[0].type != "endOfMibView" and oid_key(vbs[0].oid) <= oid_key(start)):
                self.fault("GETNEXT " + start, (resp.error, vbs))
        reps = self.rng.randint(3, 25)
        resp = self.ask("GETBULK " + root, c.getbulk, root, max_repetitions=reps)
        if resp is not None:
            oids = [oid_key(vb.oid) for vb in resp.varbinds if vb.type != "endOfMibView"]
            if resp.error_status or not resp.varbinds or oids != sorted(set(oids)) or \
                    (oids and oids[0] <= oid_key(root)):
                self.fault("GETBULK " + root, (resp.error, resp.varbinds[:3]))

    def write(self, stream: Stream):
        value = stream.value(len(self.sent[stream.name]))
        self.sent[stream.name].append(value)
        resp = self.ask("SET " + stream.name, self.writer.set, (stream.oid, stream.type, value))
        if resp is None:
            return
        if resp.error_status:
            self.fault("SET %s %r" % (stream.name, value), resp.error)
        else:
            self.acked[stream.name].append(value)

    def refuse(self, index: int):
        varbinds, reason = REFUSED[index]
        resp = self.ask("refused SET %d" % index, self.writer.set, *varbinds)
        if resp is None:
            return
        self.refused_seen.add(index)
        if resp.error != reason:
            self.fault("SET %r" % varbinds, "%s instead of %s" % (resp.error, reason))

    def run(self):
        try:
            refused, written = self.number, 0
            while not self.stop.is_set():
                groups = list(GROUPS)
                self.rng.shuffle(groups)
                for i, group in enumerate(groups):
                    if self.stop.is_set():
                        break
                    self.read_group(*group)
                    self.write(self.streams[written % len(self.streams)])
                    written += 1
                    if i % 4 == 0:
                        self.refuse(refused % len(REFUSED))
                        refused += 1
        except Exception as e:  # reported by the test, not lost in the thread
            self.fault("manager %d stopped" % self.number, repr(e))
        finally:
            self.reader.close()
            self.writer.close()


# -- the board's changes --------------------------------------------------------------------------


def mem_figures(percent: int) -> Dict[str, int]:
    total = simboard.DEFAULT_MEMINFO["total"]
    return {"free": total * (100 - percent) // 100, "buffers": 0, "cached": 0, "slab": 0}


def disk(device: str, use: int, mount: str, size: int = 1000) -> FileSystem:
    used = size * use // 100
    return FileSystem(device, size, used, size - used, "%d%%" % use, mount)


class BoardChanges(threading.Thread):
    """Every second new readings across the board, crossing the thresholds
    of every monitored group; a USB stick plugged in or pulled every three
    seconds."""

    TEMPS = [45.0, 88.0, 97.0, 60.0, -25.0, 45.0]
    VOLTS = [12.0, 12.9, 13.5, 11.2, 10.5, 12.0]
    AMPS = [1.5, 4.5, 5.5, 9.5, 1.5]
    MEMORY_USE = [35, 82, 91, 97, 50]
    DISK_USE = [30, 85, 93, 98, 40]

    def __init__(self, board, stop: threading.Event):
        super().__init__(daemon=True, name="board-changes")
        self.board = board
        self.stop = stop
        self.ticks = 0
        self.system, self.idle = 1000, 20000   # /proc/stat counters (ticks), only rising
        self.usb_events = 0
        self.errors: List[str] = []

    def tick(self, n: int):
        b = self.board
        b.set_sensor("Temp CPU", self.TEMPS[n % len(self.TEMPS)])
        b.set_sensor("VIN", self.VOLTS[n % len(self.VOLTS)])
        b.set_sensor("VCORE", 1.1 + 0.4 * (n % 2))
        b.set_sensor("Current", self.AMPS[n % len(self.AMPS)])
        b.set_meminfo(**mem_figures(self.MEMORY_USE[n % len(self.MEMORY_USE)]))
        busy = 10 + 37 * n % 90   # percent of the next second's ticks
        self.system += busy
        self.idle += 100 - busy
        b.set_proc_stat(5000, 0, self.system, self.idle)
        filesystems = [f for f in simboard.DEFAULT_FILESYSTEMS if f.device != "/dev/sda1"]
        filesystems.insert(2, disk("/dev/sda1", self.DISK_USE[n % len(self.DISK_USE)], "/"))
        if n % 4 < 2:   # a disk mounted for a while, then gone
            filesystems.append(disk("/dev/sdb1", 60 + n % 40, "/media/usb"))
        b.set_df(filesystems)
        b.set_wdtinfo({"name": "VLM SIO WDT", "timeout": str(30 + n % 90),
                       "is_enable": "Yes" if n % 3 else "No"})
        b.set_psu_inputs("10" if n % 5 == 2 else "11")
        if n % 3 == 0:
            stick = "stick_a" if n % 12 < 6 else "stick_b"
            if stick in b.usb_devices():
                b.unplug(stick)
            else:
                b.plug(stick)
            self.usb_events += 1

    def run(self):
        start = time.monotonic()
        while not self.stop.is_set():
            try:
                self.tick(self.ticks)
            except Exception as e:  # reported by the test
                self.errors.append(repr(e))
            self.ticks += 1
            self.stop.wait(max(0.0, start + self.ticks - time.monotonic()))


def wait_first_readings(board, timeout: float = 10.0):
    """Waits until every polled group has its first reading: a row in each
    sensor table, the storage and NVRAM rows, the watchdog and the power
    supply."""
    probes = [cell(TEMPERATURES, VALUE, 1), cell(VOLTAGES, VALUE, 2), cell(CURRENTS, VALUE, 1),
              ST_ENTRY + ".3.1", NVRAM + ".2.1.4.1", WATCHDOG + ".2.0", PSU_STATE, DISKS + ".2.1.3.1"]
    deadline = time.monotonic() + timeout
    with board.client(timeout=REQUEST_TIMEOUT) as c:
        while True:
            varbinds = c.get(*probes).varbinds
            if not any(vb.type in ABSENT for vb in varbinds):
                return
            if time.monotonic() > deadline:
                raise AssertionError("no first readings within %.0f s: %s" % (timeout, varbinds))
            time.sleep(0.1)


# -- the agent's memory ------------------------------------------------------------------------------


def memory_kib(pid: int) -> Dict[str, int]:
    """VmRSS and RssAnon of process `pid`, in KiB."""
    out = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "RssAnon"):
                out[key] = int(rest.split()[0])
    return out


def judge_memory(samples: List[Tuple[float, int]], start: float, end: float) -> Tuple[int, List[int], str]:
    """(growth in KiB, the highest sample of each quarter of the window,
    a description) of the RssAnon samples (time, KiB) between `start` and
    `end`: growth is the median of the last EDGE seconds against the median
    of the first."""
    window = [(t, kib) for t, kib in samples if start <= t <= end]
    first = sorted(k for t, k in window if t <= start + EDGE)
    last = sorted(k for t, k in window if t >= end - EDGE)
    growth = last[len(last) // 2] - first[len(first) // 2]
    span = (end - start) / 4
    quarters = [max([k for t, k in window if start + q * span <= t <= start + (q + 1) * span] or [0])
                for q in range(4)]
    trace = " ".join("%.0f:%d" % (t - start, k) for t, k in window[::4])
    return growth, quarters, trace


SANITIZER_REPORT = re.compile(r"ERROR: (LeakSanitizer|AddressSanitizer)|runtime error:|SUMMARY: \w+Sanitizer")


# -- the test -------------------------------------------------------------------------------------


@pytest.mark.time_limit(240)
def test_four_managers_for_a_minute_on_a_changing_board(board, monkeypatch):
    # Faults: a request left unanswered or answered with an error under
    # concurrent load and changing readings (a lock held too long, a
    # polling thread racing the handlers, a table rebuilt under a walk); a
    # refused SET answered with another error or a good one refused; the
    # agent crashing, or its memory growing with every request (a buffer,
    # varbind list, popen or parse tree not freed); the configuration file
    # left unparseable or not holding the last acknowledged value of a
    # stream; a refused all-or-nothing request keeping its good varbind.
    sanitized = bool(simboard._sanitizer_runtimes(board.agent_path))   # what the board preloads
    if sanitized:
        # LeakSanitizer runs when the agent exits; make sure no inherited
        # setting turned it off.
        monkeypatch.setenv("ASAN_OPTIONS", ":".join(
            o for o in [os.environ.get("ASAN_OPTIONS", ""), "detect_leaks=1"] if o))
    board.start_agent(timeout=10)
    board.wait_uevent_listener(timeout=10)
    wait_first_readings(board)
    pid = board.agent.pid

    stop = threading.Event()
    managers = [Manager(board, n, stop) for n in range(4)]
    changes = BoardChanges(board, stop)
    begin = time.monotonic()
    changes.start()
    for m in managers:
        m.start()
    samples: List[Tuple[float, int]] = []
    rss: List[int] = []
    try:
        while time.monotonic() - begin < DURATION:
            time.sleep(SAMPLE_EVERY)
            figures = memory_kib(pid)
            samples.append((time.monotonic(), figures["RssAnon"]))
            rss.append(figures["VmRSS"])
    finally:
        end = time.monotonic()
        stop.set()
        for t in managers + [changes]:
            t.join(REQUEST_TIMEOUT * 3)
    assert not any(t.is_alive() for t in managers + [changes])

    assert changes.errors == []
    assert changes.usb_events >= DURATION // 3 - 2
    timeouts = [t for m in managers for t in m.timeouts]
    assert timeouts == []
    faults = [f for m in managers for f in m.faults]
    assert not faults, "\n".join(faults)
    assert set().union(*(m.refused_seen for m in managers)) == set(range(len(REFUSED)))
    for m in managers:
        for name, acked in m.acked.items():
            assert len(acked) >= 5, name
    assert board.agent.running(), board.agent_output()
    with board.client(timeout=REQUEST_TIMEOUT) as c:
        assert c.get(MODULE_NAME).varbinds[0].type == "OCTET STRING"

    # Memory after the warm-up: level, not climbing to the end.
    measured = sum(1 for m in managers for t in m.requests if begin + WARM_UP <= t <= end)
    growth, quarters, trace = judge_memory(samples, begin + WARM_UP, end)
    print("load: %d requests in %.0f s (%d after the warm-up); RssAnon %s KiB, VmRSS %d..%d KiB" % (
        sum(len(m.requests) for m in managers), end - begin, measured, trace, min(rss), max(rss)))
    if not sanitized:
        # Sensitive enough: the requests of the window would show the smallest leak.
        assert measured * LEAK_PER_REQUEST > 2 * GROWTH_LIMIT * 1024, measured
        assert growth <= GROWTH_LIMIT, trace
        climbing = all(b - a >= CLIMB_STEP for a, b in zip(quarters, quarters[1:]))
        assert not climbing, (quarters, trace)

    status = board.stop_agent(signal.SIGTERM, timeout=30 if sanitized else 5)
    report = SANITIZER_REPORT.search(board.agent.stderr())
    assert report is None, board.agent.stderr()[-6000:]
    assert status == 0, board.agent_output()[-4000:]

    # The configuration file: whole, with the last acknowledged values.
    text = board.read_config()
    ET.fromstring(text)
    trapsinks = [line.split() for line in board.snmpd_conf.read_text().splitlines()
                 if line.split()[:1] == ["trapsink"]]
    for m in managers:
        for s in m.streams:
            last = m.acked[s.name][-1]
            expected = last.decode() if isinstance(last, bytes) else str(last)
            if s.where[0] == "snmpd.conf":
                assert [line[1] for line in trapsinks] == [expected], s.name
            else:
                assert config_detail(text, *s.where) == expected, s.name
    for where, value in UNTOUCHED.items():
        assert config_detail(text, *where) == value, where
