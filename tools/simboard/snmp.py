# SPDX-License-Identifier: BSD-3-Clause
"""Net-SNMP on the board: the agent's enterprise and objects, snmpd and the
snmptrapd receivers, the Net-SNMP tools' output and the receivers' logs
read back."""

import re
import signal
import subprocess
import sys
import time
from pathlib import Path
from typing import Dict, List, NamedTuple, Optional, Tuple, Union

import snmpclient

from .common import AGENT_APP_NAME, REPO, BoardError
from .sandbox import BoardProcess

ENTERPRISE = "1.3.6.1.4.1.42424"
SYSINFO = ENTERPRISE + ".100.1"
SNMPD_SYSDESCR = "1.3.6.1.2.1.1.1.0"
SNMPD_UPTIME = "1.3.6.1.2.1.1.3.0"
SNMP_TRAP_OID = "1.3.6.1.6.3.1.1.4.1.0"
# The agent's own health: one row per group it runs, in this order.
GROUP_ENTRY = ENTERPRISE + ".100.3.1.1"
GROUP_NAMES = ("system", "trapServers", "sensors", "cpu", "memory", "storage", "nvram", "power", "hotplug",
               "disks", "watchdog", "wlan", "mobile")
GROUP_STATUS = {1: "ok", 2: "failing", 3: "absent"}
GROUP_NOTIFICATION = 106

# Our MIB module with the IETF modules it imports, for Net-SNMP's tools: only
# these, not Net-SNMP's default list, most of which Debian does not ship.
MIB_MODULE = "VELMORA-VLM-MIB"
MIB_DIRS = "+%s:%s" % (REPO / "mibs", REPO / "mibs" / "ietf")
WITH_MIB = ["-M", MIB_DIRS, "-m", MIB_MODULE]
# The receiver that names what it receives (Board.start_named_trapd).
NAMED_TRAPD_PORT = 1162
NAMED_TRAPD_LOG = "snmptrapd-named.log"
NAMED_TRAP_LINE = "MIBTRAP"


# ---------------------------------------------------------------------------
# Net-SNMP tool output (-On -Ox) into (type, value) pairs.

_EXCEPTIONS = {
    "No Such Object available on this agent at this OID": "noSuchObject",
    "No Such Instance currently exists at this OID": "noSuchInstance",
    "No more variables left in this MIB View (It is past the end of the MIB tree)": "endOfMibView",
}


def parse_value(text: str) -> Tuple[str, object]:
    text = text.strip()
    if text in _EXCEPTIONS:
        return _EXCEPTIONS[text], None
    if text == '""':
        return "OCTET STRING", b""
    kind, _, rest = text.partition(": ")
    if kind == "Hex-STRING":
        return "OCTET STRING", bytes.fromhex(rest)
    if kind == "STRING":
        if rest.startswith('"') and rest.endswith('"'):
            rest = rest[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        return "OCTET STRING", rest.encode()
    if kind == "INTEGER":
        return "INTEGER", int(rest.split("(")[-1].rstrip(")")) if "(" in rest else int(rest)
    if kind == "Timeticks":
        return "TimeTicks", int(rest[1:rest.index(")")])
    if kind in ("Counter32", "Gauge32", "Counter64"):
        return kind, int(rest)
    if kind == "OID":
        return "OID", rest.lstrip(".")
    if kind == "IpAddress":
        return "IpAddress", rest
    if text == "NULL":
        return "NULL", None
    return "unknown", text


def parse_varbind(line: str) -> snmpclient.VarBind:
    oid, _, value = line.partition(" = ")
    kind, val = parse_value(value)
    return snmpclient.VarBind(oid.strip().lstrip("."), kind, val)


class SnmpError(Exception):
    """A Net-SNMP tool reported an error: `reason` is the error-status name
    (wrongLength, notWritable ...), "timeout", or "failed" when unparsed."""

    def __init__(self, reason: str, failed_oid: Optional[str], output: str):
        super().__init__("%s (%s): %s" % (reason, failed_oid, output.strip()))
        self.reason = reason
        self.failed_oid = failed_oid
        self.output = output


def _tool_error(proc: subprocess.CompletedProcess) -> Optional[SnmpError]:
    out = proc.stdout + proc.stderr
    if "Timeout: No Response" in out:
        return SnmpError("timeout", None, out)
    reason = failed = None
    for line in out.splitlines():
        if line.startswith("Reason: "):
            reason = line[len("Reason: "):].split(" ")[0]
        elif line.startswith("Failed object: "):
            failed = line[len("Failed object: "):].strip().lstrip(".")
    if reason or proc.returncode != 0:
        return SnmpError(reason or "failed", failed, out)
    return None


# ---------------------------------------------------------------------------
# Notifications as snmptrapd logs them with the board's format lines.


class Trap(NamedTuple):
    version: str          # "v1" or "v2"
    generic: int          # v1 generic trap type (6: defined by the enterprise)
    number: int           # v1 trap number within the enterprise
    enterprise: str       # v1 enterprise; for v2 the snmpTrapOID value
    varbinds: List[snmpclient.VarBind]
    community: str        # the community the sender used

    def value(self, oid: str):
        for vb in self.varbinds:
            if vb.oid == oid.lstrip("."):
                return vb.value
        raise KeyError(oid)


def parse_trap_line(line: str) -> Optional[Trap]:
    fields = line.rstrip("\n").split("\t")
    if len(fields) < 6 or fields[0] != "VLMTRAP":
        return None
    version = fields[1]
    varbinds = [parse_varbind(f) for f in fields[6:] if " = " in f]
    enterprise = fields[4].lstrip(".")
    if version == "v2":
        for vb in varbinds:
            if vb.oid == SNMP_TRAP_OID:
                enterprise = str(vb.value)
    return Trap(version, int(fields[2] or 0), int(fields[3].lstrip(".") or 0), enterprise, varbinds, fields[5])


class NamedTrap(NamedTuple):
    """A notification as the receiver with our module loaded logs it."""
    name: str                          # the notification's name ("hardwareDetectEvent")
    time: float                        # its arrival, seconds since the epoch
    varbinds: List[Tuple[str, str]]    # (name, value text) of the objects after snmpTrapOID.0
    line: str


def parse_named_trap_line(line: str) -> Optional[NamedTrap]:
    """One line of the named receiver's log: NAMED_TRAP_LINE, the arrival
    time, then "NAME = VALUE" per varbind, tab-separated. None for any
    other line, and for a notification that is not one of our module's."""
    fields = line.rstrip("\n").split("\t")
    if len(fields) < 3 or fields[0] != NAMED_TRAP_LINE:
        return None
    try:
        arrival = float(fields[1])
    except ValueError:
        return None
    varbinds = [tuple(f.split(" = ", 1)) for f in fields[2:] if " = " in f]
    for i, (_, value) in enumerate(varbinds):
        m = re.match(r"OID: %s::(\w+)$" % MIB_MODULE, value)
        if m:
            return NamedTrap(m.group(1), arrival, varbinds[i + 1:], line.rstrip("\n"))
    return None


def named_notifications(log: Path) -> List[NamedTrap]:
    """Our notifications in a named receiver's log, oldest first."""
    return [t for t in map(parse_named_trap_line, log.read_text(errors="replace").splitlines()) if t]


def format_named_trap(trap: NamedTrap) -> str:
    """A notification as the demo prints it: time and name, then an object
    a line, by name, without our module's prefix and the value's type."""
    lines = ["%s  %s" % (time.strftime("%H:%M:%S", time.localtime(trap.time)), trap.name)]
    for name, value in trap.varbinds:
        if name.startswith(MIB_MODULE + "::"):
            name = name[len(MIB_MODULE) + 2:]
        lines.append("          %s = %s" % (name, re.sub(r"^[\w-]+: ", "", value)))
    return "\n".join(lines)


class NamedTrapPrinter:
    """Prints the notifications a named receiver's log gains, as they come."""

    def __init__(self, log: Path, out=None):
        self.log = log
        self.out = out
        self._offset = 0
        self._partial = b""

    def poll(self) -> int:
        """Prints what arrived since the last call; returns how many."""
        try:
            with open(self.log, "rb") as f:
                f.seek(self._offset)
                data = f.read()
        except FileNotFoundError:
            return 0
        self._offset += len(data)
        lines = (self._partial + data).split(b"\n")
        self._partial = lines.pop()
        count = 0
        for line in lines:
            trap = parse_named_trap_line(line.decode(errors="replace"))
            if trap is not None:
                print(format_named_trap(trap), file=self.out or sys.stdout, flush=True)
                count += 1
        return count


class SnmpMixin:
    """Board methods for snmpd, the snmptrapd receivers and the Net-SNMP
    tools run inside the board."""

    # -- Net-SNMP's configuration files ---------------------------------------

    def _write_snmp_configs(self):
        sock = self.agentx_socket
        self.snmpd_conf.write_text(
            "# snmpd of the simulated board: AgentX master on a private socket,\n"
            "# SNMP on loopback only, notifications to the board's snmptrapd.\n"
            "master agentx\n"
            "agentXSocket %s\n"
            "agentaddress udp:127.0.0.1:161\n"
            "rocommunity public 127.0.0.1\n"
            "rwcommunity private 127.0.0.1\n"
            "trapsink 127.0.0.1 public 162\n"
            "# no log line per request: the benchmark sends thousands\n"
            "dontLogTCPWrappersConnects yes\n" % sock)
        # The tools and the agent read this one; the daemons run with -C and
        # get the same settings through their own files.
        (self.etc / "snmp.conf").write_text("mibs :\nhexOutputLength 0\n")
        (self.etc / (AGENT_APP_NAME + ".conf")).write_text("agentXSocket %s\n" % sock)
        (self.etc / "snmptrapd.conf").write_text(
            "[snmp] mibs :\n"
            "[snmp] hexOutputLength 0\n"
            "[snmptrapd]\n"
            "disableAuthorization yes\n"
            "format1 VLMTRAP\\tv1\\t%w\\t%q\\t%N\\t%u\\t%v\\n\n"
            "format2 VLMTRAP\\tv2\\t%w\\t%q\\t%N\\t%u\\t%v\\n\n")

    def add_trapsink(self, host: str, community: str = "public", port: int = 162, joined: bool = False):
        """Adds a trapsink line to snmpd.conf (read by snmpd and the agent at
        start): "trapsink HOST COMMUNITY PORT", or with `joined` the form
        snmpd documents today, "trapsink HOST:PORT COMMUNITY"."""
        with open(self.snmpd_conf, "a") as f:
            if joined:
                f.write("trapsink %s:%d %s\n" % (host, port, community))
            else:
                f.write("trapsink %s %s %d\n" % (host, community, port))

    def add_trap2sink(self, host: str, community: str = "public", port: int = 162):
        """Adds a trap2sink line to snmpd.conf: snmpd then forwards every
        notification to that receiver as an SNMPv2c trap too (the agent
        itself reads only the trapsink lines)."""
        with open(self.snmpd_conf, "a") as f:
            f.write("trap2sink %s %s %d\n" % (host, community, port))

    # -- snmptrapd ----------------------------------------------------------

    def start_trapd(self, name: str = "main", address: str = "127.0.0.1:162",
                    timeout: float = 5) -> BoardProcess:
        """Starts an snmptrapd receiver listening on `address`; received
        notifications are read back with traps(name)."""
        log = self.log_dir / ("snmptrapd-%s.log" % name)
        log.write_bytes(b"")
        proc = self.spawn("snmptrapd-" + name, [
            "snmptrapd", "-f", "-Lf", str(log), "-C", "-c", "/etc/snmp/snmptrapd.conf",
            "-On", "-Ox", address])
        self.trapds[name] = proc
        deadline = time.monotonic() + timeout
        while "NET-SNMP version" not in log.read_text(errors="replace"):
            if not proc.running() or time.monotonic() > deadline:
                raise BoardError("snmptrapd %s did not start: %s%s" % (
                    name, log.read_text(errors="replace"), proc.stderr()))
            time.sleep(0.01)
        return proc

    def start_named_trapd(self, port: int = NAMED_TRAPD_PORT, timeout: float = 5) -> Path:
        """A second snmptrapd, with our module loaded, on 127.0.0.1:`port`:
        snmpd sends it every notification as an SNMPv2c trap (a trap2sink
        line, so it is started before snmpd). Its log holds a line per
        notification (see parse_named_trap_line); returns the log's path."""
        log = self.log_dir / NAMED_TRAPD_LOG
        log.write_bytes(b"")
        conf = self.etc / "snmptrapd-named.conf"
        conf.write_text("disableAuthorization yes\n"
                        "format2 %s\\t%%t\\t%%v\\n\n" % NAMED_TRAP_LINE)
        self.add_trap2sink("127.0.0.1", port=port)
        proc = self.spawn("snmptrapd-named", ["snmptrapd", "-f", "-Lf", str(log), "-C", "-c",
                                              "/etc/snmp/" + conf.name] + WITH_MIB + ["127.0.0.1:%d" % port])
        self.trapds["named"] = proc
        deadline = time.monotonic() + timeout
        while "NET-SNMP version" not in log.read_text(errors="replace"):
            if not proc.running() or time.monotonic() > deadline:
                raise BoardError("snmptrapd with the MIB did not start: %s%s" % (
                    log.read_text(errors="replace"), proc.stderr()))
            time.sleep(0.01)
        return log

    def traps(self, name: str = "main", enterprise: Optional[str] = ENTERPRISE) -> List[Trap]:
        """Notifications received so far by receiver `name`, oldest first;
        with `enterprise`, only those under it (snmpd sends its own too)."""
        log = self.log_dir / ("snmptrapd-%s.log" % name)
        out = []
        for line in log.read_text(errors="replace").splitlines():
            trap = parse_trap_line(line)
            if trap is None:
                continue
            if enterprise is None or trap.enterprise == enterprise or \
                    trap.enterprise.startswith(enterprise + "."):
                out.append(trap)
        return out

    def wait_trap(self, predicate=lambda t: True, name: str = "main", timeout: float = 5,
                  enterprise: Optional[str] = ENTERPRISE, after: int = 0) -> Trap:
        """The first notification (from index `after` on) matching `predicate`."""
        deadline = time.monotonic() + timeout
        while True:
            for trap in self.traps(name, enterprise)[after:]:
                if predicate(trap):
                    return trap
            if time.monotonic() > deadline:
                raise TimeoutError("no matching notification within %.1f s" % timeout)
            time.sleep(0.02)

    # -- snmpd ----------------------------------------------------------------

    def start_snmpd(self, timeout: float = 5) -> BoardProcess:
        self.snmpd = self.spawn("snmpd", [
            "snmpd", "-f", "-Lf", str(self.log_dir / "snmpd.log"), "-C", "-c",
            "/etc/snmp/snmpd.conf", "-I", "-smux"], env={"MIBS": ""})
        deadline = time.monotonic() + timeout
        with self.client(timeout=0.1) as c:
            while True:
                try:
                    if not c.get(SNMPD_UPTIME).error_status:
                        break
                except snmpclient.SnmpTimeout:
                    pass
                if not self.snmpd.running() or time.monotonic() > deadline:
                    raise BoardError("snmpd did not start:\n" + self.log_tail("snmpd.log"))
        return self.snmpd

    def stop_snmpd(self, sig: int = signal.SIGTERM) -> int:
        return self.snmpd.stop(sig)

    def restart_snmpd(self) -> BoardProcess:
        self.stop_snmpd()
        return self.start_snmpd()

    # -- Net-SNMP tools -------------------------------------------------------

    def snmp(self, tool: str, *args: Union[str, bytes], community: str = "public",
             timeout: float = 10) -> subprocess.CompletedProcess:
        """Runs a Net-SNMP tool against the board's snmpd, numeric OIDs and
        octet strings in hex, one try with a one-second timeout."""
        return self.exec([tool, "-v2c", "-c", community, "-t", "1", "-r", "0", "-On", "-Ox",
                          "127.0.0.1"] + list(args), timeout=timeout)

    def _varbinds(self, tool: str, args, community: str) -> List[snmpclient.VarBind]:
        proc = self.snmp(tool, *args, community=community)
        err = _tool_error(proc)
        if err:
            raise err
        return [parse_varbind(line) for line in proc.stdout.splitlines() if " = " in line]

    def snmpget(self, *oids: str, community: str = "public") -> List[snmpclient.VarBind]:
        return self._varbinds("snmpget", oids, community)

    def snmpgetnext(self, *oids: str, community: str = "public") -> List[snmpclient.VarBind]:
        return self._varbinds("snmpgetnext", oids, community)

    def snmpwalk(self, root: str, community: str = "public") -> List[snmpclient.VarBind]:
        return self._varbinds("snmpwalk", [root], community)

    def snmpbulkwalk(self, root: str, community: str = "public") -> List[snmpclient.VarBind]:
        return self._varbinds("snmpbulkwalk", [root], community)

    def snmpset(self, *varbinds: Tuple[str, str, Union[str, bytes]],
                community: str = "private") -> List[snmpclient.VarBind]:
        """varbinds: (oid, snmpset type letter, value); raises SnmpError."""
        args: List[Union[str, bytes]] = []
        for oid, kind, value in varbinds:
            args += [oid, kind, value]
        return self._varbinds("snmpset", args, community)

    def group_health(self) -> Dict[str, dict]:
        """The agent's group table: {group name: {"status": "ok", "failing"
        or "absent", "last_good": DateAndTime octets, "failures": count,
        "error": text}}."""
        columns = {3: "status", 4: "last_good", 5: "failures", 6: "error"}
        rows: Dict[int, dict] = {}
        for vb in self.snmpwalk(GROUP_ENTRY):
            column, index = (int(p) for p in vb.oid[len(GROUP_ENTRY) + 1:].split("."))
            row = rows.setdefault(index, {})
            if column == 2:
                row["name"] = vb.value.decode()
            elif column in columns:
                row[columns[column]] = GROUP_STATUS.get(vb.value, vb.value) if column == 3 else \
                    vb.value.decode() if column == 6 else vb.value
        return {row.pop("name"): row for _, row in sorted(rows.items())}

    def wait_groups(self, expected: Dict[str, str], timeout: float = 10) -> Dict[str, dict]:
        """Waits until every group named in `expected` has that status and
        every other group is ok after a complete reading (a group shows ok
        before its first reading too); returns the table."""
        deadline = time.monotonic() + timeout
        while True:
            health = self.group_health()
            got = {name: row["status"] if row["status"] != "ok" or row["last_good"] else "unread"
                   for name, row in health.items()}
            if got == {name: expected.get(name, "ok") for name in got}:
                return health
            if time.monotonic() > deadline:
                raise AssertionError("group statuses %r, not %r" % (got, expected))
            time.sleep(0.2)

    def group_notifications(self, name: str = "main") -> List[Tuple[str, str, str]]:
        """The group-status notifications received so far, oldest first:
        (group name, status, last error)."""
        out = []
        for trap in self.traps(name):
            if trap.number != GROUP_NOTIFICATION:
                continue
            values = [vb.value for vb in trap.varbinds]
            out.append((values[0].decode(), GROUP_STATUS.get(values[1], values[1]), values[2].decode()))
        return out

    def group_log_lines(self) -> List[str]:
        """The agent's log lines about its groups' status ("group storage
        failing: ...", "group storage ok again ...")."""
        return [line for line in self.agent.stderr().splitlines() if line.startswith("group ")]

    def get_value(self, oid: str):
        """Value of one object (bytes for OCTET STRING, int for INTEGER)."""
        vb = self.snmpget(oid)[0]
        if vb.type in ("noSuchObject", "noSuchInstance", "endOfMibView"):
            raise SnmpError(vb.type, oid, "")
        return vb.value
