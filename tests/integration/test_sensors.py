# SPDX-License-Identifier: BSD-3-Clause
"""The sensor group (1.3.6.1.4.1.42424.200.2.1, .2.2, .2.6): the board's
vlmhwmon chip read through libsensors every second, served as the
temperature, voltage and current tables with their count scalars, thresholds
set over SNMP and kept in each sensor's own group of the configuration file,
and the alarm and clear notifications reaching the master's trapsink."""

import concurrent.futures
import datetime
import time
import xml.etree.ElementTree as ET
from typing import Dict, List, NamedTuple

import pytest

import simboard
from simboard import DEFAULT_SENSORS, ENTERPRISE, Sensor, SnmpError

SENSORS = ENTERPRISE + ".200.2"
NOTIFICATIONS = ENTERPRISE + ".200.10"
UNIT_TEMP, UNIT_VOLT, UNIT_AMP = b"degree(s) Celsius", b"Volt", b"A"


class Family(NamedTuple):
    name: str
    table: str
    count: str
    alarm: int
    clear: int

    @property
    def entry(self):
        return self.table + ".1"

    def cell(self, col, index):
        return "%s.1.%d.%d" % (self.table, col, index)


TP = Family("temperature", SENSORS + ".1.2", SENSORS + ".1.1.0", 1, 2)
VT = Family("voltage", SENSORS + ".2.2", SENSORS + ".2.1.0", 3, 4)
CR = Family("current", SENSORS + ".6.2", SENSORS + ".6.1.0", 8, 9)
FAMILIES = (TP, VT, CR)

INDEX, NAME, UNIT, VALUE, HIGH, LOW, GET_TIME, STATE, HIGH_HIGH, LOW_LOW, LEVEL = range(1, 12)
THRESHOLD_KEYS = {HIGH: "High", LOW: "Low", HIGH_HIGH: "HighHigh", LOW_LOW: "LowLow"}
# The varbinds of a notification after snmpTrapOID: entry.N, no row index.
TRAP_COLUMNS = (INDEX, NAME, VALUE, HIGH, LOW, HIGH_HIGH, LOW_LOW, LEVEL)

# Factory thresholds (High, Low, HighHigh, LowLow) of the default chip's sensors.
FACTORY = {
    "VIN": (b"12.6", b"11.4", b"13.2", b"10.8"), "12V": (b"12.6", b"11.4", b"13.2", b"10.8"),
    "5VSB": (b"5.25", b"4.75", b"5.5", b"4.5"), "VBAT": (b"3.4", b"2.8", b"3.6", b"2.5"),
    "VCORE": (b"1.3", b"0.9", b"1.4", b"0.8"), "Current": (b"4.0", b"", b"5.0", b""),
    "Temp CPU": (b"85", b"-20", b"95", b"-40"),
}
NA = (b"N/A",) * 4


def row(index, name, unit, value, thresholds, state=1, level=1):
    """A row as served, column 7 (the time of the request) left out."""
    high, low, high_high, low_low = thresholds
    return {INDEX: index, NAME: name, UNIT: unit, VALUE: value, HIGH: high, LOW: low,
            STATE: state, HIGH_HIGH: high_high, LOW_LOW: low_low, LEVEL: level}


def rows(board, family) -> Dict[int, dict]:
    """{index: {column: value}} of a table as walked, column 7 left out."""
    out: Dict[int, dict] = {}
    for vb in board.snmpwalk(family.table):
        if not vb.oid.startswith(family.entry + "."):
            continue   # noSuchObject: the table is not registered
        col, index = (int(x) for x in vb.oid.split(".")[-2:])
        if col != GET_TIME:
            out.setdefault(index, {})[col] = vb.value
    return out


def counts(board):
    return [vb.value for vb in board.snmpget(*(f.count for f in FAMILIES))]


def wait_until(what, condition, timeout=4.0):
    """Polls `condition` (the acquisition cycle runs every second) until it
    returns something true; returns that."""
    deadline = time.monotonic() + timeout
    while True:
        got = condition()
        if got:
            return got
        if time.monotonic() > deadline:
            raise AssertionError("%s: not within %.1f s" % (what, timeout))
        time.sleep(0.1)


def wait_rows(board, family, expected, timeout=4.0):
    """Waits until the table shows exactly `expected`; fails with the last
    rows seen."""
    deadline = time.monotonic() + timeout
    while True:
        got = rows(board, family)
        if got == expected:
            return got
        if time.monotonic() > deadline:
            assert got == expected, "%s table after %.1f s" % (family.name, timeout)
        time.sleep(0.1)


def start_agent(board, published=True):
    """Starts the agent and, with `published`, waits until its first
    acquisition cycle has published the temperature table (about 2 s)."""
    board.start_agent()
    if published:
        wait_until("the sensor tables published", lambda: rows(board, TP), timeout=5)


def config_details(text):
    """{(group, key): value} of every detail of a configuration file."""
    out, group = {}, None
    for el in ET.fromstring(text).iter():
        if el.tag == "subtype":
            group = el.get("id")
        elif el.tag == "detail":
            out[(group, el.get("name"))] = el.text or ""
    return out


def sensor_traps(board):
    return [t for t in board.traps(enterprise=NOTIFICATIONS) if t.number in (1, 2, 3, 4, 8, 9)]


def check_notification(trap, family, number, expected_row):
    """A notification as the master forwards it to its trapsink: SNMPv1,
    enterprise .200.10, trap number `number`, the row's objects in order."""
    assert (trap.version, trap.generic, trap.number, trap.enterprise) == ("v1", 6, number, NOTIFICATIONS)
    assert [vb.oid for vb in trap.varbinds] == ["%s.%d" % (family.entry, c) for c in TRAP_COLUMNS]
    assert [vb.type for vb in trap.varbinds] == \
        ["INTEGER"] + ["OCTET STRING"] * 6 + ["INTEGER"]
    assert [vb.value for vb in trap.varbinds] == [expected_row[c] for c in TRAP_COLUMNS]


class Recipe(NamedTuple):
    """How a board of the pool is made: the chip, what is done to the
    sandbox before snmptrapd, snmpd and the agent start, and whether the
    agent is awaited until it has published its first rows."""
    sensors: object = DEFAULT_SENSORS
    prepare: object = None
    published: bool = True


class BoardPool:
    """Boards with the agent running, all started together in the
    background when the first one is taken: the agent publishes its first
    rows two seconds after it starts, and the tests would otherwise wait for
    that one board after the other. `wanted` maps recipes to counts."""

    def __init__(self, wanted: Dict[Recipe, int]):
        self.wanted = {r: n for r, n in wanted.items() if n}
        self.boards: List[simboard.Board] = []
        self.pending: Dict[Recipe, List[concurrent.futures.Future]] = {}
        self.executor = None

    def _bring_up(self, recipe):
        board = simboard.Board(sensors=recipe.sensors)
        self.boards.append(board)
        board.start()
        if recipe.prepare:
            recipe.prepare(board)
        board.start_trapd()
        board.start_snmpd()
        start_agent(board, published=recipe.published)
        return board

    def take(self, recipe: Recipe) -> simboard.Board:
        if self.executor is None:
            self.executor = concurrent.futures.ThreadPoolExecutor(
                max_workers=max(1, sum(self.wanted.values())))
            self.pending = {r: [self.executor.submit(self._bring_up, r) for _ in range(n)]
                            for r, n in self.wanted.items()}
        if not self.pending.get(recipe):
            raise RuntimeError("more boards taken than the pool was made for")
        return self.pending[recipe].pop(0).result(timeout=30)

    def close(self):
        if self.executor is not None:
            self.executor.shutdown(wait=True)
        for board in self.boards:
            board.close()


FACTORY_BOARD = Recipe()


@pytest.fixture(scope="module")
def board_pool(request):
    users = [item.fixturenames for item in request.session.items if item.module is request.module]
    pool = BoardPool({
        FACTORY_BOARD: sum("fresh_board" in f for f in users) + any("factory_board" in f for f in users),
        ODD_BOARD: int(any("odd_board" in f for f in users)),
        FOREIGN_CHIP_BOARD: sum("foreign_chip_board" in f for f in users),
    })
    yield pool
    pool.close()


@pytest.fixture
def fresh_board(board_pool, request):
    """A board of its own, the agent running on the factory chip and
    configuration, its first rows published."""
    board = board_pool.take(FACTORY_BOARD)
    request.node._vlm_boards = [board]
    yield board
    board.close()


@pytest.fixture(scope="module")
def shared_factory_board(board_pool):
    return board_pool.take(FACTORY_BOARD)


@pytest.fixture
def factory_board(shared_factory_board, request):
    """One board for the tests that change nothing, shared by them."""
    request.node._vlm_boards = [shared_factory_board]
    return shared_factory_board


# -- the factory board: rows, counts, walk, time column ---------------------------------


DEFAULT_ROWS = {
    TP: {1: row(1, b"Temp CPU", UNIT_TEMP, b"  45.0", FACTORY["Temp CPU"])},
    VT: {1: row(1, b"VIN", UNIT_VOLT, b" 12.00", FACTORY["VIN"]),
         2: row(2, b"5VSB", UNIT_VOLT, b"  5.00", FACTORY["5VSB"]),
         3: row(3, b"VBAT", UNIT_VOLT, b"  3.00", FACTORY["VBAT"]),
         4: row(4, b"VCORE", UNIT_VOLT, b"  1.10", FACTORY["VCORE"]),
         5: row(5, b"12V", UNIT_VOLT, b" 12.00", FACTORY["12V"])},
    CR: {1: row(1, b"Current", UNIT_AMP, b"  1.50", FACTORY["Current"])},
}


def test_factory_chip_rows_counts_units_and_thresholds(factory_board):
    # Faults: a sensor missing or doubled; values not in "%6.1f"/"%6.2f"
    # (45 served as "45" or "45.00"); wrong unit texts; thresholds taken from
    # another sensor's group (VIN's for 5VSB) or from another family; the
    # empty current lows served as "N/A"; index, state or level of the wrong
    # type; counts not the numbers of features; a notification without
    # cause (every reading lies within its thresholds).
    for family in FAMILIES:
        assert rows(factory_board, family) == DEFAULT_ROWS[family], family.name
    assert counts(factory_board) == [1, 5, 1]
    types = {vb.oid.split(".")[-2]: vb.type for vb in factory_board.snmpwalk(VT.table)}
    assert [types[str(c)] for c in range(1, 12)] == \
        ["INTEGER"] + ["OCTET STRING"] * 6 + ["INTEGER", "OCTET STRING", "OCTET STRING", "INTEGER"]
    assert sensor_traps(factory_board) == []


def test_getnext_walks_each_table_column_by_column_in_index_order(factory_board):
    # Faults: rows served in list order (the newest first) instead of index
    # order; a GETNEXT that repeats or skips a cell, or does not leave the
    # table after its last cell; the count scalar not before its table.
    walked = [vb.oid for vb in factory_board.snmpwalk(SENSORS)]
    for family in FAMILIES:
        indexes = sorted(DEFAULT_ROWS[family])
        expected = [family.count.lstrip(".")] + \
            ["%s.1.%d.%d" % (family.table, c, i) for c in range(1, 12) for i in indexes]
        mine = [oid for oid in walked if oid == family.count or oid.startswith(family.table + ".")]
        assert mine == expected, family.name
        # one GETNEXT at a time from the table's own OID
        oid, seen = family.table, []
        while True:
            vb = factory_board.snmpgetnext(oid)[0]
            if not vb.oid.startswith(family.table + "."):
                break
            seen.append(vb.oid)
            oid = vb.oid
        assert seen == expected[1:], family.name


def date_and_time(octets):
    """An 11-octet DateAndTime as an aware datetime."""
    assert len(octets) == 11, octets
    year = octets[0] << 8 | octets[1]
    offset = datetime.timedelta(hours=octets[9], minutes=octets[10])
    tz = datetime.timezone(offset if octets[8] == ord("+") else -offset)
    return datetime.datetime(year, octets[2], octets[3], octets[4], octets[5], octets[6],
                             octets[7] * 100000, tzinfo=tz)


def test_get_time_is_the_time_of_each_request(factory_board):
    # Faults: column 7 served as the stored "NULL" or as a fixed time of
    # the cycle; not 11 octets; local time with a wrong UTC offset; bad
    # columns and rows not answered as noSuchObject / noSuchInstance.
    # (the library's conversion gives whole seconds: deci-seconds are 0)
    first = {}
    for family in FAMILIES:
        first[family] = date_and_time(factory_board.get_value(family.cell(GET_TIME, 1)))
        now = datetime.datetime.now(datetime.timezone.utc)
        assert abs((first[family] - now).total_seconds()) < 3, family.name
    time.sleep(1.1)
    for family in FAMILIES:
        second = date_and_time(factory_board.get_value(family.cell(GET_TIME, 1)))
        assert second > first[family], family.name
    got = factory_board.snmpget(VT.cell(12, 1), VT.cell(VALUE, 99), VT.cell(GET_TIME, 99))
    assert [vb.type for vb in got] == ["noSuchObject", "noSuchInstance", "noSuchInstance"]


# -- SET rules ----------------------------------------------------------------------------


def settings(board):
    """Every writable cell of every row, as served."""
    out = {}
    for family in FAMILIES:
        for index, cells in rows(board, family).items():
            for col in (HIGH, LOW, STATE, HIGH_HIGH, LOW_LOW):
                out[(family.name, index, col)] = cells[col]
    return out


REFUSED = [
    # ordering: strictly LowLow < Low < High < HighHigh, for every family
    ([(VT.cell(HIGH, 2), "s", "5.5")], "wrongValue"),         # 5VSB High equal to HighHigh
    ([(VT.cell(HIGH, 2), "s", "5.6")], "wrongValue"),         # above HighHigh
    ([(VT.cell(HIGH, 2), "s", "4.7")], "wrongValue"),         # below Low
    ([(VT.cell(LOW_LOW, 2), "s", "4.75")], "wrongValue"),     # equal to Low
    ([(VT.cell(HIGH_HIGH, 1), "s", "12")], "wrongValue"),     # VIN HighHigh below High
    ([(TP.cell(HIGH, 1), "s", "-30")], "wrongValue"),         # temperature is ordered too
    ([(TP.cell(LOW, 1), "s", "95")], "wrongValue"),
    ([(CR.cell(HIGH_HIGH, 1), "s", "3.5")], "wrongValue"),    # below crHigh 4.0
    # no negative voltage or current; a non-number reads as 0
    ([(VT.cell(LOW_LOW, 3), "s", "-1")], "wrongValue"),
    ([(CR.cell(LOW, 1), "s", "-0.5")], "wrongValue"),
    ([(VT.cell(LOW, 4), "s", "abc")], "wrongValue"),          # 0 below LowLow 0.8
    # the switch takes 1 or 2 only
    ([(VT.cell(STATE, 1), "i", "3")], "wrongValue"),
    ([(TP.cell(STATE, 1), "i", "0")], "wrongValue"),
    ([(CR.cell(STATE, 1), "i", "3")], "wrongValue"),
    # types and lengths: 10 octets leave no room for the terminator
    ([(VT.cell(HIGH, 2), "s", "5.25000001")], "wrongLength"),
    ([(VT.cell(HIGH, 2), "s", "5.250000001")], "wrongLength"),
    ([(TP.cell(HIGH, 1), "s", "85.0000001")], "wrongLength"),
    ([(VT.cell(HIGH, 2), "i", "5")], "wrongType"),
    ([(VT.cell(STATE, 2), "s", "1")], "wrongType"),
    # read-only columns
    ([(VT.cell(INDEX, 1), "i", "7")], "notWritable"),
    ([(VT.cell(NAME, 1), "s", "VIN")], "notWritable"),
    ([(VT.cell(UNIT, 1), "s", "Volt")], "notWritable"),
    ([(VT.cell(VALUE, 1), "s", "12.00")], "notWritable"),
    ([(TP.cell(GET_TIME, 1), "x", "07E8010100000000000000")], "notWritable"),
    ([(CR.cell(LEVEL, 1), "i", "1")], "notWritable"),
    # rows are never created by a SET
    ([(VT.cell(HIGH, 99), "s", "5")], "noCreation"),
    ([(TP.cell(STATE, 2), "i", "2")], "noCreation"),
    # all or nothing: a good varbind before a bad one is not kept
    ([(VT.cell(HIGH, 2), "s", "5.3"), (VT.cell(STATE, 2), "i", "3")], "wrongValue"),
    ([(TP.cell(STATE, 1), "i", "2"), (CR.cell(HIGH, 1), "s", "-1")], "wrongValue"),
    ([(VT.cell(LOW, 3), "s", "2.7"), (VT.cell(VALUE, 3), "s", "3")], "notWritable"),
]


def test_refused_writes_change_neither_the_tables_nor_the_file(factory_board):
    # Faults: out-of-order, equal, negative or over-long thresholds accepted;
    # a switch other than 1 or 2 accepted; a read-only column or a missing
    # row written (or a row created); the wrong error; a refused request
    # leaving its good varbinds applied in a row, in the threshold source
    # (seen at the next cycle) or in the configuration file.
    board = factory_board
    before, config = settings(board), board.read_config()
    for varbinds, reason in REFUSED:
        with pytest.raises(SnmpError) as err:
            board.snmpset(*varbinds)
        assert err.value.reason == reason, varbinds
        assert board.read_config() == config, varbinds
    assert settings(board) == before
    time.sleep(1.2)   # one more cycle: the threshold sources are unchanged too
    assert settings(board) == before
    assert {f: rows(board, f) for f in FAMILIES} == DEFAULT_ROWS
    assert board.read_config() == config


def test_accepted_writes_go_to_the_sensors_own_group_and_last(fresh_board):
    # Faults: a write kept only in the row (lost at the next cycle) or only in
    # the file; written under another sensor's group (the first voltage
    # group, VIN) or key; the switch not persisted; a negative temperature
    # threshold refused; an empty text not clearing a threshold; the values
    # not read back after a restart.
    board = fresh_board
    config = board.read_config()
    board.snmpset((VT.cell(HIGH, 2), "s", "5.3"), (VT.cell(STATE, 2), "i", "2"))
    board.snmpset((VT.cell(LOW_LOW, 3), "s", ""))
    board.snmpset((TP.cell(LOW_LOW, 1), "s", "-45"), (TP.cell(STATE, 1), "i", "2"))
    board.snmpset((CR.cell(LOW, 1), "s", "1.0"))
    board.snmpset((VT.cell(HIGH_HIGH, 5), "s", "13.25"))
    expected = {
        TP: {1: row(1, b"Temp CPU", UNIT_TEMP, b"  45.0", (b"85", b"-20", b"95", b"-45"), state=2)},
        VT: dict(DEFAULT_ROWS[VT]),
        CR: {1: row(1, b"Current", UNIT_AMP, b"  1.50", (b"4.0", b"1.0", b"5.0", b""))},
    }
    expected[VT][2] = row(2, b"5VSB", UNIT_VOLT, b"  5.00", (b"5.3", b"4.75", b"5.5", b"4.5"), state=2)
    expected[VT][3] = row(3, b"VBAT", UNIT_VOLT, b"  3.00", (b"3.4", b"2.8", b"3.6", b""))
    expected[VT][5] = row(5, b"12V", UNIT_VOLT, b" 12.00", (b"12.6", b"11.4", b"13.25", b"10.8"))
    for family in FAMILIES:
        assert rows(board, family) == expected[family], family.name
    changed = {("5VSB", "vtHigh"): "5.3", ("5VSB", "vtState"): "2", ("VBAT", "vtLowLow"): "",
               ("Temp CPU", "tpLowLow"): "-45", ("Temp CPU", "tpState"): "2",
               ("Current", "crLow"): "1.0", ("12V", "vtHighHigh"): "13.25"}
    assert config_details(board.read_config()) == {**config_details(config), **changed}
    time.sleep(1.2)   # the next cycle rebuilds the rows from the threshold sources
    for family in FAMILIES:
        assert rows(board, family) == expected[family], family.name
    board.stop_agent()
    start_agent(board)
    for family in FAMILIES:
        assert rows(board, family) == expected[family], family.name
    assert sensor_traps(board) == []


# -- an unusual chip: filtered features, groups, long labels and readings ----------------


ODD_SENSORS = (
    Sensor("in", "VIN", 12.0), Sensor("in", "Vin", 11.9), Sensor("in", "VDDR", 1.35),
    Sensor("in", "VCORE regulator output", 1.1),   # 22 characters
    Sensor("in", "5VSB", 1234567.0),                # "1234567.00": 10 characters
    Sensor("in", "VBAT", 999999.99),                # "999999.99": 9 characters
    Sensor("in", "12V", 12.0),                      # made unreadable below
    Sensor("temp", "Temp SYS", 30.0), Sensor("temp", "Temp CPU", -5.0),
    Sensor("curr", "Aux", 0.5), Sensor("curr", "Current", 1.5),
)
VIN_LOWER = (b"12.7", b"11.3", b"13.3", b"10.7")   # the Vin group, apart from VIN's
ODD_ROWS = {
    TP: {2: row(2, b"Temp CPU", UNIT_TEMP, b"  -5.0", FACTORY["Temp CPU"])},
    VT: {1: row(1, b"VIN", UNIT_VOLT, b" 12.00", FACTORY["VIN"]),
         2: row(2, b"Vin", UNIT_VOLT, b" 11.90", VIN_LOWER),
         3: row(3, b"VDDR", UNIT_VOLT, b"  1.35", NA, state=0, level=0),
         4: row(4, b"VCORE regulator out", UNIT_VOLT, b"  1.10", NA, state=0, level=0),
         # an empty reading is judged as 0: below LowLow
         5: row(5, b"5VSB", UNIT_VOLT, b"", FACTORY["5VSB"], level=2),
         6: row(6, b"VBAT", UNIT_VOLT, b"999999.99", FACTORY["VBAT"], level=5),
         7: row(7, b"12V", UNIT_VOLT, b"", FACTORY["12V"], level=2)},
    CR: {2: row(2, b"Current", UNIT_AMP, b"  1.50", FACTORY["Current"])},
}


def prepare_odd_board(board):
    board.set_config_details({("Vin", "vt" + k): v.decode() for k, v in
                              zip(("High", "Low", "HighHigh", "LowLow"), VIN_LOWER)})
    board.set_sensor_readable("12V", False)


ODD_BOARD = Recipe(ODD_SENSORS, prepare_odd_board)


@pytest.fixture(scope="module")
def shared_odd_board(board_pool):
    return board_pool.take(ODD_BOARD)


@pytest.fixture
def odd_board(shared_odd_board, request):
    request.node._vlm_boards = [shared_odd_board]
    return shared_odd_board


def test_odd_chip_rows_follow_the_filters_and_the_groups(odd_board):
    # Faults: a temperature feature without "Temp CPU" (or a current one
    # without "Current") given a row, or not using up its index (the row
    # then has index 1); counts of rows instead of features; a group matched
    # regardless of case ("Vin" taking VIN's thresholds); an ungrouped
    # voltage without "N/A", state 0 and level 0; a label of 20 characters
    # or more not cut to 19; a reading too wide for 9 characters served
    # truncated instead of empty; an unreadable input dropping the row or
    # serving a stale or zero reading, or its empty value not judged as 0.
    for family in FAMILIES:   # the levels follow a cycle after the readings
        wait_rows(odd_board, family, ODD_ROWS[family])
    assert counts(odd_board) == [2, 7, 2]
    assert odd_board.agent.running()


def test_thresholds_of_an_ungrouped_voltage_cannot_be_written(odd_board):
    # "N/A" reads as 0, so no threshold fits between the others. Faults: a
    # threshold accepted for a sensor without a group, or written into
    # another group of the file (VDDR is a substring of no group name).
    config = odd_board.read_config()
    for col in THRESHOLD_KEYS:
        with pytest.raises(SnmpError) as err:
            odd_board.snmpset((VT.cell(col, 3), "s", "5"))
        assert err.value.reason == "wrongValue", col
    assert odd_board.read_config() == config
    assert rows(odd_board, VT)[3] == ODD_ROWS[VT][3]


# -- a chip that changes while the agent runs ------------------------------------------


def test_rows_follow_readings_and_sensors_as_they_change(fresh_board):
    # Faults: readings cached from the first cycle; an unreadable input
    # dropping its row or not served empty, or staying empty once readable
    # again; a new
    # sensor without a row, a removed one leaving a stale row, indexes not
    # counted afresh; the count scalars lagging behind the rows.
    board = fresh_board
    board.set_sensor("Temp CPU", 52.5)
    board.set_sensor("VBAT", 3.05)
    board.set_sensor("Current", 2.25)
    # VDDR has no group, so that its reading (0 while unreadable) raises
    # nothing here; notifications on changing chips are tested below.
    board.add_sensor("in", "VDDR", 1.35)
    board.set_sensor_readable("VDDR", False)
    expected = {i: dict(r) for i, r in DEFAULT_ROWS[VT].items()}
    expected[3][VALUE] = b"  3.05"
    expected[6] = row(6, b"VDDR", UNIT_VOLT, b"", NA, state=0, level=0)
    wait_rows(board, VT, expected)
    assert [rows(board, TP)[1][VALUE], rows(board, CR)[1][VALUE]] == [b"  52.5", b"  2.25"]
    assert counts(board) == [1, 6, 1]

    board.set_sensor_readable("VDDR", True)
    board.remove_sensor("5VSB")   # the later ones move up one index
    expected = {1: expected[1]}
    for index, (name, value) in enumerate([(b"VBAT", b"  3.05"), (b"VCORE", b"  1.10"),
                                           (b"12V", b" 12.00")], start=2):
        expected[index] = row(index, name, UNIT_VOLT, value, FACTORY[name.decode()])
    expected[5] = row(5, b"VDDR", UNIT_VOLT, b"  1.35", NA, state=0, level=0)
    wait_rows(board, VT, expected)
    assert counts(board) == [1, 5, 1]


def test_tables_are_withdrawn_while_the_chip_has_no_temperature(fresh_board):
    # Faults: stale rows served while no temperature sensor is found, or only
    # the temperature table emptied; the counts not following the chip; the
    # tables not coming back when the temperature sensor returns; the agent
    # ending when the chip loses a feature.
    board = fresh_board
    board.remove_temperatures()
    wait_until("all three tables empty", lambda: not any(rows(board, f) for f in FAMILIES), timeout=5)
    assert counts(board) == [0, 5, 1]
    board.set_sensor("VBAT", 3.1)
    board.restore_temperatures()
    expected = dict(DEFAULT_ROWS)
    expected[VT] = {i: dict(r) for i, r in DEFAULT_ROWS[VT].items()}
    expected[VT][3][VALUE] = b"  3.10"
    wait_until("the tables back with fresh readings",
               lambda: {f: rows(board, f) for f in FAMILIES} == expected, timeout=6)
    assert counts(board) == [1, 5, 1]
    assert board.agent.running()


NO_TEMPERATURE = [s if s.label != "VBAT" else Sensor("in", "VBAT", 2.0)
                  for s in DEFAULT_SENSORS if s.kind != "temp"]


def prepare_foreign_chip(board):
    """A foreign chip first, with a "Temp CPU" of its own; then the vlmhwmon
    chip without temperature sensor, VBAT below its LowLow."""
    board.add_chip("acpitz", [Sensor("temp", "Temp CPU", 60.0), Sensor("in", "VIN", 12.0)])
    board.add_chip("vlmhwmon", NO_TEMPERATURE)


FOREIGN_CHIP_BOARD = Recipe(None, prepare_foreign_chip, published=False)


@pytest.fixture
def foreign_chip_board(board_pool, request):
    board = board_pool.take(FOREIGN_CHIP_BOARD)
    request.node._vlm_boards = [board]
    yield board
    board.close()


def test_only_the_vlmhwmon_chip_counts_and_nothing_is_published_without_temperature(foreign_chip_board):
    # Faults: the first chip of libsensors read whatever its name (the
    # foreign chip comes first and has a "Temp CPU"); tables or notifications
    # from a chip that has voltage sensors but no temperature sensor (VBAT is
    # below its LowLow); the agent failing or keeping stale counts when the
    # chip goes away; the tables not published once a temperature sensor
    # appears.
    board = foreign_chip_board
    wait_until("the counts of the vlmhwmon chip", lambda: counts(board) == [0, 5, 1], timeout=5)
    time.sleep(1.2)   # a whole cycle after the counts
    assert not any(rows(board, f) for f in FAMILIES)
    assert sensor_traps(board) == []

    board.remove_chip()
    wait_until("no chip, no counts", lambda: counts(board) == [0, 0, 0])
    board.add_chip("vlmhwmon", [Sensor("temp", "Temp CPU", 45.0)] + NO_TEMPERATURE)
    wait_until("the tables published", lambda: rows(board, TP) == DEFAULT_ROWS[TP], timeout=5)
    vbat = board.wait_trap(lambda t: t.number == VT.alarm, enterprise=NOTIFICATIONS, timeout=4)
    check_notification(vbat, VT, VT.alarm, row(3, b"VBAT", UNIT_VOLT, b"  2.00", FACTORY["VBAT"], level=2))
    assert board.agent.running()


# -- notifications ---------------------------------------------------------------------


def wait_sensor_trap(board, number, after, started, limit=2.5):
    """The first sensor notification `number` from index `after` of the
    sensor notifications on; it must come within `limit` seconds of
    `started` (a change of the chip)."""
    deadline = time.monotonic() + limit + 1.5
    while True:
        found = [t for t in sensor_traps(board)[after:] if t.number == number]
        if found:
            trap = found[0]
            break
        assert time.monotonic() < deadline, "no sensor notification %d within %.1f s" % (number, limit + 1.5)
        time.sleep(0.02)
    elapsed = time.monotonic() - started
    assert elapsed < limit, "notification %d came %.1f s after the change" % (number, elapsed)
    return trap


def test_alarms_and_clears_of_the_three_families_reach_the_receiver(fresh_board):
    # Faults: no notification, or one repeated every cycle while the reading
    # stays beyond the threshold; the wrong trap number; varbinds missing,
    # out of order, with a row index, or with the level from before the
    # decision; a band change (High to HighHigh) sending a clear in between;
    # no clear on return; the families checked in another order than
    # temperature, voltage, current; the level column not following.
    board = fresh_board
    assert sensor_traps(board) == []
    changed = time.monotonic()
    board.set_sensor("Temp CPU", 90.0)
    board.set_sensor("5VSB", 5.3)
    board.set_sensor("Current", 4.5)
    tp = wait_sensor_trap(board, TP.alarm, 0, changed)
    check_notification(tp, TP, TP.alarm, row(1, b"Temp CPU", UNIT_TEMP, b"  90.0", FACTORY["Temp CPU"], level=4))
    vt = wait_sensor_trap(board, VT.alarm, 0, changed)
    check_notification(vt, VT, VT.alarm, row(2, b"5VSB", UNIT_VOLT, b"  5.30", FACTORY["5VSB"], level=4))
    cr = wait_sensor_trap(board, CR.alarm, 0, changed)
    check_notification(cr, CR, CR.alarm, row(1, b"Current", UNIT_AMP, b"  4.50", FACTORY["Current"], level=4))
    assert [t.number for t in sensor_traps(board)] == [1, 3, 8]
    wait_until("level 4 in the rows", lambda: [
        board.get_value(TP.cell(LEVEL, 1)), board.get_value(VT.cell(LEVEL, 2)),
        board.get_value(CR.cell(LEVEL, 1))] == [4, 4, 4], timeout=3)

    time.sleep(1.2)   # another cycle in the same band: nothing new
    assert len(sensor_traps(board)) == 3
    changed = time.monotonic()
    board.set_sensor("5VSB", 5.6)
    vt = wait_sensor_trap(board, VT.alarm, 3, changed)
    check_notification(vt, VT, VT.alarm, row(2, b"5VSB", UNIT_VOLT, b"  5.60", FACTORY["5VSB"], level=5))

    changed = time.monotonic()
    board.set_sensor("Temp CPU", 45.0)
    board.set_sensor("5VSB", 5.0)
    board.set_sensor("Current", 1.5)
    tp = wait_sensor_trap(board, TP.clear, 4, changed)
    check_notification(tp, TP, TP.clear, DEFAULT_ROWS[TP][1])
    vt = wait_sensor_trap(board, VT.clear, 4, changed)
    check_notification(vt, VT, VT.clear, DEFAULT_ROWS[VT][2])
    cr = wait_sensor_trap(board, CR.clear, 4, changed)
    check_notification(cr, CR, CR.clear, DEFAULT_ROWS[CR][1])
    assert [t.number for t in sensor_traps(board)] == [1, 3, 8, 3, 2, 4, 9]
    wait_until("level 1 in the rows", lambda: [
        board.get_value(TP.cell(LEVEL, 1)), board.get_value(VT.cell(LEVEL, 2)),
        board.get_value(CR.cell(LEVEL, 1))] == [1, 1, 1], timeout=3)


def test_switch_unreadable_inputs_and_sensors_sharing_a_group(fresh_board):
    # Faults: a notification sent while the sensor's switch is off, or its
    # level not following; switching on during a persisting alarm not
    # repeating the alarm (or repeating it every cycle); an unreadable input
    # not judged as 0 (VCORE's LowLow is 0.8); two sensors of one group
    # sharing band flags, so that the one within its thresholds clears the
    # other's alarm every cycle.
    board = fresh_board
    board.snmpset((VT.cell(STATE, 3), "i", "2"))
    changed = time.monotonic()
    board.set_sensor("VBAT", 2.0)
    board.set_sensor_readable("VCORE", False)
    vcore = wait_sensor_trap(board, VT.alarm, 0, changed)
    check_notification(vcore, VT, VT.alarm, row(4, b"VCORE", UNIT_VOLT, b"", FACTORY["VCORE"], level=2))
    wait_until("VBAT at level 2", lambda: board.get_value(VT.cell(LEVEL, 3)) == 2, timeout=3)
    time.sleep(1.2)   # a further check sees the alarm while the switch is still off
    assert [t.number for t in sensor_traps(board)] == [VT.alarm]
    # The input that cannot be read makes the group's reading incomplete.
    sensors = board.wait_groups({"sensors": "failing"}, timeout=3)["sensors"]
    assert sensors["error"].startswith("VCORE: "), sensors

    board.snmpset((VT.cell(STATE, 3), "i", "1"))
    switched = time.monotonic()
    vbat = wait_sensor_trap(board, VT.alarm, 1, switched)
    check_notification(vbat, VT, VT.alarm, row(3, b"VBAT", UNIT_VOLT, b"  2.00", FACTORY["VBAT"], level=2))

    changed = time.monotonic()
    board.add_sensor("temp", "Temp CPU board", 45.0)
    board.set_sensor("Temp CPU", 90.0)
    tp = wait_sensor_trap(board, TP.alarm, 2, changed, limit=3.5)
    assert [vb.value for vb in tp.varbinds][:3] == [1, b"Temp CPU", b"  90.0"]
    time.sleep(1.2)   # another cycle with one temperature above High, one normal
    assert [t.number for t in sensor_traps(board)] == [VT.alarm, VT.alarm, TP.alarm]
    assert rows(board, TP)[2][VALUE] == b"  45.0"


def test_a_sensor_keeps_its_alarm_when_other_sensors_come_and_go(fresh_board):
    # A sensor is the same sensor when an input before it vanishes or
    # returns and its index moves. Faults: its band state lost with the old
    # index, so that the alarm is sent again while nothing changed, or the
    # clear is never sent and the level column stays at the alarm's level
    # when the reading returns in the cycle that moves it back.
    board = fresh_board
    changed = time.monotonic()
    board.set_sensor("VCORE", 0.5)
    alarm = wait_sensor_trap(board, VT.alarm, 0, changed)
    check_notification(alarm, VT, VT.alarm, row(4, b"VCORE", UNIT_VOLT, b"  0.50", FACTORY["VCORE"], level=2))
    five_vsb = board.remove_sensor("5VSB")
    wait_until("VCORE at index 3", lambda: rows(board, VT).get(3, {}).get(NAME) == b"VCORE")
    time.sleep(1.2)
    board.set_sensor("VCORE", 1.1)
    board.add_sensor(*five_vsb)
    wait_until("VCORE back at index 4 with its reading",
               lambda: rows(board, VT).get(4, {}).get(VALUE) == b"  1.10")
    time.sleep(1.2)   # the clear, a cycle at most after the reading
    assert [(t.number, t.value(VT.entry + ".1"), t.value(VT.entry + ".11")) for t in sensor_traps(board)] == \
        [(VT.alarm, 4, 2), (VT.clear, 4, 1)]
    wait_rows(board, VT, DEFAULT_ROWS[VT])
