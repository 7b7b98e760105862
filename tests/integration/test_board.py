"""The simulated board itself: whatever runs on it must leave the host as it
was, also when the process that made the board dies without cleaning up; and
its notification receivers must report what they received faithfully."""

import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import simboard
from simboard import ENTERPRISE, SYSINFO

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
    creator = subprocess.Popen([sys.executable, "-c", CREATOR % str(Path(simboard.__file__).parent)],
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
