#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""The simulated board's command line: demo, exec, plug, unplug, traps, list
(see `simboard.py --help`). The board itself is the package simboard/ beside
this script; the board's holder and its libsensors check run this script
inside the board too."""

import sys
from pathlib import Path

# The package beside this script, wherever it is started from.
sys.path.insert(0, str(Path(__file__).resolve().parent))
from simboard.cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main(sys.argv))
