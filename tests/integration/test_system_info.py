# SPDX-License-Identifier: BSD-3-Clause
"""The system information group (1.3.6.1.4.1.42424.100.1): what it serves
from the board, and how SETs change it and the configuration file."""

import xml.etree.ElementTree as ET

import pytest

from simboard import SYSINFO, SnmpError

MODULE_NAME, DEVICE_NAME, DESCR, IMAGE_VERSION, RELEASE_DATE, FIRST_BOOT, BOOT_TIME, BOOT_COUNT = (
    "%s.%d.0" % (SYSINFO, i) for i in range(1, 9))
ALL = [MODULE_NAME, DEVICE_NAME, DESCR, IMAGE_VERSION, RELEASE_DATE, FIRST_BOOT, BOOT_TIME, BOOT_COUNT]


def identity(board):
    """(device name, description) as served and as in the file."""
    served = tuple(vb.value for vb in board.snmpget(DEVICE_NAME, DESCR))
    stored = (board.config_detail("atSystem", "sysDeviceName").encode(),
              board.config_detail("atSystem", "sysDescr").encode())
    return served, stored


# -- reading ------------------------------------------------------------------------


def test_get_and_walk_serve_the_eight_objects(board):
    # Faults: a missing or extra object, wrong types, GETNEXT order differing
    # from GET, values not taken from the file and the board.
    board.set_config_details({("atSystem", "sysDeviceName"): "gate-7",
                              ("atSystem", "sysDescr"): "north cabinet",
                              ("atSystem", "sysBootCount"): "3"})
    board.start_agent()
    got = board.snmpget(*ALL)
    assert [vb.oid for vb in got] == ALL
    assert [vb.type for vb in got] == ["OCTET STRING"] * 7 + ["INTEGER"]
    values = [vb.value for vb in got]
    assert values[:5] == [b"VLM-7000", b"gate-7", b"north cabinet", b"Debian GNU/Linux 9", b"9.4\n"]
    assert len(values[5]) == 11 and len(values[6]) == 11
    assert values[7] == 4
    assert board.snmpwalk(SYSINFO) == got


@pytest.mark.parametrize("issue, lsb, image_version, release_date", [
    ("Debian GNU/Linux 9 \\n \\l\n\n", "Release:\t9.4\n", b"Debian GNU/Linux 9", b"9.4\n"),
    ("Debian GNU/Linux 10 (buster) \\n \\l\n\n", "Release:\t10.13.2-rc1-long-tail\n",
     b"Debian GNU/Linux 10", b"10.13.2-rc1-long-tail\n"[:19]),
    ("VLM Linux 1.2 \\n \\l\nsecond line \\n \\l\n", "Release:\t12\nCodename:\tbookworm\n",
     b"VLM Linux 1.2", b"12\n"),
], ids=["debian9", "capped-at-19", "first-line-only"])
def test_image_version_and_release_date_from_the_board(board, issue, lsb, image_version, release_date):
    # Faults: the issue escapes not cut off, the 19-character cap missed, a
    # later line used, the newline of the release line dropped.
    board.set_issue(issue)
    board.set_lsb_release(lsb)
    board.start_agent()
    assert board.get_value(IMAGE_VERSION) == image_version
    assert board.get_value(RELEASE_DATE) == release_date


@pytest.mark.parametrize("device, expected", [
    ("VLM-7000", b"VLM-7000"),
    ("P" * 80, b"P" * 64),
    (None, b""),
], ids=["name", "longest", "no-device"])
def test_module_name_from_the_product_name_driver(board, device, expected):
    # Faults: the ioctl answer truncated or overrun; a missing device crashing
    # the agent or leaving garbage instead of an empty name.
    board.set_product_name(device)
    board.start_agent()
    assert board.get_value(MODULE_NAME) == expected
    if device is None:
        # stdout is a file here, so its buffer reaches the file at exit
        assert board.stop_agent() == 0
        assert "cannot open vmspname!" in board.agent.stdout() + board.agent.stderr()


# -- writing ------------------------------------------------------------------------


def test_device_name_of_40_octets_is_saved_before_the_answer_and_kept(live_board):
    # Faults: off-by-one on the length limit, the answer sent before the file
    # is written, the name lost or truncated across a restart.
    name = "Substation-07 feeder cabinet, rack 12-B"
    name += "x" * (40 - len(name))
    live_board.snmpset((DEVICE_NAME, "s", name))
    assert live_board.config_detail("atSystem", "sysDeviceName") == name
    assert live_board.get_value(DEVICE_NAME) == name.encode()
    live_board.restart_agent()
    assert live_board.get_value(DEVICE_NAME) == name.encode()
    assert live_board.config_detail("atSystem", "sysDeviceName") == name


def test_two_varbind_set_changes_both(live_board):
    # Fault: only the first varbind of a request applied or saved.
    live_board.snmpset((DEVICE_NAME, "s", "pump-3"), (DESCR, "s", "basement"))
    assert identity(live_board) == ((b"pump-3", b"basement"), (b"pump-3", b"basement"))


def test_description_with_markup_characters_survives_restart(live_board):
    # Faults: '&' or '<' written unescaped (the file no longer parses and the
    # next start fails), or escaped twice (served back altered).
    descr = 'R&D <lab> "Gerät" 5>3 & co'
    live_board.snmpset((DESCR, "s", descr))
    ET.fromstring(live_board.read_config())
    assert live_board.config_detail("atSystem", "sysDescr") == descr
    live_board.restart_agent()
    assert live_board.get_value(DESCR) == descr.encode()


@pytest.mark.parametrize("varbind, reason", [
    ((DEVICE_NAME, "s", "n" * 41), "wrongLength"),
    ((DESCR, "s", "d" * 41), "wrongLength"),
    ((DEVICE_NAME, "i", "5"), "wrongType"),
    ((IMAGE_VERSION, "s", "Debian"), "notWritable"),
    ((BOOT_COUNT, "i", "100"), "notWritable"),
    ((MODULE_NAME, "s", "VLM-9"), "notWritable"),
    ((DEVICE_NAME, "x", "ff fe"), "wrongValue"),
    ((DESCR, "x", "41 01 42"), "wrongValue"),
], ids=["name-41", "descr-41", "integer", "image-version", "boot-count", "module-name",
        "not-utf8", "control-char"])
def test_rejected_set_changes_nothing(live_board, varbind, reason):
    # Faults: a bad value accepted, the wrong error, or a rejected value
    # reaching memory or the file anyway.
    values = live_board.snmpget(*ALL)
    config = live_board.read_config()
    with pytest.raises(SnmpError) as err:
        live_board.snmpset(varbind)
    assert (err.value.reason, err.value.failed_oid) == (reason, varbind[0])
    assert live_board.snmpget(*ALL) == values
    assert live_board.read_config() == config


@pytest.mark.parametrize("second, reason", [
    ((DESCR, "s", "d" * 41), "wrongLength"),
    ((IMAGE_VERSION, "s", "Debian"), "notWritable"),
    ((DESCR, "x", "c3 28"), "wrongValue"),
], ids=["too-long", "read-only", "not-utf8"])
def test_set_is_all_or_nothing(live_board, second, reason):
    # Fault: the valid first varbind applied (in memory or in the file) though
    # the request as a whole failed.
    live_board.snmpset((DEVICE_NAME, "s", "before"))
    before = identity(live_board)
    config = live_board.read_config()
    with pytest.raises(SnmpError) as err:
        live_board.snmpset((DEVICE_NAME, "s", "after"), second)
    assert (err.value.reason, err.value.failed_oid) == (reason, second[0])
    assert identity(live_board) == before
    assert live_board.read_config() == config
