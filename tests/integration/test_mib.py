# SPDX-License-Identifier: BSD-3-Clause
"""The MIB module, mibs/VELMORA-VLM-MIB.txt: smilint accepts it, Net-SNMP
loads it, and it matches the agent both ways: every object the agent serves
has a name and a syntax its value fits, every notification the agent sends is
named with the objects it carries, and every object of the MIB is served.

The IETF modules it imports (SNMPv2-SMI, SNMPv2-TC, SNMPv2-CONF) are taken
from mibs/ietf/, as Debian ships them only in non-free.

The wireless groups are registered only by a build with them; set
VLM_SUBAGENT_WIRELESS to such a binary to check them too."""

import os
import re
import shutil
import subprocess
import time
from pathlib import Path
from typing import Dict, List, NamedTuple, Optional, Tuple

import pytest

from simboard import (DEFAULT_MEMINFO, DEFAULT_SENSORS, ENTERPRISE, REPO, NamedTrap, Sensor, SnmpError,
                      filesystems_with_use, named_notifications)

MODULE = "VELMORA-VLM-MIB"
MIB_FILE = REPO / "mibs" / (MODULE + ".txt")
IETF_DIR = REPO / "mibs" / "ietf"
MIB_PATH = "+%s:%s" % (MIB_FILE.parent, IETF_DIR)
WITH_MIB = ["-M", MIB_PATH, "-m", MODULE]
WIRELESS = ENTERPRISE + ".106"
WIRELESS_AGENT = os.environ.get("VLM_SUBAGENT_WIRELESS")

# A voltage sensor without a group in the factory configuration: its row
# shows the values a sensor without thresholds has (N/A, switch 0, level 0).
SENSORS = DEFAULT_SENSORS + (Sensor("in", "VDDR", 1.35),)

# What Net-SNMP's tree calls each base syntax, as it comes over the wire.
WIRE_TYPES = {"String": "OCTET STRING", "Integer32": "INTEGER", "INTEGER": "INTEGER", "EnumVal": "INTEGER",
              "IpAddr": "IpAddress", "Counter": "Counter32"}


def tool_env(tmp: Path) -> Dict[str, str]:
    """A host environment in which Net-SNMP reads no configuration but ours
    (and has nothing to create on its first run)."""
    (tmp / "cert_indexes").mkdir(exist_ok=True)
    return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": str(tmp), "SNMPCONFPATH": str(tmp),
            "SNMP_PERSISTENT_DIR": str(tmp), "LANG": "C"}


# -- the MIB as Net-SNMP reads it -------------------------------------------------------------


class Leaf(NamedTuple):
    name: str
    oid: str                           # numeric, without a leading dot
    access: str                        # as snmptranslate -Tp marks it: "-R--", "-RW-"
    syntax: str                        # String, Integer32, EnumVal, IpAddr ...
    tc: Optional[str]                  # textual convention
    sizes: List[Tuple[int, int]]       # allowed lengths of a string (empty: any)
    ranges: List[Tuple[int, int]]      # allowed integer values (empty: any)
    values: Dict[int, str]             # enumeration
    indexes: Optional[List[str]]       # the row's INDEX objects; None for a scalar


class Mib(NamedTuple):
    leaves: Dict[str, Leaf]            # by name
    by_oid: Dict[str, Leaf]
    notifications: Dict[int, str]      # N of .200.10.0.N -> name


def parse_bounds(text: str) -> List[Tuple[int, int]]:
    bounds = []
    for part in text.split("|"):
        lo, _, hi = part.strip().partition("..")
        bounds.append((int(lo), int(hi or lo)))
    return bounds


NODE = re.compile(r"^(?P<pre>[ |]*)\+--(?: (?P<access>\S{4}) (?P<syntax>\S+)\s+)?(?P<name>[\w-]+)\((?P<num>\d+)\)$")
ATTRIBUTE = re.compile(r"^[ |]*(?P<key>Textual Convention|Size|Range|Values|Index): (?P<value>.*)$")


def parse_tree(text: str) -> Mib:
    """The output of snmptranslate -Tp for our enterprise arc."""
    path: List[Tuple[str, str]] = []   # (name, oid) from the root to the last node
    nodes: Dict[str, dict] = {}
    notifications = {}
    last = None
    for line in text.splitlines():
        m = NODE.match(line)
        if m:
            depth = len(m.group("pre")) // 3
            del path[depth:]
            oid = (path[-1][1] + "." if path else "") + m.group("num")
            parent = path[-1][0] if path else None
            last = {"name": m.group("name"), "oid": oid, "access": m.group("access"), "syntax": m.group("syntax"),
                    "parent": parent, "tc": None, "sizes": [], "ranges": [], "values": {}, "index": None}
            nodes[last["name"]] = last
            path.append((last["name"], oid))
            if parent == "vlmNotificationPrefix":
                notifications[int(m.group("num"))] = last["name"]
            continue
        m = ATTRIBUTE.match(line)
        if m and last is not None:
            key, value = m.group("key"), m.group("value").strip()
            if key == "Textual Convention":
                last["tc"] = value
            elif key == "Size":
                last["sizes"] = parse_bounds(value)
            elif key == "Range":
                last["ranges"] = parse_bounds(value)
            elif key == "Values":
                last["values"] = {int(n): label for label, n in re.findall(r"([\w-]+)\((-?\d+)\)", value)}
            elif key == "Index":
                last["index"] = [i.strip() for i in value.split(",")]
    root = text.splitlines()[0]
    assert root.startswith("+--velmora("), root
    leaves = {}
    for node in nodes.values():
        if not node["access"]:
            continue
        parent = nodes.get(node["parent"])
        indexes = parent["index"] if parent else None
        leaves[node["name"]] = Leaf(node["name"], "1.3.6.1.4.1." + node["oid"], node["access"], node["syntax"],
                                    node["tc"], node["sizes"], node["ranges"], node["values"], indexes)
    return Mib(leaves, {leaf.oid: leaf for leaf in leaves.values()}, notifications)


@pytest.fixture(scope="module")
def mib(tmp_path_factory) -> Mib:
    tmp = tmp_path_factory.mktemp("netsnmp")
    proc = subprocess.run(["snmptranslate"] + WITH_MIB + ["-Tp", "-IR", "velmora"], capture_output=True,
                          text=True, env=tool_env(tmp), timeout=30)
    # Net-SNMP reports every problem it has with a module on standard error.
    assert proc.returncode == 0 and proc.stderr == "", proc.stderr
    return parse_tree(proc.stdout)


def notification_objects(name: str, tmp: Path) -> List[str]:
    proc = subprocess.run(["snmptranslate"] + WITH_MIB + ["-Td", "%s::%s" % (MODULE, name)], capture_output=True,
                          text=True, env=tool_env(tmp), timeout=30)
    m = re.search(r"OBJECTS\s*\{([^}]*)\}", proc.stdout)
    assert m, proc.stdout + proc.stderr
    return [o.strip() for o in m.group(1).split(",")]


def is_wireless(leaf: Leaf) -> bool:
    return leaf.oid.startswith(WIRELESS + ".")


# -- a value against its object's syntax -------------------------------------------------------


def date_and_time_fault(octets: bytes) -> Optional[str]:
    if len(octets) not in (8, 11):
        return "%d octets" % len(octets)
    month, day, hour, minute, second, deci = octets[2:8]
    if not (1 <= month <= 12 and 1 <= day <= 31 and hour <= 23 and minute <= 59 and second <= 60 and deci <= 9):
        return "no date and time: %s" % octets.hex()
    if len(octets) == 11 and (octets[8] not in b"+-" or octets[9] > 13 or octets[10] > 59):
        return "no UTC offset: %s" % octets.hex()
    return None


def text_fault(leaf: Leaf, octets: bytes) -> Optional[str]:
    if leaf.tc == "DisplayString":
        # NVT ASCII: 7 bits, and a CR only before LF or NUL.
        if any(b > 127 for b in octets) or re.search(rb"\r(?![\n\0])", octets):
            return "not NVT ASCII: %r" % octets
    elif leaf.tc == "VlmText":
        try:
            octets.decode("utf-8")
        except UnicodeDecodeError:
            return "not UTF-8: %r" % octets
    elif leaf.tc == "DateAndTime":
        return date_and_time_fault(octets)
    return None


def value_fault(leaf: Leaf, vb) -> Optional[str]:
    """Why the value of a varbind does not fit its object (None: it fits)."""
    wire = WIRE_TYPES.get(leaf.syntax)
    if wire is None:
        return "syntax %s not checked here" % leaf.syntax
    if vb.type != wire:
        return "%s, not %s" % (vb.type, wire)
    if wire == "OCTET STRING":
        if leaf.sizes and not any(lo <= len(vb.value) <= hi for lo, hi in leaf.sizes):
            return "%d octets, not %s" % (len(vb.value), leaf.sizes)
        return text_fault(leaf, vb.value)
    if wire in ("INTEGER", "Counter32"):
        if leaf.values and vb.value not in leaf.values:
            return "%d, not one of %s" % (vb.value, leaf.values)
        if leaf.ranges and not any(lo <= vb.value <= hi for lo, hi in leaf.ranges):
            return "%d, not in %s" % (vb.value, leaf.ranges)
    return None


def split_instance(mib: Mib, oid: str) -> Tuple[Optional[Leaf], List[int]]:
    """The object an instance OID belongs to and its instance suffix."""
    parts = oid.split(".")
    for n in range(len(parts) - 1, 0, -1):
        leaf = mib.by_oid.get(".".join(parts[:n]))
        if leaf:
            return leaf, [int(p) for p in parts[n:]]
    return None, []


def instance_fault(leaf: Leaf, suffix: List[int]) -> Optional[str]:
    if leaf.indexes is None:
        return None if suffix == [0] else "a scalar with instance %s" % suffix
    # Every index of our tables is one integer sub-identifier.
    if len(suffix) != len(leaf.indexes):
        return "%d index sub-identifiers for %s" % (len(suffix), leaf.indexes)
    return None


# -- the agent ---------------------------------------------------------------------------------


def start_board(make_board, agent: Optional[str] = None, **kwargs):
    board = make_board(sensors=SENSORS, agent=agent, **kwargs)
    board.start_trapd()
    board.start_snmpd()
    board.start_agent()
    return board


def wait_for_every_object(board, mib: Mib, leaves, timeout: float = 10.0):
    """Walks until every one of `leaves` has at least one instance (the
    sensors come after two seconds, the disks after one, a hot-plug row
    after a plug) and two walks in a row find the same instances; returns
    the last walk."""
    deadline = time.monotonic() + timeout
    previous = None
    while True:
        walk = board.snmpwalk(ENTERPRISE)
        oids = [vb.oid for vb in walk]
        seen = {leaf.name for leaf, _ in (split_instance(mib, oid) for oid in oids) if leaf}
        missing = sorted(leaf.name for leaf in leaves if leaf.name not in seen)
        if not missing and oids == previous:
            return walk
        if time.monotonic() > deadline:
            raise AssertionError("never served: %s" % missing if missing else "the instances keep changing")
        previous = oids
        time.sleep(0.5)


def walk_with_mib(board) -> List[Tuple[str, str]]:
    """snmpwalk of the subtree with our module loaded: (name, value text)."""
    proc = board.exec(["snmpwalk"] + WITH_MIB + ["-v2c", "-c", "public", "-t", "2", "-r", "0", "127.0.0.1",
                                                 ENTERPRISE], timeout=30)
    assert proc.returncode == 0 and proc.stderr == "", proc.stderr
    # A text value may run over several lines; every varbind starts a line.
    return re.findall(r"^(\S+) = (.*)$", proc.stdout, re.M)


def check_walk(board, mib: Mib, required):
    """The whole subtree, walked once raw and once with the module loaded."""
    raw = wait_for_every_object(board, mib, required)
    faults = []
    rows: Dict[str, Dict[str, set]] = {}   # entry OID -> column -> instances
    for vb in raw:
        leaf, suffix = split_instance(mib, vb.oid)
        if leaf is None:
            faults.append("%s: not in the MIB" % vb.oid)
            continue
        fault = instance_fault(leaf, suffix) or value_fault(leaf, vb)
        if fault is None and leaf.indexes and leaf.name in leaf.indexes:
            # An index column serves the row's own index.
            position = leaf.indexes.index(leaf.name)
            if vb.value != suffix[position]:
                fault = "index column reads %r in row %s" % (vb.value, suffix)
        if fault:
            faults.append("%s (%s): %s" % (leaf.name, vb.oid, fault))
        if leaf.indexes:
            entry = leaf.oid.rsplit(".", 1)[0]
            rows.setdefault(entry, {}).setdefault(leaf.name, set()).add(tuple(suffix))
    assert faults == [], "\n".join(faults)
    for entry, columns in rows.items():
        # Every row has every column.
        instances = set().union(*columns.values())
        assert all(found == instances for found in columns.values()), (entry, columns)

    named = walk_with_mib(board)
    names = set()
    for name, value in named:
        assert "Wrong Type" not in value, (name, value)
        m = re.match(r"^%s::(\w+)((?:\.\d+)*)$" % MODULE, name)
        assert m, "%s: not named by %s" % (name, MODULE)
        leaf = mib.leaves.get(m.group(1))
        assert leaf, "%s: no object of the MIB" % name
        names.add(leaf.oid + m.group(2))
    assert names == {vb.oid for vb in raw}


def served(board, oids) -> Dict[str, str]:
    """The type each OID answers a GET with (noSuchObject: not registered)."""
    got = {}
    for start in range(0, len(oids), 40):
        for vb in board.snmpget(*oids[start:start + 40]):
            got[vb.oid] = vb.type
    return got


# -- the tests ----------------------------------------------------------------------------------


@pytest.mark.no_board
def test_smilint_finds_nothing_to_report(tmp_path):
    # Level 6 is stricter than the level 3 a manager's import needs. The one
    # kind of report left out: index columns are readable, as the agent
    # serves them, where SMIv2 would rather see them not-accessible.
    smilint = shutil.which("smilint")
    if smilint is None:
        pytest.skip("smilint is not installed (Debian package smitools)")
    proc = subprocess.run([smilint, "-c", "/dev/null", "-l", "6", "-s", "-i", "index-element-accessible",
                           str(MIB_FILE)], capture_output=True, text=True, timeout=60,
                          env=dict(tool_env(tmp_path), SMIPATH=str(IETF_DIR)))
    assert (proc.returncode, proc.stdout + proc.stderr) == (0, "")


@pytest.mark.no_board
def test_the_newest_revision_is_the_packages_version():
    # Fault: a release whose MIB does not say so (a manager cannot tell
    # which module goes with which agent): the newest REVISION must name the
    # version of the newest debian/changelog entry, on that entry's day,
    # and LAST-UPDATED must be that REVISION.
    head = (REPO / "debian" / "changelog").read_text()
    version = re.match(r"vlm-subagent \(([^)-]+)", head).group(1)
    day = re.search(r"^ -- .*>  \w+, (\d+ \w+ \d{4})", head, re.M).group(1)
    text = MIB_FILE.read_text()
    revision = re.search(r'REVISION\s+"(\d{8})\d{4}Z"\s+DESCRIPTION\s+"Version ([^:]+):', text)
    assert revision, "no REVISION naming a version"
    assert revision.group(2) == version
    assert time.strftime("%d %b %Y", time.strptime(revision.group(1), "%Y%m%d")).lstrip("0") == day.lstrip("0")
    assert re.search(r'LAST-UPDATED\s+"%s' % revision.group(1), text)


@pytest.mark.no_board
def test_every_notification_and_object_has_a_unique_name(mib, tmp_path):
    # The notifications the agent sends, by number. Faults: a notification
    # missing or under another number; an object without a syntax Net-SNMP
    # knows how to check; a descriptor given twice (Net-SNMP would keep one).
    assert mib.notifications == {
        1: "temperatureThresholdAlarm", 2: "temperatureThresholdClear",
        3: "voltageThresholdAlarm", 4: "voltageThresholdClear",
        5: "hardwareDetectEvent",
        8: "currentThresholdAlarm", 9: "currentThresholdClear",
        101: "memoryUsageAlarm", 102: "memoryUsageClear",
        103: "storageUsageAlarm", 104: "storageUsageClear",
        105: "powerStateChange", 106: "vlmGroupStatusChange",
    }
    assert all(leaf.syntax in WIRE_TYPES for leaf in mib.leaves.values())
    text = MIB_FILE.read_text()
    defined = re.findall(r"^(\w+)\s+(?:OBJECT-TYPE|NOTIFICATION-TYPE|OBJECT IDENTIFIER|MODULE-IDENTITY|"
                         r"OBJECT-GROUP|NOTIFICATION-GROUP|MODULE-COMPLIANCE)\b", text, re.M)
    assert len(defined) == len(set(defined))
    # Net-SNMP took in every object the file defines.
    assert len(mib.leaves) == len(re.findall(r"^\s+MAX-ACCESS\s+read-", text, re.M))


@pytest.fixture(params=["default", "wireless"])
def build(request):
    """The agent binaries to check: the default build, and the build with the
    wireless groups when VLM_SUBAGENT_WIRELESS names one."""
    if request.param == "wireless":
        if not WIRELESS_AGENT:
            pytest.skip("VLM_SUBAGENT_WIRELESS does not name a build with the wireless groups")
        return WIRELESS_AGENT
    return None


@pytest.mark.time_limit(120)
def test_the_walk_names_every_object_and_its_values_fit_the_mib(make_board, mib, build):
    # Faults: an object served that the MIB lacks (or under another OID); a
    # value of another type than the MIB's syntax (Net-SNMP's "Wrong Type"),
    # outside its range, size or enumeration, or text that is not what its
    # convention says; a scalar served with an instance other than 0, or a
    # table with another number of indexes; an index column that disagrees
    # with its row; a row missing a column. Every table has rows here: the
    # default build's objects must all be served. The wireless tables need
    # NetworkManager and a modem, so only their counts are required.
    board = start_board(make_board, agent=build)
    board.wait_uevent_listener()
    board.plug("stick_a")
    required = [leaf for leaf in mib.leaves.values()
                if not is_wireless(leaf) or (build and leaf.indexes is None)]
    check_walk(board, mib, required)


def test_every_object_of_the_mib_is_registered(make_board, mib, build):
    # A GET of an instance that does not exist gets noSuchInstance from a
    # registered object and noSuchObject from one the agent does not
    # register. Faults: a MIB object at an OID the agent does not serve (a
    # column past the table's last one, a scalar the group lacks, a group
    # under another arc). The wireless groups are registered only by a
    # build with them.
    board = make_board(agent=build)
    board.start_snmpd()
    board.start_agent()
    leaves = [leaf for leaf in mib.leaves.values() if build or not is_wireless(leaf)]
    oids = [leaf.oid + (".0" if leaf.indexes is None else ".2147483647" * len(leaf.indexes))
            for leaf in leaves]
    # The agent registers its groups one after the other once it is
    # connected: give the last ones time to arrive.
    deadline = time.monotonic() + 5
    while True:
        got = served(board, oids)
        unregistered = [leaf.name for leaf, oid in zip(leaves, oids) if got[oid] == "noSuchObject"]
        if not unregistered or time.monotonic() > deadline:
            break
        time.sleep(0.2)
    assert unregistered == []


SET_TYPES = {"INTEGER": "i", "OCTET STRING": "x", "IpAddress": "a", "Counter32": "u"}   # no counter type in snmpset


@pytest.mark.time_limit(120)
def test_objects_are_writable_exactly_where_the_mib_says(make_board, mib):
    # Each object of the walk is set to the value it has, alone in its
    # request: read-write objects take it, the others answer notWritable.
    # Faults: a MIB object read-write that the agent cannot write, or
    # read-only where it can.
    board = start_board(make_board)
    board.wait_uevent_listener()
    board.plug("stick_a")
    walk = wait_for_every_object(board, mib, [leaf for leaf in mib.leaves.values() if not is_wireless(leaf)])
    first: Dict[str, object] = {}
    for vb in walk:
        leaf, _ = split_instance(mib, vb.oid)
        first.setdefault(leaf.name, vb)
    faults = []
    for name, vb in first.items():
        value = vb.value.hex() if vb.type == "OCTET STRING" else str(vb.value)
        try:
            board.snmpset((vb.oid, SET_TYPES[vb.type], value))
            refused = None
        except SnmpError as e:
            refused = e.reason
        writable = mib.leaves[name].access == "-RW-"
        if (refused is None) != writable or refused not in (None, "notWritable"):
            faults.append("%s (%s): %s" % (name, mib.leaves[name].access, refused or "written"))
    assert faults == [], "\n".join(faults)


# -- notifications ------------------------------------------------------------------------------

def memory_in_use(percent):
    """/proc/meminfo figures giving `percent` in use."""
    d = DEFAULT_MEMINFO
    used = d["total"] * percent // 100
    return {"free": d["total"] - used - d["buffers"] - d["cached"] - d["slab"]}


def wait_named(log: Path, names, timeout: float) -> List[NamedTrap]:
    deadline = time.monotonic() + timeout
    while True:
        got = named_notifications(log)
        missing = set(names) - {n.name for n in got}
        if not missing:
            return got
        if time.monotonic() > deadline:
            raise AssertionError("not received by name: %s\n%s" % (sorted(missing), log.read_text(errors="replace")))
        time.sleep(0.1)


@pytest.mark.time_limit(120)
def test_a_receiver_with_the_mib_names_every_notification_and_its_objects(make_board, mib, tmp_path):
    # Every notification is caused once: sensors beyond and back within
    # their thresholds, memory and storage above and below theirs, a power
    # input failing, a USB stick arriving. Faults: a notification number
    # the MIB does not name; objects sent other than those the MIB's
    # OBJECTS clause lists, in its order (a scalar as its instance, a
    # column under its own OID, without a row); a value whose type disagrees with its
    # object's syntax.
    board = make_board(sensors=SENSORS)
    log = board.start_named_trapd()
    board.start_snmpd()
    board.start_agent()
    time.sleep(2.5)   # the first readings, which are not announced
    board.wait_uevent_listener()

    board.set_sensor("Temp CPU", 90.0)
    board.set_sensor("5VSB", 5.3)
    board.set_sensor("Current", 4.5)
    board.set_meminfo(**memory_in_use(85))
    board.set_df(filesystems_with_use("/dev/sda1", 85))
    board.set_device("vlmpsustatus", "10")
    board.plug("stick_a")
    board.set_wdtinfo(None)   # the watchdog driver unloaded: its group is absent
    raised = ["temperatureThresholdAlarm", "voltageThresholdAlarm", "currentThresholdAlarm", "memoryUsageAlarm",
              "storageUsageAlarm", "powerStateChange", "hardwareDetectEvent", "vlmGroupStatusChange"]
    wait_named(log, raised, timeout=12)

    board.set_sensor("Temp CPU", 45.0)
    board.set_sensor("5VSB", 5.0)
    board.set_sensor("Current", 1.5)
    board.set_meminfo(**memory_in_use(35))
    board.set_df(filesystems_with_use("/dev/sda1", 30))
    cleared = ["temperatureThresholdClear", "voltageThresholdClear", "currentThresholdClear", "memoryUsageClear",
               "storageUsageClear"]
    got = wait_named(log, cleared, timeout=12)

    assert sorted({n.name for n in got}) == sorted(mib.notifications.values())
    objects = {name: notification_objects(name, tmp_path) for name in mib.notifications.values()}
    for n in got:
        ours = [(name, value) for name, value in n.varbinds if name.startswith(MODULE + "::")]
        # Scalars under their instance, columns under the column's own OID,
        # but for the group table's, which carry their row (watchdog, 11).
        row = ".11" if n.name == "vlmGroupStatusChange" else ""
        expected = [o + (".0" if mib.leaves[o].indexes is None else row) for o in objects[n.name]]
        assert [name.split("::")[1] for name, _ in ours] == expected, n.line
        assert not any("Wrong Type" in value for _, value in n.varbinds), n.line
