# SPDX-License-Identifier: BSD-3-Clause
"""Boards by name: the state directory under /run/vlm-simboard through which
other processes (simboard.py exec, plug ...) reach a board."""

import fcntl
import json
import os
import re
import shutil
import tempfile
from pathlib import Path
from typing import TYPE_CHECKING, Dict, Optional

from .common import BoardError, _replace_file
from .sandbox import _holder_alive

if TYPE_CHECKING:
    from .board import Board

# ---------------------------------------------------------------------------
# Boards by name. A board that other processes reach (the demo's) has a
# state directory BOARDS_DIR/NAME holding
#   lock        locked (flock) by the process that runs the board, for as
#               long as it runs it: the name is taken while the lock is held
#   board.json  the holder's pid, the sandbox directory and the environment
#               of programs inside, written once the board serves
#   dev, log    links to the board's device files (vlmpsustatus ...) and logs
# A board runs while its holder does. A directory whose lock is free and
# whose holder is gone is what a killed board left behind: whoever finds it
# removes it.

# Boards that other processes reach by name (simboard.py exec --board NAME
# ...): one state directory each under this one (see BoardState).
BOARDS_DIR = Path(os.environ.get("VLM_SIMBOARD_RUN", "/run/vlm-simboard"))

BOARD_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9_-]{0,31}$")
STATE_FILE = "board.json"


def _state_info(directory: Path) -> Optional[dict]:
    """The board.json of a state directory while its holder runs, else None."""
    try:
        info = json.loads((directory / STATE_FILE).read_text())
        if _holder_alive(info["holder_pid"], info["root"]):
            return info
    except (OSError, ValueError, KeyError, TypeError):
        pass
    return None


def _lock_state(directory: Path) -> Optional[int]:
    """Locks the lock file of a state directory; returns its descriptor, or
    None while another process holds it. FileNotFoundError when the
    directory is gone or was replaced meanwhile."""
    fd = os.open(directory / "lock", os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o644)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        os.close(fd)
        return None
    try:
        here, mine = os.stat(directory / "lock"), os.fstat(fd)
        if (here.st_dev, here.st_ino) != (mine.st_dev, mine.st_ino):
            raise FileNotFoundError(str(directory / "lock"))
    except OSError:
        os.close(fd)
        raise
    return fd


def running_boards() -> Dict[str, dict]:
    """The boards that run now, by name: their board.json. The state of a
    board whose holder is gone is removed on the way."""
    found: Dict[str, dict] = {}
    try:
        entries = sorted(BOARDS_DIR.iterdir())
    except FileNotFoundError:
        return found
    for directory in entries:
        if not BOARD_NAME.match(directory.name) or directory.is_symlink() or not directory.is_dir():
            continue
        info = _state_info(directory)
        if info is not None:
            found[directory.name] = info
            continue
        try:
            fd = _lock_state(directory)
        except OSError:
            continue
        if fd is None:
            continue   # its board is being brought up or taken down
        stale = None
        try:
            # Moved out of the way first: a process taking the name meanwhile
            # makes a directory of its own.
            stale = Path(tempfile.mkdtemp(prefix=".stale-", dir=BOARDS_DIR))
            os.rename(directory, stale / directory.name)
        except OSError:
            pass
        finally:
            os.close(fd)
        if stale is not None:
            shutil.rmtree(stale, ignore_errors=True)
    return found


class BoardState:
    """The name and state directory of a board this process runs:

        with BoardState.claim() as state:   # board1, or the next free name
            ... board.start() ...
            state.publish(board)
    """

    def __init__(self, name: str, fd: int):
        self.name = name
        self.directory = BOARDS_DIR / name
        self._fd: Optional[int] = fd

    @classmethod
    def claim(cls, name: Optional[str] = None) -> "BoardState":
        """Takes `name`, or without one the first free of board1, board2 ...;
        BoardError when `name` is taken."""
        if name is not None and not BOARD_NAME.match(name):
            raise BoardError("Unusable board name %r: letters, digits, '-' and '_', at most 32." % name)
        BOARDS_DIR.mkdir(parents=True, exist_ok=True)
        if name is not None:
            state = cls._take(name)
            if state is None:
                raise BoardError("A board named %s is already running." % name)
            return state
        n = 1
        while True:
            state = cls._take("board%d" % n)
            if state is not None:
                return state
            n += 1

    @classmethod
    def _take(cls, name: str) -> Optional["BoardState"]:
        directory = BOARDS_DIR / name
        for _ in range(20):
            try:
                directory.mkdir(exist_ok=True)
                fd = _lock_state(directory)
            except FileNotFoundError:
                continue   # swept away meanwhile
            if fd is None:
                return None
            if _state_info(directory) is not None:
                os.close(fd)   # a live holder: its board is not ours to take over
                return None
            for entry in directory.iterdir():   # what a killed board left
                if entry.name != "lock":
                    if entry.is_dir() and not entry.is_symlink():
                        shutil.rmtree(entry, ignore_errors=True)
                    else:
                        entry.unlink(missing_ok=True)
            return cls(name, fd)
        raise BoardError("Cannot take the board name %s: its directory keeps changing." % name)

    def publish(self, board: "Board"):
        """Makes `board` reachable by this name (once it serves)."""
        for link, target in (("dev", board.dev_dir), ("log", board.log_dir)):
            path = self.directory / link
            path.unlink(missing_ok=True)
            path.symlink_to(target)
        _replace_file(self.directory / STATE_FILE, json.dumps({
            "name": self.name, "holder_pid": board.holder_pid, "root": str(board.root),
            "env": board.env(), "pid": os.getpid()}), 0o644)

    def release(self):
        """Gives the name up (before the board is closed). Safe to call twice."""
        if self._fd is None:
            return
        shutil.rmtree(self.directory, ignore_errors=True)
        os.close(self._fd)
        self._fd = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()


def find_board(name: Optional[str] = None) -> dict:
    """The board.json of the running board called `name`, or of the only
    one running; BoardError saying which run otherwise."""
    boards = running_boards()
    if name is not None:
        if name in boards:
            return boards[name]
        raise BoardError("No board named %s is running (%s)." % (
            name, "running: " + ", ".join(boards) if boards else "none is"))
    if len(boards) == 1:
        return next(iter(boards.values()))
    if not boards:
        raise BoardError("No simulated board is running (start one with: make demo).")
    raise BoardError("%d boards are running (%s): name one with --board NAME." % (len(boards), ", ".join(boards)))
