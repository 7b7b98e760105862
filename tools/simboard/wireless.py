# SPDX-License-Identifier: BSD-3-Clause
"""Wireless: stand-ins for NetworkManager's nmcli and the modem tool
modem-cmd, and the NetworkManager connection files."""

from pathlib import Path
from typing import Dict, List, Optional

from .common import REPO, BoardError, _replace_file

# ---------------------------------------------------------------------------
# Wireless: NetworkManager's nmcli, the modem tool modem-cmd and the
# NetworkManager connection files.
#
# Each file of tests/fixtures/nmcli is what nmcli 1.42 (LANG=C) printed for
# one of the three command lines the agent runs: wifi_*.txt for the Wi-Fi
# listing, status_*.txt for the device status listing, show_*.txt for the
# device blocks.

NMCLI_FIXTURES = REPO / "tests" / "fixtures" / "nmcli"
NMCLI_COMMANDS = {
    "wifi": "-f DEVICE,ACTIVE,SSID,BSSID,MODE,SIGNAL,SECURITY dev wifi list",
    "status": "-f DEVICE,TYPE,STATE,CON-UUID,CONNECTION dev status",
    "show": "dev show",
}
# A board with a Wi-Fi interface that is not connected and no modem.
DEFAULT_NMCLI = {"wifi": "wifi_none", "status": "status_none", "show": "show_none"}
NM_CONNECTIONS = "/etc/NetworkManager/system-connections"


def nmcli_fixture(name: str) -> str:
    """The nmcli output of fixture `name` (tests/fixtures/nmcli/NAME.txt)."""
    path = NMCLI_FIXTURES / (name + ".txt")
    if not path.exists():
        raise BoardError("no nmcli fixture %r (have: %s)" % (
            name, ", ".join(sorted(p.stem for p in NMCLI_FIXTURES.glob("*.txt")))))
    return path.read_text()


def modem_answer_key(device: str, command: str) -> str:
    """The file name the board's modem-cmd looks up for one device and AT
    command: every byte but letters, digits and '_' as '_' (what tr -c does)."""
    raw = (device + "__" + command).encode()
    return "".join(chr(b) if (chr(b).isascii() and (chr(b).isalnum() or chr(b) == "_")) else "_" for b in raw)


def nm_connection_text(name: str, apn: Optional[str], uuid: str = "5b4b1cbb-6a3e-4f2e-9a51-3b0a6f1d2c44") -> str:
    """A NetworkManager keyfile of a GSM connection, as nmcli writes one."""
    lines = ["[connection]", "id=%s" % name, "uuid=%s" % uuid, "type=gsm", "autoconnect=true", "",
             "[gsm]"]
    if apn is not None:
        lines.append("apn=%s" % apn)
    lines += ["number=*99#", "", "[ipv4]", "method=auto", "", "[ipv6]", "addr-gen-mode=default",
              "method=auto", "", "[proxy]"]
    return "\n".join(lines) + "\n"


class WirelessMixin:
    """Board methods for Wi-Fi and mobile broadband."""

    # -- wireless: nmcli, modem-cmd and the NetworkManager connection files ------
    #
    # The agent's Wi-Fi and mobile broadband groups run three nmcli command
    # lines through the shell (NMCLI_COMMANDS, with grep filters after two of
    # them), read connection files from /etc/NetworkManager/system-connections
    # and send AT commands with "modem-cmd DEVICE COMMAND". The board's nmcli
    # answers each of the three from an output a test chooses (an nmcli
    # fixture or a text) and refuses anything else; its modem-cmd prints the
    # answer set for that device and command (with OK after it), or fails as
    # for a port it cannot open. Both log every run; with the hang flag
    # modem-cmd never answers (until the agent kills it) and leaves a marker.
    # The connection directory is a board directory shown over the system's.

    @property
    def nm_connections_dir(self) -> Path:
        """Host directory the board sees as /etc/NetworkManager/system-connections."""
        return self._standin_path(NM_CONNECTIONS)

    def _make_wireless(self):
        cmd = self.root / "cmd"
        (cmd / "modem").mkdir()
        cases = "".join("\"%s\") out=%s ;;\n" % (args, kind) for kind, args in NMCLI_COMMANDS.items())
        self.add_script("nmcli",
                        "#!/bin/sh\n"
                        "# Stand-in for nmcli on the simulated board: the listings the agent asks for.\n"
                        "printf '%s\\n' \"$*\" >> '{runs}'\n"
                        "case \"$*\" in\n"
                        "{cases}"
                        "*) echo \"Error: nmcli stand-in: unsupported arguments: $*\" >&2; exit 2 ;;\n"
                        "esac\n"
                        "exec /bin/cat '{cmd}/nmcli.'\"$out\"'.out'\n".format(
                            runs=cmd / "nmcli.runs", cases=cases, cmd=cmd))
        self.add_script("modem-cmd",
                        "#!/bin/sh\n"
                        "# Stand-in for modem-cmd on the simulated board: DEVICE AT-COMMAND.\n"
                        "printf '%s\\n' \"$*\" >> '{runs}'\n"
                        "if [ -e '{hang}' ]; then\n"
                        "    : > '{hung}'\n"
                        "    exec /bin/sleep 3600\n"
                        "fi\n"
                        "if [ \"$#\" -ne 2 ]; then\n"
                        "    echo 'usage: modem-cmd DEVICE AT-COMMAND' >&2\n"
                        "    exit 2\n"
                        "fi\n"
                        "key=$(printf '%s__%s' \"$1\" \"$2\" | tr -c 'A-Za-z0-9_' '_')\n"
                        "if [ ! -e '{answers}/'\"$key\" ]; then\n"
                        "    echo \"modem-cmd: cannot open $1: No such file or directory\" >&2\n"
                        "    exit 1\n"
                        "fi\n"
                        "exec /bin/cat '{answers}/'\"$key\"\n".format(
                            runs=cmd / "modem-cmd.runs", hang=cmd / "modem-cmd.hang",
                            hung=cmd / "modem-cmd.hung", answers=cmd / "modem"))
        for name in ("nmcli.runs", "modem-cmd.runs"):
            (cmd / name).write_text("")
        for kind, fixture in DEFAULT_NMCLI.items():
            self.set_nmcli(kind, fixture)
        self.add_tree(NM_CONNECTIONS)

    def set_nmcli(self, kind: str, fixture: Optional[str] = None, text: Optional[str] = None):
        """What nmcli prints from now on for one of its command lines
        ("wifi", "status" or "show", see NMCLI_COMMANDS): nmcli fixture
        `fixture`, or `text` as it is. Replaced in one step."""
        if kind not in NMCLI_COMMANDS:
            raise ValueError("unknown nmcli listing %r (one of %s)" % (kind, ", ".join(NMCLI_COMMANDS)))
        if (fixture is None) == (text is None):
            raise ValueError("give a fixture or a text")
        _replace_file(self.root / "cmd" / ("nmcli.%s.out" % kind),
                      nmcli_fixture(fixture) if fixture is not None else text, 0o644)

    def nmcli_calls(self) -> List[str]:
        """The arguments of every nmcli run so far, oldest first."""
        return (self.root / "cmd" / "nmcli.runs").read_text().splitlines()

    def set_modem_answer(self, device: str, command: str, answer: Optional[str]):
        """What modem-cmd prints for `command` sent to `device` from now on:
        `answer` as its first line, then OK unless the answer is an error;
        None: the port cannot be opened. Include "\\r" in `answer` for a
        modem that ends its lines with one."""
        path = self.root / "cmd" / "modem" / modem_answer_key(device, command)
        if answer is None:
            path.unlink(missing_ok=True)
            return
        error = answer.rstrip("\r\n") == "ERROR" or answer.startswith("+CME ERROR")
        _replace_file(path, answer + "\n" + ("" if error else "OK\n"), 0o644)

    def set_modem(self, device: str, answers: Dict[str, Optional[str]]):
        """Several answers of one device at once: {AT command: answer}."""
        for command, answer in answers.items():
            self.set_modem_answer(device, command, answer)

    def set_modem_hang(self, hang: bool = True):
        """While set, every modem-cmd run hangs (until the agent kills it)."""
        self._set_hang("modem-cmd", hang)

    def modem_hanging(self) -> bool:
        """True once a modem-cmd run has started hanging since set_modem_hang()."""
        return self._hanging("modem-cmd")

    def modem_calls(self) -> List[str]:
        """The arguments of every modem-cmd run so far ("/dev/ttyACM2 AT+CSQ" ...)."""
        return (self.root / "cmd" / "modem-cmd.runs").read_text().splitlines()

    def add_nm_connection(self, name: str, apn: Optional[str] = None, text: Optional[str] = None) -> Path:
        """A connection file named `name` in the board's connection directory:
        `text` as it is, or a GSM connection keyfile with `apn`. Returns its
        host path."""
        if not name or "/" in name or name in (".", ".."):
            raise ValueError("unusable connection file name %r" % name)
        path = self.nm_connections_dir / name
        path.write_text(text if text is not None else nm_connection_text(name, apn))
        path.chmod(0o600)
        return path
