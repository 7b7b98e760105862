# SPDX-License-Identifier: BSD-3-Clause
"""The board's hardware-monitor chip in /sys/class/hwmon, as the agent reads
it through libsensors, and libsensors' own report of it."""

import ctypes
import json
import os
import shutil
import stat
import sys
from pathlib import Path
from typing import Dict, List, NamedTuple, Optional, Sequence, Tuple, Union

from .common import SCRIPT, BoardError, _replace_file

# The board's hardware-monitor chip as its driver shows it in sysfs: one hwmon
# device named "vlmhwmon" with labelled inputs. Readings are given here in the
# units the agent serves (degrees Celsius, volts, amperes); sysfs holds them
# in thousandths.
HWMON_CHIP = "vlmhwmon"
HWMON_KINDS = ("in", "temp", "curr")   # libsensors lists its features in this order


class Sensor(NamedTuple):
    kind: str                     # "temp", "in" (voltage) or "curr": the sysfs prefix
    label: str
    value: Union[float, str]      # reading in degrees C, V or A; a str goes into sysfs as is
    number: Optional[int] = None  # channel: temp1, in0 ...; None: the next free one


# Labels as the factory configuration names its groups.
DEFAULT_SENSORS = (
    Sensor("temp", "Temp CPU", 45.0),
    Sensor("in", "VIN", 12.0), Sensor("in", "5VSB", 5.0), Sensor("in", "VBAT", 3.0),
    Sensor("in", "VCORE", 1.1), Sensor("in", "12V", 12.0),
    Sensor("curr", "Current", 1.5),
)


def _sysfs_reading(value: Union[float, str]) -> str:
    """A reading as a hwmon input file holds it: thousandths, one line."""
    if isinstance(value, str):
        return value
    return "%d\n" % round(value * 1000)


# ---------------------------------------------------------------------------
# libsensors read through ctypes, as `simboard.py _libsensors` runs it inside
# a board: the stand-in is checked against the real library.

_SENSORS_FEATURE_IN, _SENSORS_FEATURE_TEMP, _SENSORS_FEATURE_CURR = 0, 2, 5


def _libsensors_report() -> List[dict]:
    lib = ctypes.CDLL("libsensors.so.5")

    class BusId(ctypes.Structure):
        _fields_ = [("type", ctypes.c_short), ("nr", ctypes.c_short)]

    class ChipName(ctypes.Structure):
        _fields_ = [("prefix", ctypes.c_char_p), ("bus", BusId), ("addr", ctypes.c_int),
                    ("path", ctypes.c_char_p)]

    class Feature(ctypes.Structure):
        _fields_ = [("name", ctypes.c_char_p), ("number", ctypes.c_int), ("type", ctypes.c_int),
                    ("first_subfeature", ctypes.c_int), ("padding1", ctypes.c_int)]

    class Subfeature(ctypes.Structure):
        _fields_ = [("name", ctypes.c_char_p), ("number", ctypes.c_int), ("type", ctypes.c_int),
                    ("mapping", ctypes.c_int), ("flags", ctypes.c_uint)]

    chip_p, feature_p = ctypes.POINTER(ChipName), ctypes.POINTER(Feature)
    lib.sensors_init.argtypes = [ctypes.c_void_p]
    lib.sensors_get_detected_chips.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int)]
    lib.sensors_get_detected_chips.restype = chip_p
    lib.sensors_get_features.argtypes = [chip_p, ctypes.POINTER(ctypes.c_int)]
    lib.sensors_get_features.restype = feature_p
    lib.sensors_get_label.argtypes = [chip_p, feature_p]
    lib.sensors_get_label.restype = ctypes.c_void_p
    lib.sensors_get_subfeature.argtypes = [chip_p, feature_p, ctypes.c_int]
    lib.sensors_get_subfeature.restype = ctypes.POINTER(Subfeature)
    lib.sensors_get_value.argtypes = [chip_p, ctypes.c_int, ctypes.POINTER(ctypes.c_double)]
    lib.sensors_strerror.restype = ctypes.c_char_p
    libc = ctypes.CDLL(None)
    libc.free.argtypes = [ctypes.c_void_p]

    err = lib.sensors_init(None)
    if err:
        raise BoardError("sensors_init: %s" % lib.sensors_strerror(err).decode())
    chips = []
    try:
        nr = ctypes.c_int(0)
        while True:
            chip = lib.sensors_get_detected_chips(None, ctypes.byref(nr))
            if not chip:
                break
            features = []
            fnr = ctypes.c_int(0)
            while True:
                feature = lib.sensors_get_features(chip, ctypes.byref(fnr))
                if not feature:
                    break
                ftype = feature.contents.type
                raw = lib.sensors_get_label(chip, feature)
                label = None
                if raw:
                    label = ctypes.string_at(raw).decode(errors="replace")
                    libc.free(raw)
                value = error = None
                if ftype in (_SENSORS_FEATURE_IN, _SENSORS_FEATURE_TEMP, _SENSORS_FEATURE_CURR):
                    sub = lib.sensors_get_subfeature(chip, feature, ftype << 8)  # the input
                    if sub:
                        out = ctypes.c_double()
                        rc = lib.sensors_get_value(chip, sub.contents.number, ctypes.byref(out))
                        if rc == 0:
                            value = out.value
                        else:
                            error = -rc
                features.append({"name": feature.contents.name.decode(), "type": ftype,
                                 "label": label, "value": value, "error": error})
            chips.append({"prefix": chip.contents.prefix.decode(),
                          "path": (chip.contents.path or b"").decode(), "features": features})
    finally:
        lib.sensors_cleanup()
    return chips


class HwmonMixin:
    """Board methods for the hwmon chips and their sensors."""

    # -- the hardware-monitor chip (libsensors' view of /sys/class/hwmon) -----
    #
    # The board's /sys/class is a directory of its own: every class of the
    # host is bound back into it, except hwmon, which holds only the chips
    # made here. libsensors finds a hwmon device without a "device" link as a
    # virtual chip named by its "name" file, with one feature per channel
    # that has an input file (in0_input, temp1_input, curr1_input ...), its
    # label from CHANNEL_label. libsensors drops the last character of a
    # label file (the driver's newline), so every label is written with one.
    # The agent initialises libsensors in every cycle, so every change below
    # is seen at its next cycle.

    @property
    def hwmon_dir(self) -> Path:
        """Host directory the board sees as /sys/class/hwmon."""
        return self._standin_path("/sys/class") / "hwmon"

    def _make_sys_class(self) -> List[List[str]]:
        """The board's /sys/class: the host's classes bound into a board
        directory (hwmon left out), that directory then bound, with those
        mounts, over /sys/class. Returns the holder's bind list."""
        tree = self._standin_path("/sys/class")
        tree.mkdir()
        binds = []
        for entry in sorted(os.listdir("/sys/class")):
            if entry == "hwmon" or not os.path.isdir(os.path.join("/sys/class", entry)):
                continue
            (tree / entry).mkdir()
            binds.append([os.path.join("/sys/class", entry), str(tree / entry)])
        (tree / "hwmon").mkdir()
        binds.append([str(tree), "/sys/class", "rbind"])
        return binds

    def chips(self) -> Dict[str, str]:
        """The board's hwmon devices: {"hwmon0": "vlmhwmon", ...}."""
        out = {}
        for d in sorted(self.hwmon_dir.iterdir()):
            try:
                out[d.name] = (d / "name").read_text().strip()
            except OSError:
                pass
        return out

    def add_chip(self, name: str = HWMON_CHIP, sensors: Sequence[Sensor] = DEFAULT_SENSORS) -> str:
        """A new hwmon device (the next free hwmonN) named `name` with
        `sensors`; it appears whole (built aside, then renamed into place).
        Returns its directory name."""
        n = 0
        while (self.hwmon_dir / ("hwmon%d" % n)).exists():
            n += 1
        staging = self.root / "files" / (".hwmon%d.new" % n)
        staging.mkdir()
        (staging / "name").write_text(name + "\n")
        for sensor in sensors:
            self._write_sensor(staging, sensor)
        os.rename(staging, self.hwmon_dir / ("hwmon%d" % n))
        return "hwmon%d" % n

    def remove_chip(self, chip: Optional[str] = None):
        """Takes a hwmon device away at once (default: the vlmhwmon chip)."""
        path = self._chip_path(chip)
        gone = self.root / "files" / (".%s.gone" % path.name)
        shutil.rmtree(gone, ignore_errors=True)
        os.rename(path, gone)
        shutil.rmtree(gone, ignore_errors=True)

    def _chip_path(self, chip: Optional[str]) -> Path:
        if chip is not None:
            return self.hwmon_dir / chip
        for d, name in self.chips().items():
            if name == HWMON_CHIP:
                return self.hwmon_dir / d
        raise BoardError("the board has no %s chip" % HWMON_CHIP)

    @staticmethod
    def _write_sensor(chip_dir: Path, sensor: Sensor) -> str:
        if sensor.kind not in HWMON_KINDS:
            raise ValueError("unknown sensor kind %r" % sensor.kind)
        number = sensor.number
        if number is None:
            number = 0 if sensor.kind == "in" else 1
            while (chip_dir / ("%s%d_input" % (sensor.kind, number))).exists():
                number += 1
        channel = "%s%d" % (sensor.kind, number)
        if (chip_dir / (channel + "_input")).exists():
            raise BoardError("%s already has %s" % (chip_dir.name, channel))
        # The label first: the feature exists from its input file on.
        _replace_file(chip_dir / (channel + "_label"), sensor.label + "\n", 0o444)
        _replace_file(chip_dir / (channel + "_input"), _sysfs_reading(sensor.value), 0o444)
        return channel

    def _channel(self, sensor: str, chip: Optional[str]) -> Tuple[Path, str]:
        """(chip directory, channel) of the input labelled `sensor`, or
        of the channel named `sensor` ("temp1", "in3" ...)."""
        path = self._chip_path(chip)
        if (path / (sensor + "_input")).exists():
            return path, sensor
        for label_file in sorted(path.glob("*_label")):
            channel = label_file.name[:-len("_label")]
            if label_file.read_text()[:-1] == sensor and (path / (channel + "_input")).exists():
                return path, channel
        raise KeyError("no sensor %r on %s" % (sensor, path.name))

    def sensors(self, chip: Optional[str] = None) -> List[Sensor]:
        """The inputs of a chip as sysfs has them, in libsensors' order
        (voltages, temperatures, currents; each by channel number)."""
        path = self._chip_path(chip)
        found = []
        for f in path.glob("*_input"):
            channel = f.name[:-len("_input")]
            kind = channel.rstrip("0123456789")
            if kind not in HWMON_KINDS:
                continue
            try:
                label = (path / (channel + "_label")).read_text()[:-1]
            except OSError:
                label = channel
            raw = f.read_text().strip()
            try:
                value: Union[float, str] = int(raw) / 1000
            except ValueError:
                value = raw
            found.append(Sensor(kind, label, value, int(channel[len(kind):])))
        return sorted(found, key=lambda s: (HWMON_KINDS.index(s.kind), s.number))

    def set_sensor(self, sensor: str, value: Union[float, str], chip: Optional[str] = None):
        """A new reading of the input labelled `sensor` (or of channel
        `sensor`) in degrees C, V or A, while the agent runs; a str is written
        into the input file as is. The file is replaced in one step (rename),
        keeping its mode, so that a reader finds the old or the new reading."""
        path, channel = self._channel(sensor, chip)
        target = path / (channel + "_input")
        _replace_file(target, _sysfs_reading(value), stat.S_IMODE(target.stat().st_mode))

    def set_sensor_readable(self, sensor: str, readable: bool = True, chip: Optional[str] = None):
        """Unreadable: the input file loses its read permission, which
        libsensors takes as a subfeature it may not read (SENSORS_ERR_ACCESS_R)
        while the feature and its label stay."""
        path, channel = self._channel(sensor, chip)
        (path / (channel + "_input")).chmod(0o444 if readable else 0)

    def add_sensor(self, kind: str, label: str, value: Union[float, str],
                   number: Optional[int] = None, chip: Optional[str] = None) -> str:
        """A new input on a chip; returns its channel ("in5" ...)."""
        return self._write_sensor(self._chip_path(chip), Sensor(kind, label, value, number))

    def remove_sensor(self, sensor: str, chip: Optional[str] = None) -> Sensor:
        """Takes an input away (its input file first, then its label);
        returns it, for add_sensor(*removed)."""
        path, channel = self._channel(sensor, chip)
        kind = channel.rstrip("0123456789")
        removed = [s for s in self.sensors(chip) if (s.kind, s.number) == (kind, int(channel[len(kind):]))][0]
        for suffix in ("_input", "_label"):
            (path / (channel + suffix)).unlink(missing_ok=True)
        return removed

    def remove_temperatures(self, chip: Optional[str] = None) -> List[Sensor]:
        """Takes every temperature input away; restore_temperatures() puts
        them back as they were."""
        removed = [self.remove_sensor("%s%d" % (s.kind, s.number), chip)
                   for s in self.sensors(chip) if s.kind == "temp"]
        self._removed_temperatures += removed
        return removed

    def restore_temperatures(self, chip: Optional[str] = None):
        for s in self._removed_temperatures:
            self.add_sensor(*s, chip=chip)
        self._removed_temperatures = []

    def libsensors(self) -> List[dict]:
        """What libsensors reports inside the board: one dict per chip,
        {"prefix", "path", "features": [{"name", "type", "label", "value",
        "error"}]}, "value" None and "error" the libsensors error number when
        the input cannot be read."""
        proc = self.exec([sys.executable, str(SCRIPT), "_libsensors"], check=True)
        return json.loads(proc.stdout)
