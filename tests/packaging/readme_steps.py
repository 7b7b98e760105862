# SPDX-License-Identifier: BSD-3-Clause
"""The README's commands that the tests run as they are written: the
commands of "Installing on a board" that set up Debian's snmpd for the
agent, the walk that names our objects with the installed MIB modules, and
the commands of "Trap translation (snmptt)" that set up snmptrapd and
snmptt on a manager.

    python3 tests/packaging/readme_steps.py snmpd-steps|named-walk|entity-view|snmptt-steps

prints them, one command a line (for service-sandbox-check).
"""

import sys
from pathlib import Path

README = Path(__file__).resolve().parents[2] / "README.md"


def code_block(marker, text=None):
    """The lines of the README's one indented code block that has a line
    holding `marker`, without their indentation."""
    lines = (README.read_text() if text is None else text).splitlines()
    hits = [i for i, line in enumerate(lines) if marker in line and line.startswith("    ")]
    assert len(hits) == 1, f"{len(hits)} code lines of the README hold {marker!r}"
    indent = len(lines[hits[0]]) - len(lines[hits[0]].lstrip(" "))
    first = last = hits[0]
    while first > 0 and lines[first - 1].startswith(" " * indent) and lines[first - 1].strip():
        first -= 1
    while last + 1 < len(lines) and lines[last + 1].startswith(" " * indent) and lines[last + 1].strip():
        last += 1
    return [line[indent:] for line in lines[first:last + 1]]


def snmpd_steps():
    """Step 4 of "Installing on a board": Debian's snmpd.conf made to serve
    the agent's subtree to a manager."""
    return code_block("/etc/snmp/snmpd.conf.d/")


def snmptt_steps():
    """"Trap translation (snmptt)": Debian's snmptt.ini and snmptrapd.conf
    made to translate our notifications (snmptt installed before)."""
    return code_block("/etc/snmp/snmptt.ini")


def named_walk(board):
    """The README's snmpwalk with the MIB modules, asking `board`."""
    (walk,) = code_block("snmpwalk -M /usr/share/vlm-subagent/mibs -m VELMORA")
    assert " BOARD " in walk, walk
    return walk.replace(" BOARD ", f" {board} ")


def entity_view(board):
    """The README's table and walk of the entity view, asking `board`."""
    lines = code_block("entPhysicalTable")
    assert all(" BOARD " in line for line in lines), lines
    return [line.replace(" BOARD ", f" {board} ") for line in lines]


if __name__ == "__main__":
    what = sys.argv[1] if len(sys.argv) == 2 else ""
    if what == "snmpd-steps":
        print("\n".join(snmpd_steps()))
    elif what == "named-walk":
        print(named_walk("127.0.0.1"))
    elif what == "entity-view":
        print("\n".join(entity_view("127.0.0.1")))
    elif what == "snmptt-steps":
        print("\n".join(snmptt_steps()))
    else:
        sys.exit("usage: readme_steps.py snmpd-steps|named-walk|entity-view|snmptt-steps")
