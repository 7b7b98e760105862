# SPDX-License-Identifier: BSD-3-Clause
"""The sandbox of a board: the namespaces its holder process keeps, sockets
made inside its network, the processes started in it, and the holder itself
(PID 1 of the board, with its private /dev, /run and bind mounts)."""

import ctypes
import json
import os
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path
from typing import Dict, List, Optional, Sequence, Union

from .common import BoardError

# ---------------------------------------------------------------------------
# Host plumbing.

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1
_CLONE_NEWNET = 0x40000000
_netns_lock = threading.Lock()


def _die_with_parent():
    """preexec_fn: the child gets SIGKILL when the process that started it
    dies, also when that happened between fork and this call."""
    parent = os.getpid()

    def arm():
        _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
        if os.getppid() != parent:
            os.kill(os.getpid(), signal.SIGKILL)

    return arm


def netns_socket(pid: int, family=socket.AF_INET, kind=socket.SOCK_DGRAM, proto: int = 0) -> socket.socket:
    """A socket that belongs to the network namespace of process `pid`.

    The calling thread enters the namespace just long enough to create the
    socket; a socket stays in the namespace it was created in."""
    with _netns_lock:
        own = os.open("/proc/thread-self/ns/net", os.O_RDONLY | os.O_CLOEXEC)
        try:
            target = os.open("/proc/%d/ns/net" % pid, os.O_RDONLY | os.O_CLOEXEC)
            try:
                if _libc.setns(target, _CLONE_NEWNET) != 0:
                    err = ctypes.get_errno()
                    raise OSError(err, "setns into the board: " + os.strerror(err))
                try:
                    return socket.socket(family, kind, proto)
                finally:
                    if _libc.setns(own, _CLONE_NEWNET) != 0:
                        # This thread would go on talking in the board's network.
                        os.write(2, b"simboard: cannot leave the board's network namespace\n")
                        os._exit(70)
            finally:
                os.close(target)
        finally:
            os.close(own)


def _children(pid: int) -> List[int]:
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(x) for x in f.read().split()]
    except OSError:
        return []


def _mountpoints(pid: int) -> set:
    with open("/proc/%d/mountinfo" % pid) as f:
        return {line.split()[4] for line in f}


BOARD_PREFIX = "vlm-board-"

_runtimes_cache: Dict[str, List[str]] = {}


def _sanitizer_runtimes(binary: Path) -> List[str]:
    """AddressSanitizer insists on its runtime coming first among the loaded
    libraries; for a sanitized agent it is preloaded ahead of the shim."""
    key = str(binary)
    if key not in _runtimes_cache:
        found = []
        try:
            out = subprocess.run(["ldd", key], capture_output=True, text=True, timeout=10).stdout
            for line in out.splitlines():
                name, _, rest = line.strip().partition(" => ")
                if name.startswith("libasan.so") and rest.startswith("/"):
                    found.append(rest.split()[0])
        except (OSError, subprocess.TimeoutExpired):
            pass
        _runtimes_cache[key] = found
    return _runtimes_cache[key]


def _holder_alive(pid: int, root: Union[str, Path]) -> bool:
    """True while process `pid` is the holder of the board in `root` (its
    command line names the sandbox): a pid that was reused or a zombie is not."""
    try:
        with open("/proc/%d/cmdline" % int(pid), "rb") as f:
            return str(root).encode() in f.read()
    except (OSError, ValueError):
        return False


def _sweep_stale_boards():
    """Removes the sandbox directories of boards whose creator was killed
    before it could clean up: their holder is gone. Boards kept on purpose
    (VLM_KEEP_BOARD) stay."""
    for root in Path(tempfile.gettempdir()).glob(BOARD_PREFIX + "*"):
        try:
            info = json.loads((root / "board.json").read_text())
            if (root / "keep").exists() or _holder_alive(info["holder_pid"], root):
                continue
        except (OSError, ValueError, KeyError, TypeError):
            continue  # still being set up, or not ours
        shutil.rmtree(root, ignore_errors=True)


# ---------------------------------------------------------------------------
# Processes inside the board.


class BoardProcess:
    """A program started inside the board through nsenter. `returncode`
    follows subprocess: the exit status, or -N when killed by signal N."""

    def __init__(self, name: str, popen: subprocess.Popen, out: Path, err: Path):
        self.name = name
        self.popen = popen
        self.out_path = out
        self.err_path = err
        self.pid = None  # host pid of the program (nsenter forks it)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            kids = _children(popen.pid)
            if kids:
                self.pid = kids[0]
                break
            if popen.poll() is not None:
                break
            time.sleep(0.002)

    @property
    def returncode(self) -> Optional[int]:
        return self.popen.poll()

    def running(self) -> bool:
        return self.popen.poll() is None

    def send_signal(self, sig: int):
        if self.pid is not None and self.popen.poll() is None:
            try:
                os.kill(self.pid, sig)
            except ProcessLookupError:
                pass

    def wait(self, timeout: float) -> int:
        return self.popen.wait(timeout)

    def stop(self, sig: int = signal.SIGTERM, timeout: float = 5.0) -> int:
        """Sends `sig`, waits for the end; SIGKILL after `timeout`."""
        if self.popen.poll() is None:
            self.send_signal(sig)
            try:
                self.popen.wait(timeout)
            except subprocess.TimeoutExpired:
                self.send_signal(signal.SIGKILL)
                try:
                    self.popen.wait(2)
                except subprocess.TimeoutExpired:
                    self.popen.kill()
                    self.popen.wait(2)
        return self.popen.returncode

    def stdout(self) -> str:
        return self.out_path.read_text(errors="replace")

    def stderr(self) -> str:
        return self.err_path.read_text(errors="replace")


# ---------------------------------------------------------------------------
# The holder: PID 1 of a board, run by unshare inside the new namespaces.


def _holder_make_dirs(paths: Sequence[str], layer: Optional[str], run) -> None:
    """Creates directories the host does not have (mount points for the
    board's own directories) in the board's mount namespace only: the nearest
    directory that exists becomes an overlay whose upper layer is a tmpfs of
    the board, so the host's tree stays as it is. Mounts below that
    directory (a container's /etc/hosts ...) are bound back on top."""
    for index, path in enumerate(paths):
        top = os.path.dirname(path)
        while not os.path.isdir(top):
            top = os.path.dirname(top)
        if top == "/":
            raise BoardError("no directory to put %s into" % path)
        scratch = os.path.join(layer, str(index))
        os.mkdir(scratch)
        run("mount", "-t", "tmpfs", "-o", "mode=755", "vlm-layer", scratch)
        for d in ("upper", "work", "orig"):
            os.mkdir(os.path.join(scratch, d))
        below = sorted(m for m in _mountpoints(os.getpid()) if m.startswith(top + "/"))
        below = [m for m in below if not any(m.startswith(o + "/") for o in below)]
        if below:
            run("mount", "--rbind", top, os.path.join(scratch, "orig"))
        run("mount", "-t", "overlay", "vlm-overlay", "-o", "lowerdir=%s,upperdir=%s,workdir=%s" % (
            top, os.path.join(scratch, "upper"), os.path.join(scratch, "work")), top)
        for m in below:
            run("mount", "--rbind", os.path.join(scratch, "orig", os.path.relpath(m, top)), m)
        os.makedirs(path, exist_ok=True)


def _holder_main(layout_json: str) -> int:
    layout = json.loads(layout_json)

    def run(*argv):
        subprocess.run(argv, check=True, stdin=subprocess.DEVNULL)

    try:
        # A private /dev: the board's programs cannot touch the host's nodes,
        # and POSIX shared memory (/dev/shm) stays inside too.
        run("mount", "-t", "tmpfs", "-o", "mode=755,nosuid,noexec", "vlm-dev", "/dev")
        for name, major, minor in (("null", 1, 3), ("zero", 1, 5), ("full", 1, 7),
                                   ("random", 1, 8), ("urandom", 1, 9), ("tty", 5, 0)):
            os.mknod("/dev/" + name, 0o666 | stat.S_IFCHR, os.makedev(major, minor))
            os.chmod("/dev/" + name, 0o666)
        for name, target in (("fd", "/proc/self/fd"), ("stdin", "/proc/self/fd/0"),
                             ("stdout", "/proc/self/fd/1"), ("stderr", "/proc/self/fd/2")):
            os.symlink(target, "/dev/" + name)
        os.mkdir("/dev/shm")
        run("mount", "-t", "tmpfs", "-o", "mode=1777,nosuid,nodev", "vlm-shm", "/dev/shm")
        # A private /run: the agent's lock (one agent per board) is the board's.
        run("mount", "-t", "tmpfs", "-o", "mode=755,nosuid,nodev", "vlm-run", "/run")
        _holder_make_dirs(layout.get("make_dirs", []), layout.get("layer"), run)
        for source, target, *how in layout["binds"]:
            run("mount", "--rbind" if how == ["rbind"] else "--bind", source, target)
        run("ip", "link", "set", "lo", "up")
    except Exception as e:  # reported to the creator, which closes the board
        sys.stderr.write("holder setup failed: %s\n" % e)
        return 1

    def reap(_signo, _frame):
        while True:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return

    signal.signal(signal.SIGCHLD, reap)
    os.write(1, b"ready\n")
    # Lives as long as its creator keeps the pipe open.
    while os.read(0, 4096):
        pass
    return 0
