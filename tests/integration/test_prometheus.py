# SPDX-License-Identifier: BSD-3-Clause
"""The Prometheus integration (integrations/prometheus/): the shipped
snmp.yml is what prometheus-snmp-generator makes of the shipped
generator.yml with our MIB directories, the alert rules and the README's
scrape configuration pass promtool, and the real snmp_exporter of Debian
(prometheus-snmp-exporter 0.21) scrapes a simulated board: readings as
numbers with the sensor's name, the level of a sensor driven above its High
threshold, and the rules firing (and not firing) on exactly the series of
that scrape (promtool test rules); the ENTITY-SENSOR view of the same module
names every sensor (a negative temperature in thousandths) and a failed
power input, whose alerts fire."""

import json
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "packaging"))
import readme_steps  # noqa: E402

from simboard import ENTERPRISE, SnmpError  # noqa: E402

REPO = Path(__file__).resolve().parents[2]
PROM = REPO / "integrations" / "prometheus"
GENERATOR = "prometheus-snmp-generator"
EXPORTER = "prometheus-snmp-exporter"
PROMTOOL = "promtool"
EXPORTER_ADDR = "127.0.0.1:9116"   # inside the board's own network namespace
RULES = PROM / "vlm-alerts.yml"
README_RULES = "/usr/share/vlm-subagent/prometheus/vlm-alerts.yml"

TP_LEVEL_1 = ENTERPRISE + ".200.2.1.2.1.11.1"   # tpLevel of the first temperature row
SMART_RAW = ENTERPRISE + ".200.3.1.3.1.7"       # hdsRAWValue column
VT_NAME = ENTERPRISE + ".200.2.2.2.1.2"          # vtName column


def need(*tools):
    for tool in tools:
        if shutil.which(tool) is None:
            pytest.skip(f"{tool} not installed (scripts/install-deps installs "
                        "prometheus-snmp-exporter and prometheus)")


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, stdin=subprocess.DEVNULL, **kw)


# The exposition format: name{label="value",...} value -------------------------

_SAMPLE = re.compile(r'^([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})? (\S+)$')
_LABEL = re.compile(r'([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\.)*)",?')
_UNESCAPE = {"\\\\": "\\", '\\"': '"', "\\n": "\n"}


def parse_exposition(text):
    """[(name, {label: value}, float)] of a /snmp answer, comments left out."""
    samples = []
    for line in text.splitlines():
        if not line or line.startswith("#"):
            continue
        m = _SAMPLE.match(line)
        assert m, f"not a sample line: {line!r}"
        labels = {}
        for lm in _LABEL.finditer(m.group(2) or ""):
            labels[lm.group(1)] = re.sub(r'\\[\\"n]', lambda e: _UNESCAPE[e.group(0)], lm.group(2))
        samples.append((m.group(1), labels, float(m.group(3))))
    return samples


def series(samples, name, **labels):
    """The values of `name` whose labels include `labels`."""
    return [v for n, ls, v in samples if n == name and all(ls.get(k) == x for k, x in labels.items())]


def one(samples, name, **labels):
    got = series(samples, name, **labels)
    assert len(got) == 1, f"{name}{labels}: {len(got)} samples"
    return got[0]


def selector(name, labels):
    """A series in PromQL notation, as promtool's input_series takes it."""
    quoted = ",".join('%s=%s' % (k, json.dumps(v)) for k, v in sorted(labels.items()))
    return "%s{%s}" % (name, quoted)


# Without a board ----------------------------------------------------------------

@pytest.mark.no_board
def test_generator_reproduces_the_shipped_snmp_yml(tmp_path):
    """snmp.yml is generated, never edited: the generator run on the shipped
    generator.yml with our MIB directories (and nothing else) writes it
    byte for byte, without a MIB parse error."""
    need(GENERATOR)
    shutil.copy(PROM / "generator.yml", tmp_path / "generator.yml")
    env = {"PATH": "/usr/bin:/bin", "HOME": str(tmp_path),
           "MIBDIRS": "%s:%s" % (REPO / "mibs", REPO / "mibs" / "ietf")}
    r = run([GENERATOR, "--fail-on-parse-errors", "generate"], cwd=tmp_path, env=env)
    assert r.returncode == 0, r.stderr
    assert "level=warn" not in r.stderr and "level=error" not in r.stderr, r.stderr
    assert (tmp_path / "snmp.yml").read_bytes() == (PROM / "snmp.yml").read_bytes()


@pytest.mark.no_board
def test_alert_rules_and_the_readme_scrape_configuration_check(tmp_path):
    need(PROMTOOL)
    r = run([PROMTOOL, "check", "rules", str(RULES)])
    assert r.returncode == 0, r.stdout + r.stderr
    # The README's prometheus.yml excerpt, with a board's address for BOARD
    # and the rules file of this tree for the installed one.
    text = "\n".join(readme_steps.code_block("rule_files:")) + "\n"
    assert "[BOARD]" in text and README_RULES in text, text
    config = tmp_path / "prometheus.yml"
    config.write_text(text.replace("[BOARD]", "[192.0.2.10]").replace(README_RULES, str(RULES)))
    r = run([PROMTOOL, "check", "config", str(config)])
    assert r.returncode == 0, r.stdout + r.stderr


# On the board ---------------------------------------------------------------------

SCRAPE = """
import sys, urllib.request, urllib.error
try:
    with urllib.request.urlopen(sys.argv[1], timeout=20) as r:
        sys.stdout.write("%d\\n" % r.status + r.read().decode())
except urllib.error.HTTPError as e:
    sys.stdout.write("%d\\n" % e.code + e.read().decode())
"""


def scrape(board, path="/snmp?target=127.0.0.1&module=vlm"):
    """(HTTP status, body) of a request to the exporter inside the board."""
    r = board.exec(["/usr/bin/python3", "-c", SCRAPE, "http://%s%s" % (EXPORTER_ADDR, path)], timeout=30)
    assert r.returncode == 0 and r.stdout, r.stderr
    status, _, body = r.stdout.partition("\n")
    return int(status), body


def start_exporter(board):
    exporter = board.spawn("snmp_exporter", [
        shutil.which(EXPORTER), "--config.file=%s" % (PROM / "snmp.yml"),
        "--web.listen-address=%s" % EXPORTER_ADDR])
    deadline = time.monotonic() + 10
    while True:
        r = board.exec(["/usr/bin/python3", "-c", SCRAPE, "http://%s/metrics" % EXPORTER_ADDR])
        if r.stdout.startswith("200"):
            return exporter
        assert exporter.running(), exporter.stderr() if hasattr(exporter, "stderr") else "exporter ended"
        assert time.monotonic() < deadline, "snmp_exporter did not answer within 10 s: " + r.stderr
        time.sleep(0.1)


def value(board, oid):
    """The value of one object; None while it does not exist (before the
    first reading)."""
    try:
        return board.get_value(oid)
    except SnmpError:
        return None


def tp_level(board):
    return value(board, TP_LEVEL_1)


def wait_until(what, condition, timeout=5.0):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, f"{what}: not within {timeout} s"
        time.sleep(0.1)


def rule_test(tmp_path, samples, alerts):
    """Runs promtool test rules on vlm-alerts.yml with `samples` (one scrape)
    as series holding their value for 10 minutes, job "vlm" and instance
    "board", and up 1; `alerts` maps each alert name to the labels and
    annotations of every alert expected to fire at 5 m ([]: none)."""
    scrape_labels = {"job": "vlm", "instance": "board"}
    inputs = [{"series": selector("up", scrape_labels), "values": "1x10"}]
    for name, labels, value in samples:
        inputs.append({"series": selector(name, dict(labels, **scrape_labels)),
                       "values": "%sx10" % repr(value)})
    tests = {"rule_files": [str(RULES)], "evaluation_interval": "1m", "tests": [{
        "interval": "1m",
        "input_series": inputs,
        "alert_rule_test": [
            {"eval_time": "5m", "alertname": name,
             "exp_alerts": [{"exp_labels": dict(a["labels"], **scrape_labels),
                             "exp_annotations": a["annotations"]} for a in expected]}
            for name, expected in alerts.items()],
    }]}
    path = tmp_path / "vlm-alerts.test.yml"
    path.write_text(json.dumps(tests, indent=1))   # JSON is YAML
    r = run([PROMTOOL, "test", "rules", str(path)])
    assert r.returncode == 0, r.stdout + r.stderr


@pytest.mark.time_limit(60)
def test_exporter_scrapes_the_board_and_the_rules_fire(live_board, tmp_path):
    need(EXPORTER, PROMTOOL)
    board = live_board
    # A voltage sensor without a group of its own in the configuration: its
    # thresholds are "N/A", its level 0 (not judged).
    board.add_sensor("in", "VDDR", 1.35)
    start_exporter(board)
    wait_until("the temperature judged", lambda: tp_level(board) == 1)
    wait_until("the VDDR row", lambda: b"VDDR" in [vb.value for vb in board.snmpwalk(VT_NAME)])

    status, body = scrape(board)
    assert status == 200, body
    before = parse_exposition(body)
    assert one(before, "snmp_scrape_pdus_returned") > 0
    # Readings and thresholds served as text are numbers, with the name.
    assert one(before, "tpValue", tpName="Temp CPU") == 45.0
    assert one(before, "tpHigh", tpName="Temp CPU") == 85.0
    assert one(before, "tpLowLow", tpName="Temp CPU") == -40.0
    assert one(before, "tpLevel", tpName="Temp CPU") == 1
    assert one(before, "vtValue", vtName="5VSB") == 5.0
    assert one(before, "crHigh", crName="Current") == 4.0
    # An empty or "N/A" threshold gives no sample at all (not 0).
    assert series(before, "crLow", crName="Current") == []
    assert series(before, "crLowLow", crName="Current") == []
    assert one(before, "vtValue", vtName="VDDR") == 1.35
    assert one(before, "vtLevel", vtName="VDDR") == 0
    for name in ("vtHigh", "vtLow", "vtHighHigh", "vtLowLow"):
        assert series(before, name, vtName="VDDR") == [], name
    # The agent's groups by name, the file systems by device.
    assert one(before, "vlmGroupStatus", vlmGroupName="sensors") == 1
    assert series(before, "storageUsedPercentage", storageDescr="/dev/sda1")
    # SMART raw values (hexadecimal text) as exact numbers, with the disk
    # and attribute names.
    raws = {vb.oid: int(vb.value, 16) for vb in board.snmpwalk(SMART_RAW)}
    assert raws, "no SMART rows on the board"
    got = {(ls["hdIndex"], ls["hdsIndex"]): (v, ls) for n, ls, v in before if n == "hdsRAWValue"}
    assert len(got) == len(raws)
    for oid, raw in raws.items():
        disk, row = oid.split(".")[-2:]
        value, labels = got[(disk, row)]
        assert value == raw and labels["hdModel"] and labels["hdSerialNumber"] and labels["hdsName"], labels
    # Noise left out: the time of the request, the index columns, the units.
    for name in ("tpGetTime", "vtGetTime", "pwrStateGetTime", "tpIndex", "tpUnit", "tpName"):
        assert series(before, name) == [], name

    # The temperature above its High threshold (85 °C).
    board.set_sensor("Temp CPU", 90.5)
    wait_until("tpLevel aboveHigh (4)", lambda: tp_level(board) == 4)
    status, body = scrape(board)
    assert status == 200, body
    hot = parse_exposition(body)
    assert one(hot, "tpValue", tpName="Temp CPU", tpIndex="1") == 90.5
    assert one(hot, "tpLevel", tpName="Temp CPU", tpIndex="1") == 4

    # The rules on exactly these series: the temperature alert fires, with
    # the sensor's name; the power, group and reachability alerts do not.
    sensor = {"tpIndex": "1", "tpName": "Temp CPU"}
    rule_test(tmp_path, hot, {
        "VlmTemperatureOutOfRange": [{
            "labels": dict(sensor, severity="warning"),
            "annotations": {
                "summary": "Temperature Temp CPU on board is above High",
                "description": "Sensor Temp CPU (tpIndex 1) is at level 4 (3 below Low, 4 above High); "
                               "see tpValue, tpHigh, tpLow."}}],
        "VlmTemperatureCritical": [],
        "VlmVoltageOutOfRange": [],
        "VlmVoltageCritical": [],
        "VlmSensorUnavailable": [],
        "VlmPowerInputFailed": [],
        "VlmPowerInputSensorFailed": [],
        "VlmGroupNotOk": [],
        "VlmAgentNotAnswering": [],
        "VlmBoardUnreachable": [],
        "VlmDiskSmartAttributeFailing": [],
    })

    # The agent gone: snmpd still answers, the exporter too (HTTP 200), but
    # no object of the agent comes back, which VlmAgentNotAnswering watches.
    board.stop_agent()
    status, body = scrape(board)
    assert status == 200, body
    gone = parse_exposition(body)
    assert one(gone, "snmp_scrape_pdus_returned") == 0
    assert series(gone, "tpValue") == []


TP_VALUE_1 = ENTERPRISE + ".200.2.1.2.1.4.1"   # tpValue of the first temperature row
PWR_STATE = ENTERPRISE + ".200.2.8.2.0"


@pytest.mark.time_limit(60)
def test_exporter_shows_the_entity_sensors_by_name(live_board, tmp_path):
    """The ENTITY-SENSOR view through the same module: a sample of
    entPhySensorValue (thousandths, signed) for every sensor of the agent's
    tables with the sensor's name, a power input's status sensor at 2 when
    the input fails, and the power alerts firing on that scrape."""
    need(EXPORTER, PROMTOOL)
    board = live_board
    start_exporter(board)
    board.set_sensor("Temp CPU", -5.5)
    board.set_psu_inputs("10")    # input 2 failed
    wait_until("the temperature read", lambda: (value(board, TP_VALUE_1) or b"").strip() == b"-5.5")
    wait_until("the power input judged", lambda: value(board, PWR_STATE) == 2)

    status, body = scrape(board)
    assert status == 200, body
    samples = parse_exposition(body)
    sensors = {}
    for base, table, name_col in ((1000, ".200.2.1.2", 2), (2000, ".200.2.2.2", 2), (3000, ".200.2.6.2", 2)):
        column = ENTERPRISE + table + ".1.%d" % name_col
        for vb in board.snmpwalk(column):
            if vb.oid.startswith(column + "."):
                sensors[str(base + int(vb.oid.split(".")[-1]))] = vb.value.decode()
    assert sensors
    for index, name in sensors.items():
        assert series(samples, "entPhySensorValue", entPhysicalIndex=index, entPhysicalName=name), (index, name)
    assert one(samples, "entPhySensorValue", entPhysicalIndex="1001", entPhysicalName="Temp CPU") == -5500
    assert one(samples, "entPhySensorType_info", entPhysicalIndex="1001", entPhySensorType="celsius") == 1
    assert one(samples, "entPhySensorScale_info", entPhysicalIndex="1001", entPhySensorScale="milli") == 1
    # The rest of the inventory: the board, the inputs, the disks.
    assert one(samples, "entPhysicalClass", entPhysicalIndex="1") == 3
    assert one(samples, "entPhysicalClass", entPhysicalIndex="4002") == 6
    assert one(samples, "entPhysicalContainedIn", entPhysicalIndex="4102") == 4002
    assert one(samples, "entPhysicalClass", entPhysicalIndex="5001") == 15
    assert one(samples, "entPhySensorValue", entPhysicalIndex="4101") == 1
    failed = [(ls, v) for n, ls, v in samples if n == "entPhySensorValue" and ls["entPhysicalIndex"] == "4102"]
    assert len(failed) == 1 and failed[0][1] == 2, failed
    input_labels = failed[0][0]
    name = input_labels["entPhysicalName"]
    assert name == "Power input 2 good"

    rule_test(tmp_path, samples, {
        "VlmPowerInputFailed": [{
            "labels": {"severity": "critical"},
            "annotations": {
                "summary": "A power-supply input of board failed",
                "description": "pwrState is 2 (inputFailed): at least one of the two inputs is not good; "
                               "the ENTITY view names it (entPhySensorValue 2 of its status sensor)."}}],
        "VlmPowerInputSensorFailed": [{
            "labels": dict(input_labels, severity="critical"),
            "annotations": {
                "summary": 'Power-supply status sensor "%s" of board is false' % name,
                "description": "The truth-value sensor %s (entPhysicalIndex 4102) is 2 (false): "
                               "that input failed." % name}}],
        "VlmTemperatureOutOfRange": [],
        "VlmTemperatureCritical": [],
        "VlmSensorUnavailable": [],
    })
