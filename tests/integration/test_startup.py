# SPDX-License-Identifier: BSD-3-Clause
"""Start-up and shutdown of vlm_subagent on the simulated board: argument
checking, the configuration file, boot bookkeeping, termination signals."""

import calendar
import re
import signal
import time

import pytest

import simboard
from simboard import SYSINFO
from snmpclient import date_and_time

TTYS = ["/dev/ttyACM0", "/dev/ttyACM2", "/dev/ttyACM7", "/dev/ttyACM9", "/dev/ttyACM11"]
FIRST_BOOT = SYSINFO + ".6.0"
BOOT_TIME = SYSINFO + ".7.0"
BOOT_COUNT = SYSINFO + ".8.0"


def utc_seconds(octets: bytes) -> float:
    """Seconds since the epoch of an 11-octet DateAndTime."""
    year, month, day, hour, minute, second, decis, offset = date_and_time(octets)
    local = calendar.timegm((year, month, day, hour, minute, second, 0, 0, 0))
    return local + decis / 10 - offset * 60


# -- arguments ------------------------------------------------------------------


@pytest.mark.parametrize("count", [0, 2, 4])
def test_accepted_argument_counts_start_serving(board, count):
    # Fault: a valid count of tty nodes refused, or the agent dying on them.
    board.start_agent(TTYS[:count])
    assert board.get_value(SYSINFO + ".1.0") == simboard.DEFAULT_PRODUCT_NAME.encode()
    assert board.agent.running()


@pytest.mark.parametrize("count", [1, 3, 5])
def test_wrong_argument_count_prints_usage_and_exits_1(sandbox, count):
    # Fault: an odd count accepted, or the usage text altered.
    proc = sandbox.run_agent(TTYS[:count])
    assert proc.returncode == 1, proc.stderr()
    assert proc.stdout() == simboard.USAGE_TEXT


# -- the configuration file -----------------------------------------------------


CONFIG = "/etc/snmp/vlmSNMPsubagent.xml"


@pytest.mark.parametrize("content, message", [
    (None, "openf file error: %s: No such file or directory" % CONFIG),
    ("", "read file error: %s: the file is empty" % CONFIG),
    ("<vlmSNMPsubagent><type>\n<details>\n<detail name=\"sysDescr\">x</detial>",
     "parse xml failed: %s:3: Opening and ending tag mismatch: detail line 3 and detial" % CONFIG),
], ids=["missing", "empty", "not-well-formed"])
def test_unusable_configuration_file_stops_the_agent(sandbox, content, message):
    # Faults: the agent serving defaults (or crashing) instead of refusing to
    # start; a message that does not say which file, which line and what is
    # wrong (or blames an unrelated errno); --check-config judging otherwise.
    if content is None:
        sandbox.remove_config()
    else:
        sandbox.write_config(content)
    for args in ([], ["--check-config"]):
        proc = sandbox.run_agent(args)
        assert proc.returncode == 1, args
        assert message in proc.stdout() + proc.stderr(), (args, proc.stdout() + proc.stderr())


def test_the_command_line_answers_without_starting_the_agent(sandbox):
    # Faults: --help or --version taken for a device path (the agent starts,
    # or exits 1); an unknown option started with; --check-config counting a
    # boot or rewriting the file it checks; the version not the package's.
    changelog = (simboard.REPO / "debian" / "changelog").read_text().splitlines()[0]
    version = re.match(r"vlm-subagent \(([^)-]+)", changelog).group(1)
    before = sandbox.read_config()
    for args, status, out in ((["--help"], 0, simboard.USAGE_TEXT), (["-h"], 0, simboard.USAGE_TEXT),
                              (["--version"], 0, "vlm_subagent %s\n" % version), (["-V"], 0, None),
                              (["--bogus"], 1, simboard.USAGE_TEXT), (["--check-config"], 0, CONFIG + ": ok\n")):
        proc = sandbox.run_agent(args)
        assert proc.returncode == status, (args, proc.stderr())
        if out is not None:
            assert proc.stdout() == out, args
    assert sandbox.read_config() == before


# -- boot bookkeeping -----------------------------------------------------------


def test_boot_count_is_counted_in_file_and_served(board):
    # Fault: count not incremented, not written back, or served stale.
    board.set_config_details({("atSystem", "sysBootCount"): "7"})
    board.start_agent()
    assert board.config_detail("atSystem", "sysBootCount") == "8"
    assert board.get_value(BOOT_COUNT) == 8
    board.restart_agent()
    assert board.config_detail("atSystem", "sysBootCount") == "9"
    assert board.get_value(BOOT_COUNT) == 9


def test_empty_first_boot_time_is_recorded_once(board):
    # Faults: no first boot time written, lower-case or wrong encoding, boot
    # time not equal on the first boot, first boot time overwritten later,
    # or the boot time of a later start not being that start's time.
    board.set_config_details({("atSystem", "sysFirstBootTime"): ""})
    before = time.time()
    board.start_agent()
    after = time.time()
    text = board.config_detail("atSystem", "sysFirstBootTime")
    assert re.fullmatch(r"[0-9A-F]{22}", text), text
    first = board.get_value(FIRST_BOOT)
    boot = board.get_value(BOOT_TIME)
    assert len(first) == 11 and len(boot) == 11
    assert first == boot == bytes.fromhex(text)
    assert before - 2 <= utc_seconds(first) <= after + 2

    time.sleep(1.1)  # the next boot time must differ by at least a second
    before = time.time()
    board.restart_agent()
    after = time.time()
    assert board.config_detail("atSystem", "sysFirstBootTime") == text
    assert board.get_value(FIRST_BOOT) == first
    reboot = board.get_value(BOOT_TIME)
    assert len(reboot) == 11
    assert before - 2 <= utc_seconds(reboot) <= after + 2
    assert utc_seconds(reboot) > utc_seconds(first)


@pytest.mark.parametrize("stored", ["07E60102030405", "07E60102030405002B00ZZ"],
                         ids=["short", "not-hex"])
def test_malformed_first_boot_time_is_replaced(board, stored):
    # Fault: a first boot time that is not 22 hex digits kept and served as garbage.
    board.set_config_details({("atSystem", "sysFirstBootTime"): stored})
    board.start_agent()
    text = board.config_detail("atSystem", "sysFirstBootTime")
    assert re.fullmatch(r"[0-9A-F]{22}", text), text
    assert board.get_value(FIRST_BOOT) == bytes.fromhex(text) == board.get_value(BOOT_TIME)


def test_recorded_first_boot_time_is_served_unchanged(board):
    # Fault: a stored first boot time re-encoded, shifted by the time zone or replaced.
    stored = "07E60102030405002B0100"  # 2022-01-02 03:04:05.0 +01:00
    board.set_config_details({("atSystem", "sysFirstBootTime"): stored})
    board.start_agent()
    assert board.config_detail("atSystem", "sysFirstBootTime") == stored
    assert board.get_value(FIRST_BOOT) == bytes.fromhex(stored)
    assert board.get_value(BOOT_TIME) != bytes.fromhex(stored)


# -- one agent per board ---------------------------------------------------------


def test_a_second_agent_leaves_the_running_one_alone(live_board):
    # Faults: a second agent started by hand beside the service counting a
    # boot, removing the first one's temporaries, setting the semaphores the
    # first one's threads hold back to free, or serving beside it; stopping
    # without a word of why.
    board = live_board
    count = board.config_detail("atSystem", "sysBootCount")
    tmp = board.config_path.parent / (board.config_path.name + ".vlmtmp-Ab3dE9")
    tmp.write_text("a write of the first agent in flight")
    second = board.exec([str(board.agent_path)], timeout=10)
    assert second.returncode == 1, second.stdout + second.stderr
    assert "vlm_subagent is already running" in second.stderr
    assert board.config_detail("atSystem", "sysBootCount") == count
    assert tmp.exists()
    assert board.agent.running() and board.agent_answers()


def test_semaphore_sets_removed_under_the_agent_stop_it(live_board):
    # Fault: a failed semaphore operation letting the caller into the data
    # unguarded, so that the agent goes on with threads racing each other.
    live_board.exec(["ipcrm", "--all=sem"], check=True)
    assert live_board.agent.wait(5) == 1
    assert "failed on semaphore set" in live_board.agent.stderr()


# -- shutdown -------------------------------------------------------------------


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT], ids=["SIGTERM", "SIGINT"])
def test_termination_signal_ends_with_status_0(live_board, sig):
    # Fault: the signal ignored (hang), or a crash/non-zero status on the way out.
    assert live_board.stop_agent(sig, timeout=5) == 0
