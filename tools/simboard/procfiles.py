# SPDX-License-Identifier: BSD-3-Clause
"""System files the agent reads: /proc/meminfo, /proc/stat, the processors'
cpufreq files in /sys/devices/system/cpu, the watchdog driver's
/proc/vlmwdtinfo, /etc/issue and lsb_release."""

import os
import shutil
from pathlib import Path
from typing import Dict, Optional, Union

from .common import _replace_file

DEFAULT_ISSUE = "Debian GNU/Linux 9 \\n \\l\n\n"
DEFAULT_LSB_RELEASE = "Release:\t9.4\n"
# /proc/meminfo figures in kB: 35 % in use. SwapCached differs from Cached, so
# that taking one for the other shows in the usage.
DEFAULT_MEMINFO = {"total": 2048000, "free": 1024000, "buffers": 51200, "cached": 204800,
                   "slab": 51200, "swap_cached": 409600}
# The aggregate line of /proc/stat (user, nice, system, idle ticks); the load
# is the busy share of the change between two readings, so a file left alone
# reads as 0 % load.
DEFAULT_PROC_STAT = (4705, 150, 1120, 16250)
# The board's processors in /sys/devices/system/cpu: clocks in kHz as cpufreq
# shows them (current, minimum, maximum). Served as means: 1500 and 2400 MHz.
DEFAULT_CPUFREQ = ((1200000, 800000, 2400000), (1800000, 800000, 2400000))
# What the watchdog driver's /proc/vlmwdtinfo holds: each value from the
# fourteenth character on.
DEFAULT_WDTINFO = {"name": "VLM SIO WDT", "timeout": "60", "is_enable": "Yes"}


def meminfo_text(total: int, free: int, buffers: int = 0, cached: int = 0, slab: int = 0,
                 swap_cached: int = 0) -> str:
    """/proc/meminfo in the kernel's layout (figures in kB, fixed width)."""
    lines = [("MemTotal", total), ("MemFree", free), ("MemAvailable", free + cached),
             ("Buffers", buffers), ("Cached", cached), ("SwapCached", swap_cached),
             ("Active", total // 4), ("Inactive", total // 8), ("SwapTotal", 0), ("SwapFree", 0),
             ("Shmem", 1024), ("Slab", slab), ("SReclaimable", slab // 2), ("SUnreclaim", slab - slab // 2)]
    return "".join("%-16s%8d kB\n" % (name + ":", value) for name, value in lines) + \
        "HugePages_Total:       0\n"


def proc_stat_text(user: int, nice: int, system: int, idle: int, iowait: int = 0) -> str:
    """/proc/stat with the given aggregate counters (ticks) and two
    processors' lines that share them out."""
    counters = (user, nice, system, idle, iowait, 0, 0, 0, 0, 0)
    lines = ["cpu  " + " ".join(str(c) for c in counters)]
    for n in range(2):
        lines.append("cpu%d " % n + " ".join(str(c // 2 + (c % 2 if n == 0 else 0)) for c in counters))
    lines += ["intr 123456 0 0", "ctxt 987654", "btime 1700000000", "processes 4321",
              "procs_running 1", "procs_blocked 0"]
    return "\n".join(lines) + "\n"


def wdtinfo_text(fields: Dict[str, str]) -> str:
    """/proc/vlmwdtinfo: one "key value" line per field, the value from the
    fourteenth character on."""
    return "".join("%-13s%s\n" % kv for kv in fields.items())


class ProcFilesMixin:
    """Board methods for the system files above."""

    # -- /etc/issue, lsb_release and /proc/meminfo -------------------------------

    def set_issue(self, text: str):
        self.write_file("/etc/issue", text)

    def set_lsb_release(self, output: str):
        self.set_command_output("lsb_release", output)

    def set_meminfo(self, **figures: int):
        """New /proc/meminfo figures (meminfo_text's names; the others keep
        their values), while the agent runs. Written over the old text before
        the file is cut to length, so that a reader never finds it empty."""
        self._meminfo.update(figures)
        data = meminfo_text(**self._meminfo).encode()
        with open(self._standin_path("/proc/meminfo"), "r+b") as f:
            f.write(data)
            f.flush()
            f.truncate(len(data))

    # -- processors: /proc/stat and /sys/devices/system/cpu ----------------------

    def set_proc_stat(self, user: int, nice: int, system: int, idle: int, iowait: int = 0):
        """New aggregate counters of /proc/stat, while the agent runs: the
        agent's load is the busy share of the change between its two
        readings, one second apart. Written like set_meminfo, never empty."""
        self._proc_stat = (user, nice, system, idle, iowait)
        if self.root is None:
            return   # written when the board starts
        data = proc_stat_text(*self._proc_stat).encode()
        with open(self._standin_path("/proc/stat"), "r+b") as f:
            f.write(data)
            f.flush()
            f.truncate(len(data))

    @property
    def cpu_dir(self) -> Path:
        """Host directory the board sees as /sys/devices/system/cpu."""
        return self._standin_path("/sys/devices/system/cpu")

    def _make_cpu_tree(self):
        """cpu0 and cpu1 with their cpufreq files (what libcpupower reads:
        cpuN/cpufreq/cpuinfo_min_freq, cpuinfo_max_freq, scaling_cur_freq),
        and the online list that get_nprocs() reads."""
        self.add_tree("/sys/devices/system/cpu")
        for name in ("online", "possible", "present"):
            (self.cpu_dir / name).write_text("0-%d\n" % (len(DEFAULT_CPUFREQ) - 1))
        for n, (cur, low, high) in enumerate(DEFAULT_CPUFREQ):
            (self.cpu_dir / ("cpu%d" % n)).mkdir()
            if n:
                (self.cpu_dir / ("cpu%d" % n) / "online").write_text("1\n")
            self.set_cpufreq(n, cur, low, high)

    def set_cpus_online(self, text: str):
        """The online list ("0-1", "0" ...): get_nprocs() counts from it."""
        _replace_file(self.cpu_dir / "online", text + "\n", 0o444)

    def set_cpufreq(self, cpu: int, cur: Optional[int] = None, low: Optional[int] = None,
                    high: Optional[int] = None):
        """Clocks of processor `cpu` in kHz (current, hardware minimum and
        maximum; None keeps a file as it is); creates its cpufreq directory
        when it has none. Each file is replaced in one step."""
        freq = self.cpu_dir / ("cpu%d" % cpu) / "cpufreq"
        freq.mkdir(parents=True, exist_ok=True)
        for name, value in (("scaling_cur_freq", cur), ("cpuinfo_min_freq", low), ("cpuinfo_max_freq", high)):
            if value is not None:
                _replace_file(freq / name, "%d\n" % value, 0o444)

    def remove_cpufreq(self, cpu: int):
        """Processor `cpu` without cpufreq: the frequency library no longer
        knows it."""
        freq = self.cpu_dir / ("cpu%d" % cpu) / "cpufreq"
        gone = self.root / "files" / (".cpu%d-cpufreq.gone" % cpu)
        shutil.rmtree(gone, ignore_errors=True)
        os.rename(freq, gone)
        shutil.rmtree(gone, ignore_errors=True)

    # -- the watchdog driver's /proc/vlmwdtinfo -------------------------------------
    #
    # The board's /proc is its own proc mount, which has no vlmwdtinfo entry to
    # bind a file over. The agent reads it with "cat /proc/vlmwdtinfo", so a
    # stand-in cat on the board's PATH serves that one path from a board file
    # and hands every other call to the real cat.

    @property
    def wdtinfo_path(self) -> Path:
        """Host file the board's cat serves as /proc/vlmwdtinfo."""
        return self._standin_path("/proc/vlmwdtinfo")

    def _make_watchdog(self):
        self.add_script("cat",
                        "#!/bin/sh\n"
                        "# Stand-in for cat on the simulated board: /proc/vlmwdtinfo from the\n"
                        "# board's file (the real cat's error when there is none), everything\n"
                        "# else to the real cat. With the hang flag it never answers.\n"
                        "if [ \"$#\" -eq 1 ] && [ \"$1\" = /proc/vlmwdtinfo ]; then\n"
                        "    if [ -e '{hang}' ]; then\n"
                        "        : > '{hung}'\n"
                        "        exec /bin/sleep 3600\n"
                        "    fi\n"
                        "    [ -e '{file}' ] && exec /bin/cat '{file}'\n"
                        "fi\n"
                        "exec /bin/cat \"$@\"\n".format(
                            hang=self.root / "cmd" / "cat.hang", hung=self.root / "cmd" / "cat.hung",
                            file=self.wdtinfo_path))
        self.set_wdtinfo(DEFAULT_WDTINFO)

    def set_wdtinfo(self, fields: Optional[Union[Dict[str, str], str]]):
        """What /proc/vlmwdtinfo holds: {key: value} (see wdtinfo_text), a
        text as is, or None for a board without the driver. Replaced in one
        step."""
        if fields is None:
            self.wdtinfo_path.unlink(missing_ok=True)
            return
        text = fields if isinstance(fields, str) else wdtinfo_text(fields)
        _replace_file(self.wdtinfo_path, text, 0o444)

    def hang_wdtinfo(self, hang: bool = True):
        """With `hang`, every later "cat /proc/vlmwdtinfo" blocks (until the
        agent kills it); wdtinfo_hung() tells when one has."""
        self._set_hang("cat", hang)

    def wdtinfo_hung(self) -> bool:
        return self._hanging("cat")
