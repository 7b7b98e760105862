# SPDX-License-Identifier: BSD-3-Clause
"""Stand-ins: board files shown over system files, board directories over
system directories, and commands on the board's PATH ahead of the system's.
The device modules build on these."""

from pathlib import Path
from typing import List, Union

from .common import _replace_file


class StandInsMixin:
    """Board methods that put stand-in files, directories and commands in
    place, and make commands fail, hang or go missing."""

    # -- stand-ins ----------------------------------------------------------

    def add_file(self, target: str, content: Union[str, bytes]) -> Path:
        """A board file shown over the system file `target` (which must exist
        on the host: /etc/issue, /proc/stat ...); returns its host path."""
        path = self._standin_path(target)
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        self.add_bind(path, target)
        return path

    def add_tree(self, target: str) -> Path:
        """An empty board directory shown over the system directory `target`
        (e.g. /etc/ssl/certs); fill it through the returned host path. The
        hwmon chips have methods of their own (add_chip, set_sensor ...)."""
        path = self._standin_path(target)
        path.mkdir()
        self.add_bind(path, target)
        return path

    def add_bind(self, source: Union[str, Path], target: str):
        """Shows host path `source` at `target` inside the board. Before
        start() it is mounted with the sandbox; afterwards at once."""
        if self.holder_pid is None:
            self._binds.append([str(source), target])
        else:
            self.bind(str(source), target)

    def write_file(self, target: str, content: Union[str, bytes]):
        """New content for a stand-in file, written in place (a bind mount
        follows the inode, so the file must not be replaced)."""
        with open(self._standin_path(target), "r+b") as f:
            f.truncate(0)
            f.write(content.encode() if isinstance(content, str) else content)

    def bind(self, source: str, target: str):
        """Bind-mounts a host path over `target` inside the running board."""
        self.exec(["mount", "--bind", source, target], check=True)

    def add_command(self, name: str, output: Union[str, bytes], status: int = 0):
        """A command on the board's PATH that prints `output` and exits with
        `status`, whatever its arguments; set_command_output() changes both."""
        self.add_script(name,
                        "#!/bin/sh\n"
                        "# Stand-in for %s on the simulated board.\n"
                        "/bin/cat '%s'\n"
                        "exit \"$(/bin/cat '%s')\"\n" % (name, self.root / "cmd" / (name + ".out"),
                                                     self.root / "cmd" / (name + ".status")))
        self.set_command_output(name, output, status)

    def add_script(self, name: str, text: str):
        """An executable on the board's PATH, ahead of the system's. Replaced
        in one step: a run of the old one that starts meanwhile finds the old
        script or the new one whole, never an empty or half-written file."""
        _replace_file(self.bin_dir / name, text, 0o755)

    def set_command_output(self, name: str, output: Union[str, bytes], status: int = 0):
        (self.root / "cmd" / (name + ".out")).write_bytes(
            output.encode() if isinstance(output, str) else output)
        (self.root / "cmd" / (name + ".status")).write_text("%d\n" % status)

    def remove_command(self, name: str):
        """From now on the board has no command `name`. vlm_smartctl (the
        agent runs it by its path) is deleted from /usr/local/sbin; any
        other name, which the agent looks up on PATH, gets a stand-in ahead
        of the system's that fails as a command that is not there does (status 127, "not found" on stderr, nothing
        on stdout). Every attempt to run it is logged: missing_calls()."""
        if name == "vlm_smartctl":
            (self.sbin_dir / name).unlink(missing_ok=True)
            return
        log = self.root / "cmd" / (name + ".missing")
        log.write_text("")
        self.add_script(name,
                        "#!/bin/sh\n"
                        "# %s is not installed on the simulated board.\n"
                        "echo \"$*\" >> '%s'\n"
                        "echo \"sh: 1: %s: not found\" >&2\n"
                        "exit 127\n" % (name, log, name))

    def restore_command(self, name: str):
        """Undoes remove_command(name): the board's own stand-in again (df,
        lsusb) or the system's command."""
        if name == "df":
            self._make_df()
        elif name == "lsusb":
            self._write_lsusb_script()
        else:
            (self.bin_dir / name).unlink(missing_ok=True)

    def _set_hang(self, tool: str, hang: bool):
        """Switches the hang of a stand-in that checks the flag file
        cmd/TOOL.hang at every run and, hanging, leaves the marker
        cmd/TOOL.hung (cleared when the hang is switched on)."""
        flag = self.root / "cmd" / (tool + ".hang")
        if hang:
            (self.root / "cmd" / (tool + ".hung")).unlink(missing_ok=True)
            flag.touch()
        else:
            flag.unlink(missing_ok=True)

    def _hanging(self, tool: str) -> bool:
        """True once a run of the stand-in has started hanging since _set_hang."""
        return (self.root / "cmd" / (tool + ".hung")).exists()

    def hang_command(self, name: str):
        """From now on every run of the PATH command `name` blocks (until
        it is killed), leaving a marker: command_hung()."""
        marker = self.root / "cmd" / (name + ".hung")
        marker.unlink(missing_ok=True)
        self.add_script(name,
                        "#!/bin/sh\n"
                        "# %s never answers on the simulated board.\n"
                        ": > '%s'\n"
                        "exec /bin/sleep 3600\n" % (name, marker))

    def command_hung(self, name: str) -> bool:
        """True once a run of a command set by hang_command() has started."""
        return self._hanging(name)

    def missing_calls(self, name: str) -> List[str]:
        """The arguments of every attempt to run a removed command."""
        return (self.root / "cmd" / (name + ".missing")).read_text().splitlines()

    def make_unreadable(self, target: str):
        """Makes the board file `target` (/proc/meminfo, /proc/stat ...)
        unreadable, even for root: a write-only sysctl file is bound over
        it, so that opening it for reading fails with EACCES while the path
        still exists. For a running board; lasts until the board closes."""
        self.bind("/proc/sys/vm/drop_caches", target)
