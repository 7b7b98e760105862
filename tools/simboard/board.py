# SPDX-License-Identifier: BSD-3-Clause
"""The board: one class made of the sandbox and one part per kind of device,
its life from start() to close(), and the agent running on it."""

import atexit
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Dict, List, Optional, Sequence, Tuple, Union

import snmpclient

from .common import CONFIG_NAME, FACTORY, REPO, SCRIPT, BoardError, config_detail, config_with, factory_config
from .devices import DEFAULT_PRODUCT_NAME, DEFAULT_PSU_INPUTS, DevicesMixin
from .disks import DEFAULT_DISKS, DEFAULT_PARTITIONS, DisksMixin
from .hwmon import DEFAULT_SENSORS, HWMON_CHIP, HwmonMixin, Sensor
from .procfiles import (DEFAULT_ISSUE, DEFAULT_LSB_RELEASE, DEFAULT_MEMINFO, DEFAULT_PROC_STAT, ProcFilesMixin,
                        meminfo_text, proc_stat_text)
from .sandbox import (BOARD_PREFIX, BoardProcess, _children, _die_with_parent, _mountpoints, _sanitizer_runtimes,
                      _sweep_stale_boards, netns_socket)
from .snmp import SYSINFO, SnmpMixin
from .standins import StandInsMixin
from .storage import DEFAULT_FILESYSTEMS, FileSystem, StorageMixin
from .usb import DEFAULT_USB_DEVICES, UsbMixin
from .wireless import NM_CONNECTIONS, WirelessMixin

# ---------------------------------------------------------------------------
# The board.

_live_boards: List["Board"] = []


class Board(ProcFilesMixin, StorageMixin, DisksMixin, UsbMixin, WirelessMixin, HwmonMixin, DevicesMixin,
            SnmpMixin, StandInsMixin):
    """One simulated board. Typical use:

        with Board() as b:
            b.start_trapd(); b.start_snmpd(); b.start_agent()
            b.snmpget(SYSINFO + ".1.0")

    Constructor arguments set the initial stand-ins; every one of them can be
    changed later through the board's methods (before or while the agent
    runs), each kind of device's in its own module and mixin: procfiles,
    storage, disks, usb, wireless, hwmon, devices; snmp for Net-SNMP and
    standins for the stand-in files and commands they build on.
    `config` is the agent's XML file content: FACTORY (the repository's file),
    a string, or None for no file at all. `sensors` are the inputs of the
    board's vlmhwmon chip; None: the board has no such chip (its hwmon class
    is then empty). `usb_devices` are the fixture names of the USB devices
    attached at start (tests/fixtures/lsusb). `disks` maps the device nodes
    of the hard disks, in smartctl's scan order, to their captures
    (tests/fixtures/smartctl); None: DEFAULT_DISKS."""

    def __init__(self, config=FACTORY, product_name: Optional[str] = DEFAULT_PRODUCT_NAME,
                 psu_inputs: Optional[str] = DEFAULT_PSU_INPUTS,
                 issue: str = DEFAULT_ISSUE, lsb_release: str = DEFAULT_LSB_RELEASE,
                 meminfo: Optional[Dict[str, int]] = None,
                 sensors: Optional[Sequence[Sensor]] = DEFAULT_SENSORS,
                 usb_devices: Sequence[str] = DEFAULT_USB_DEVICES,
                 disks: Optional[Dict[str, str]] = None,
                 agent: Optional[str] = None, shim: Optional[str] = None,
                 keep: bool = False):
        self.agent_path = Path(agent or os.environ.get("VLM_SUBAGENT") or REPO / "build" / "vlm_subagent")
        self.shim_path = Path(shim or os.environ.get("VLM_DEVSHIM") or REPO / "build" / "libvlmdevshim.so")
        self.keep = keep or bool(os.environ.get("VLM_KEEP_BOARD"))
        self._config = factory_config() if config is FACTORY else config
        self._product_name = product_name
        self._psu_inputs = psu_inputs
        self._issue = issue
        self._lsb_release = lsb_release
        self._meminfo = dict(DEFAULT_MEMINFO, **(meminfo or {}))
        self._filesystems: List[FileSystem] = list(DEFAULT_FILESYSTEMS)
        self._proc_stat: Tuple[int, ...] = DEFAULT_PROC_STAT
        self._sensors = None if sensors is None else list(sensors)
        self._removed_temperatures: List[Sensor] = []
        self._usb_devices = list(usb_devices)
        self._disks: List[Tuple[str, str]] = list((disks or dict(DEFAULT_DISKS)).items())
        self._partitions: Dict[str, int] = dict(DEFAULT_PARTITIONS)
        self.root: Optional[Path] = None
        self.holder: Optional[subprocess.Popen] = None
        self.holder_pid: Optional[int] = None
        self.snmpd: Optional[BoardProcess] = None
        self.trapds: Dict[str, BoardProcess] = {}
        self.agent: Optional[BoardProcess] = None
        self._binds: List[List[str]] = []
        self._closed = False
        self._attached = False   # a handle on another process's board (attach())

    # -- layout -------------------------------------------------------------

    @property
    def etc(self) -> Path:
        """Host directory the board sees as /etc/snmp."""
        return self.root / "etc" / "snmp"

    @property
    def config_path(self) -> Path:
        return self.etc / CONFIG_NAME

    @property
    def snmpd_conf(self) -> Path:
        return self.etc / "snmpd.conf"

    @property
    def dev_dir(self) -> Path:
        """Backing files of the shim's devices (VLM_DEV_DIR)."""
        return self.root / "dev"

    @property
    def bin_dir(self) -> Path:
        return self.root / "bin"

    @property
    def log_dir(self) -> Path:
        return self.root / "log"

    @property
    def agentx_socket(self) -> str:
        return str(self.root / "run" / "agentx.sock")

    def _standin_path(self, target: str) -> Path:
        return self.root / "files" / target.strip("/").replace("/", "__")

    # -- life cycle ---------------------------------------------------------

    def start(self) -> "Board":
        """Creates the sandbox; no SNMP process runs yet."""
        if not self.agent_path.exists():
            raise BoardError("agent binary %s is missing (run make)" % self.agent_path)
        _sweep_stale_boards()
        self.root = Path(tempfile.mkdtemp(prefix=BOARD_PREFIX))
        if self.keep:
            (self.root / "keep").touch()
        _live_boards.append(self)
        for d in ("etc/snmp", "var/lib/snmp", "dev", "bin", "cmd", "files", "log", "run", "home", "layer"):
            (self.root / d).mkdir(parents=True)
        self._ensure_shim()
        self._write_snmp_configs()
        if self._config is not None:
            self.write_config(self._config)
        self.set_product_name(self._product_name)
        self.set_psu_inputs(self._psu_inputs)
        self.add_file("/etc/issue", self._issue)
        self.add_command("lsb_release", self._lsb_release)
        self.add_file("/proc/meminfo", meminfo_text(**self._meminfo))
        self._make_df()
        self._make_lsusb()
        self._make_disks()
        self._make_wireless()
        self.add_file("/proc/stat", proc_stat_text(*self._proc_stat))
        self._make_cpu_tree()
        self._make_watchdog()
        class_binds = self._make_sys_class()
        if self._sensors is not None:
            self.add_chip(HWMON_CHIP, self._sensors)

        layout = {
            # Mount points the host lacks, made inside the board only.
            "make_dirs": [NM_CONNECTIONS] if not os.path.isdir(NM_CONNECTIONS) else [],
            "layer": str(self.root / "layer"),
            "binds": [[str(self.etc), "/etc/snmp"],
                      [str(self.root / "var" / "lib" / "snmp"), "/var/lib/snmp"]] +
            class_binds + self._binds,
        }
        holder_err = open(self.log_dir / "holder.err", "wb")
        self.holder = subprocess.Popen(
            ["unshare", "--mount", "--ipc", "--net", "--pid", "--fork", "--kill-child",
             "--mount-proc", "--propagation", "private", "--",
             sys.executable, str(SCRIPT), "_holder", json.dumps(layout)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=holder_err,
            preexec_fn=_die_with_parent(), start_new_session=True, close_fds=True)
        holder_err.close()
        line = b""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not line.endswith(b"\n"):
            ready, _, _ = select.select([self.holder.stdout], [], [], 0.1)
            if ready:
                chunk = os.read(self.holder.stdout.fileno(), 256)
                if not chunk:
                    break
                line += chunk
        if line.strip() != b"ready":
            err = (self.log_dir / "holder.err").read_text(errors="replace")
            self.close()
            raise BoardError("board sandbox did not come up: %r %s" % (line, err))
        kids = _children(self.holder.pid)
        if len(kids) != 1:
            self.close()
            raise BoardError("cannot find the board's holder process")
        self.holder_pid = kids[0]
        self._check_isolation()
        (self.root / "board.json").write_text(json.dumps(
            {"holder_pid": self.holder_pid, "root": str(self.root), "env": self.env()}))
        return self

    def _check_isolation(self):
        """Refuses to go on unless the board's own directories are mounted
        over the host's in the holder's mount namespace."""
        points = _mountpoints(self.holder_pid)
        for p in ("/etc/snmp", "/var/lib/snmp", "/dev", "/run", "/etc/issue", "/sys/class", NM_CONNECTIONS):
            if p not in points:
                self.close()
                raise BoardError("board mount of %s is missing" % p)
        if os.readlink("/proc/%d/ns/mnt" % self.holder_pid) == os.readlink("/proc/self/ns/mnt"):
            self.close()
            raise BoardError("board shares the host mount namespace")

    def close(self):
        """Stops everything and removes the sandbox. Safe to call twice."""
        if self._closed or self._attached:
            return
        self._closed = True
        procs = ([self.agent] if self.agent else []) + list(self.trapds.values()) + \
            ([self.snmpd] if self.snmpd else [])
        for p in procs:
            if p.running():
                p.send_signal(signal.SIGTERM)
        deadline = time.monotonic() + 3
        for p in procs:
            try:
                p.popen.wait(max(0.05, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                pass
        if self.holder is not None:
            try:
                self.holder.stdin.close()  # EOF: the holder ends, and the board with it
            except OSError:
                pass
            try:
                self.holder.wait(5)
            except subprocess.TimeoutExpired:
                self.holder.kill()
                self.holder.wait(5)
            self.holder.stdout.close()
        for p in procs:
            try:
                p.popen.wait(5)
            except subprocess.TimeoutExpired:
                p.popen.kill()
                p.popen.wait(5)
        if self in _live_boards:
            _live_boards.remove(self)
        if self.root is not None and not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    @classmethod
    def attach(cls, root: Union[str, Path], holder_pid: int) -> "Board":
        """A handle on a board that another process runs (the demo): its
        stand-ins can be changed and uevents sent through it; closing the
        handle leaves the board alone."""
        board = cls(config=None)
        board.root = Path(root)
        board.holder_pid = int(holder_pid)
        board._attached = True
        return board

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    def _ensure_shim(self):
        if self.shim_path.exists():
            return
        # Not built yet (e.g. a tree without a CMake build): build a private copy.
        src = REPO / "tools" / "devshim.c"
        out = self.root / "libvlmdevshim.so"
        subprocess.run(["gcc", "-shared", "-fPIC", "-O2", "-Wall", "-Werror", "-o", str(out),
                        str(src), "-ldl"], check=True)
        self.shim_path = out

    # -- configuration files ------------------------------------------------

    def read_config(self) -> str:
        return self.config_path.read_text()

    def write_config(self, text: Union[str, bytes]):
        data = text.encode() if isinstance(text, str) else text
        self.config_path.write_bytes(data)

    def remove_config(self):
        self.config_path.unlink(missing_ok=True)

    def config_detail(self, group: str, key: str) -> str:
        return config_detail(self.config_path.read_bytes(), group, key)

    def set_config_details(self, changes: Dict[Tuple[str, str], str]):
        self.write_config(config_with(self.config_path.read_bytes(), changes))

    # -- running things inside ----------------------------------------------

    def env(self) -> Dict[str, str]:
        """Environment of every program run inside the board."""
        env = {
            "PATH": "%s:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin" % self.bin_dir,
            "HOME": str(self.root / "home"),
            "SNMPCONFPATH": "/etc/snmp",
            "SNMP_PERSISTENT_DIR": "/var/lib/snmp",
            "LANG": "C",
        }
        for k in ("TZ", "TERM", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if k in os.environ:
                env[k] = os.environ[k]
        return env

    def _nsenter(self, argv: Sequence[str], env: Optional[Dict[str, str]] = None) -> List[str]:
        """The command line running argv inside the board. Variables of `env`
        are set by env(1) inside, so that nsenter itself never runs with
        them: a preloaded sanitizer runtime would run its leak check in
        nsenter, whose /proc view inside the board does not show it."""
        if self.holder_pid is None or self._closed:
            raise BoardError("board is not running")
        prefix = ["nsenter", "-t", str(self.holder_pid), "-m", "-i", "-n", "-p",
                  "--wd=%s" % (self.root / "run"), "--"]
        if env:
            prefix += ["/usr/bin/env"] + ["%s=%s" % kv for kv in env.items()]
        return prefix + list(argv)

    def exec(self, argv: Sequence[Union[str, bytes]], timeout: float = 10, check: bool = False,
             env: Optional[Dict[str, str]] = None, text: bool = True) -> subprocess.CompletedProcess:
        """Runs a command inside the board and returns its result."""
        return subprocess.run(self._nsenter(argv, env), env=self.env(), capture_output=True,
                              timeout=timeout, check=check, text=text,
                              errors="replace" if text else None, stdin=subprocess.DEVNULL)

    def spawn(self, name: str, argv: Sequence[str], env: Optional[Dict[str, str]] = None) -> BoardProcess:
        """Starts a long-running program inside the board; its output goes
        to log/NAME.out and log/NAME.err."""
        out, err = self.log_dir / (name + ".out"), self.log_dir / (name + ".err")
        with open(out, "wb") as fo, open(err, "wb") as fe:
            popen = subprocess.Popen(self._nsenter(argv, env), env=self.env(), stdin=subprocess.DEVNULL,
                                     stdout=fo, stderr=fe, preexec_fn=_die_with_parent(),
                                     start_new_session=True, close_fds=True)
        return BoardProcess(name, popen, out, err)

    def client(self, community: str = "public", timeout: float = 1.0,
               addr=("127.0.0.1", 161)) -> snmpclient.Client:
        """A raw SNMPv2c client talking from inside the board's network."""
        return snmpclient.Client(netns_socket(self.holder_pid), addr, community, timeout)


    # -- the agent --------------------------------------------------------------

    def start_agent(self, args: Sequence[str] = (), wait: bool = True,
                    timeout: float = 5) -> BoardProcess:
        """Starts vlm_subagent with `args`; with `wait`, returns once its
        objects answer through snmpd (raises if it exits first)."""
        if self.agent is not None and self.agent.running():
            raise BoardError("the agent is already running")
        preload = _sanitizer_runtimes(self.agent_path) + [str(self.shim_path)]
        self.agent = self.spawn("agent", [str(self.agent_path)] + list(args), env={
            "LD_PRELOAD": " ".join(preload),
            "VLM_DEV_DIR": str(self.dev_dir),
        })
        if wait:
            self.wait_agent(timeout)
        return self.agent

    def run_agent(self, args: Sequence[str] = (), timeout: float = 5) -> BoardProcess:
        """Starts the agent and waits for it to exit by itself (it is killed
        after `timeout`, and the test then sees a negative returncode)."""
        proc = self.start_agent(args, wait=False)
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.stop(signal.SIGKILL)
        return proc

    def agent_answers(self, client: Optional[snmpclient.Client] = None) -> bool:
        own = client is None
        c = client or self.client(timeout=0.2)
        try:
            resp = c.get(SYSINFO + ".1.0", timeout=0.2)
            return resp.error_status == 0 and resp.varbinds[0].type == "OCTET STRING"
        except snmpclient.SnmpTimeout:
            return False
        finally:
            if own:
                c.close()

    def wait_agent(self, timeout: float = 5) -> float:
        """Waits until the agent's objects answer; returns the seconds waited."""
        start = time.monotonic()
        with self.client(timeout=0.2) as c:
            while not self.agent_answers(c):
                if self.agent is not None and not self.agent.running():
                    raise BoardError("the agent exited with %s before answering:\n%s" % (
                        self.agent.returncode, self.agent_output()))
                if time.monotonic() - start > timeout:
                    raise BoardError("the agent did not answer within %.1f s:\n%s" % (
                        timeout, self.agent_output()))
                time.sleep(0.02)
        return time.monotonic() - start

    def stop_agent(self, sig: int = signal.SIGTERM, timeout: float = 5) -> int:
        return self.agent.stop(sig, timeout)

    def kill_agent(self) -> int:
        return self.agent.stop(signal.SIGKILL)

    def restart_agent(self, args: Sequence[str] = (), timeout: float = 5) -> BoardProcess:
        if self.agent is not None:
            self.stop_agent()
        return self.start_agent(args, timeout=timeout)

    def agent_output(self) -> str:
        if self.agent is None:
            return "(agent never started)"
        return "--- agent stdout ---\n%s--- agent stderr ---\n%s" % (
            self.agent.stdout(), self.agent.stderr())

    def start_all(self, agent_args: Sequence[str] = ()) -> "Board":
        """snmptrapd, snmpd and the agent, in that order (the receiver first,
        so that it sees snmpd's coldStart)."""
        self.start_trapd()
        self.start_snmpd()
        self.start_agent(agent_args)
        return self

    # -- diagnostics ------------------------------------------------------------

    def log_tail(self, name: str, lines: int = 40) -> str:
        path = self.log_dir / name
        if not path.exists():
            return "(no %s)" % name
        return "\n".join(path.read_text(errors="replace").splitlines()[-lines:])

    def describe(self) -> str:
        """Logs of the board, for a failed test's report."""
        parts = ["board %s (holder pid %s)" % (self.root, self.holder_pid)]
        if self.agent is not None:
            parts.append("agent returncode: %s" % self.agent.returncode)
            parts.append(self.agent_output())
        parts.append("--- snmpd.log ---\n" + self.log_tail("snmpd.log"))
        for name in self.trapds:
            parts.append("--- snmptrapd-%s.log ---\n%s" % (name, self.log_tail("snmptrapd-%s.log" % name)))
        return "\n".join(parts)


@atexit.register
def _close_live_boards():
    for b in list(_live_boards):
        b.close()
