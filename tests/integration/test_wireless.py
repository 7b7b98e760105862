# SPDX-License-Identifier: BSD-3-Clause
"""The Wi-Fi group (1.3.6.1.4.1.42424.106.1.2: row count and the table .2.2)
and the mobile broadband group (.106.1.1: modem count and the table .1.2),
which only an agent built with them registers (VLM_SUBAGENT_WIRELESS). Both
are refreshed every 3 s from the board's nmcli (outputs of
tests/fixtures/nmcli), its modem-cmd and its NetworkManager connection
directory. The standard agent serves neither."""

import os
import time

import pytest

import simboard
from simboard import ENTERPRISE, SnmpError, nmcli_fixture

WIRELESS_AGENT = os.environ.get("VLM_SUBAGENT_WIRELESS") or str(simboard.REPO / "build" / "vlm_subagent_wireless")

WLAN = ENTERPRISE + ".106.1.2"
WLAN_COUNT = WLAN + ".1.0"
WLAN_TABLE = WLAN + ".2"
MOBILE = ENTERPRISE + ".106.1.1"
MOBILE_COUNT = MOBILE + ".1.0"
MOBILE_TABLE = MOBILE + ".2"
WLAN_SSID, WLAN_STATE = 3, 10
MB_APNAME, MB_STATE = 2, 9
REFRESH = 3   # seconds between two refreshes

PAIR = ["/dev/ttyACM0", "/dev/ttyACM2"]   # ttyACM0 takes its AT commands on ttyACM2
IMEI = "356938035643809"
NUMBER = "+15551234567"
# modem-cmd prints each answer line with a newline only.
MODEM_ANSWERS = {"AT+CSQ": "+CSQ: 21,99", "AT+COPS?": '+COPS: 0,0,"Net",7', "AT+CGSN": IMEI,
                 "AT+CNUM": '+CNUM: "","%s",145' % NUMBER}

HOME = [1, b"HomeNet", b"HomeNet     ", b"A4:2B:B0:C1:22:10  ", 0, "192.168.1.57", "192.168.1.1", 78,
        b"WPA2       ", 1]


def cell(table, column, index):
    return "%s.1.%d.%d" % (table, column, index)


def rows(board, root):
    """{index: [column values]} of a table, from a walk."""
    found = {}
    for vb in board.snmpwalk(root):
        if vb.type in ("noSuchObject", "noSuchInstance", "endOfMibView"):
            continue   # an empty table
        column, index = (int(p) for p in vb.oid.split(".")[-2:])
        found.setdefault(index, []).append(vb.value)
        assert len(found[index]) == column
    return found


def wait_rows(board, root, expected, timeout=REFRESH + 3.0):
    deadline = time.monotonic() + timeout
    while True:
        got = rows(board, root)
        if got == expected:
            return
        if time.monotonic() > deadline:
            raise AssertionError("%s is %r, not %r, after %.1f s" % (root, got, expected, timeout))
        time.sleep(0.1)


def wait_calls(board, listing, more, timeout=REFRESH + 3.0):
    """Waits until nmcli has been run `more` times more with the command
    line of `listing` ("wifi", "status", "show"), counting from now."""
    args = simboard.NMCLI_COMMANDS[listing]
    start = board.nmcli_calls().count(args)
    deadline = time.monotonic() + timeout
    while board.nmcli_calls().count(args) < start + more:
        if time.monotonic() > deadline:
            raise AssertionError("nmcli %s was not run %d more times in %.1f s" % (listing, more, timeout))
        time.sleep(0.05)


def set_wifi(board, listing, show):
    # The blocks first: a refresh in between sees no interface without them.
    board.set_nmcli("show", show)
    board.set_nmcli("wifi", listing)


def set_modems(board, status, show):
    board.set_nmcli("show", show)
    board.set_nmcli("status", status)


@pytest.fixture
def wboard(make_board):
    """A board with snmpd running for the agent with the wireless groups."""
    b = make_board(agent=WIRELESS_AGENT)
    b.start_snmpd()
    return b


# -- Wi-Fi ---------------------------------------------------------------------------


def test_wifi_table_grows_to_two_rows_and_shrinks_to_one_with_index_one(wboard):
    # Faults: rows without name or addresses at the first refresh; a second
    # interface missing, given the first one's values or index 3; after the
    # first disconnects, a row left behind, an index gap (2 alone), or the
    # remaining row carrying the gone interface's values.
    set_wifi(wboard, "wifi_one", "show_one")
    wboard.start_agent()
    wait_rows(wboard, WLAN_TABLE, {1: HOME})
    assert wboard.get_value(WLAN_COUNT) == 1

    set_wifi(wboard, "wifi_two", "show_two")
    workshop = [2, b"Workshop 5G", b"Workshop-5G  ", b"0C:80:63:5A:71:9E  ", 0, "10.20.30.41", "10.20.30.1", 64,
                b"WPA2 802.1X  ", 1]
    home = HOME[:2] + [b"HomeNet      "] + HOME[3:8] + [b"WPA2         ", 1]
    wait_rows(wboard, WLAN_TABLE, {1: home, 2: workshop})
    assert wboard.get_value(WLAN_COUNT) == 2

    set_wifi(wboard, "wifi_second", "show_second")
    wait_rows(wboard, WLAN_TABLE, {1: [1] + workshop[1:7] + [66] + workshop[8:]})
    assert wboard.get_value(WLAN_COUNT) == 1

    set_wifi(wboard, "wifi_none", "show_none")
    wait_rows(wboard, WLAN_TABLE, {})
    assert wboard.get_value(WLAN_COUNT) == 0


def test_wifi_modes_and_an_interface_without_gateway(wboard):
    # Faults: Ad-Hoc or Mesh read as infrastructure; nmcli's "--" gateway
    # served as anything but 0.0.0.0.
    set_wifi(wboard, "wifi_modes", "show_modes")
    wboard.start_agent()
    wait_rows(wboard, WLAN_TABLE, {
        1: [1, b"field-adhoc", b"field-adhoc  ", b"3E:A9:F4:12:34:57  ", 1, "10.42.0.1", "0.0.0.0", 100,
            b"--        ", 1],
        # The mesh link's block has no IPv4 lines: it shows what the block
        # before it left.
        2: [2, b"plant-mesh", b"plant-mesh   ", b"12:6F:2B:90:4D:01  ", 2, "10.42.0.1", "0.0.0.0", 58,
            b"WPA3      ", 1]})


def test_only_wlan_state_is_writable_and_a_set_lasts_until_the_next_refresh(wboard):
    # Faults: a read-only column accepted; the state refused, not stored, or
    # kept past the next refresh; a request refused in part applied in part;
    # a row created for an index that has none.
    set_wifi(wboard, "wifi_one", "show_one")
    wboard.start_agent()
    wait_rows(wboard, WLAN_TABLE, {1: HOME})
    with pytest.raises(SnmpError) as err:
        wboard.snmpset((cell(WLAN_TABLE, WLAN_SSID, 1), "s", "other"))
    assert err.value.reason == "notWritable"
    with pytest.raises(SnmpError) as err:
        wboard.snmpset((cell(WLAN_TABLE, WLAN_STATE, 1), "s", "5"))
    assert err.value.reason == "wrongType"
    with pytest.raises(SnmpError) as err:
        wboard.snmpset((cell(WLAN_TABLE, WLAN_STATE, 7), "i", "5"))
    assert err.value.reason in ("noCreation", "notWritable")

    # Right after a refresh, so that the next one is about 3 s away.
    wait_calls(wboard, "wifi", 1)
    time.sleep(0.3)
    with pytest.raises(SnmpError) as err:
        wboard.snmpset((cell(WLAN_TABLE, WLAN_STATE, 1), "i", "7"), (cell(WLAN_TABLE, WLAN_SSID, 1), "s", "x"))
    assert err.value.reason == "notWritable"
    assert wboard.get_value(cell(WLAN_TABLE, WLAN_STATE, 1)) == 1

    wboard.snmpset((cell(WLAN_TABLE, WLAN_STATE, 1), "i", "5"))
    set_at = time.monotonic()
    assert wboard.get_value(cell(WLAN_TABLE, WLAN_STATE, 1)) == 5
    while wboard.get_value(cell(WLAN_TABLE, WLAN_STATE, 1)) != 1:
        assert time.monotonic() - set_at < REFRESH + 1.0, "wlanState still 5 after the next refresh"
        time.sleep(0.1)
    assert rows(wboard, WLAN_TABLE) == {1: HOME}


# -- mobile broadband ------------------------------------------------------------------


def test_an_unavailable_modem_then_connected_on_its_paired_port(wboard):
    # Faults: an unavailable modem served with addresses, state 1 or a
    # number; AT commands sent to the base node instead of the paired port;
    # the connected modem's APN, operator, signal, number or IMEI wrong; the
    # row not rewritten when the modem connects.
    set_modems(wboard, "status_unavailable", "show_modem_unavailable")
    wboard.set_modem("/dev/ttyACM2", MODEM_ANSWERS)
    wboard.add_nm_connection("TelcoNet", apn="internet.telco")
    wboard.start_agent(PAIR)
    wait_rows(wboard, MOBILE_TABLE, {1: [1, b"", "0.0.0.0", "0.0.0.0", 0, b"", b"", IMEI.encode(), 2]})
    assert wboard.get_value(MOBILE_COUNT) == 1
    # Unavailable: only the IMEI is asked for, on the paired port.
    assert set(wboard.modem_calls()) == {"/dev/ttyACM2 AT+CGSN"}

    set_modems(wboard, "status_connected", "show_modem_connected")
    wait_rows(wboard, MOBILE_TABLE, {
        1: [1, b"internet.telco", "10.64.12.7", "10.64.12.5", 21, b"Net", NUMBER.encode(), IMEI.encode(), 1]})
    assert {c.split()[0] for c in wboard.modem_calls()} == {"/dev/ttyACM2"}
    assert {"/dev/ttyACM2 AT+CSQ", "/dev/ttyACM2 AT+COPS?", "/dev/ttyACM2 AT+CNUM"} <= set(wboard.modem_calls())

    # The state can be set until the next rewrite; the other columns not.
    with pytest.raises(SnmpError) as err:
        wboard.snmpset((cell(MOBILE_TABLE, MB_APNAME, 1), "s", "other.apn"))
    assert err.value.reason == "notWritable"
    wboard.snmpset((cell(MOBILE_TABLE, MB_STATE, 1), "i", "4"))
    deadline = time.monotonic() + REFRESH + 3.0
    while wboard.get_value(cell(MOBILE_TABLE, MB_STATE, 1)) != 1:
        assert time.monotonic() < deadline, "mbState not rewritten by the refreshes"
        time.sleep(0.1)


def test_no_modem_at_the_first_refresh_keeps_the_table_empty(wboard):
    # Faults: a modem that appears later given a row (elements are made at
    # the first refresh only), or the count not following the listing.
    set_modems(wboard, "status_none", "show_none")
    wboard.set_modem("/dev/ttyACM2", MODEM_ANSWERS)
    wboard.start_agent(PAIR)
    # The second refresh has begun, so the first one has read its listings
    # (a refresh logs its nmcli run before the stand-in reads the listing).
    wait_calls(wboard, "status", 2)
    set_modems(wboard, "status_connected", "show_modem_connected")
    deadline = time.monotonic() + REFRESH + 3.0
    while wboard.get_value(MOBILE_COUNT) != 1:
        assert time.monotonic() < deadline, "the count did not follow the listing"
        time.sleep(0.1)
    wait_calls(wboard, "status", 1)
    assert rows(wboard, MOBILE_TABLE) == {}
    assert wboard.modem_calls() == []


def test_a_connection_name_with_shell_characters_is_read_as_a_file_name(wboard):
    # Fault: the connection name reaching a shell (as "cat .../NAME | grep apn"
    # would): the touch commands in it would run and leave their files.
    name = "x;touch INJECTED;$(touch INJECTED2)"   # within the 39 characters kept
    wboard.add_nm_connection(name, apn="safe.apn")
    wboard.set_nmcli("show", "show_modem_connected")
    wboard.set_nmcli("status", text=nmcli_fixture("status_connected").replace("TelcoNet", name))
    wboard.set_modem("/dev/ttyACM2", MODEM_ANSWERS)
    wboard.start_agent(PAIR)
    wait_rows(wboard, MOBILE_TABLE, {
        1: [1, b"safe.apn", "10.64.12.7", "10.64.12.5", 21, b"Net", NUMBER.encode(), IMEI.encode(), 1]})
    wait_calls(wboard, "status", 1)
    assert list(wboard.root.rglob("INJECTED*")) == []
    assert set(wboard.modem_calls()) == {"/dev/ttyACM2 " + c for c in MODEM_ANSWERS}


def test_a_modem_that_does_not_answer_does_not_hold_the_groups(wboard):
    # Fault: the AT commands run with the group's semaphore held, or without
    # a time limit: requests wait for the modem.
    set_modems(wboard, "status_connected", "show_modem_connected")
    wboard.set_modem("/dev/ttyACM2", MODEM_ANSWERS)
    wboard.add_nm_connection("TelcoNet", apn="internet.telco")
    wboard.start_agent(PAIR)
    connected = [1, b"internet.telco", "10.64.12.7", "10.64.12.5", 21, b"Net", NUMBER.encode(), IMEI.encode(), 1]
    wait_rows(wboard, MOBILE_TABLE, {1: connected})
    wboard.set_modem_hang()
    deadline = time.monotonic() + REFRESH + 3.0
    while not wboard.modem_hanging():
        assert time.monotonic() < deadline, "modem-cmd was not run again"
        time.sleep(0.05)
    hung_calls = len(wboard.modem_calls())
    for _ in range(5):
        started = time.monotonic()
        assert wboard.get_value(MOBILE_COUNT) == 1
        assert rows(wboard, MOBILE_TABLE) == {1: connected}
        assert wboard.get_value(WLAN_COUNT) == 0
        assert time.monotonic() - started < 1.0
        time.sleep(0.3)
    # The hung command is given up: the refresh goes on with the next one.
    deadline = time.monotonic() + 6.0
    while len(wboard.modem_calls()) == hung_calls:
        assert time.monotonic() < deadline, "the hung modem-cmd was not given up"
        time.sleep(0.1)


# -- the standard agent ----------------------------------------------------------------------


@pytest.mark.skipif(os.environ.get("VLM_WIRELESS_DEFAULT") == "1",
                    reason="this build's vlm_subagent registers the wireless groups (VLM_WIRELESS=ON)")
def test_the_standard_agent_serves_no_wireless_group(board):
    # Faults: the groups registered or their threads started by the standard
    # start-up.
    board.start_agent(PAIR)
    oids = [WLAN_COUNT, cell(WLAN_TABLE, 1, 1), MOBILE_COUNT, cell(MOBILE_TABLE, 1, 1)]
    assert [vb.type for vb in board.snmpget(*oids)] == ["noSuchObject"] * 4
    assert not [vb for vb in board.snmpwalk(ENTERPRISE + ".106") if vb.oid.startswith(ENTERPRISE + ".106.")]
    time.sleep(1.5)   # past the wireless threads' first refresh
    assert board.nmcli_calls() == [] and board.modem_calls() == []
