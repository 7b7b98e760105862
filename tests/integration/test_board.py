# SPDX-License-Identifier: BSD-3-Clause
"""The simulated board itself: whatever runs on it must leave the host as it
was, also when the process that made the board dies without cleaning up; its
notification receivers must report what they received faithfully; the
commands of simboard.py reach the board they name; and the demo shows the
agent's objects and notifications by name."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import simboard
from simboard import ENTERPRISE, SYSINFO

SIMBOARD = str(simboard.SCRIPT)   # the entry script beside the package

AGENT_SEM_KEYS = {"0x%08x" % k for k in range(1000, 1014)}


def host_state():
    def listing(top):
        out = {}
        for dirpath, dirnames, filenames in os.walk(top):
            for name in dirnames + filenames:
                p = os.path.join(dirpath, name)
                st = os.lstat(p)
                out[p] = (st.st_mode, st.st_size, st.st_mtime_ns)
        return out

    return {
        "/etc/snmp": listing("/etc/snmp"),
        "/var/lib/snmp": listing("/var/lib/snmp"),
        "/etc/issue": Path("/etc/issue").read_bytes(),
        "/dev": sorted(os.listdir("/dev")),
    }


def host_semaphore_keys():
    out = subprocess.run(["ipcs", "-s"], capture_output=True, text=True, check=True).stdout
    return {line.split()[0] for line in out.splitlines() if line.startswith("0x")}


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split()[2] != "Z"
    except OSError:
        return False


def wait_gone(pids, timeout=5):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if not any(alive(p) for p in pids):
            return True
        time.sleep(0.05)
    return False


def test_board_leaves_the_host_untouched(make_board):
    # Faults: a board writing the host's /etc/snmp, /var/lib/snmp, /etc/issue
    # or /dev, creating semaphores in the host's IPC namespace, or leaving
    # processes or its sandbox behind.
    before = host_state()
    sems_before = host_semaphore_keys()
    board = make_board()
    board.start_all()
    board.snmpset((SYSINFO + ".2.0", "s", "written-inside"))
    assert board.config_detail("atSystem", "sysDeviceName") == "written-inside"
    assert not (host_semaphore_keys() - sems_before) & AGENT_SEM_KEYS
    assert host_state() == before
    pids = [board.holder_pid, board.agent.pid, board.snmpd.pid, board.trapds["main"].pid]
    root = board.root
    board.close()
    assert wait_gone(pids)
    assert not root.exists()
    assert host_state() == before
    assert host_semaphore_keys() == sems_before


CREATOR = r"""
import json, sys, time
sys.path.insert(0, %r)
import simboard
board = simboard.Board()
board.start()
board.start_all()
print(json.dumps({"root": str(board.root), "pids": [board.holder_pid, board.agent.pid,
                  board.snmpd.pid, board.trapds["main"].pid, board.holder.pid]}), flush=True)
time.sleep(60)
"""


def test_board_dies_with_its_creator():
    # Fault: a test run killed halfway leaving snmpd, snmptrapd, the agent or
    # the namespaces running on the host.
    creator = subprocess.Popen([sys.executable, "-c", CREATOR % str(simboard.SCRIPT.parent)],
                               stdout=subprocess.PIPE, text=True, start_new_session=True)
    try:
        line = creator.stdout.readline()
    finally:
        creator.kill()
        creator.wait(5)
        creator.stdout.close()
    assert line, "the creator did not bring up a board"
    info = json.loads(line)
    try:
        assert all(p for p in info["pids"])
        assert wait_gone(info["pids"])
    finally:
        shutil.rmtree(info["root"], ignore_errors=True)


def test_receivers_report_notifications_faithfully(board):
    # Faults (of the board): a notification lost, attributed to the wrong
    # receiver, or its enterprise, trap number or values misread, which would
    # make the agent's notification tests pass or fail for the wrong reason.
    board.start_trapd("second", "127.0.0.2:162")
    sent = board.exec(["snmptrap", "-v1", "-c", "public", "127.0.0.1:162", ENTERPRISE, "127.0.0.1",
                       "6", "17", "", SYSINFO + ".2.0", "x", "ff 00 41 0a 09", SYSINFO + ".8.0", "i", "-5"])
    assert sent.returncode == 0, sent.stderr
    sent = board.exec(["snmptrap", "-v2c", "-c", "public", "127.0.0.2:162", "", ENTERPRISE + ".0.3",
                       SYSINFO + ".3.0", "s", "tab\tand\nnewline = x"])
    assert sent.returncode == 0, sent.stderr

    v1 = board.wait_trap()
    assert (v1.version, v1.generic, v1.number, v1.enterprise) == ("v1", 6, 17, ENTERPRISE)
    assert v1.value(SYSINFO + ".2.0") == b"\xff\x00A\n\t"
    assert v1.value(SYSINFO + ".8.0") == -5
    v2 = board.wait_trap(name="second")
    assert (v2.version, v2.enterprise) == ("v2", ENTERPRISE + ".0.3")
    assert v2.value(SYSINFO + ".3.0") == b"tab\tand\nnewline = x"

    assert len(board.traps()) == 1 and len(board.traps("second")) == 1
    # snmpd's own coldStart reaches the receiver too, outside our enterprise
    assert any(t.enterprise.startswith("1.3.6.1.4.1.8072.") for t in board.traps(enterprise=None))


def test_commands_reach_the_board_they_name(make_board, tmp_path, monkeypatch):
    # Faults: a second board taking the first one's place, so that exec or
    # plug reach the wrong board; a command guessing when several boards
    # run; the state a killed board left (its holder's pid now another
    # process's) taken for a live board, or keeping its name from a new one.
    run_dir = tmp_path / "run"
    monkeypatch.setattr(simboard.names, "BOARDS_DIR", run_dir)   # where BoardState looks
    env = dict(os.environ, VLM_SIMBOARD_RUN=str(run_dir))

    def cli(*args):
        return subprocess.run([sys.executable, SIMBOARD] + list(args), env=env, capture_output=True, text=True,
                              timeout=30)

    for name in ("board1", "old"):
        (run_dir / name).mkdir(parents=True)
        (run_dir / name / "board.json").write_text(json.dumps(
            {"name": name, "holder_pid": os.getpid(), "root": "/tmp/vlm-board-gone", "env": {}}))
    first, second = make_board(issue="first\n"), make_board(issue="second\n")
    with simboard.BoardState.claim() as one, simboard.BoardState.claim("east") as two:
        assert one.name == "board1"
        assert "No simulated board is running" in cli("exec", "true").stderr
        one.publish(first)
        two.publish(second)
        with pytest.raises(simboard.BoardError):
            simboard.BoardState.claim("east")

        refused = cli("exec", "cat", "/etc/issue")
        assert (refused.returncode, refused.stdout) == (1, "")
        assert "(board1, east)" in refused.stderr
        assert cli("exec", "--board", "east", "cat", "/etc/issue").stdout == "second\n"
        assert cli("plug", "--board", "board1", "stick_a").returncode == 0
        assert "stick_a" in first.usb_devices() and "stick_a" not in second.usb_devices()
        one.release()
        assert cli("exec", "cat", "/etc/issue").stdout == "second\n"
    assert sorted(os.listdir(run_dir)) == []


@pytest.mark.time_limit(120)
def test_demo_names_objects_and_notifications_and_cleans_up(tmp_path):
    # Faults: the demo's walk or tables without names (our module not
    # loaded, or Net-SNMP complaining of the modules Debian lacks); a
    # notification not printed by name with its objects as it arrives;
    # the board, its processes or its state left behind after Ctrl-C.
    env = dict(os.environ, VLM_SIMBOARD_RUN=str(tmp_path))
    demo = subprocess.Popen([sys.executable, SIMBOARD, "demo", "--name", "t1"], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, start_new_session=True)
    lines = []
    reader = threading.Thread(target=lambda: lines.extend(demo.stdout), daemon=True)
    reader.start()

    def wait_output(pattern, timeout):
        deadline = time.monotonic() + timeout
        while not re.search(pattern, "".join(lines), re.M):
            assert demo.poll() is None and time.monotonic() < deadline, "".join(lines)
            time.sleep(0.1)
        return "".join(lines)

    try:
        shown = wait_output(r"^Notifications", 40)
        info = json.loads((tmp_path / "t1" / "board.json").read_text())
        assert "VELMORA-VLM-MIB::vlmSysModuleName.0 = STRING: VLM-7000" in shown
        assert "Cannot find module" not in shown and "iso.3.6" not in shown
        assert re.search(r"^ +1 +Temp CPU .* 45\.0 .* normal$", shown, re.M), shown   # tpTable
        assert re.search(r"^ +8 +power +ok ", shown, re.M), shown                     # vlmGroupTable

        plug = subprocess.run([sys.executable, SIMBOARD, "plug", "stick_a"], env=env, capture_output=True, text=True,
                              timeout=30)
        assert plug.returncode == 0, plug.stderr
        wait_output(r"hardwareDetectEvent\n +deviceType = disk\(2\)\n +event = arrival\(1\)\n"
                    r" +friendlyName = SanDisk Cruzer Blade$", 10)
    finally:
        demo.send_signal(signal.SIGINT)
        demo.wait(20)
        reader.join(5)
    assert demo.returncode == 0, "".join(lines)
    assert os.listdir(tmp_path) == []
    assert wait_gone([info["holder_pid"]])
    assert not Path(info["root"]).exists()
