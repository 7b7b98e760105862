# SPDX-License-Identifier: BSD-3-Clause
"""The trap server table (1.3.6.1.4.1.42424.100.2.1): the trapsink lines of
the master's snmpd.conf over SNMP, and the change of a receiver's address."""

import signal
import time

import pytest

from simboard import DEFAULT_MEMINFO, ENTERPRISE, SnmpError

COUNT = ENTERPRISE + ".100.2.1.1.0"
TABLE = ENTERPRISE + ".100.2.1.2"
NOTIFICATIONS = ENTERPRISE + ".200.10"
# Memory notifications from 50 % used on: 101 entering the band, 102 leaving it.
MEMORY_ALARM_AT_50 = {("memory", "memoryTh1"): "50", ("memory", "memoryTh2"): "-1",
                      ("memory", "memoryTh3"): "-1", ("memory", "memoryTh4"): "-1"}


def column(col, row):
    return "%s.1.%d.%d" % (TABLE, col, row)


def trapsink_lines(board):
    return [l for l in board.snmpd_conf.read_text().splitlines() if "trapsink" in l]


def use_memory(board, percent):
    total = DEFAULT_MEMINFO["total"]
    others = DEFAULT_MEMINFO["buffers"] + DEFAULT_MEMINFO["cached"] + DEFAULT_MEMINFO["slab"]
    board.set_meminfo(free=total - total * percent // 100 - others)


def copies(board, receiver, number):
    """How many copies of notification `number` the receiver got, counted
    half a second after the first arrived (all copies leave together)."""
    board.wait_trap(lambda t: t.number == number, name=receiver, enterprise=NOTIFICATIONS, timeout=5)
    time.sleep(0.5)
    return sum(t.number == number for t in board.traps(receiver, enterprise=NOTIFICATIONS))


@pytest.fixture
def two_sinks(board):
    """The board's own receiver (line 1, "HOST COMMUNITY PORT") and a second
    one on 127.0.0.2 (line 2, "HOST:PORT COMMUNITY")."""
    board.add_trapsink("127.0.0.2", "second", 1162, joined=True)
    board.start_agent()
    return board


def test_rows_and_count_come_from_the_trapsink_lines(two_sinks):
    # Faults: a destination missed or duplicated, fields swapped or cut, rows
    # walked in list order (newest first) instead of index order, an address
    # with its port served as one host.
    assert two_sinks.get_value(COUNT) == 2
    walked = two_sinks.snmpwalk(TABLE)
    assert [vb.oid for vb in walked][:2] == [column(1, 1).lstrip("."), column(1, 2).lstrip(".")]
    rows = {(int(vb.oid.split(".")[-2]), int(vb.oid.split(".")[-1])): vb.value for vb in walked}
    assert rows[(1, 1)] == 1 and rows[(1, 2)] == 2
    assert rows[(2, 1)] == b"127.0.0.1" and rows[(2, 2)] == b"127.0.0.2"
    assert rows[(3, 1)] == b"162" and rows[(3, 2)] == b"1162"
    assert rows[(4, 2)] == b"enable"
    assert rows[(5, 1)] == b"public" and rows[(5, 2)] == b"second"
    assert rows[(6, 2)] == b"v1"
    assert len(rows) == 12


def test_an_address_change_edits_only_that_receivers_line(two_sinks):
    # Faults: the wrong line edited, other lines or the file's layout touched
    # (the port of a HOST:PORT address dropped), the row not showing the new
    # address, the count changing.
    before = two_sinks.snmpd_conf.read_text()
    two_sinks.snmpset((column(2, 2), "s", "127.0.0.9"))
    after = two_sinks.snmpd_conf.read_text()
    assert after == before.replace("trapsink 127.0.0.2:1162 second", "trapsink 127.0.0.9:1162 second")
    assert two_sinks.get_value(column(2, 2)) == b"127.0.0.9"
    assert two_sinks.get_value(column(2, 1)) == b"127.0.0.1"
    assert two_sinks.get_value(COUNT) == 2


@pytest.mark.parametrize("value", ["nms.example.com", "::1", "2130706433", "127.0.0", "127.0.0.1 x"])
def test_an_address_that_is_not_ipv4_is_refused_and_changes_nothing(two_sinks, value):
    # Faults: a host name or IPv6 text reaching snmpd.conf, a partial change.
    before = two_sinks.snmpd_conf.read_text()
    with pytest.raises(SnmpError) as err:
        two_sinks.snmpset((column(2, 2), "s", value))
    assert err.value.reason == "wrongValue"
    assert two_sinks.snmpd_conf.read_text() == before
    assert two_sinks.get_value(column(2, 2)) == b"127.0.0.2"


def test_wrong_types_lengths_columns_and_rows(two_sinks):
    # Faults: read-only columns accepted, a row created by a SET, an INTEGER
    # or an over-long text (the column takes 19 octets) reaching the address
    # check or the file.
    before = two_sinks.snmpd_conf.read_text()
    cases = [((column(3, 1), "s", "1162"), "notWritable"),
             ((column(1, 1), "i", "5"), "notWritable"),
             ((column(2, 1), "i", "5"), "wrongType"),
             ((column(2, 1), "s", "1" * 20), "wrongLength"),
             ((column(2, 3), "s", "127.0.0.3"), "noCreation")]
    for varbind, reason in cases:
        with pytest.raises(SnmpError) as err:
            two_sinks.snmpset(varbind)
        assert err.value.reason == reason, varbind
    assert two_sinks.snmpd_conf.read_text() == before


def test_a_request_whose_second_varbind_fails_changes_neither_line(two_sinks):
    # Faults: the first address kept although the request failed (in the
    # file, the row or the list the agent sends to).
    before = two_sinks.snmpd_conf.read_text()
    with pytest.raises(SnmpError):
        two_sinks.snmpset((column(2, 1), "s", "127.0.0.5"), (column(3, 2), "s", "99"))
    with pytest.raises(SnmpError):
        two_sinks.snmpset((column(2, 1), "s", "127.0.0.5"), (column(2, 2), "s", "not-an-address"))
    assert two_sinks.snmpd_conf.read_text() == before
    assert two_sinks.get_value(column(2, 1)) == b"127.0.0.1"


def test_two_addresses_change_in_one_request(two_sinks):
    two_sinks.snmpset((column(2, 1), "s", "127.0.0.11"), (column(2, 2), "s", "127.0.0.12"))
    assert trapsink_lines(two_sinks) == ["trapsink 127.0.0.11 public 162", "trapsink 127.0.0.12:1162 second"]
    assert [vb.value for vb in two_sinks.snmpget(column(2, 1), column(2, 2))] == [b"127.0.0.11", b"127.0.0.12"]


def test_a_failure_after_the_first_change_puts_the_first_back(two_sinks):
    # Someone edited the second line behind the agent's back, so its change
    # fails after the first line was already changed: the request must be
    # undone in the file, the row and the destination list, also when it set
    # the first row twice (undoFailed: the undo moved the address from the
    # first new value while the file held the second).
    conf = two_sinks.snmpd_conf
    conf.write_text(conf.read_text().replace("127.0.0.2:1162 second", "127.0.0.77:1162 second"))
    before = conf.read_text()
    for first in ([(column(2, 1), "s", "127.0.0.5")],
                  [(column(2, 1), "s", "127.0.0.5"), (column(2, 1), "s", "127.0.0.6")]):
        with pytest.raises(SnmpError) as err:
            two_sinks.snmpset(*first, (column(2, 2), "s", "127.0.0.6"))
        assert err.value.reason == "commitFailed"
        assert conf.read_text() == before
        assert two_sinks.get_value(column(2, 1)) == b"127.0.0.1"


def test_notifications_follow_a_changed_address_as_snmpv1_from_the_agent(board):
    # Faults: the agent not sending to a receiver changed over SNMP (the
    # master still has the old address), sending in the wrong version, with
    # the wrong enterprise or with the community cut to the served column
    # (a receiver expecting the whole one refuses the trap), or no longer
    # reaching the master.
    community = "a-community-longer-than-nine"
    board.start_trapd("moved", "127.0.0.2:162")
    board.add_trapsink("127.0.0.3", community)   # row 2, read by the agent only
    board.set_config_details(MEMORY_ALARM_AT_50)
    board.start_agent()
    assert board.get_value(column(5, 2)) == community[:9].encode()
    board.snmpset((column(2, 2), "s", "127.0.0.2"))
    use_memory(board, 70)
    direct = board.wait_trap(lambda t: t.number == 101, name="moved", enterprise=NOTIFICATIONS, timeout=5)
    assert (direct.version, direct.generic, direct.enterprise) == ("v1", 6, NOTIFICATIONS)
    assert direct.community == community
    assert direct.varbinds[0].value == 70
    # The master, which still has the old address, keeps forwarding too.
    board.wait_trap(lambda t: t.number == 101, enterprise=NOTIFICATIONS, timeout=5)


def test_each_receiver_gets_each_notification_once(board):
    # Faults: the agent sending its own copy to an address the master
    # serves, so that the receiver gets two: after the address is set back
    # to the one the master still uses, or after the master has read the
    # changed snmpd.conf at its restart.
    board.start_trapd("moved", "127.0.0.2:162")
    board.set_config_details(MEMORY_ALARM_AT_50)
    board.start_agent()
    board.snmpset((column(2, 1), "s", "127.0.0.2"))
    board.snmpset((column(2, 1), "s", "127.0.0.1"))
    use_memory(board, 70)
    assert copies(board, "main", 101) == 1
    assert board.traps("moved") == []

    board.snmpset((column(2, 1), "s", "127.0.0.2"))
    # The same master, silent long enough for the agent's pings to fail:
    # the agent reconnects to it, and it still sends to the old address.
    # Fault: a reconnection taken for a restart, so that nobody sends to
    # the new address.
    board.snmpd.send_signal(signal.SIGSTOP)
    time.sleep(8)
    board.snmpd.send_signal(signal.SIGCONT)
    board.wait_agent(timeout=10)
    assert "failed to respond to ping" in board.agent.stderr()
    use_memory(board, 35)
    assert copies(board, "moved", 102) == 1

    board.restart_snmpd()
    board.wait_agent()
    use_memory(board, 70)
    assert copies(board, "moved", 101) == 1
