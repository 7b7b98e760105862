# SPDX-License-Identifier: BSD-3-Clause
"""Every writable object of the agent against bad SET input, in one sweep.

The writable objects are the read-write objects of the MIB module; the table
below says what each one takes (its limit, its boundary values, the values
its rule refuses, the element of the configuration file it is kept in), and
the test fails when the MIB and the table disagree, so a new writable object
needs a row here. Each object is sent every other SNMP type, texts one octet
over its limit, octets that are not UTF-8 or are control characters,
integers beyond its range and at the ends of Integer32, and its instance at
rows and sub-identifiers that do not exist. Each refusal must carry its exact
error status and index and leave the served values of every writable object,
the configuration file and snmpd.conf as they were, both alone and after a
valid varbind of another group in the same request. Each boundary value that
is taken must be served and stored exactly, and survive a restart."""

import os
import subprocess
import time
import xml.etree.ElementTree as ET
from typing import Dict, List, NamedTuple, Optional, Tuple

import pytest

import simboard
from simboard import DEFAULT_SENSORS, ENTERPRISE, SYSINFO, Sensor, config_detail, nmcli_fixture
from test_mib import WITH_MIB, is_wireless, parse_tree, tool_env

WIRELESS_AGENT = os.environ.get("VLM_SUBAGENT_WIRELESS") or str(simboard.REPO / "build" / "vlm_subagent_wireless")

INT32_MIN, INT32_MAX = -2 ** 31, 2 ** 31 - 1

# A voltage sensor the factory configuration has no group for: its
# thresholds read N/A and it has nowhere to keep a new value.
VDDR_ROW = 6
SENSORS = DEFAULT_SENSORS + (Sensor("in", "VDDR", 1.35),)

# One value of each SNMP type a manager can send.
SAMPLES = {
    "INTEGER": 1,
    "OCTET STRING": b"1",
    "IpAddress": "127.0.0.1",
    "OID": "1.3.6.1.4.1.42424",
    "Counter32": 1,
    "Gauge32": 1,
    "TimeTicks": 1,
    "Opaque": b"\x01",
    "Counter64": 1,
    "NULL": None,
}

# Octets that are not UTF-8 text, or text the configuration file could not
# give back as it was sent (control characters, U+FFFF).
NOT_TEXT = (b"\xff\xfe\x80", b"\xc3\x28", b"\xc0\xaf", b"\xed\xa0\x80", b"\xef\xbf\xbf", b"\xf4\x90\x80\x80",
            b"a\x01b", b"\x7f", b"a\nb", b"a\tb", b"\x00", b"1\x00")
MARKUP = '<&]]>"\''


class Rule(NamedTuple):
    """What one writable object takes."""
    kind: str                              # "text", "address", "threshold", "integer"
    rows: Tuple[int, ...]                  # the rows written (tables); () for a scalar
    stored: Optional[Tuple[str, str]]      # (group, key) in the configuration file; None: not there
    limit: int = 0                         # the longest text taken, in octets
    accepted: Tuple = ()                   # values taken, in this order, from the factory state
    refused: Tuple = ()                    # values of the right type refused (wrongValue) in the factory state


def usage(prefix: str, i: int, group: str, accepted: Tuple[int, ...], breaks: Tuple[int, ...]) -> Tuple[str, Rule]:
    return "%s%d" % (prefix, i), Rule("integer", (), (group, "%s%d" % (prefix, i)), accepted=accepted,
                                      refused=(-2, 101, INT32_MIN, INT32_MAX) + breaks)


def switch(group: str, key: str, rows: Tuple[int, ...] = ()) -> Rule:
    return Rule("integer", rows, (group, key), accepted=(1, 2), refused=(0, 3, -1, INT32_MIN, INT32_MAX))


def threshold(key: str, row: int, group: str, accepted: Tuple[bytes, ...], refused: Tuple[bytes, ...]) -> Rule:
    return Rule("threshold", (row,), (group, key), limit=9, accepted=accepted, refused=refused)


# The objects are written in this order, each accepted value after the one
# before (the thresholds of a group must keep rising). Factory thresholds:
# Temp CPU -40 / -20 / 85 / 95 (LowLow, Low, High, HighHigh; row 1), 5VSB
# 4.5 / 4.75 / 5.25 / 5.5 (voltage row 2), Current - / - / 4.0 / 5.0 (row
# 1), memory and storage 80 / 90 / 95 / -1. The refused values break a rule
# against those; the last accepted value of each object stays.
WRITABLE: Dict[str, Rule] = dict([
    ("vlmSysDeviceName", Rule("text", (), ("atSystem", "sysDeviceName"), limit=40)),
    ("vlmSysDescr", Rule("text", (), ("atSystem", "sysDescr"), limit=40)),
    ("trapIp", Rule("address", (1,), None, limit=19,
                    accepted=(b"255.255.255.255", b"0.0.0.0", b"127.0.0.1"),
                    refused=(b"", b"1" * 19, b"256.1.1.1", b"127.0.0.1 ", b"127.1", b"::1", b"localhost",
                             MARKUP.encode()))),
    # Decimal numbers only: every text after "96" read as a number between
    # Low and HighHigh with atof.
    ("tpHigh", threshold("tpHigh", 1, "Temp CPU", (b"", b"  50.00 ", b"-19.99999", b"94.999999"),
                         (b"95", b"-20", b"96", b"1e3", b"nan", b"abc", b"0x10", b"12,6", b"5e0", b"-", b"1.2.3",
                          b"5.3abc"))),
    ("tpLow", threshold("tpLow", 1, "Temp CPU", (b"", b"94.99999", b"-39.99999"), (b"-40", b"85", b"-41", b"nan"))),
    ("tpHighHigh", threshold("tpHighHigh", 1, "Temp CPU", (b"", b"999999999"), (b"85", b"84", b"-1e3"))),
    ("tpLowLow", threshold("tpLowLow", 1, "Temp CPU", (b"", b"-99999999"), (b"-20", b"0", b"inf"))),
    ("tpState", switch("Temp CPU", "tpState", (1,))),
    ("vtHigh", threshold("vtHigh", 2, "5VSB", (b"", b"4.7500001", b"5.4999999"), (b"5.5", b"4.75", b"-1", b"-0.5"))),
    ("vtLow", threshold("vtLow", 2, "5VSB", (b"", b"5.4999998", b"4.5000001"), (b"4.5", b"5.25", b"-1"))),
    ("vtHighHigh", threshold("vtHighHigh", 2, "5VSB", (b"", b"999999999"), (b"5.25", b"5", b"-1"))),
    ("vtLowLow", threshold("vtLowLow", 2, "5VSB", (b"", b"0", b"4.5000000"), (b"4.75", b"-1", b"-0.00001"))),
    ("vtState", switch("5VSB", "vtState", (2,))),
    ("crHigh", threshold("crHigh", 1, "Current", (b"", b"0.0000001", b"4.9999999"), (b"5.0", b"6", b"-1"))),
    ("crLow", threshold("crLow", 1, "Current", (b"0", b"4.9999998", b"1.0000000"), (b"4.0", b"-1", b"-0.1"))),
    ("crHighHigh", threshold("crHighHigh", 1, "Current", (b"", b"999999999"), (b"4.0", b"-1"))),
    ("crLowLow", threshold("crLowLow", 1, "Current", (b"0", b"0.9999999"), (b"4.0", b"-1"))),
    ("crState", switch("Current", "crState", (1,))),
    usage("memoryTh", 1, "memory", (-1, 0, 89), (90,)),
    usage("memoryTh", 2, "memory", (-1, 94, 90), (80, 95)),
    usage("memoryTh", 3, "memory", (-1, 100, 91), (90,)),
    usage("memoryTh", 4, "memory", (92, 100), (95, 0)),
    ("memoryTrapState", switch("memory", "memoryTrapState")),
    usage("siUsageTh", 1, "storage", (-1, 0, 89), (90,)),
    usage("siUsageTh", 2, "storage", (-1, 94, 90), (80, 95)),
    usage("siUsageTh", 3, "storage", (-1, 100, 91), (90,)),
    usage("siUsageTh", 4, "storage", (92, 100), (95, 0)),
    ("storageTrapEnable", switch("storage", "storageTrapEnable")),
    ("pwrTrapState", switch("power", "powerTrapState")),
    ("hwdTrapEnable", switch("hardwareDetect", "trapEnable")),
    ("maxTableRow", Rule("integer", (), ("hardwareDetect", "maxTableRow"), accepted=(1, INT32_MAX),
                         refused=(0, -1, INT32_MIN))),
    # Kept in memory until the next refresh rewrites the row: any integer.
    ("wlanState", Rule("integer", (1,), None, accepted=(INT32_MIN, INT32_MAX, 0, -1))),
    ("mbState", Rule("integer", (1,), None, accepted=(INT32_MIN, INT32_MAX, 0, -1))),
])

# Rows that exist in no table (besides each table's row count + 1), and
# instance suffixes of the wrong shape.
MISSING_ROWS = (0, 2147483647, 4294967295)
MALFORMED_ROW = ("", ".1.0", ".1.1")
MALFORMED_SCALAR = ("", ".1", ".0.0")

WIRE = {"String": "OCTET STRING", "Integer32": "INTEGER", "INTEGER": "INTEGER", "EnumVal": "INTEGER"}


class Object(NamedTuple):
    name: str
    oid: str            # the scalar or column, without instance
    type: str           # wire type
    rule: Rule
    wireless: bool

    def instance(self, row: Optional[int]) -> str:
        return "%s.%d" % (self.oid, 0 if row is None else row)

    @property
    def rows(self) -> Tuple[Optional[int], ...]:
        return self.rule.rows or (None,)

    @property
    def entry(self) -> str:
        return self.oid.rsplit(".", 1)[0]


@pytest.fixture(scope="module")
def writable(tmp_path_factory) -> List[Object]:
    """The read-write objects of the MIB, in the order of the table, which
    must name exactly those and agree with their sizes and ranges."""
    tmp = tmp_path_factory.mktemp("netsnmp")
    proc = subprocess.run(["snmptranslate"] + WITH_MIB + ["-Tp", "-IR", "velmora"], capture_output=True,
                          text=True, env=tool_env(tmp), timeout=30)
    assert proc.returncode == 0 and proc.stderr == "", proc.stderr
    leaves = {leaf.name: leaf for leaf in parse_tree(proc.stdout).leaves.values() if leaf.access == "-RW-"}
    assert sorted(leaves) == sorted(WRITABLE)
    objects = []
    for name, rule in WRITABLE.items():
        leaf = leaves[name]
        wire = WIRE[leaf.syntax]
        assert (wire == "INTEGER") == (rule.kind == "integer"), name
        assert bool(rule.rows) == (leaf.indexes is not None), name
        if leaf.sizes:
            # A write takes at most the MIB's size.
            assert rule.limit == leaf.sizes[-1][1], (name, leaf.sizes, rule.limit)
        for value in rule.accepted if wire == "INTEGER" else ():
            assert not leaf.ranges or any(lo <= value <= hi for lo, hi in leaf.ranges), (name, value)
            assert not leaf.values or value in leaf.values, (name, value)
        objects.append(Object(name, leaf.oid, wire, rule, is_wireless(leaf)))
    return objects


# -- one board, many requests ---------------------------------------------------------------------


def diff(before, after) -> str:
    (served_b, files_b), (served_a, files_a) = before, after
    changed = ["%s %r -> %r" % (k, v, served_a.get(k)) for k, v in served_b.items() if served_a.get(k) != v]
    changed += [name for name, b, a in zip(("the configuration file", "snmpd.conf"), files_b, files_a) if a != b]
    return ", ".join(changed)


class Sweep:
    """Requests to one board through raw SNMPv2c clients; `faults` collects
    every disagreement, so that one run reports them all."""

    def __init__(self, board, objects: List[Object]):
        self.board = board
        self.objects = objects
        self.rw = board.client(community="private", timeout=5)
        self.ro = board.client(timeout=5)
        self.faults: List[str] = []

    def served(self) -> Dict[str, Tuple[str, object]]:
        oids = [o.instance(row) for o in self.objects for row in o.rows]
        got = {}
        for start in range(0, len(oids), 30):
            resp = self.ro.get(*oids[start:start + 30])
            assert resp.error_status == 0, resp
            got.update({vb.oid: (vb.type, vb.value) for vb in resp.varbinds})
        return got

    def wait_served(self, timeout: float = 10.0):
        """Waits until every written row is there (the sensor rows come
        with the first reading)."""
        deadline = time.monotonic() + timeout
        while True:
            got = self.served()
            missing = [oid for oid, (kind, _) in got.items() if kind.startswith("noSuch")]
            if not missing:
                return got
            assert time.monotonic() < deadline, "never served: %s" % missing
            time.sleep(0.2)

    def state(self):
        return self.served(), (self.board.config_path.read_bytes(), self.board.snmpd_conf.read_bytes())

    def set(self, *varbinds):
        return self.rw.set(*varbinds)

    def partner(self, obj: Object):
        """A valid change of another group, sent before a refused varbind."""
        if obj.name == "vlmSysDeviceName":
            return SYSINFO + ".3.0", "OCTET STRING", b"partner of a refused varbind"
        return SYSINFO + ".2.0", "OCTET STRING", b"partner of a refused varbind"

    def refused(self, obj: Object, varbind, status: str, before):
        """`varbind` alone, then after a partner: refused with `status` at
        its own index, and nothing changed. Returns the state now."""
        for request in ([varbind], [self.partner(obj), varbind]):
            resp = self.set(*request)
            got = (resp.error, resp.error_index)
            what = "%s %s %s %r" % (obj.name, varbind[0][len(ENTERPRISE):], varbind[1], varbind[2])
            if got != (status, len(request)):
                self.faults.append("%s (%d varbinds): %s at %d, not %s" % (what, len(request), got[0], got[1], status))
            after = self.state()
            if after != before:
                self.faults.append("%s (%d varbinds, %s) changed %s" % (what, len(request), got[0],
                                                                        diff(before, after)))
                before = after
        return before

    def taken(self, obj: Object, row: Optional[int], value) -> bool:
        resp = self.set((obj.instance(row), obj.type, value))
        if resp.error_status:
            self.faults.append("%s: %r refused with %s" % (obj.name, value, resp.error))
            return False
        return self.kept(obj, row, value)

    def kept(self, obj: Object, row: Optional[int], value) -> bool:
        """The value is served and stored exactly as it was sent."""
        vb = self.ro.get(obj.instance(row)).varbinds[0]
        fault = None
        if (vb.type, vb.value) != (obj.type, value):
            fault = "served as %s %r" % (vb.type, vb.value)
        elif obj.rule.stored:
            try:
                text = config_detail(self.board.config_path.read_bytes(), *obj.rule.stored).encode()
            except ET.ParseError as e:
                text = ("a file that does not parse: %s" % e).encode()
            if text != (value if isinstance(value, bytes) else str(value).encode()):
                fault = "stored as %r" % text
        elif obj.rule.kind == "address":
            lines = [line for line in self.board.snmpd_conf.read_text().splitlines() if "trapsink" in line]
            if lines[row - 1].split()[1] != value.decode():
                fault = "stored as %r" % lines[row - 1]
        if fault:
            self.faults.append("%s: %r %s" % (obj.name, value, fault))
        return fault is None


def text_cases(obj: Object) -> List[Tuple[bytes, str]]:
    """The octet strings a text object refuses, with their status."""
    limit = obj.rule.limit
    # One octet over the limit in ASCII and in two-octet characters.
    wide = ("\u00e9" * ((limit + 1) // 2) + "x" * ((limit + 1) % 2)).encode()
    cases = [(b"x" * (limit + 1), "wrongLength"), (wide, "wrongLength"), (b"1" * 255, "wrongLength")]
    return cases + [(octets, "wrongValue") for octets in NOT_TEXT + obj.rule.refused]


def refuse_everything_bad(sweep: Sweep, obj: Object, row_counts: Dict[str, int]):
    before = sweep.state()
    for row in obj.rows:
        oid = obj.instance(row)
        for kind, value in SAMPLES.items():
            if kind != obj.type:
                before = sweep.refused(obj, (oid, kind, value), "wrongType", before)
        if obj.type == "OCTET STRING":
            for value, status in text_cases(obj):
                before = sweep.refused(obj, (oid, obj.type, value), status, before)
        else:
            for value in obj.rule.refused:
                before = sweep.refused(obj, (oid, obj.type, value), "wrongValue", before)
    # A value the object would take, at instances that do not exist.
    fitting = obj.rule.accepted[-1] if obj.rule.accepted else SAMPLES[obj.type]
    if obj.rule.rows:
        for row in MISSING_ROWS + (row_counts[obj.entry] + 1,):
            before = sweep.refused(obj, (obj.instance(row), obj.type, fitting), "noCreation", before)
            # The type is wrong for every row of the column, whether or
            # not this one exists.
            other = "INTEGER" if obj.type == "OCTET STRING" else "OCTET STRING"
            before = sweep.refused(obj, (obj.instance(row), other, SAMPLES[other]), "wrongType", before)
        for suffix in MALFORMED_ROW:
            before = sweep.refused(obj, (obj.oid + suffix, obj.type, fitting), "noCreation", before)
    else:
        for suffix in MALFORMED_SCALAR:
            before = sweep.refused(obj, (obj.oid + suffix, obj.type, fitting), "notWritable", before)


def take_boundaries(sweep: Sweep, obj: Object):
    for row in obj.rows:
        if obj.rule.kind == "text":
            limit = obj.rule.limit
            values = [b"", b"a" * limit, "\u00e9".encode() * (limit // 2), "\U0001F600".encode() * (limit // 4),
                      (MARKUP.encode() * limit)[:limit],
                      (MARKUP + " \u00e9t\u00e9 \U0001F600 & co").encode()]
        else:
            values = list(obj.rule.accepted)
        if obj.rule.kind == "threshold":
            # Markup counts as the number 0, so a threshold may take it or
            # refuse it (wrongValue); taken, it must be kept exactly, in a
            # file that still parses. The boundary values follow.
            before = sweep.state()
            for value in (b"<", b"&", b"]]>", b"0<&>\"'"):
                resp = sweep.set((obj.instance(row), obj.type, value))
                if resp.error_status == 0:
                    sweep.kept(obj, row, value)
                    sweep.taken(obj, row, before[0][obj.instance(row)][1])
                elif resp.error != "wrongValue" or sweep.state() != before:
                    sweep.faults.append("%s: %r refused with %s, or not cleanly" % (obj.name, value, resp.error))
        for value in values:
            sweep.taken(obj, row, value)


def start(make_board, agent=None, **kwargs):
    board = make_board(sensors=SENSORS, agent=agent, **kwargs)
    board.start_snmpd()
    return board


def count_rows(board, entries) -> Dict[str, int]:
    with board.client(timeout=5) as c:
        return {entry: len(c.bulkwalk(entry + ".1")) for entry in entries}


# -- the tests --------------------------------------------------------------------------------------


@pytest.mark.time_limit(150)
def test_every_writable_object_refuses_bad_input_and_keeps_what_it_takes(make_board, writable):
    # Faults: a bad value taken, or refused with another status or at
    # another index (a type or length check missing, a check of the wrong
    # field width, a row created or a value written through a row or
    # instance that does not exist); a refused request that changes a
    # served value or either file, alone or after a valid varbind; a
    # boundary value refused, served or stored altered (off by one at a
    # limit, UTF-8 or markup mangled, an integer cut), a file that no
    # longer parses, or a value lost across a restart.
    board = start(make_board)
    board.start_agent()
    objects = [o for o in writable if not o.wireless]
    sweep = Sweep(board, objects)
    sweep.wait_served()
    counts = count_rows(board, {o.entry for o in objects if o.rule.rows})
    assert counts[ENTERPRISE + ".200.2.2.2.1"] == VDDR_ROW

    for obj in objects:
        refuse_everything_bad(sweep, obj, counts)

    # A sensor without a group in the file has nowhere to keep a threshold
    # (N/A, which counts as 0, so no value keeps them rising) or a switch.
    before = sweep.state()
    for obj in objects:
        if obj.entry.endswith(".200.2.2.2.1"):
            oid = obj.instance(VDDR_ROW)
            if obj.type == "INTEGER":
                for value in (1, 2):
                    before = sweep.refused(obj, (oid, obj.type, value), "notWritable", before)
            else:
                for value in (b"", b"0", b"1.35", b"999999999"):
                    before = sweep.refused(obj, (oid, obj.type, value), "wrongValue", before)
            before = sweep.refused(obj, (oid, "Gauge32", 1), "wrongType", before)
    assert sweep.faults == [], "\n".join(sweep.faults)

    for obj in objects:
        take_boundaries(sweep, obj)
    assert sweep.faults == [], "\n".join(sweep.faults)

    # What the last values left: the same after a restart, read back from
    # the file (the agent rewrites the file at start, so compare elements).
    served, (config, _) = sweep.state()
    stored = {o.rule.stored: config_detail(config, *o.rule.stored) for o in objects if o.rule.stored}
    board.restart_agent()
    assert sweep.wait_served() == served
    config = board.config_path.read_bytes()
    assert {key: config_detail(config, *key) for key in stored} == stored


def test_wireless_state_columns_refuse_bad_input(make_board, writable):
    # The same sweep for the two columns that live in memory only (the
    # build with the wireless groups). Faults: as above; a value taken but
    # served altered.
    if not os.path.exists(WIRELESS_AGENT):
        pytest.skip("no build with the wireless groups at %s" % WIRELESS_AGENT)
    board = start(make_board, agent=WIRELESS_AGENT)
    # One Wi-Fi interface and one connected modem.
    show = nmcli_fixture("show_one").rstrip("\n") + "\n\n" + nmcli_fixture("show_modem_connected")
    board.set_nmcli("show", text=show)
    board.set_nmcli("wifi", "wifi_one")
    board.set_nmcli("status", "status_connected")
    board.set_modem("/dev/ttyACM2", {"AT+CSQ": "+CSQ: 21,99", "AT+COPS?": '+COPS: 0,0,"Net",7',
                                     "AT+CGSN": "356938035643809", "AT+CNUM": '+CNUM: "","+15551234567",145'})
    board.start_agent(["/dev/ttyACM0", "/dev/ttyACM2"])
    objects = [o for o in writable if o.wireless]
    sweep = Sweep(board, objects)
    sweep.wait_served()
    counts = count_rows(board, {o.entry for o in objects})
    for obj in objects:
        refuse_everything_bad(sweep, obj, counts)
    assert sweep.faults == [], "\n".join(sweep.faults)

    # Any integer is taken until the next refresh (every 3 s) writes the
    # row again: a value read back as 1 may have met a refresh, so try again.
    for obj in objects:
        for value in obj.rule.accepted:
            for _ in range(3):
                resp = sweep.set((obj.instance(1), obj.type, value))
                assert resp.error_status == 0, (obj.name, value, resp.error)
                got = sweep.ro.get(obj.instance(1)).varbinds[0].value
                if got != 1:
                    break
            assert got == value, (obj.name, value, got)
