# SPDX-License-Identifier: BSD-3-Clause
"""packaging/vlm_smartctl, the script the agent's hard disk group runs
instead of smartctl, on the captured smartctl outputs of
tests/fixtures/smartctl (NAME.txt, smartctl's exit status in NAME.status
when it is not 0, and what vlm_smartctl -a prints for it in NAME.expected).

A stand-in smartctl first on PATH prints a chosen capture; no board is
needed, and the tests run without root too."""

import os
import subprocess
from pathlib import Path
from typing import Dict, List, NamedTuple, Tuple

import pytest

pytestmark = pytest.mark.no_board

REPO = Path(__file__).resolve().parents[2]
SCRIPT = REPO / "packaging" / "vlm_smartctl"
FIXTURES = REPO / "tests" / "fixtures" / "smartctl"

IDENTITY_KEYS = ("Model Family:", "Device Model:", "Serial Number:", "Firmware Version:", "User Capacity:")

# Prints the capture named by SMARTCTL_CAPTURE, SMARTCTL_STDERR on stderr,
# exits with SMARTCTL_STATUS; records each run's arguments (one per line)
# and its LC_ALL in SMARTCTL_LOG.
FAKE_SMARTCTL = """#!/bin/sh
{
    echo "run LC_ALL=${LC_ALL-unset}"
    for arg in "$@"; do echo "arg $arg"; done
} >> "$SMARTCTL_LOG"
[ -n "$SMARTCTL_CAPTURE" ] && cat "$SMARTCTL_CAPTURE"
[ -n "$SMARTCTL_STDERR" ] && echo "$SMARTCTL_STDERR" >&2
exit "${SMARTCTL_STATUS:-0}"
"""


def capture(name: str) -> Tuple[Path, int]:
    status = FIXTURES / (name + ".status")
    return FIXTURES / (name + ".txt"), int(status.read_text()) if status.exists() else 0


class Run(NamedTuple):
    status: int
    stdout: bytes
    stderr: bytes
    calls: List[List[str]]    # arguments of each smartctl run
    locales: List[str]        # LC_ALL of each smartctl run


@pytest.fixture
def vlm_smartctl(tmp_path):
    """vlm_smartctl(*args, capture_name=NAME or text=TEXT, status=None,
    stderr="", env=None, path=None) runs the script with the stand-in
    smartctl first on PATH (or with PATH `path`); smartctl prints capture
    NAME (and exits with its status, unless `status` is given) or TEXT."""
    bindir = tmp_path / "bin"
    bindir.mkdir()
    (bindir / "smartctl").write_text(FAKE_SMARTCTL)
    (bindir / "smartctl").chmod(0o755)
    log = tmp_path / "smartctl.log"

    def run(*args, capture_name=None, text=None, status=None, stderr="", env=None, path=None) -> Run:
        log.write_text("")
        source, default_status = (None, 0)
        if capture_name is not None:
            source, default_status = capture(capture_name)
        elif text is not None:
            source = tmp_path / "capture.txt"
            source.write_text(text)
        environ = {"PATH": path if path is not None else "%s:/usr/bin:/bin" % bindir,
                   "SMARTCTL_LOG": str(log), "SMARTCTL_CAPTURE": str(source or ""),
                   "SMARTCTL_STATUS": str(default_status if status is None else status),
                   "SMARTCTL_STDERR": stderr}
        environ.update(env or {})
        proc = subprocess.run([str(SCRIPT)] + list(args), env=environ, capture_output=True, timeout=20)
        calls: List[List[str]] = []
        locales = []
        for line in log.read_text().splitlines():
            if line.startswith("run "):
                calls.append([])
                locales.append(line[len("run LC_ALL="):])
            else:
                calls[-1].append(line[len("arg "):])
        return Run(proc.returncode, proc.stdout, proc.stderr, calls, locales)

    return run


# -- what the agent reads ------------------------------------------------------------


class Attribute(NamedTuple):
    id: int
    name: str
    flag: int
    value: int
    worst: int
    threshold: int
    raw: str          # first word of the raw value


def agent_reads(output: bytes) -> Tuple[Dict[str, str], List[Attribute]]:
    """The identity values and attribute rows the agent takes from the
    output of vlm_smartctl -a, read as the agent reads it: a line with one of
    the five keys (the first found, in the agent's order) is an identity
    line, its value from 18 characters after the key to the line's end;
    every other line is counted, the first three are skipped, and from the
    fourth on an empty line ends the reading and any other line is an
    attribute row scanned as "%d%s%x%d%d%d%s%s%s%s"."""
    identity: Dict[str, str] = {}
    rows: List[Attribute] = []
    others = 0
    for line in output.decode().splitlines(keepends=True):
        assert line.endswith("\n"), "a last line without newline: %r" % line
        key = next((k for k in IDENTITY_KEYS if k in line), None)
        if key is not None:
            assert line.startswith(key) and len(line) >= 19, line
            assert key not in identity, "%s twice" % key
            identity[key] = line[18:-1]
            continue
        others += 1
        if others <= 3:
            continue
        if line == "\n":
            break
        f = line.split()
        assert len(f) >= 10, "not an attribute row: %r" % line
        rows.append(Attribute(int(f[0]), f[1], int(f[2], 16), int(f[3]), int(f[4]), int(f[5]), f[9]))
    return identity, rows


# -- -a on the captures ----------------------------------------------------------------


@pytest.mark.parametrize("name, status", [
    ("ata_wd", 0),
    ("ata_nofamily", 0),      # smartctl 32: an attribute was below its threshold in the past
    ("nvme", 0),
    ("nvme_nototal", 0),
    ("usb_refuses", 0),       # smartctl 1: unknown USB bridge, no device type
    ("open_failed", 2),       # smartctl 2: the device could not be opened; nothing printed
])
def test_a_prints_what_is_expected_for_each_capture(vlm_smartctl, name, status):
    # Faults: banner, information, health, capability or log lines let
    # through (the agent takes them for attribute rows); the selective
    # self-test log's numbered lines taken for attributes; an identity line
    # re-aligned or its value trimmed; the framing not exactly three lines;
    # the closing empty line missing; smartctl's health bits passed on as a
    # failure; an unreadable device given an empty disk instead of nothing.
    run = vlm_smartctl("-a", "/dev/sda", capture_name=name)
    assert run.stdout == (FIXTURES / (name + ".expected")).read_bytes()
    assert run.status == status
    assert run.calls == [["-a", "/dev/sda"]]


def test_agent_reads_identity_and_attributes_of_an_ata_disk(vlm_smartctl):
    # Faults: a value not at the 18-character offset (the agent would read
    # part of the key or lose characters); attribute rows missing, out of
    # order or with other columns; a row of another section taken in.
    identity, rows = agent_reads(vlm_smartctl("-a", "/dev/sda", capture_name="ata_wd").stdout)
    assert identity == {
        "Model Family:": "Western Digital Blue",
        "Device Model:": "WDC WD5000AZLX-00K2TA0",
        "Serial Number:": "WD-WCC6Z4HJ7KLD",
        "Firmware Version:": "18.01A18",
        "User Capacity:": "500,107,862,016 bytes [500 GB]",
    }
    assert rows == [
        Attribute(1, "Raw_Read_Error_Rate", 0x2f, 200, 200, 51, "0"),
        Attribute(3, "Spin_Up_Time", 0x27, 175, 172, 21, "2233"),
        Attribute(4, "Start_Stop_Count", 0x32, 99, 99, 0, "1187"),
        Attribute(5, "Reallocated_Sector_Ct", 0x33, 200, 200, 140, "0"),
        Attribute(7, "Seek_Error_Rate", 0x2e, 200, 200, 0, "0"),
        Attribute(9, "Power_On_Hours", 0x32, 82, 82, 0, "13458"),
        Attribute(10, "Spin_Retry_Count", 0x32, 100, 100, 0, "0"),
        Attribute(11, "Calibration_Retry_Count", 0x32, 100, 100, 0, "0"),
        Attribute(12, "Power_Cycle_Count", 0x32, 99, 99, 0, "1185"),
        Attribute(16, "Unknown_Attribute", 0x22, 100, 100, 0, "26"),
        Attribute(192, "Power-Off_Retract_Count", 0x32, 200, 200, 0, "47"),
        Attribute(193, "Load_Cycle_Count", 0x32, 200, 200, 0, "1139"),
        Attribute(194, "Temperature_Celsius", 0x22, 36, 45, 0, "36"),
        Attribute(196, "Reallocated_Event_Count", 0x32, 200, 200, 0, "0"),
        Attribute(197, "Current_Pending_Sector", 0x32, 200, 200, 0, "0"),
        Attribute(198, "Offline_Uncorrectable", 0x30, 100, 253, 0, "0"),
        Attribute(199, "UDMA_CRC_Error_Count", 0x32, 200, 200, 0, "0"),
        Attribute(200, "Multi_Zone_Error_Rate", 0x08, 100, 253, 0, "0"),
        Attribute(241, "Total_LBAs_Written", 0x32, 200, 200, 0, "123456789012"),
    ]


@pytest.mark.parametrize("name, identity, attributes", [
    # No "Model Family:": the agent shows "N/A" once it has read the capacity.
    ("ata_nofamily", {"Device Model:": "ST1000DM010-2EP102", "Serial Number:": "Z9A3KD1B",
                      "Firmware Version:": "CC43",
                      "User Capacity:": "1,000,204,886,016 bytes [1.00 TB]"},
     23),
    # NVMe: model and capacity under the ATA keys, no attribute rows.
    ("nvme", {"Device Model:": "SAMSUNG MZVLB512HBJQ-000L7", "Serial Number:": "S4ENNX0N812345",
              "Firmware Version:": "5M2QEXF7", "User Capacity:": "512,110,190,592 [512 GB]"},
     0),
    ("nvme_nototal", {"Device Model:": "WDC WDS250G2B0C-00PXH0", "Serial Number:": "2043E1804512",
                      "Firmware Version:": "233010WD", "User Capacity:": "250,059,350,016 [250 GB]"},
     0),
    ("usb_refuses", {}, 0),
])
def test_agent_reads_each_kind_of_device(vlm_smartctl, name, identity, attributes):
    # Faults: NVMe lines passed with smartctl's wider alignment (the agent
    # would read blanks and a cut value), "Model Number:" or the capacity
    # not mapped, the namespace capacity missing when smartctl prints no
    # total, a second capacity line; a health bit of smartctl making the
    # rows disappear; the In_the_past column shifting a row.
    got_identity, rows = agent_reads(vlm_smartctl("-a", "/dev/sdb", capture_name=name).stdout)
    assert got_identity == identity
    assert len(rows) == attributes
    if name == "ata_nofamily":
        assert rows[0] == Attribute(1, "Raw_Read_Error_Rate", 0x0f, 83, 64, 6, "118134312")
        assert rows[13] == Attribute(190, "Airflow_Temperature_Cel", 0x22, 66, 35, 40, "34")
        assert rows[-1] == Attribute(242, "Total_LBAs_Read", 0x00, 100, 253, 0, "76201463225")


def test_only_rows_of_the_attribute_table_are_taken(vlm_smartctl):
    # Faults: a note smartctl puts inside the table taken for a row; output
    # that ends right after the table (no empty line from smartctl) giving
    # no closing empty line; a table in the "brief" layout (flags as letters,
    # which the agent cannot scan) passed on.
    text = capture("ata_wd")[0].read_text()
    head, table_start, rest = text.partition("ID# ATTRIBUTE_NAME")
    header, _, rows = rest.partition("\n")
    rows = rows.split("\n\n", 1)[0].splitlines()
    note = "                                        ==> WARNING: A firmware update for this drive may be available"
    cut = head + table_start + header + "\n" + "\n".join(rows[:2] + [note] + rows[2:4])   # no newline at the end
    run = vlm_smartctl("-a", "/dev/sda", text=cut)
    identity, got = agent_reads(run.stdout)
    assert len(identity) == 5
    assert [a.id for a in got] == [1, 3, 4, 5]
    assert run.stdout.endswith(rows[3].encode() + b"\n\n")

    brief = head + "ID# ATTRIBUTE_NAME          FLAGS    VALUE WORST THRESH FAIL RAW_VALUE\n" \
        "  1 Raw_Read_Error_Rate     POSR-K   200   200   051    -    0\n" \
        "  9 Power_On_Hours          -O--CK   082   082   000    -    13458\n\n"
    identity, got = agent_reads(vlm_smartctl("-a", "/dev/sda", text=brief).stdout)
    assert len(identity) == 5 and got == []


def test_a_runs_smartctl_in_the_c_locale_with_the_arguments_as_given(vlm_smartctl):
    # Faults: smartctl run in the caller's locale (it would group the
    # capacity's digits with another separator than the comma the agent
    # removes); a node with blanks split up; options after -a dropped.
    node = "/dev/disk/by-id/ata-WDC WD5000AZLX-00K2TA0_WD-WCC6Z4HJ7KLD"
    run = vlm_smartctl("-a", "-d", "sat", node, capture_name="ata_wd", env={"LC_ALL": "de_DE.UTF-8"})
    assert run.calls == [["-a", "-d", "sat", node]]
    assert run.locales == ["C"]
    assert run.stdout == (FIXTURES / "ata_wd.expected").read_bytes()


# -- everything but -a NODE passes through ---------------------------------------------


@pytest.mark.parametrize("status, stderr", [(0, ""), (2, "smartctl: cannot read /proc/partitions")])
def test_scan_passes_through_unchanged(vlm_smartctl, status, stderr):
    # Faults: the scan filtered or reformatted (the agent takes the first
    # word of each line as the device node); smartctl's status or its
    # complaints lost.
    run = vlm_smartctl("--scan", capture_name="scan", status=status, stderr=stderr)
    assert run.stdout == (FIXTURES / "scan.txt").read_bytes()
    assert (run.status, run.stderr.decode()) == (status, stderr + "\n" if stderr else "")
    assert run.calls == [["--scan"]]
    assert [line.split()[0] for line in run.stdout.decode().splitlines()] == ["/dev/sda", "/dev/sdb"]


@pytest.mark.parametrize("args", [["-x", "/dev/sda"], ["-a"], ["--version"]])
def test_other_arguments_pass_through_unchanged(vlm_smartctl, args):
    run = vlm_smartctl(*args, capture_name="ata_nofamily")
    assert run.stdout == capture("ata_nofamily")[0].read_bytes()
    assert run.status == 32
    assert run.calls == [args]


@pytest.mark.parametrize("status, stderr", [(0, ""), (4, ""), (1, "smartctl: out of memory")])
def test_a_prints_nothing_when_smartctl_prints_nothing(vlm_smartctl, status, stderr):
    # Faults: the framing printed for a disk smartctl said nothing about
    # (the agent would replace that disk's rows with empty ones instead of
    # keeping the last good refresh); smartctl's status or complaint lost.
    run = vlm_smartctl("-a", "/dev/sda", text="", status=status, stderr=stderr)
    assert (run.stdout, run.status) == (b"", status)
    assert run.stderr.decode() == (stderr + "\n" if stderr else "")


@pytest.mark.parametrize("args", [["-a", "/dev/sda"], ["--scan"]])
def test_missing_smartctl_is_status_127_with_nothing_on_stdout(vlm_smartctl, tmp_path, args):
    # Faults: an empty framing printed (the agent would publish empty disks),
    # a shell error instead of a message naming smartmontools, another status.
    bare = tmp_path / "bare"
    bare.mkdir()
    for tool in ("awk", "cat"):
        (bare / tool).symlink_to("/usr/bin/" + tool)
    run = vlm_smartctl(*args, capture_name="ata_wd", path=str(bare))
    assert (run.status, run.stdout) == (127, b"")
    assert b"smartctl" in run.stderr and b"smartmontools" in run.stderr
    assert run.calls == []


def test_script_is_executable_posix_sh():
    assert os.access(SCRIPT, os.X_OK)
    assert SCRIPT.read_text().startswith("#!/bin/sh\n")
    subprocess.run(["sh", "-n", str(SCRIPT)], check=True)
