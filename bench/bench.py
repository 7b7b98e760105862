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
    nothing for a while.
Prints the figures and the ratios ours/snmpd's; nothing passes or fails.

Usage: bench.py [--iterations N] [--walks N] [--tool-runs N] [--idle SECONDS]
"""

import argparse
import os
import statistics
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


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--iterations", type=int, default=200, help="raw GETs per object (default 200)")
    ap.add_argument("--tool-runs", type=int, default=50, help="snmpget/snmpbulkwalk runs per object (default 50)")
    ap.add_argument("--walks", type=int, default=200, help="raw bulkwalks per subtree (default 200)")
    ap.add_argument("--idle", type=float, default=60, help="seconds of idle serving measured (default 60)")
    args = ap.parse_args()

    with simboard.Board() as board:
        board.start_all()
        pid = board.agent.pid
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


if __name__ == "__main__":
    main()
