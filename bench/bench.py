#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Benchmark of vlm_subagent on the simulated board.

Everything is measured in one run, on one board, against one snmpd:

  1. GETBULK walk rate (varbinds per second) of our whole subtree, against a
     walk of the same size served by a minimal AgentX subagent
     (bench/minimal_subagent.c: constant values from memory through the same
     Net-SNMP helpers, the bare cost of AgentX) and against a table snmpd
     serves itself (hrSWInstalledTable, the walk cut to the same size);
  2. GET latency, median and 99th percentile, of the same three;
  3. SET-with-persist latency: a SET of the device name, which the agent
     writes to its configuration file before it answers;
  4. time from a reading crossing a threshold (a temperature sensor, the
     memory usage) to the notification logged by snmptrapd, against the
     group's polling period;
  5. the agent's CPU time while idle, its own and that of the commands it
     runs, as a share of one core: once with the board's stand-in df and
     cat, once with the system's programs (the figure with a target);
  6. resident memory (RssAnon, VmRSS) of the agent and of the minimal
     subagent;
  7. the cost of one sensor acquisition cycle (libsensors init, the chip
     walked, cleanup), timed in C (bench/sensor_cycle.c) and seen in the
     agent with and without the chip.

Each figure is printed with its target and whether the run met it; nothing
fails. The requests come from a raw SNMP client inside the board's network
(no tool start-up in the figures); the three servers are measured in turn,
request by request, so that a load change on the machine hits all alike.

Usage: bench.py [--quick] [--gets N] [--walks N] [--sets N] [--crossings N]
                [--idle SECONDS] [--cycles N] [--cycle-idle SECONDS]
"""

import argparse
import contextlib
import os
import random
import statistics
import subprocess
import sys
import time
from pathlib import Path

BENCH = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH.parent / "tools"))
import simboard  # noqa: E402

OUR_TREE = simboard.ENTERPRISE
OUR_GET = simboard.SYSINFO + ".2.0"          # device name: a scalar served from memory
OUR_SET = simboard.SYSINFO + ".2.0"          # ... and written to the configuration file
MINIMAL_TREE = "1.3.6.1.4.1.8072.9999.9999.42"
MINIMAL_GET = MINIMAL_TREE + ".1.1.0"         # a scalar of the same kind
MINIMAL_SCALARS, MINIMAL_COLUMNS = 8, 8      # as bench/minimal_subagent.c registers them
SNMPD_GET = simboard.SNMPD_SYSDESCR           # sysDescr.0
SNMPD_TREE = "1.3.6.1.2.1.25.6.3"             # hrSWInstalledTable: one row per installed package
SENSOR_ROW = simboard.ENTERPRISE + ".200.2.1.2.1.1.1"   # tpIndex of the first temperature row
TRAP_ENTERPRISE = simboard.ENTERPRISE + ".200.10"
TEMPERATURE = "Temp CPU"
TEMPERATURE_HIGH = 85.0                       # tpHigh of the factory configuration
POLL_PERIOD = 1.0                             # the sensor and memory threads read once a second
CLK_TCK = os.sysconf("SC_CLK_TCK")
MIB = 1024  # KiB


# -- statistics and formatting ------------------------------------------------

def percentile(values, q):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(q * (len(ordered) - 1))))]


def ms(seconds):
    return "%.2f ms" % (seconds * 1000)


def us(seconds):
    return "%.0f us" % (seconds * 1e6)


def verdict(met):
    return "" if met is None else "met" if met else "MISSED"


class Summary:
    """The figures that have a target, printed again at the end."""

    def __init__(self):
        self.rows = []

    def add(self, figure, value, target, met):
        """A figure with its target; target None: one printed for comparison."""
        self.rows.append((figure, value, target, met))
        if target is None:
            print("  -> %s: %s (no target)" % (figure, value))
        else:
            print("  -> %s: %s (target %s): %s" % (figure, value, target, verdict(met)))

    def print(self):
        print("Summary")
        for figure, value, target, met in self.rows:
            print(("  %-33s %-24s " % (figure, value)) +
                  ("no target" if target is None else "target %-20s %s" % (target, verdict(met))))


# -- building and running the bench programs -----------------------------------

def compile_program(source, exe, libs):
    """Builds bench/SOURCE into `exe`; raises with the compiler's message."""
    proc = subprocess.run(["gcc", "-O2", "-Wall", "-o", str(exe), str(BENCH / source)] + libs,
                          capture_output=True, text=True)
    if proc.returncode != 0:
        raise SystemExit("cannot build %s:\n%s" % (source, proc.stderr))
    return exe


def agent_libs():
    return subprocess.run(["net-snmp-config", "--agent-libs"], capture_output=True, text=True,
                          check=True).stdout.split()


def start_minimal(board, exe, rows):
    """The minimal subagent inside the board, with the same preloaded device
    shim as the agent (so that both carry it in their memory figures);
    returns once its objects answer."""
    proc = board.spawn("minimal", [str(exe), board.agentx_socket, str(rows)],
                       env={"LD_PRELOAD": str(board.shim_path)})
    deadline = time.monotonic() + 5
    with board.client(timeout=0.2) as c:
        while True:
            try:
                if c.get(MINIMAL_GET).varbinds[0].type == "OCTET STRING":
                    return proc
            except simboard.snmpclient.SnmpTimeout:
                pass
            if not proc.running() or time.monotonic() > deadline:
                raise SystemExit("the minimal subagent did not answer:\n" + proc.stderr())
            time.sleep(0.05)


# -- requests --------------------------------------------------------------------

def timed_get(client, oid):
    t = time.perf_counter()
    resp = client.get(oid)
    elapsed = time.perf_counter() - t
    if resp.error_status or resp.varbinds[0].type in ("noSuchObject", "noSuchInstance"):
        raise SystemExit("GET %s failed: %r" % (oid, resp))
    return elapsed


def walk(client, root, limit=None, max_repetitions=10):
    """Number of varbinds of a GETBULK walk of `root`, stopping after
    `limit` of them (the last request asks for no more than are missing)."""
    prefix = simboard.snmpclient.oid_parts(root)
    count, cursor = 0, root
    while limit is None or count < limit:
        reps = max_repetitions if limit is None else min(max_repetitions, limit - count)
        resp = client.getbulk(cursor, max_repetitions=reps)
        if resp.error_status:
            raise SystemExit("walk of %s: %s" % (root, resp.error))
        for vb in resp.varbinds:
            if vb.type == "endOfMibView" or simboard.snmpclient.oid_parts(vb.oid)[:len(prefix)] != prefix:
                return count
            count += 1
        if not resp.varbinds:
            break
        cursor = resp.varbinds[-1].oid
    return count


def timed_walk(client, root, limit=None):
    t = time.perf_counter()
    n = walk(client, root, limit)
    return n, time.perf_counter() - t


# -- /proc figures -----------------------------------------------------------------

def cpu_ticks(pid):
    """(own, children's) CPU seconds: utime+stime and cutime+cstime."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    utime, stime, cutime, cstime = (int(x) for x in fields[11:15])
    return (utime + stime) / CLK_TCK, (cutime + cstime) / CLK_TCK


def task_cpu_seconds(pid):
    """CPU time of every thread of `pid`, from schedstat (nanoseconds): the
    clock ticks of /proc/PID/stat are too coarse for a few seconds."""
    total = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total / 1e9


def rss_by_mapping(pid):
    """Resident KiB of each mapped file (by name) and of anonymous memory."""
    out, name = {}, None
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            first = line.split(None, 1)[0]
            if not first.endswith(":"):
                parts = line.split()
                name = os.path.basename(parts[5]) if len(parts) > 5 and parts[5].startswith("/") else \
                    "(anonymous)"
            elif first == "Rss:":
                out[name] = out.get(name, 0) + int(line.split()[1])
    return out


def memory_kib(pid):
    out = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "RssAnon", "RssFile", "VmHWM"):
                out[key] = int(value.split()[0])
    return out


# -- the figures ---------------------------------------------------------------------

def get_figures(board, targets, iterations):
    print("GET latency (raw client; %d GETs each, interleaved)" % iterations)
    lat = {name: [] for name, _ in targets}
    with board.client(timeout=2) as client:
        for _ in range(10):       # warm-up: caches, the master's session
            for _, oid in targets:
                client.get(oid)
        for _ in range(iterations):
            for name, oid in targets:
                lat[name].append(timed_get(client, oid))
    print("  %-54s %-10s %-10s" % ("", "median", "p99"))
    for name, oid in targets:
        print("  %-54s %-10s %-10s" % ("%s %s" % (name, oid), ms(statistics.median(lat[name])),
                                       ms(percentile(lat[name], 0.99))))
    ours, minimal = lat[targets[0][0]], lat[targets[1][0]]
    print("  ours / minimal subagent: median %.2f, p99 %.2f (no target)" % (
        statistics.median(ours) / statistics.median(minimal),
        percentile(ours, 0.99) / percentile(minimal, 0.99)))
    print()
    return lat


def walk_figures(board, minimal, n_ours, walks, summary):
    print("GETBULK walk rate (max-repetitions 10; %d walks each, interleaved)" % walks)
    targets = (("agent", OUR_TREE, None), ("minimal subagent", MINIMAL_TREE, None),
               ("snmpd hrSWInstalledTable", SNMPD_TREE, n_ours))
    times = {name: [] for name, _, _ in targets}
    counts = {}
    with board.client(timeout=2) as client:
        for name, root, limit in targets:   # warm-up
            counts[name] = walk(client, root, limit)
        cpu0 = {pid: task_cpu_seconds(pid) for pid in (board.agent.pid, minimal.pid)}
        for _ in range(walks):
            for name, root, limit in targets:
                n, t = timed_walk(client, root, limit)
                if n != counts[name]:
                    counts[name] = n   # a row came or went; the rate stays per varbind
                times[name].append(t / n)
    cpu = {pid: (task_cpu_seconds(pid) - c) / walks for pid, c in cpu0.items()}
    rates = {}
    print("  %-54s %9s %12s %12s" % ("", "varbinds", "vb/s median", "vb/s worst"))
    for name, root, limit in targets:
        rates[name] = 1 / statistics.median(times[name])
        print("  %-54s %9d %12.0f %12.0f" % ("%s %s" % (name, root), counts[name], rates[name],
                                              1 / max(times[name])))
    ratio = rates["agent"] / rates["minimal subagent"]
    print("  CPU time a walk (all threads): agent %s, minimal subagent %s" % (
        ms(cpu[board.agent.pid]), ms(cpu[minimal.pid])))
    print("  agent / minimal subagent %.2f, agent / snmpd %.2f" % (
        ratio, rates["agent"] / rates["snmpd hrSWInstalledTable"]))
    summary.add("walk rate vs minimal subagent", "%.0f%% (%.0f vs %.0f vb/s)" % (
        100 * ratio, rates["agent"], rates["minimal subagent"]), ">= 90% (within 10%)", ratio >= 0.9)
    cpu_ratio = cpu[board.agent.pid] / cpu[minimal.pid]
    summary.add("walk CPU vs minimal subagent", "%.2fx (%.1f vs %.1f ms a walk)" % (
        cpu_ratio, 1000 * cpu[board.agent.pid], 1000 * cpu[minimal.pid]), "<= 1.15x", cpu_ratio <= 1.15)
    print()


def set_figures(board, iterations, summary):
    print("SET with persist (device name; the agent writes its configuration file before it answers)")
    lat = []
    with board.client(community="private", timeout=5) as client:
        value = ""
        for i in range(iterations + 5):
            value = "bench %d" % i
            t = time.perf_counter()
            resp = client.set((OUR_SET, "OCTET STRING", value))
            elapsed = time.perf_counter() - t
            if resp.error_status:
                raise SystemExit("SET failed: %s" % resp.error)
            if i >= 5:   # the first few warm up the master's session
                lat.append(elapsed)
        stored = board.config_detail("atSystem", "sysDeviceName")
        client.set((OUR_SET, "OCTET STRING", ""))
    print("  %d SETs: median %s, p99 %s, max %s (no target)" % (
        len(lat), ms(statistics.median(lat)), ms(percentile(lat, 0.99)), ms(max(lat))))
    print("  configuration file after the last SET holds %r (%s)" % (
        stored, "as set" if stored == value else "NOT the last value"))
    print()


class TrapLog:
    """Reads the new lines of the main snmptrapd log as they arrive."""

    def __init__(self, board):
        self.path = board.log_dir / "snmptrapd-main.log"
        self.offset = self.path.stat().st_size
        self.partial = ""

    def wait(self, specific, timeout):
        """Seconds until a v1 trap of ours with number `specific` is logged
        (perf_counter time), or None after `timeout`."""
        deadline = time.perf_counter() + timeout
        while True:
            with open(self.path, errors="replace") as f:
                f.seek(self.offset)
                chunk = f.read()
                self.offset = f.tell()
            now = time.perf_counter()
            lines = (self.partial + chunk).split("\n")
            self.partial = lines.pop()
            for line in lines:
                trap = simboard.parse_trap_line(line)
                if trap is not None and trap.enterprise == TRAP_ENTERPRISE and trap.number == specific:
                    return now
            if now > deadline:
                return None
            time.sleep(0.001)


def crossing_latencies(board, crossings, make_alarm, make_clear, alarm, clear):
    """Latencies of `crossings` threshold crossings, alternately into the
    alarm band and back; each change comes at a random phase of the agent's
    polling cycle. Missed notifications are None."""
    out = []
    log = TrapLog(board)
    for i in range(crossings):
        into = i % 2 == 0
        time.sleep(random.uniform(0.2, 0.2 + POLL_PERIOD))
        t0 = time.perf_counter()
        (make_alarm if into else make_clear)()
        seen = log.wait(alarm if into else clear, timeout=5)
        out.append(None if seen is None else seen - t0)
    if crossings % 2:
        make_clear()
        log.wait(clear, timeout=5)
    return out


def trap_figures(board, crossings, summary):
    print("Threshold crossing to notification at snmptrapd (%d crossings per group, "
          "half into the alarm band, half back)" % crossings)
    print("  polling period of both groups: %.1f s (a reading every second); target: within %s" % (
        POLL_PERIOD, ms(POLL_PERIOD + 0.1)))
    normal_memory = dict(simboard.DEFAULT_MEMINFO)
    groups = (
        ("temperature above tpHigh (1/2)",
         lambda: board.set_sensor(TEMPERATURE, TEMPERATURE_HIGH + 5),
         lambda: board.set_sensor(TEMPERATURE, 45.0), 1, 2),
        ("memory usage above threshold (101/102)",
         lambda: board.set_meminfo(free=10000, buffers=0, cached=0, slab=0),
         lambda: board.set_meminfo(**normal_memory), 101, 102),
    )
    worst = 0.0
    missed = 0
    for label, make_alarm, make_clear, alarm, clear in groups:
        lat = crossing_latencies(board, crossings, make_alarm, make_clear, alarm, clear)
        got = [x for x in lat if x is not None]
        missed += len(lat) - len(got)
        if got:
            worst = max(worst, max(got))
            print("  %-42s median %s, max %s%s" % (label, ms(statistics.median(got)), ms(max(got)),
                                                   ", %d not within 5 s" % (len(lat) - len(got))
                                                   if len(got) < len(lat) else ""))
        else:
            print("  %-42s no notification arrived" % label)
    summary.add("threshold to notification (max)", ms(worst) + (" + %d missed" % missed if missed else ""),
                "<= %s" % ms(POLL_PERIOD + 0.1), missed == 0 and worst <= POLL_PERIOD + 0.1)
    print()


# The commands the agent starts every few seconds while idle: the storage
# group's "df -m -l" and the watchdog group's "cat /proc/vlmwdtinfo". The
# board puts stand-in scripts of these on its PATH; the real programs cost
# less to start, and are what a board runs.
IDLE_COMMANDS = ("df", "cat")


@contextlib.contextmanager
def real_commands(board, names):
    """The board's stand-ins for `names` moved off its PATH for the time of
    the block, so that the agent's lookup finds the system's programs (the
    real df lists the board's own mounts; the real cat finds no
    /proc/vlmwdtinfo and fails, as on a board without the watchdog driver);
    put back afterwards."""
    moved = []
    try:
        for name in names:
            path = board.bin_dir / name
            aside = board.bin_dir / (".%s.stand-in" % name)
            os.rename(path, aside)
            moved.append((aside, path))
        yield
    finally:
        for aside, path in moved:
            os.rename(aside, path)


def idle_share(board, seconds, label):
    """The agent's CPU time, its own and its commands', as a share of one
    core over `seconds` of idling; prints the figures under `label`."""
    pid = board.agent.pid
    print("Agent idle for %.0f s, %s (no requests; every thread keeps its schedule) ..." % (seconds, label),
          flush=True)
    smart_runs0 = len(board.smartctl_calls())
    own0, kids0 = cpu_ticks(pid)
    fine0 = task_cpu_seconds(pid)
    start = time.monotonic()
    while time.monotonic() - start < seconds:
        time.sleep(min(1.0, max(0.0, seconds - (time.monotonic() - start))))
        if not board.agent.running():
            raise SystemExit("the agent exited during the idle period:\n" + board.agent_output())
    elapsed = time.monotonic() - start
    own1, kids1 = cpu_ticks(pid)
    fine1 = task_cpu_seconds(pid)
    smart_runs = len(board.smartctl_calls()) - smart_runs0
    own, kids = own1 - own0, kids1 - kids0
    share = (own + kids) / elapsed
    print("  CPU: own %.2f s (threads by schedstat %.3f s), commands run %.2f s, in %.1f s" % (
        own, fine1 - fine0, kids, elapsed))
    print("  = %.1f s an hour, %.3f%% of one core (disk refreshes in the window: %d smartctl runs; "
          "one refresh every 120 s)" % (3600 * share, 100 * share, smart_runs))
    return share


def idle_figures(board, minimal, seconds, summary):
    pid = board.agent.pid
    if seconds < 120:
        print("(an idle window shorter than 120 s may miss or over-weight the disk refresh)")
    standin = idle_share(board, seconds, "the board's stand-in %s" % " and ".join(IDLE_COMMANDS))
    with real_commands(board, IDLE_COMMANDS):
        time.sleep(6)   # past the runs of the stand-ins already under way
        real = idle_share(board, seconds, "the system's %s" % " and ".join(IDLE_COMMANDS))
    summary.add("idle CPU, own + df, cat", "%.3f%% of one core" % (100 * real), "< 0.5%", real < 0.005)
    summary.add("idle CPU, with stand-in df, cat", "%.3f%% of one core" % (100 * standin), None, None)

    agent_mem, minimal_mem = memory_kib(pid), memory_kib(minimal.pid)
    print("  memory (KiB)        %8s %8s %8s %8s" % ("VmRSS", "RssAnon", "RssFile", "VmHWM"))
    for name, mem in (("agent", agent_mem), ("minimal subagent", minimal_mem)):
        print("  %-19s %8d %8d %8d %8d" % (name, mem.get("VmRSS", 0), mem.get("RssAnon", 0),
                                           mem.get("RssFile", 0), mem.get("VmHWM", 0)))
    ours, theirs = rss_by_mapping(pid), rss_by_mapping(minimal.pid)
    extra = sorted(((ours.get(k, 0) - theirs.get(k, 0), k) for k in set(ours) | set(theirs)), reverse=True)
    print("  the agent's VmRSS above the minimal subagent's, largest parts: " + ", ".join(
        "%s %d" % (k, kib) for kib, k in extra[:7] if kib > 0))
    anon = agent_mem.get("RssAnon", 0)
    above = agent_mem.get("VmRSS", 0) - minimal_mem.get("VmRSS", 0)
    summary.add("agent RssAnon", "%.2f MiB" % (anon / MIB), "< 3 MiB", anon < 3 * MIB)
    summary.add("agent VmRSS above minimal", "%.2f MiB" % (above / MIB), "<= 2 MiB", above <= 2 * MIB)
    print()


def agent_cpu_rate(board, seconds):
    """The agent's CPU seconds per second over `seconds`."""
    pid = board.agent.pid
    c0, t0 = task_cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    if not board.agent.running():
        raise SystemExit("the agent exited during the cycle measurement:\n" + board.agent_output())
    return (task_cpu_seconds(pid) - c0) / (time.monotonic() - t0)


def run_cycles(board, exe, cycles):
    """(features read, CPU seconds per cycle, wall seconds of each cycle)."""
    out = board.exec([str(exe), str(cycles)], timeout=120, check=True).stdout.split()
    return int(out[0]), float(out[1]), [float(x) for x in out[2:]]


def sensor_cycle_figures(board, exe, cycles, idle):
    print("Sensor acquisition cycle (libsensors init + walk of the vlmhwmon chip + cleanup; no target)")
    n, cpu, wall = run_cycles(board, exe, cycles)
    print("  %-44s %-9s %-9s %-9s (n)" % ("same calls in C, on the board", "CPU", "median", "p90"))
    print("  %-44s %-9s %-9s %-9s (%d)" % ("chip with %d sensors" % n, us(cpu), us(statistics.median(wall)),
                                            us(percentile(wall, 0.9)), len(wall)))
    # The agent itself: the same process with and without the chip (then
    # every cycle is init and cleanup only, the tables being withdrawn).
    present = agent_cpu_rate(board, idle)
    board.remove_chip()
    time.sleep(2.5)   # past the cycle that withdraws the tables
    absent = agent_cpu_rate(board, idle)
    n0, cpu0, wall0 = run_cycles(board, exe, cycles)
    print("  %-44s %-9s %-9s %-9s (%d)" % ("no vlmhwmon chip (init + cleanup only)", us(cpu0),
                                            us(statistics.median(wall0)), us(percentile(wall0, 0.9)),
                                            len(wall0)))
    board.add_chip()
    print("  agent CPU per second (all threads, one sensor cycle a second; %.0f s each):" % idle)
    print("    chip present %s (%.3f%% of one core), chip absent %s (%.3f%%)" % (
        us(present), 100 * present, us(absent), 100 * absent))
    print("    the walk of the chip: about %s a cycle" % us(max(0.0, present - absent)))
    print()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--quick", action="store_true",
                    help="small counts and 20 s idle windows (about a minute; rough figures)")
    ap.add_argument("--gets", type=int, help="GETs per server (default 1000)")
    ap.add_argument("--walks", type=int, help="walks per server (default 100)")
    ap.add_argument("--sets", type=int, help="SETs with persist (default 200)")
    ap.add_argument("--crossings", type=int, help="threshold crossings per group (default 8)")
    ap.add_argument("--idle", type=float,
                    help="seconds of each idle CPU window (default 120: one disk refresh)")
    ap.add_argument("--cycles", type=int, help="sensor cycles timed in C (default 300)")
    ap.add_argument("--cycle-idle", type=float,
                    help="seconds of agent CPU measured with and without the chip (default 15)")
    args = ap.parse_args()
    defaults = dict(gets=1000, walks=100, sets=200, crossings=8, idle=120.0, cycles=300, cycle_idle=15.0)
    if args.quick:
        defaults = dict(gets=200, walks=15, sets=40, crossings=4, idle=20.0, cycles=50, cycle_idle=4.0)
    for key, value in defaults.items():
        if getattr(args, key) is None:
            setattr(args, key, value)

    summary = Summary()
    started = time.monotonic()
    with simboard.Board() as board:
        board.start_all()
        # the sensor tables are published at the agent's first acquisition
        # cycle, about 2 s after its start; the walks include them
        deadline = time.monotonic() + 5
        while board.snmpget(SENSOR_ROW)[0].type != "INTEGER" and time.monotonic() < deadline:
            time.sleep(0.1)
        minimal_exe = compile_program("minimal_subagent.c", board.root / "minimal_subagent", agent_libs())
        cycle_exe = compile_program("sensor_cycle.c", board.root / "sensor_cycle", ["-lsensors"])
        with board.client(timeout=2) as client:
            n_ours = walk(client, OUR_TREE)
        rows = max(1, round((n_ours - MINIMAL_SCALARS) / MINIMAL_COLUMNS))
        minimal = start_minimal(board, minimal_exe, rows)
        print("vlm_subagent benchmark on the simulated board (%s)" % board.agent_path)
        print("minimal subagent: %d scalars and a table of %d rows x %d columns under %s" % (
            MINIMAL_SCALARS, rows, MINIMAL_COLUMNS, MINIMAL_TREE))
        print()

        get_figures(board, (("agent", OUR_GET), ("minimal subagent", MINIMAL_GET), ("snmpd", SNMPD_GET)),
                    args.gets)
        walk_figures(board, minimal, n_ours, args.walks, summary)
        set_figures(board, args.sets, summary)
        trap_figures(board, args.crossings, summary)
        idle_figures(board, minimal, args.idle, summary)
        sensor_cycle_figures(board, cycle_exe, args.cycles, args.cycle_idle)
        summary.print()
        print("(%.0f s)" % (time.monotonic() - started))


if __name__ == "__main__":
    main()
