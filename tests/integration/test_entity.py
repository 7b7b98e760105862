# SPDX-License-Identifier: BSD-3-Clause
"""The standard entity view: ENTITY-MIB's entPhysicalTable and
entLastChangeTime (1.3.6.1.2.1.47) and ENTITY-SENSOR-MIB's entPhySensorTable
(1.3.6.1.2.1.99), as a manager that knows only the standard MIBs walks them
on the board, checked against what the board's chip, power-supply driver and
disks hold and what the private tables serve."""

import time

from simboard import ENTERPRISE

PHYSICAL = "1.3.6.1.2.1.47.1.1.1.1"
LAST_CHANGE = "1.3.6.1.2.1.47.1.4.1.0"
SENSOR = "1.3.6.1.2.1.99.1.1.1"
HD_ENTRY = ENTERPRISE + ".200.3.1.2.1"

DESCR, VENDOR, CONTAINED, CLASS, RELPOS, NAME = 2, 3, 4, 5, 6, 7
FIRMWARE, SOFTWARE, SERIAL, MODEL, FRU = 9, 10, 11, 13, 16
TYPE, SCALE, PRECISION, VALUE, STATUS, UNITS, STAMP, RATE = range(1, 9)
CHASSIS, SENSOR_CLASS, POWER_SUPPLY, STORAGE_DRIVE = 3, 8, 6, 15
CELSIUS, VOLTS_DC, AMPERES, TRUTHVALUE = 8, 4, 5, 12
MILLI, UNITS_SCALE = 8, 9
OK, UNAVAILABLE, NONOPERATIONAL = 1, 2, 3
KIND = {"temp": (1000, CELSIUS, b"degrees C"), "in": (2000, VOLTS_DC, b"V"), "curr": (3000, AMPERES, b"A")}


def table(board, root):
    """{index: {column: value}} of a table walked through the master."""
    out = {}
    for vb in board.snmpwalk(root):
        col, index = (int(x) for x in vb.oid.split(".")[-2:])
        out.setdefault(index, {})[col] = vb.value
    return out


def wait_for(what, condition, timeout=6.0):
    deadline = time.monotonic() + timeout
    while True:
        got = condition()
        if got:
            return got
        assert time.monotonic() < deadline, "%s: not within %.1f s" % (what, timeout)
        time.sleep(0.2)


def expected_sensor_rows(board):
    """{index: (name, type, units, value in thousandths or None)} of the
    chip's inputs the private tables serve: every voltage and current, the
    temperatures labelled "Temp CPU"; unreadable inputs have no value."""
    out, seen = {}, {"temp": 0, "in": 0, "curr": 0}
    for s in board.sensors():
        if s.kind == "temp" and "Temp CPU" not in s.label:
            continue
        seen[s.kind] += 1
        base, kind, units = KIND[s.kind]
        value = round(s.value * 1000) if isinstance(s.value, float) else None
        out[base + seen[s.kind]] = (s.label.encode(), kind, units, value)
    return out


def test_every_sensor_input_and_disk_is_an_entity_with_its_reading(live_board):
    # Faults: a reading scaled wrong or its sign lost (a negative
    # temperature); an unreadable sensor served as 0 and ok; a reading beyond
    # HighHigh shown ok; the power inputs' combined state shown for each
    # input, or an input that cannot be read shown as failed; disk model,
    # serial or firmware not those of the disk table; an entry not contained
    # in the board; indexes moving across a restart; entLastChangeTime not
    # moving when an entry comes, or moving with every reading.
    board = live_board
    board.set_sensor("Temp CPU", -12.5)
    board.set_sensor_readable("VBAT", False)
    board.set_sensor("12V", 13.5)            # factory HighHigh 13.2
    board.set_sensor("VIN", 10.8)            # equal to LowLow: not beyond
    board.set_psu_inputs("10")
    sensors = expected_sensor_rows(board)
    sensors[2003] = sensors[2003][:3] + (None,)   # VBAT: no reading
    assert sensors[1001][3] == -12500

    def settled():
        got = table(board, SENSOR)
        return got if got.get(1001, {}).get(VALUE) == -12500 and got.get(4102, {}).get(VALUE) == 2 \
            and got.get(2003, {}).get(STATUS) == UNAVAILABLE else None
    readings = wait_for("the entity view showing the new readings", settled)
    physical = table(board, PHYSICAL)
    disks = table(board, HD_ENTRY)

    assert set(physical) == {1} | set(sensors) | {4001, 4002, 4101, 4102} | {5000 + d for d in disks}
    assert set(readings) == set(sensors) | {4101, 4102}
    chassis = physical[1]
    assert (chassis[CLASS], chassis[CONTAINED], chassis[RELPOS], chassis[VENDOR]) == (CHASSIS, 0, -1, "0.0")
    assert chassis[NAME] == chassis[MODEL] == board.snmpget(ENTERPRISE + ".100.1.1.0")[0].value
    assert chassis[SOFTWARE] == board.snmpget(ENTERPRISE + ".100.1.4.0")[0].value

    status = {2005: NONOPERATIONAL, 2003: UNAVAILABLE}
    for index, (name, kind, units, value) in sensors.items():
        entry, reading = physical[index], readings[index]
        assert (entry[NAME], entry[CLASS], entry[CONTAINED]) == (name, SENSOR_CLASS, 1), index
        assert name in entry[DESCR]
        assert (reading[TYPE], reading[SCALE], reading[PRECISION], reading[UNITS], reading[RATE]) == \
            (kind, MILLI, 0, units, 1000), index
        assert (reading[VALUE], reading[STATUS]) == (value or 0, status.get(index, OK)), index
    for input, good in ((1, 1), (2, 2)):
        assert (physical[4000 + input][CLASS], physical[4000 + input][CONTAINED]) == (POWER_SUPPLY, 1)
        assert (physical[4100 + input][CLASS], physical[4100 + input][CONTAINED]) == (SENSOR_CLASS, 4000 + input)
        assert (readings[4100 + input][TYPE], readings[4100 + input][SCALE]) == (TRUTHVALUE, UNITS_SCALE)
        assert (readings[4100 + input][VALUE], readings[4100 + input][STATUS]) == (good, OK)
    for d, row in disks.items():
        entry = physical[5000 + d]
        assert (entry[CLASS], entry[CONTAINED], entry[FRU]) == (STORAGE_DRIVE, 1, 1)
        # hdTable: 3 model, 4 firmware, 5 serial
        assert (entry[MODEL], entry[FIRMWARE], entry[SERIAL]) == (row[3], row[4], row[5])

    # Inputs that cannot be read are unavailable, not failed, and stay entries.
    board.set_psu_inputs("1E")
    wait_for("the inputs unavailable", lambda: table(board, SENSOR)[4102][STATUS] == UNAVAILABLE)
    assert [table(board, SENSOR)[4100 + i][VALUE] for i in (1, 2)] == [0, 0]

    # A reading that changes is no change of the entries; a new sensor is.
    changed = board.snmpget(LAST_CHANGE)[0].value
    board.set_sensor("Temp CPU", 47.25)
    wait_for("the new temperature", lambda: table(board, SENSOR)[1001][VALUE] == 47250)
    assert board.snmpget(LAST_CHANGE)[0].value == changed
    board.add_sensor("in", "VDDR", 1.35)
    wait_for("the new sensor", lambda: 2006 in table(board, PHYSICAL))
    assert board.snmpget(LAST_CHANGE)[0].value > changed

    # The same hardware gets the same indexes after a restart.
    board.set_psu_inputs("11")
    names = {i: e[NAME] for i, e in table(board, PHYSICAL).items()}
    board.restart_agent()
    wait_for("the entries after the restart",
             lambda: {i: e[NAME] for i, e in table(board, PHYSICAL).items()} == names, timeout=10)
