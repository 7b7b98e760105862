# SPDX-License-Identifier: BSD-3-Clause
"""What every part of the simulated board shares: where the repository and
the entry script are, the agent's configuration file and usage text, the
board's error, and how a board file is replaced in one step."""

import os
import xml.etree.ElementTree as ET
from pathlib import Path
from typing import Dict, Tuple, Union

TOOLS = Path(__file__).resolve().parent.parent
REPO = TOOLS.parent
# The entry script: the board's holder and the libsensors check run it inside
# the board ("simboard.py _holder ...", "simboard.py _libsensors").
SCRIPT = TOOLS / "simboard.py"

AGENT_APP_NAME = "vlm-SNMP-subagent-demon"
CONFIG_NAME = "vlmSNMPsubagent.xml"
FACTORY_CONFIG = REPO / "config" / CONFIG_NAME

# The seven lines the agent prints (with puts) for a wrong argument count.
USAGE_TEXT = (
    "\n" + "*" * 64 + "\n"
    'Please make sure the parameter is "/dev/tty* /dev/tty* /dev/tty* /dev/tty*".\n'
    "The first node and the third node is base device node.\n"
    "The second node and the  node is an operable mobile broadband device node.\n"
    "Example:\n"
    "/usr/local/sbin/vlm_subagent /dev/ttyACM0 /dev/ttyACM2 /dev/ttyACM7 /dev/ttyACM9\n"
    + "*" * 66 + "\n" + "\n"
)


class BoardError(Exception):
    pass


class _Factory:
    def __repr__(self):
        return "FACTORY"


FACTORY = _Factory()  # "use the repository's factory configuration file"

# ---------------------------------------------------------------------------
# The agent's XML configuration: a <subtype id="GROUP"/> marker followed by
# the group's <detail name="KEY">VALUE</detail> elements.


def config_detail(text: Union[str, bytes], group: str, key: str) -> str:
    """Value of `key` in `group`; KeyError when the file has no such detail."""
    root = ET.fromstring(text)
    current = None
    for el in root.iter():
        if el.tag == "subtype":
            current = el.get("id")
        elif el.tag == "detail" and current == group and el.get("name") == key:
            return el.text or ""
    raise KeyError("%s/%s" % (group, key))


def config_with(text: Union[str, bytes], changes: Dict[Tuple[str, str], str]) -> str:
    """`text` with the given (group, key) details set to new values."""
    root = ET.fromstring(text)
    todo = dict(changes)
    current = None
    for el in root.iter():
        if el.tag == "subtype":
            current = el.get("id")
        elif el.tag == "detail" and (current, el.get("name")) in todo:
            el.text = todo.pop((current, el.get("name")))
    if todo:
        raise KeyError("no such details: %r" % sorted(todo))
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + ET.tostring(root, encoding="unicode") + "\n"


def factory_config() -> str:
    if not FACTORY_CONFIG.exists():
        raise BoardError("factory configuration %s is missing" % FACTORY_CONFIG)
    return FACTORY_CONFIG.read_text()


def _replace_file(path: Path, content: Union[str, bytes], mode: int):
    """Replaces `path` in one step: the new content is written aside (a name
    starting with a dot, which libsensors does not take for an attribute),
    given `mode`, then renamed over it."""
    data = content.encode() if isinstance(content, str) else content
    tmp = path.with_name(".%s.new" % path.name)
    with open(tmp, "wb") as f:
        f.write(data)
    os.chmod(tmp, mode)
    os.replace(tmp, path)
