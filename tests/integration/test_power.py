# SPDX-License-Identifier: BSD-3-Clause
"""The power-supply group (1.3.6.1.4.1.42424.200.2.8: switch, state,
severity, time of the request), read every second from /dev/vlmpsustatus,
which the board's device shim answers from a file holding one character per
input ('1' good, '0' not, anything else: that read fails), and notification
.105 reaching the master's trapsink."""

import datetime
import time

import pytest

from simboard import ENTERPRISE, SnmpError

POWER = ENTERPRISE + ".200.2.8"
TRAP_STATE, STATE, SEVERITY, GET_TIME = ("%s.%d.0" % (POWER, i) for i in range(1, 5))
ALL = [TRAP_STATE, STATE, SEVERITY, GET_TIME]
NOTIFICATIONS = ENTERPRISE + ".200.10"
POWER_TRAP = 105


def start_agent(board, inputs="11"):
    """Starts the agent with the inputs given (None: no device) and waits for
    its first reading, one to two seconds after the start."""
    board.set_device("vlmpsustatus", inputs)
    board.start_agent()
    time.sleep(2.5)


def power_traps(board):
    return [t for t in board.traps(enterprise=NOTIFICATIONS) if t.number == POWER_TRAP]


def wait_state(board, state, severity, timeout=3.0):
    deadline = time.monotonic() + timeout
    while True:
        got = [vb.value for vb in board.snmpget(STATE, SEVERITY)]
        if got == [state, severity]:
            return
        if time.monotonic() > deadline:
            raise AssertionError("state and severity are %r, not %r" % (got, [state, severity]))
        time.sleep(0.1)


def wait_power_traps(board, count, timeout=4.0):
    deadline = time.monotonic() + timeout
    while len(power_traps(board)) < count:
        if time.monotonic() > deadline:
            raise AssertionError("%d power notifications, not %d" % (len(power_traps(board)), count))
        time.sleep(0.05)
    return power_traps(board)


def date_and_time(octets):
    """The moment an 11-octet DateAndTime names, as an aware datetime."""
    assert len(octets) == 11
    year = octets[0] << 8 | octets[1]
    offset = datetime.timedelta(hours=octets[9], minutes=octets[10])
    if octets[8] == ord("-"):
        offset = -offset
    else:
        assert octets[8] == ord("+")
    return datetime.datetime(year, octets[2], octets[3], octets[4], octets[5], octets[6],
                             octets[7] * 100000, tzinfo=datetime.timezone(offset))


def check_notification(trap, state, severity):
    assert trap.value(STATE) == state
    assert trap.value(SEVERITY) == severity
    sent = date_and_time(trap.value(GET_TIME))
    assert abs((datetime.datetime.now(datetime.timezone.utc) - sent).total_seconds()) < 5
    assert [vb.oid for vb in trap.varbinds] == [STATE, SEVERITY, GET_TIME]


def test_a_change_of_either_input_is_announced_once(board):
    # Faults: a notification at start-up; none, or one every second, while
    # an input stays down; the recovery not announced; the wrong input read
    # (input 2 dropping unnoticed); severity not following the state.
    start_agent(board, "11")
    got = board.snmpget(*ALL)
    assert [vb.type for vb in got] == ["INTEGER", "INTEGER", "INTEGER", "OCTET STRING"]
    assert [vb.value for vb in got[:3]] == [1, 1, 1]
    assert power_traps(board) == []

    board.set_device("vlmpsustatus", "10")
    wait_state(board, 2, 3)
    check_notification(wait_power_traps(board, 1)[0], 2, 3)
    time.sleep(2.5)
    assert len(power_traps(board)) == 1

    board.set_device("vlmpsustatus", "11")
    wait_state(board, 1, 1)
    check_notification(wait_power_traps(board, 2)[1], 1, 1)

    board.set_device("vlmpsustatus", "01")
    wait_state(board, 2, 3)
    check_notification(wait_power_traps(board, 3)[2], 2, 3)


def test_an_input_down_from_the_start_is_not_announced(board):
    start_agent(board, "01")
    wait_state(board, 2, 3)
    time.sleep(1.5)
    assert power_traps(board) == []
    board.set_device("vlmpsustatus", "11")
    wait_state(board, 1, 1)
    check_notification(wait_power_traps(board, 1)[0], 1, 1)


def test_a_failure_while_switched_off_is_announced_when_switched_on(board):
    # Faults: the switch not persisted; a notification while off; the state
    # reported while off taken as announced, so nothing comes when on again.
    start_agent(board, "11")
    board.snmpset((TRAP_STATE, "i", "2"))
    assert board.config_detail("power", "powerTrapState") == "2"
    board.set_device("vlmpsustatus", "10")
    wait_state(board, 2, 3)
    time.sleep(2)
    assert power_traps(board) == []

    board.snmpset((TRAP_STATE, "i", "1"))
    assert board.config_detail("power", "powerTrapState") == "1"
    check_notification(wait_power_traps(board, 1)[0], 2, 3)
    time.sleep(2)
    assert len(power_traps(board)) == 1


@pytest.mark.parametrize("inputs", [None, "1E", "E1"])
def test_while_the_device_cannot_be_read_the_group_is_absent_until_it_can(board, inputs):
    # No device, or input 1 or 2 that cannot be read: every object of the
    # group is absent, other groups answer, the group table says why, and
    # the device read again later serves again. Faults: the reading thread
    # ending at the first failed read (the group silent for good); the
    # switch lost meanwhile; the first good reading announced.
    start_agent(board, inputs)
    assert [vb.type for vb in board.snmpget(*ALL)] == ["noSuchInstance"] * 4
    assert board.snmpget(ENTERPRISE + ".100.1.8.0")[0].type == "INTEGER"
    # Two failed reads in a row, 2 s apart, change the status.
    health = board.wait_groups({"power": "absent" if inputs is None else "failing"}, timeout=5)
    if inputs is not None:
        assert "Get PWR%d status Failed! error." % (1 if inputs[0] == "E" else 2) in health["power"]["error"]
    board.set_device("vlmpsustatus", "10")
    wait_state(board, 2, 3, timeout=6)
    assert board.get_value(TRAP_STATE) == 1
    time.sleep(1.5)
    assert power_traps(board) == []
    assert board.config_detail("power", "powerTrapState") == "1"


def test_a_change_across_reads_that_fail_is_announced_once(board):
    # Another process holds the device, or the chip stops answering, for a
    # while; meanwhile input 2 drops. Faults: the group silent for good
    # after the first failed read; the drop never announced, or announced
    # again at every later reading; the device opened every second while
    # it fails.
    start_agent(board, "11")
    board.set_device("vlmpsustatus", "EE")
    board.wait_groups({"power": "failing"}, timeout=6)
    assert [vb.type for vb in board.snmpget(*ALL)] == ["noSuchInstance"] * 4
    time.sleep(4)
    failures = board.group_health()["power"]["failures"]
    assert 2 <= failures <= 4, "%d failed readings in about 5 s" % failures
    board.set_device("vlmpsustatus", "10")
    wait_state(board, 2, 3, timeout=10)
    check_notification(wait_power_traps(board, 1)[0], 2, 3)
    time.sleep(2.5)
    assert len(power_traps(board)) == 1


def test_the_time_object_is_the_time_of_the_request(board):
    start_agent(board, "11")
    first = date_and_time(board.get_value(GET_TIME))
    now = datetime.datetime.now(datetime.timezone.utc)
    assert abs((now - first).total_seconds()) < 2
    time.sleep(1.2)
    second = date_and_time(board.get_value(GET_TIME))
    assert 1.0 <= (second - first).total_seconds() < 3


def test_switch_writes_are_checked_and_kept(board):
    # Faults: an out-of-range or mistyped value accepted or stored; a value
    # changed in memory but not in the file; read-only objects writable.
    start_agent(board, "11")
    for value_type, value, reason in (("i", "0", "wrongValue"), ("i", "3", "wrongValue"),
                                      ("i", "-1", "wrongValue"), ("s", "1", "wrongType"),
                                      ("u", "1", "wrongType")):
        with pytest.raises(SnmpError) as e:
            board.snmpset((TRAP_STATE, value_type, value))
        assert e.value.reason == reason
        assert board.get_value(TRAP_STATE) == 1
        assert board.config_detail("power", "powerTrapState") == "1"
    for oid in (STATE, SEVERITY):
        with pytest.raises(SnmpError) as e:
            board.snmpset((oid, "i", "1"))
        assert e.value.reason == "notWritable"

    board.snmpset((TRAP_STATE, "i", "2"))
    assert board.get_value(TRAP_STATE) == 2
    assert board.config_detail("power", "powerTrapState") == "2"
    board.restart_agent()
    time.sleep(2.5)
    assert board.get_value(TRAP_STATE) == 2
