# SPDX-License-Identifier: BSD-3-Clause
"""Mounted file systems as the agent sees them: a stand-in df listing the
board's disk partitions, its NVRAM disk and pseudo file systems."""

from typing import NamedTuple, Sequence


class FileSystem(NamedTuple):
    """One line of the board's "df -m": sizes in MB, use as df prints it."""
    device: str
    size: int
    used: int
    available: int
    use: str        # "30%", or "-" when df has no figure
    mount: str


# The board's mounted file systems: two disk partitions below the factory
# thresholds (80/90/95 %), one NVRAM disk, and pseudo file systems that the
# agent leaves out.
DEFAULT_FILESYSTEMS = (
    FileSystem("udev", 1955, 0, 1955, "0%", "/dev"),
    FileSystem("tmpfs", 394, 2, 393, "1%", "/run"),
    FileSystem("/dev/sda1", 29396, 8211, 19666, "30%", "/"),
    FileSystem("tmpfs", 1969, 0, 1969, "0%", "/dev/shm"),
    FileSystem("/dev/sda2", 476, 103, 344, "24%", "/boot"),
    FileSystem("/dev/vlmnvram0", 64, 4, 60, "7%", "/mnt/nvram0"),
)


def filesystems_with_use(device: str, percent: int) -> list:
    """The board's file systems with `device` at `percent` in use."""
    out = []
    for fs in DEFAULT_FILESYSTEMS:
        if fs.device == device:
            used = fs.size * percent // 100
            fs = FileSystem(fs.device, fs.size, used, fs.size - used, "%d%%" % percent, fs.mount)
        out.append(fs)
    return out


def df_text(filesystems: Sequence[FileSystem]) -> str:
    """What GNU df -m prints for these file systems."""
    lines = ["%-15s %9s %5s %9s %4s %s" % ("Filesystem", "1M-blocks", "Used", "Available", "Use%", "Mounted on")]
    for fs in filesystems:
        lines.append("%-15s %9d %5d %9d %4s %s" % fs)
    return "\n".join(lines) + "\n"


class StorageMixin:
    """Board methods for the stand-in df."""

    # -- mounted file systems: a stand-in df ------------------------------------
    #
    # The agent looks "df" up on PATH, so a df on the board's PATH
    # prints the board's file systems (whatever the arguments). With the hang
    # flag it never answers, like df on a dead network mount; it leaves a
    # marker when it is hanging.

    def _make_df(self):
        cmd = self.root / "cmd"
        self.add_script("df",
                        "#!/bin/sh\n"
                        "# Stand-in for df on the simulated board. With the network-mount\n"
                        "# flag, a df asked for every file system (no -l) hangs on it.\n"
                        "if [ -e '{netmount}' ]; then\n"
                        "    case \" $* \" in *\" -l \"*) ;; *) : > '{hung}'; exec /bin/sleep 3600 ;; esac\n"
                        "fi\n"
                        "if [ -e '{hang}' ]; then\n"
                        "    : > '{hung}'\n"
                        "    exec /bin/sleep 3600\n"
                        "fi\n"
                        "/bin/cat '{out}'\n"
                        "exit \"$(/bin/cat '{status}')\"\n".format(
                            hang=cmd / "df.hang", hung=cmd / "df.hung", out=cmd / "df.out",
                            status=cmd / "df.status", netmount=cmd / "df.netmount"))
        self.set_df(self._filesystems)

    def set_df(self, filesystems: Sequence[FileSystem], status: int = 0):
        """The file systems df lists from now on (and its exit status)."""
        self._filesystems = list(filesystems)
        if self.root is not None:
            self.set_command_output("df", df_text(self._filesystems), status)

    def set_df_hang(self, hang: bool = True):
        """While set, every df run hangs (until the agent kills it)."""
        self._set_hang("df", hang)

    def set_dead_network_mount(self, dead: bool = True):
        """While set, the board has a network mount whose server is gone: a
        df that looks at every file system hangs on it, one asked for local
        file systems only (-l) does not."""
        flag = self.root / "cmd" / "df.netmount"
        if dead:
            (self.root / "cmd" / "df.hung").unlink(missing_ok=True)
            flag.touch()
        else:
            flag.unlink(missing_ok=True)

    def df_hanging(self) -> bool:
        """True once a df run has started hanging since set_df_hang()."""
        return self._hanging("df")
