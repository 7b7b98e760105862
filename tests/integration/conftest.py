# SPDX-License-Identifier: BSD-3-Clause
"""Fixtures of the integration tests: simulated boards (tools/simboard.py).

Every board is a fresh sandbox; a failed test's report carries the logs of
its boards. Each test is also cut off by an alarm, so none can hang the run;
a test that must outlast the default limit says so with
@pytest.mark.time_limit(SECONDS). Tests marked no_board need no board and
run without root too.
"""

import os
import signal
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import simboard  # noqa: E402

TEST_TIME_LIMIT = int(os.environ.get("VLM_TEST_TIME_LIMIT", "90"))  # seconds per test


def pytest_configure(config):
    config.addinivalue_line("markers", "time_limit(seconds): a longer time limit for this test than the "
                                       "default (VLM_TEST_TIME_LIMIT, %d s)" % TEST_TIME_LIMIT)
    config.addinivalue_line("markers", "no_board: the test needs no simulated board (runs without root)")


def pytest_collection_modifyitems(config, items):
    if os.geteuid() != 0:
        skip = pytest.mark.skip(reason="the simulated board needs root (namespaces, mounts)")
        for item in items:
            if item.get_closest_marker("no_board") is None:
                item.add_marker(skip)


@pytest.fixture(autouse=True)
def _time_limit(request):
    marker = request.node.get_closest_marker("time_limit")
    limit = max(TEST_TIME_LIMIT, marker.args[0]) if marker else TEST_TIME_LIMIT

    def expired(_signo, _frame):
        raise TimeoutError("test exceeded %d s" % limit)

    previous = signal.signal(signal.SIGALRM, expired)
    signal.setitimer(signal.ITIMER_REAL, limit)
    yield
    signal.setitimer(signal.ITIMER_REAL, 0)
    signal.signal(signal.SIGALRM, previous)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if report.when == "call" and report.failed:
        for board in getattr(item, "_vlm_boards", []):
            try:
                report.sections.append(("board " + str(board.root), board.describe()))
            except Exception as e:  # the report must not fail because a log is gone
                report.sections.append(("board", "cannot describe: %s" % e))


@pytest.fixture
def make_board(request):
    """make_board(**Board args) -> a started sandbox without SNMP processes."""
    boards = []
    request.node._vlm_boards = boards

    def make(**kwargs):
        board = simboard.Board(**kwargs)
        boards.append(board)
        return board.start()

    yield make
    for board in boards:
        board.close()


@pytest.fixture
def sandbox(make_board):
    """A board with nothing running: for agent runs that end by themselves."""
    return make_board()


@pytest.fixture
def board(make_board):
    """A board with snmptrapd and snmpd running; the test starts the agent."""
    b = make_board()
    b.start_trapd()
    b.start_snmpd()
    return b


@pytest.fixture
def live_board(board):
    """A board with the agent running on the factory configuration."""
    board.start_agent()
    return board
