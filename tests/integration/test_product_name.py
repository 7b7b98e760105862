# SPDX-License-Identifier: BSD-3-Clause
"""The module name object (1.3.6.1.4.1.42424.100.1.1.0) end to end: the
board's /dev/vmspname answers ioctl 0x7001 with the driver's 64-byte buffer,
the product name followed by zero bytes, or its first 64 bytes with no
terminator when it is 64 characters or longer. The agent serves the name
without the zero bytes."""

import pytest

from simboard import SYSINFO

MODULE_NAME = SYSINFO + ".1.0"
NAME_LEN = 64


def driver_answer(name: bytes) -> bytes:
    """The 64 bytes the product-name driver copies out for a name."""
    return name[:NAME_LEN].ljust(NAME_LEN, b"\0")


@pytest.mark.parametrize("name", [
    b"V",
    b"VLM-7000 " + b"x" * 53 + b"9",
    b"VLM-9100 Rack Computer " + b"y" * 40 + b"Z",
], ids=["1-character", "63-characters", "64-characters"])
def test_module_name_is_the_product_name_without_its_zero_bytes(board, name):
    # Faults: the zero bytes after the name served with it, the last
    # byte of a name that fills the buffer dropped (a 63-byte cut), or
    # bytes beyond the 64 of the buffer read for a name without terminator.
    board.set_product_name(driver_answer(name))
    board.start_agent()
    got = board.snmpget(MODULE_NAME)[0]
    assert got.type == "OCTET STRING"
    assert got.value == name
    assert board.snmpwalk(SYSINFO)[0].value == name
