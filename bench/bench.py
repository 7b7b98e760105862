#!/usr/bin/env python3
"""Benchmark of vlm_subagent on the simulated board.

Measures, in one run on one board:
  * GET latency of one of our objects against one of snmpd's own (median and
    90th percentile), both with a raw in-process SNMP client (the agent's and
    snmpd's cost only) and with snmpget (what an operator sees, including the
    tool's start-up);
  * bulkwalk throughput (varbinds per second) of our subtree against a
    subtree that snmpd serves itself, again raw and with snmpbulkwalk;
  * the agent's CPU time (own and children's) and memory while it serves
    nothing for a while;
  * the cost of one sensor acquisition cycle (libsensors initialised, the
    vlmhwmon chip walked, every label and input read, libsensors cleaned
    up): timed in a small C program doing exactly these calls on the
    board's chip, and seen in the agent as its CPU time per second with the
    chip present and with it taken away.
Prints the figures and the ratios ours/snmpd's; nothing passes or fails.

Usage: bench.py [--iterations N] [--walks N] [--tool-runs N] [--idle SECONDS]
                [--cycles N] [--cycle-idle SECONDS]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools"))
import simboard  # noqa: E402

OUR_GET = simboard.SYSINFO + ".2.0"        # device name: served from the agent's memory
SNMPD_GET = simboard.SNMPD_SYSDESCR         # sysDescr.0: served by snmpd itself
OUR_TREE = simboard.ENTERPRISE
# snmpd's version group (UCD-SNMP-MIB): eleven scalars that snmpd serves from
# memory, about the size of our subtree and as cheap to answer
SNMPD_TREE = "1.3.6.1.4.1.2021.100"
SENSOR_ROW = simboard.ENTERPRISE + ".200.2.1.2.1.1.1"   # tpIndex of the first temperature row
CLK_TCK = os.sysconf("SC_CLK_TCK")


def percentile(values, q):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(q * (len(ordered) - 1))))]


def raw_get_latencies(client, oid, iterations):
    for _ in range(10):  # warm-up: connections, caches
        client.get(oid)
    out = []
    for _ in range(iterations):
        t = time.perf_counter()
        resp = client.get(oid)
        out.append(time.perf_counter() - t)
        if resp.error_status or resp.varbinds[0].type in ("noSuchObject", "noSuchInstance"):
            raise RuntimeError("GET %s failed: %r" % (oid, resp))
    return out


def tool_get_latencies(board, oid, runs):
    out = []
    for _ in range(runs):
        t = time.perf_counter()
        board.snmpget(oid)
        out.append(time.perf_counter() - t)
    return out


def raw_walk_rate(client, root, walks):
    count = len(client.bulkwalk(root))
    t = time.perf_counter()
    total = 0
    for _ in range(walks):
        total += len(client.bulkwalk(root))
    return count, total / (time.perf_counter() - t)


def tool_walk_rate(board, root, runs):
    t = time.perf_counter()
    total = 0
    for _ in range(runs):
        total += len(board.snmpbulkwalk(root))
    return total / (time.perf_counter() - t)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime, stime, cutime, cstime are fields 14..17 of the whole line
    utime, stime, cutime, cstime = (int(x) for x in fields[11:15])
    return (utime + stime) / CLK_TCK, (cutime + cstime) / CLK_TCK


def memory_kib(pid):
    out = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "RssAnon", "VmHWM"):
                out[key] = int(value.split()[0])
    return out


def ms(seconds):
    return "%.3f ms" % (seconds * 1000)


def us(seconds):
    return "%.0f us" % (seconds * 1e6)


# One acquisition cycle of the sensor group, call for call: init with the
# default configuration, the first chip whose prefix holds "vlmhwmon", label
# and input of every voltage, temperature and current feature, cleanup.
# Prints the features read, the CPU seconds per cycle, then each cycle's
# wall-clock seconds.
CYCLE_PROGRAM = r"""
#include <sensors/sensors.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char **argv)
{
    int cycles = argc > 1 ? atoi(argv[1]) : 100, features = 0;
    double *wall = calloc(cycles, sizeof *wall);
    double cpu0 = now(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < cycles; i++) {
        double t0 = now(CLOCK_MONOTONIC);
        if (sensors_init(NULL) != 0) {
            fprintf(stderr, "sensors_init failed\n");
            return 1;
        }
        const sensors_chip_name *chip;
        int chip_nr = 0;
        features = 0;
        while ((chip = sensors_get_detected_chips(NULL, &chip_nr))) {
            if (!strstr(chip->prefix, "vlmhwmon"))
                continue;
            const sensors_feature *feature;
            int feature_nr = 0;
            while ((feature = sensors_get_features(chip, &feature_nr))) {
                sensors_subfeature_type input;
                switch (feature->type) {
                case SENSORS_FEATURE_IN: input = SENSORS_SUBFEATURE_IN_INPUT; break;
                case SENSORS_FEATURE_TEMP: input = SENSORS_SUBFEATURE_TEMP_INPUT; break;
                case SENSORS_FEATURE_CURR: input = SENSORS_SUBFEATURE_CURR_INPUT; break;
                default: continue;
                }
                free(sensors_get_label(chip, feature));
                const sensors_subfeature *sub = sensors_get_subfeature(chip, feature, input);
                double value;
                if (sub)
                    sensors_get_value(chip, sub->number, &value);
                features++;
            }
            break;
        }
        sensors_cleanup();
        wall[i] = now(CLOCK_MONOTONIC) - t0;
    }
    printf("%d %.9f", features, (now(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / cycles);
    for (int i = 0; i < cycles; i++)
        printf(" %.9f", wall[i]);
    printf("\n");
    free(wall);
    return 0;
}
"""


def build_cycle_program(directory):
    """Compiles CYCLE_PROGRAM into `directory`; None without a compiler or
    the libsensors headers."""
    if shutil.which("gcc") is None:
        return None
    src, exe = os.path.join(directory, "sensor_cycle.c"), os.path.join(directory, "sensor_cycle")
    with open(src, "w") as f:
        f.write(CYCLE_PROGRAM)
    proc = subprocess.run(["gcc", "-O2", "-o", exe, src, "-lsensors"], capture_output=True, text=True)
    if proc.returncode != 0:
        print("  (cannot build the cycle program: %s)" % proc.stderr.strip().splitlines()[-1:])
        return None
    return exe


def run_cycles(board, exe, cycles):
    """(features read, CPU seconds per cycle, wall seconds of each cycle)."""
    out = board.exec([exe, str(cycles)], timeout=120, check=True).stdout.split()
    return int(out[0]), float(out[1]), [float(x) for x in out[2:]]


def task_cpu_seconds(pid):
    """CPU time of every thread of `pid`, from schedstat (nanoseconds): the
    clock ticks of /proc/PID/stat are too coarse for an idle agent."""
    total = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total / 1e9


def agent_cpu_rate(board, seconds):
    """The agent's CPU seconds per second over `seconds` of idle serving."""
    pid = board.agent.pid
    c0, t0 = task_cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    if not board.agent.running():
        raise SystemExit("the agent exited during the cycle measurement:\n" + board.agent_output())
    return (task_cpu_seconds(pid) - c0) / (time.monotonic() - t0)


def sensor_cycle_figures(board, cycles, idle):
    print("Sensor acquisition cycle (libsensors init + walk of the vlmhwmon chip + cleanup)")
    exe = build_cycle_program(str(board.root))
    if exe is not None:
        n, cpu, wall = run_cycles(board, exe, cycles)
        print("  %-44s %-9s %-9s %-9s (n)" % ("same calls in C, on the board", "CPU", "median", "p90"))
        print("  %-44s %-9s %-9s %-9s (%d)" % ("chip with %d sensors" % n, us(cpu),
                                                us(statistics.median(wall)), us(percentile(wall, 0.9)),
                                                len(wall)))
    # The agent itself: the same process with and without the chip (then
    # every cycle is init and cleanup only, the tables being withdrawn).
    present = agent_cpu_rate(board, idle)
    board.remove_chip()
    time.sleep(2.5)   # past the cycle that withdraws the tables
    absent = agent_cpu_rate(board, idle)
    if exe is not None:
        n0, cpu0, wall0 = run_cycles(board, exe, cycles)
        print("  %-44s %-9s %-9s %-9s (%d)" % ("no vlmhwmon chip (init + cleanup only)", us(cpu0),
                                                us(statistics.median(wall0)),
                                                us(percentile(wall0, 0.9)), len(wall0)))
    board.add_chip()
    print("  agent CPU per second while idle (one cycle a second; %.0f s each):" % idle)
    print("    chip present %s (%.3f%% of one core), chip absent %s (%.3f%%)" % (
        us(present), 100 * present, us(absent), 100 * absent))
    print("    the walk of the chip: about %s a cycle" % us(max(0.0, present - absent)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--iterations", type=int, default=200, help="raw GETs per object (default 200)")
    ap.add_argument("--tool-runs", type=int, default=50, help="snmpget/snmpbulkwalk runs per object (default 50)")
    ap.add_argument("--walks", type=int, default=200, help="raw bulkwalks per subtree (default 200)")
    ap.add_argument("--idle", type=float, default=60, help="seconds of idle serving measured (default 60)")
    ap.add_argument("--cycles", type=int, default=300, help="acquisition cycles timed in C (default 300)")
    ap.add_argument("--cycle-idle", type=float, default=20,
                    help="seconds of agent CPU measured with and without the chip (default 20)")
    args = ap.parse_args()

    with simboard.Board() as board:
        board.start_all()
        pid = board.agent.pid
        # the sensor tables are published at the agent's first acquisition
        # cycle, about 2 s after its start; the walks below include them
        deadline = time.monotonic() + 5
        while board.snmpget(SENSOR_ROW)[0].type != "INTEGER" and time.monotonic() < deadline:
            time.sleep(0.1)
        print("vlm_subagent benchmark on the simulated board (%s)" % board.agent_path)
        print()

        with board.client(timeout=2) as client:
            ours = raw_get_latencies(client, OUR_GET, args.iterations)
            theirs = raw_get_latencies(client, SNMPD_GET, args.iterations)
        tool_ours = tool_get_latencies(board, OUR_GET, args.tool_runs)
        tool_theirs = tool_get_latencies(board, SNMPD_GET, args.tool_runs)
        print("%-44s %-11s %-11s (n)" % ("GET latency", "median", "p90"))
        for label, lat in (("raw  agent %s" % OUR_GET, ours), ("raw  snmpd %s" % SNMPD_GET, theirs),
                           ("snmpget agent (tool start-up included)", tool_ours),
                           ("snmpget snmpd (tool start-up included)", tool_theirs)):
            print("  %-42s %-11s %-11s (%d)" % (label, ms(statistics.median(lat)),
                                                 ms(percentile(lat, 0.9)), len(lat)))
        print("  ratio agent/snmpd (median): raw %.2f, snmpget %.2f" % (
            statistics.median(ours) / statistics.median(theirs),
            statistics.median(tool_ours) / statistics.median(tool_theirs)))
        print()

        with board.client(timeout=2) as client:
            n_ours, rate_ours = raw_walk_rate(client, OUR_TREE, args.walks)
            n_theirs, rate_theirs = raw_walk_rate(client, SNMPD_TREE, args.walks)
        tool_rate_ours = tool_walk_rate(board, OUR_TREE, args.tool_runs)
        tool_rate_theirs = tool_walk_rate(board, SNMPD_TREE, args.tool_runs)
        print("Bulkwalk throughput (max-repetitions 10)   varbinds/s")
        print("  raw  agent %-20s (%3d varbinds) %10.0f" % (OUR_TREE, n_ours, rate_ours))
        print("  raw  snmpd %-20s (%3d varbinds) %10.0f" % (SNMPD_TREE, n_theirs, rate_theirs))
        print("  snmpbulkwalk agent %-30s %10.0f" % ("", tool_rate_ours))
        print("  snmpbulkwalk snmpd %-30s %10.0f" % ("", tool_rate_theirs))
        print("  ratio agent/snmpd: raw %.2f, snmpbulkwalk %.2f" % (
            rate_ours / rate_theirs, tool_rate_ours / tool_rate_theirs))
        print()

        print("Idle serving for %.0f s ..." % args.idle, flush=True)
        own0, kids0 = cpu_seconds(pid)
        mem0 = memory_kib(pid)
        peak_rss = mem0.get("VmRSS", 0)
        start = time.monotonic()
        while time.monotonic() - start < args.idle:
            time.sleep(min(1.0, max(0.0, args.idle - (time.monotonic() - start))))
            if not board.agent.running():
                raise SystemExit("the agent exited during the idle period:\n" + board.agent_output())
            peak_rss = max(peak_rss, memory_kib(pid).get("VmRSS", 0))
        elapsed = time.monotonic() - start
        own1, kids1 = cpu_seconds(pid)
        mem1 = memory_kib(pid)
        cpu = (own1 - own0) + (kids1 - kids0)
        print("Agent while idle (%.1f s)" % elapsed)
        print("  CPU time: own %.2f s, children %.2f s, total %.2f s = %.3f%% of one core" % (
            own1 - own0, kids1 - kids0, cpu, 100 * cpu / elapsed))
        print("  memory at start: VmRSS %d KiB, RssAnon %d KiB" % (mem0.get("VmRSS", 0), mem0.get("RssAnon", 0)))
        print("  memory at end:   VmRSS %d KiB, RssAnon %d KiB (peak VmRSS sampled %d KiB)" % (
            mem1.get("VmRSS", 0), mem1.get("RssAnon", 0), peak_rss))
        if not board.agent.running():
            print("  (the agent is no longer running)")
        print()

        sensor_cycle_figures(board, args.cycles, args.cycle_idle)


if __name__ == "__main__":
    main()
