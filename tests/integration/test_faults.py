# SPDX-License-Identifier: BSD-3-Clause
"""The agent on a board where something it relies on is missing, broken or
stuck: the master coming after the agent, a tool or device that is not
there, a /proc file it cannot read, a start-up command that hangs, and every
external tool hanging at once.
The affected group shows its empty or default values; every other group,
and a walk of the whole subtree, must go on answering."""

import time

import pytest

import simboard
from simboard import ENTERPRISE
from snmpclient import SnmpTimeout

# One prefix per group, relative to the enterprise number.
GROUPS = {
    "sysinfo": ".100.1", "trapsrv": ".100.2", "health": ".100.3", "temperature": ".200.2.1", "voltage": ".200.2.2",
    "cpu": ".200.2.4", "memory": ".200.2.5", "current": ".200.2.6", "storage": ".200.2.7",
    "power": ".200.2.8", "disks": ".200.3.1", "watchdog": ".200.3.2", "nvram": ".200.3.5",
    "hotplug": ".200.3.6",
}
# One object of each group that a healthy board always serves.
PROBES = {
    "sysinfo": ".100.1.1.0", "trapsrv": ".100.2.1.1.0", "health": ".100.3.1.1.3.1", "temperature": ".200.2.1.1.0",
    "voltage": ".200.2.2.1.0", "cpu": ".200.2.4.1.0", "memory": ".200.2.5.1.0",
    "current": ".200.2.6.1.0", "storage": ".200.2.7.6.0", "power": ".200.2.8.2.0",
    "disks": ".200.3.1.1.0", "watchdog": ".200.3.2.1.0", "nvram": ".200.3.5.1.0",
    "hotplug": ".200.3.6.1.0",
}
ABSENT = ("noSuchObject", "noSuchInstance", "endOfMibView")
HOTPLUG_TABLE = ENTERPRISE + ".200.3.6.4.1"
RECONNECT_LIMIT = 2.0   # seconds from the master answering to every group answering


def group_of(oid: str) -> str:
    rel = oid[len(ENTERPRISE):]
    for name, prefix in GROUPS.items():
        if rel.startswith(prefix + "."):
            return name
    raise AssertionError("object outside every group: %s" % oid)


def walk_groups(board) -> dict:
    """{group: {relative oid: value}} of one walk of the whole subtree;
    every group is a key, an empty dict when it served nothing."""
    out = {name: {} for name in GROUPS}
    for vb in board.snmpwalk(ENTERPRISE):
        out[group_of(vb.oid)][vb.oid[len(ENTERPRISE):]] = vb.value
    return out


def settled_walk(board, ready=lambda walk: True, timeout=10.0) -> dict:
    """Walks until two walks half a second apart list the same objects and
    `ready(walk)` holds (the agent has read everything once)."""
    deadline = time.monotonic() + timeout
    previous = None
    while True:
        walk = walk_groups(board)
        shape = {g: sorted(objs) for g, objs in walk.items()}
        if shape == previous and ready(walk):
            return walk
        if time.monotonic() > deadline:
            raise AssertionError("the walk did not settle within %.0f s: %r" % (timeout, shape))
        previous = shape
        time.sleep(0.5)


@pytest.fixture(scope="module")
def healthy():
    """The walk of a board where nothing is wrong: what every group serves
    once its first reading is in."""
    board = simboard.Board().start()
    try:
        board.start_all()
        walk = settled_walk(board, lambda w: w["disks"].get(".200.3.1.1.0") == 2 and w["watchdog"]
                            and w["storage"].get(".200.2.7.6.0", 0) > 0
                            and all(len(w[g]) > 1 for g in ("temperature", "voltage", "current")))
    finally:
        board.close()
    assert all(walk[g] for g in GROUPS), [g for g in GROUPS if not walk[g]]
    return walk


def answer_every_group(client, limit=1.0):
    """GETs one object of each group; every answer must come within
    `limit` seconds, without an error status. Returns the slowest."""
    slowest = 0.0
    for name, rel in PROBES.items():
        started = time.monotonic()
        try:
            resp = client.get(ENTERPRISE + rel)
        except SnmpTimeout:
            raise AssertionError("%s (%s) did not answer within %.1f s" % (name, rel, limit))
        took = time.monotonic() - started
        assert took < limit, "%s answered after %.2f s" % (name, took)
        assert resp.error_status == 0, (name, resp)
        slowest = max(slowest, took)
    return slowest


# -- the master comes after the agent -------------------------------------------------


def wait_every_group(board, timeout):
    """Seconds until the probe of every group answers with a value."""
    start = time.monotonic()
    with board.client(timeout=0.3) as c:
        while True:
            try:
                resp = c.get(*(ENTERPRISE + rel for rel in PROBES.values()))
                if resp.error_status == 0 and all(vb.type not in ABSENT for vb in resp.varbinds):
                    return time.monotonic() - start
            except SnmpTimeout:
                pass
            assert board.agent.running(), board.agent_output()
            assert time.monotonic() - start < timeout, "not every group answers after %.0f s" % timeout
            time.sleep(0.05)


def test_agent_started_before_the_master_connects_when_it_comes(make_board):
    # Faults: the agent exiting when no master listens yet; trying once and
    # giving up, or retrying at the library's 15 s; connecting with only
    # some of its groups registered; the same after the master has been
    # away for several ping intervals (not just restarted at once).
    board = make_board()
    board.start_trapd()
    board.start_agent(wait=False)
    time.sleep(3)   # several connection attempts fail meanwhile
    assert board.agent.running(), board.agent_output()
    for _ in range(2):
        board.start_snmpd()   # returns once snmpd answers its own objects
        assert wait_every_group(board, timeout=10) <= RECONNECT_LIMIT
        board.stop_snmpd()
        time.sleep(3)
        assert board.agent.running(), board.agent_output()


# -- a tool, device or file that is missing -------------------------------------------


# A group's expected state once the agent has met the fault: a check gets
# the group's {relative oid: value} and what the healthy board served.


def nothing(objs, healthy_group):
    return objs == {}


def zero_counts(*oids):
    """Only these count scalars, each 0: the group's table is empty."""
    return lambda objs, healthy_group: objs == {oid: 0 for oid in oids}


def values(**expected):
    """The healthy board's objects, these with the given values (keys:
    relative oids with "_" for the dots)."""
    def check(objs, healthy_group):
        return sorted(objs) == sorted(healthy_group) and all(
            objs[k.replace("_", ".")] == v for k, v in expected.items())
    return check


def storage_empty(objs, healthy_group):
    return sorted(objs) == [".200.2.7.%d.0" % i for i in range(1, 7)] and objs[".200.2.7.6.0"] == 0


def no_partitions(objs, healthy_group):
    # fdisk is read through a pipe that counts lines: without fdisk the
    # count is 0, and the rest of each disk's row is as usual.
    column = [oid for oid in healthy_group if oid.startswith(".200.3.1.2.1.7.")]
    return sorted(objs) == sorted(healthy_group) and column and all(objs[oid] == 0 for oid in column)


# id: (make the fault, the command whose attempted run shows that the agent
# met it, or None; {affected group: check}; {group of the agent's group table:
# the status it shows})
FAULTS = {
    "df": (lambda b: b.remove_command("df"), "df",
           {"storage": storage_empty, "nvram": zero_counts(".200.3.5.1.0")},
           {"storage": "absent", "nvram": "absent"}),
    "lsusb": (lambda b: b.remove_command("lsusb"), "lsusb", {}, {"hotplug": "absent"}),
    # fdisk is read through a pipe that counts lines: its absence cannot be
    # told from a disk without partitions.
    "fdisk": (lambda b: b.remove_command("fdisk"), "fdisk", {"disks": no_partitions}, {}),
    "vlm_smartctl": (lambda b: b.remove_command("vlm_smartctl"), None,
                     {"disks": zero_counts(".200.3.1.1.0")}, {"disks": "absent"}),
    "lsb_release": (lambda b: b.remove_command("lsb_release"), "lsb_release",
                    {"sysinfo": values(_100_1_5_0=b"")}, {"system": "absent"}),
    "cat": (lambda b: b.remove_command("cat"), "cat",
            {"sysinfo": values(_100_1_4_0=b""), "watchdog": nothing}, {"system": "absent", "watchdog": "absent"}),
    "psu-device": (lambda b: b.set_psu_inputs(None), None, {"power": nothing}, {"power": "absent"}),
    "product-name-device": (lambda b: b.set_product_name(None), None,
                            {"sysinfo": values(_100_1_1_0=b"")}, {"system": "absent"}),
    "hwmon-chip": (lambda b: b.remove_chip(), None,
                   {"temperature": zero_counts(".200.2.1.1.0"), "voltage": zero_counts(".200.2.2.1.0"),
                    "current": zero_counts(".200.2.6.1.0")}, {"sensors": "absent"}),
    "meminfo": (lambda b: b.make_unreadable("/proc/meminfo"), None,
                {"memory": values(_200_2_5_1_0=0, _200_2_5_2_0=0, _200_2_5_3_0=1)}, {"memory": "failing"}),
    # The whole sample counts as failed, the clocks with the load.
    "proc-stat": (lambda b: b.make_unreadable("/proc/stat"), None,
                  {"cpu": values(_200_2_4_1_0=0, _200_2_4_2_0=0, _200_2_4_3_0=0)}, {"cpu": "failing"}),
}


def health_as_expected(walk, expected):
    """The group table of a walk shows exactly the expected statuses."""
    rows = walk["health"]
    names = [rows.get(".100.3.1.1.2.%d" % i, b"").decode() for i in range(1, 12)]
    statuses = [simboard.GROUP_STATUS.get(rows.get(".100.3.1.1.3.%d" % i)) for i in range(1, 12)]
    return names == list(simboard.GROUP_NAMES[:11]) and \
        statuses == [expected.get(name, "ok") for name in names]


def group_as_expected(walk, healthy, group, affected):
    if group == "health":
        return sorted(walk[group]) == sorted(healthy[group])
    if group in affected:
        return affected[group](walk[group], healthy[group])
    return bool(walk[group]) and sorted(walk[group]) == sorted(healthy[group])


@pytest.mark.parametrize("fault", list(FAULTS))
def test_a_missing_tool_device_or_file_empties_only_its_own_group(make_board, healthy, fault):
    # Faults: the agent exiting or crashing at start-up or later when a
    # tool, device or /proc file is not there; a group serving stale or
    # made-up values instead of its empty or default ones; the failure
    # spreading to another group (missing objects, a walk cut short, a
    # request that times out); the agent never trying the tool at all; the
    # group's row of the group table not saying so (or another group's
    # row); the log saying it at every cycle rather than once.
    make_fault, command, affected, health = FAULTS[fault]
    board = make_board()
    board.start_trapd()
    board.start_snmpd()
    make_fault(board)
    started = time.monotonic()
    board.start_agent()

    def ready(walk):
        if time.monotonic() - started < 2.5:   # the first reading of every group is in
            return False
        if command is not None and not board.missing_calls(command):
            return False
        return all(group_as_expected(walk, healthy, g, affected) for g in GROUPS) and \
            health_as_expected(walk, health)

    try:
        settled_walk(board, ready)
    except AssertionError:
        walk = walk_groups(board)   # name the first group that is wrong
        for g in GROUPS:
            assert group_as_expected(walk, healthy, g, affected), (g, walk[g], healthy[g])
        assert health_as_expected(walk, health), (walk["health"], health)
        raise
    # Several cycles of every group have passed: one log line each, the
    # first reading of a group announcing nothing.
    time.sleep(2)
    lines = board.group_log_lines()
    assert sorted(line.split()[1] for line in lines) == sorted(health), lines
    assert board.group_notifications() == []
    assert board.agent.running(), board.agent_output()
    with board.client(timeout=1.0) as c:
        answer_every_group(c)


@pytest.mark.time_limit(120)
def test_groups_that_stop_reading_say_so_once_and_recover(make_board):
    # Faults: a group that stopped reading looking like a healthy one (its
    # row ok, no notification, nothing in the log); a notification or a log
    # line at every cycle while it stays so; the cause missing; the
    # recovery not shown; a group that never comes back (the power group
    # giving up after a failed read).
    board = make_board(usb_devices=("root_hub_2", "root_hub_3", "stick_a"))
    board.start_trapd()
    board.start_snmpd()
    board.start_agent()
    board.wait_groups({})
    board.wait_uevent_listener()

    board.remove_command("df")
    board.set_psu_inputs("1E")
    board.remove_chip()
    board.remove_command("lsusb")
    board.plug("stick_b")   # the hot-plug group reads at an event
    causes = {"storage": ("absent", "df -m -l: not installed"), "nvram": ("absent", "df -m -l: not installed"),
              "power": ("failing", "Get PWR2 status Failed! error. (/dev/vlmpsustatus: Input/output error)"),
              "sensors": ("absent", "no hardware-monitor chip vlmhwmon"),
              "hotplug": ("absent", "lsusb -v: not installed")}
    health = board.wait_groups({g: status for g, (status, _) in causes.items()}, timeout=10)
    assert {g: (health[g]["status"], health[g]["error"]) for g in causes} == causes
    time.sleep(3)   # more cycles, the same state
    assert sorted(board.group_notifications()) == sorted((g, status, error) for g, (status, error) in causes.items())

    board.restore_command("df")
    board.set_psu_inputs("11")
    board.add_chip()
    board.restore_command("lsusb")
    board.unplug("stick_b")
    health = board.wait_groups({}, timeout=30)   # the power group waits longer between failed reads
    assert all(health[g]["error"] == error and health[g]["failures"] >= 1 for g, (_, error) in causes.items())
    sent = board.group_notifications()
    for g, (status, error) in causes.items():
        assert [n for n in sent if n[0] == g] == [(g, status, error), (g, "ok", error)]
        assert [line for line in board.group_log_lines() if line.split()[1] == g] == [
            "group %s %s: %s" % (g, status, error), "group %s ok again (was %s)" % (g, status)]
    assert board.agent.running(), board.agent_output()


def test_usb_arrival_with_lsusb_missing_is_recorded_once_without_a_name(make_board):
    # Faults: a uevent whose lsusb run fails (nothing listed, no "error")
    # retried over and over, taken as the removal of the known stick, or
    # stopping the watcher or the agent.
    board = make_board(usb_devices=("root_hub_2", "root_hub_3", "stick_a"))
    board.start_trapd()
    board.start_snmpd()
    board.start_agent()
    board.wait_uevent_listener()
    board.remove_command("lsusb")
    board.plug("stick_b")
    deadline = time.monotonic() + 5
    while not board.missing_calls("lsusb"):
        assert time.monotonic() < deadline, "the agent did not run lsusb for the uevent"
        time.sleep(0.05)
    time.sleep(1.5)
    # One listing to see whether the list has settled, one to read it: no
    # retries, since an empty listing holds no error. Nothing names the
    # device, so the arrival is recorded without a name; the stick known
    # from the start is not taken as removed.
    assert board.missing_calls("lsusb") == ["-v", "-v"]
    rows = {vb.oid[len(HOTPLUG_TABLE) + 1:]: vb.value for vb in board.snmpwalk(HOTPLUG_TABLE)}
    assert {k: v for k, v in rows.items() if k.split(".")[0] in ("3", "5", "7")} == {
        "3.1": 1, "3.2": 2, "5.1": b"", "5.2": b"", "7.1": 1, "7.2": 1}
    assert [t.number for t in board.traps()] == [simboard.GROUP_NOTIFICATION, 5, 5]
    assert board.agent.running(), board.agent_output()
    with board.client(timeout=1.0) as c:
        answer_every_group(c)


# -- every tool hanging at once ---------------------------------------------------------


def test_a_hung_start_up_command_delays_the_start_but_does_not_stop_it(make_board):
    # Faults: start-up waiting for ever on lsb_release (the agent never
    # connects, though its process runs); the stuck command left behind;
    # the other start-up reading lost with it.
    board = make_board()
    board.start_trapd()
    board.start_snmpd()
    board.hang_command("lsb_release")
    started = time.monotonic()
    board.start_agent(timeout=15)
    assert board.command_hung("lsb_release")
    assert time.monotonic() - started < 10
    assert board.get_value(ENTERPRISE + ".100.1.5.0") == b""
    assert board.get_value(ENTERPRISE + ".100.1.4.0") == b"Debian GNU/Linux 9"
    assert board.exec(["pgrep", "-f", "sleep 3600"]).stdout == ""


@pytest.mark.time_limit(120)
def test_every_group_answers_within_a_second_while_every_tool_hangs(make_board, healthy):
    # Faults: a group's request waiting for a stuck command (its semaphore
    # held across the run); stuck commands adding up so that one group
    # blocks another, or the main loop; a stuck command never killed, so
    # that processes pile up.
    board = make_board()
    board.start_trapd()
    board.start_snmpd()
    # The disks are read once, 1 s after the start: smartctl hangs from
    # then on, 30 s for each disk before it is given up.
    board.set_smartctl_mode("hang")
    board.start_agent()
    settled_walk(board, lambda w: all(sorted(w[g]) == sorted(healthy[g]) for g in GROUPS if g != "disks"))
    board.set_df_hang()
    board.hang_wdtinfo()
    board.wait_uevent_listener()
    board.set_lsusb_hang()
    board.plug("stick_a")

    hung = {"df": board.df_hanging, "cat": board.wdtinfo_hung, "smartctl": board.smartctl_hanging,
            "lsusb": board.lsusb_hanging}
    deadline = time.monotonic() + 10
    while not all(f() for f in hung.values()):
        assert time.monotonic() < deadline, [n for n, f in hung.items() if not f()]
        time.sleep(0.05)

    slowest, rounds = 0.0, 0
    with board.client(timeout=1.0) as c:
        end = time.monotonic() + 10
        while time.monotonic() < end:
            slowest = max(slowest, answer_every_group(c))
            rounds += 1
            if rounds == 20:
                board.plug("stick_b")   # another lsusb run, into the same hang
            time.sleep(0.05)
    assert rounds >= 20, "only %d rounds in 10 s (slowest answer %.2f s)" % (rounds, slowest)

    # A whole walk still completes: the groups whose tool is stuck keep
    # the last good reading (storage, NVRAM), have none yet (disks) or
    # count as silent (watchdog); the others are untouched.
    walk = walk_groups(board)
    for g in GROUPS:
        if g not in ("disks", "watchdog", "hotplug"):
            assert sorted(walk[g]) == sorted(healthy[g]), (g, walk[g])
    assert walk["disks"] == {".200.3.1.1.0": 0}
    assert walk["watchdog"] == {}
    assert board.agent.running(), board.agent_output()
    # Each stuck command is killed at its time limit: a few may be waiting,
    # never one per round.
    assert len(board.exec(["pgrep", "-f", "sleep 3600"]).stdout.split()) <= 4
