# SPDX-License-Identifier: BSD-3-Clause
"""The agent against failures around it: the master restarting under it, and
being killed (SIGKILL) while SETs rewrite its configuration file."""

import random
import threading
import time
import xml.etree.ElementTree as ET

import pytest

from simboard import ENTERPRISE, SYSINFO, config_detail
from snmpclient import SnmpTimeout

DEVICE_NAME = SYSINFO + ".2.0"
RECONNECT_LIMIT = 2.0  # seconds from the master answering to our objects answering
MASTER_REGISTRATIONS = "1.3.6.1.4.1.8072.1.2.1.1.4.0"  # nsModuleName, default context: .LEN.OID.PRIORITY


def master_regions(board):
    """The subtrees under our enterprise that the master has registered."""
    regions = []
    for vb in board.snmpwalk(MASTER_REGISTRATIONS):
        index = [int(x) for x in vb.oid.lstrip(".")[len(MASTER_REGISTRATIONS) + 1:].split(".")]
        name = ".".join(str(x) for x in index[1:1 + index[0]])
        if (name + ".").startswith(ENTERPRISE + "."):
            regions.append(name)
    return regions


def test_agent_reconnects_to_a_restarted_master(live_board):
    # Faults: the agent exiting or staying disconnected when snmpd goes away,
    # reconnecting too slowly, reconnecting only once, or losing its state;
    # its scalar groups and tables registered with the master one by one
    # again at a reconnection (a walk then pays an exchange at each of their
    # boundaries) instead of its one region; the entity view left out.
    live_board.snmpset((DEVICE_NAME, "s", "kept-across-restarts"))
    assert master_regions(live_board) == [ENTERPRISE]
    for _ in range(2):
        live_board.restart_snmpd()  # returns once snmpd answers its own objects
        waited = live_board.wait_agent(timeout=5)
        assert waited <= RECONNECT_LIMIT
        assert live_board.agent.running()
        assert live_board.get_value(DEVICE_NAME) == b"kept-across-restarts"
        assert master_regions(live_board) == [ENTERPRISE]
        # The standard entity view, outside our subtree, is registered again too.
        assert live_board.snmpgetnext("1.3.6.1.2.1.47")[0].oid.startswith("1.3.6.1.2.1.47.1.1.1.1.2.")


class SetStream(threading.Thread):
    """SETs the device name to fresh values, one after the other, recording
    every value sent and every value the agent acknowledged."""

    def __init__(self, board, round_no):
        super().__init__(daemon=True)
        self.client = board.client(community="private", timeout=0.5)
        self.round_no = round_no
        self.sent = []       # in order of sending
        self.acked = []      # values answered with noError, in order
        self.first_ack = threading.Event()
        self.stop = threading.Event()

    def run(self):
        try:
            n = 0
            while not self.stop.is_set() and n < 2000:
                value = "round-%02d-set-%04d" % (self.round_no, n)
                n += 1
                self.sent.append(value)
                try:
                    resp = self.client.set((DEVICE_NAME, "OCTET STRING", value.encode()))
                except SnmpTimeout:
                    continue
                if resp.error_status == 0:
                    self.acked.append(value)
                    self.first_ack.set()
        finally:
            self.client.close()


class FileReader(threading.Thread):
    """Reads the configuration file over and over, as another program on the
    board might, keeping the first read that is not a whole document."""

    def __init__(self, path):
        super().__init__(daemon=True)
        self.path = path
        self.reads = 0
        self.broken = None
        self.stop = threading.Event()

    def run(self):
        deadline = time.monotonic() + 60
        while not self.stop.is_set() and self.broken is None and time.monotonic() < deadline:
            try:
                data = self.path.read_bytes()
            except FileNotFoundError:  # between unlink and rename: not atomic either
                self.broken = b"(file missing)"
                break
            try:
                ET.fromstring(data)
            except ET.ParseError:
                self.broken = data
            self.reads += 1


@pytest.mark.time_limit(240)
def test_config_file_survives_kill_during_sets(live_board):
    # Faults: a file truncated or half-written when the agent dies (not
    # parseable, or the agent's next start fails), the file rewritten in
    # place (a concurrent reader sees a partial document), a SET acknowledged
    # before it reached the file (the file holds an older value after the kill).
    rng = random.Random(42424)
    reader = FileReader(live_board.config_path)
    reader.start()
    for round_no in range(50):
        stream = SetStream(live_board, round_no)
        stream.start()
        assert stream.first_ack.wait(5), "no SET was acknowledged"
        time.sleep(rng.uniform(0.01, 0.15))
        live_board.kill_agent()
        stream.stop.set()
        stream.join(5)
        assert not stream.is_alive()

        text = live_board.read_config()
        ET.fromstring(text)  # raises if the file was left broken
        on_disk = config_detail(text, "atSystem", "sysDeviceName")
        # The last acknowledged value, or one sent after it (its SET may have
        # reached the file before the kill cut off the answer); never older.
        allowed = stream.sent[stream.sent.index(stream.acked[-1]):]
        assert on_disk in allowed, (on_disk, stream.acked[-1])
        settled = on_disk

        live_board.start_agent()
        assert live_board.get_value(DEVICE_NAME) == settled.encode()
        assert reader.broken is None, reader.broken[:200]

    reader.stop.set()
    reader.join(5)
    assert reader.broken is None, reader.broken[:200]
    assert reader.reads > 100
