"""Recordings as data: COMTRADE files read the way ampora-host reads them, and
``run``, which runs the host program on a recording and a plan and returns its
report and curves."""

import json
import os
import subprocess
import tempfile

import numpy as np

from . import _native

_BYTES_PER_ANALOG = {"BINARY": 2, "BINARY32": 4, "FLOAT32": 4}
_ANALOG_TYPES = {"BINARY": "<i2", "BINARY32": "<i4", "FLOAT32": "<f4"}
_HEADER_BYTES = 8  # sample number and time stamp, u32 each
_DIGITALS_PER_WORD = 16


class Recording:
    """A COMTRADE recording: ``names`` and ``units`` of its channels in file
    order (analog, then digital), ``samples`` one float32 array per channel,
    ``rate`` in samples per second, ``line_frequency`` in Hz, ``time`` in s."""

    def __init__(self, path, names, units, samples, rate, line_frequency, start_time):
        self.path, self.names, self.units, self.samples = path, names, units, samples
        self.rate, self.line_frequency, self.start_time = rate, line_frequency, start_time

    def __len__(self):
        return len(self.samples[0]) if self.samples else 0

    @property
    def time(self):
        return np.arange(len(self)) / self.rate

    def __getitem__(self, channel):
        """A channel by name, or by its number as ``ampora-host channels`` lists it (1 is the first)."""
        if isinstance(channel, (int, np.integer)):
            if not 1 <= channel <= len(self.names):
                raise ValueError(f"{self.path}: no channel #{channel}; it has {len(self.names)}")
            return self.samples[channel - 1]
        found = [k for k, name in enumerate(self.names) if name == channel]
        if len(found) != 1:
            problem = "holds twice; name it by number" if found else "has no channel"
            raise ValueError(f"{self.path} {problem} {channel!r} (channels: {', '.join(self.names)})")
        return self.samples[found[0]]


def _fields(line):
    return [f.strip() for f in line.split(",")]


def _number(path, text, what):
    try:
        return float(text)
    except ValueError:
        raise ValueError(f"{path}: {what} {text!r} is not a number") from None


def _config(path):
    with open(path, encoding="latin-1") as f:
        lines = [line.rstrip("\r\n") for line in f]
    at = iter(lines)
    try:
        next(at)  # station and revision year
        total, analog, digital = _fields(next(at))[:3]
        analogs, digitals = int(analog.rstrip("Aa")), int(digital.rstrip("Dd"))
        channels = []
        for k in range(analogs + digitals):
            f = _fields(next(at))
            if k >= analogs:
                channels.append({"name": f[1], "unit": "", "digital": True})
                continue
            factor = 1.0
            if len(f) >= 13 and f[12] and f[12][0].upper() == "S":
                factor = _number(path, f[10], "the primary factor") / _number(path, f[11], "the secondary factor")
            channels.append({"name": f[1], "unit": f[4], "digital": False, "a": _number(path, f[5], "the multiplier a"),
                             "b": _number(path, f[6], "the offset b"), "factor": factor})
        frequency = _fields(next(at))[0]
        rates = int(_fields(next(at))[0])
        for _ in range(max(rates, 1)):
            rate_text, last = _fields(next(at))[:2]
        start_time = next(at)
        next(at)  # trigger time
        kind = _fields(next(at))[0].upper()
    except (StopIteration, ValueError, IndexError) as e:
        raise ValueError(f"{path}: not a COMTRADE configuration this module reads ({e or 'too short'})") from None
    if kind not in ("ASCII", "BINARY", "BINARY32", "FLOAT32"):
        raise ValueError(f"{path}: unknown data file type {kind!r}")
    return {"channels": channels, "rate": _number(path, rate_text, "the sample rate"),
            "lineFrequency": float(frequency) if frequency else 0.0, "samples": int(last),
            "type": kind, "startTime": start_time}


def _scaled(c, raw, stored):
    # The host scales in double and stores float: (a * raw + b) * factor. The
    # curves it writes (FLOAT32, a = 1, b = 0) are taken as stored.
    if stored and c["a"] == 1.0 and c["b"] == 0.0 and c["factor"] == 1.0 and raw.dtype == np.float32:
        return raw.copy()
    return ((c["a"] * raw.astype(np.float64) + c["b"]) * c["factor"]).astype(np.float32)


def _data(cfg, dat, stored):
    channels, kind = cfg["channels"], cfg["type"]
    analogs = [c for c in channels if not c["digital"]]
    digitals = len(channels) - len(analogs)
    if kind == "ASCII":
        table = np.loadtxt(dat, delimiter=",", ndmin=2, dtype=np.float64)
        columns = [table[:, 2 + k] for k in range(len(channels))]
        return [(_scaled(c, x, False) if not c["digital"] else (x != 0).astype(np.float32))
                for c, x in zip(channels, columns)]
    words = -(-digitals // _DIGITALS_PER_WORD)
    fields = [("n", "<u4"), ("t", "<u4")] + [(f"a{k}", _ANALOG_TYPES[kind]) for k in range(len(analogs))] \
        + [(f"d{k}", "<u2") for k in range(words)]
    raw = np.fromfile(dat, dtype=np.dtype(fields))
    if cfg["samples"] > 0:
        if len(raw) < cfg["samples"]:
            raise ValueError(f"{dat}: the configuration announces {cfg['samples']} samples, the file holds {len(raw)}")
        raw = raw[:cfg["samples"]]
    out = [_scaled(c, raw[f"a{k}"], stored) for k, c in enumerate(analogs)]
    for bit in range(digitals):
        out.append(((raw[f"d{bit // 16}"] >> (bit % 16)) & 1).astype(np.float32))
    return out


def read_comtrade(path, *, _stored=False):
    """Reads a COMTRADE recording (``.cfg`` with its ``.dat``: ASCII, BINARY,
    BINARY32 or FLOAT32) into float32 arrays, scaled as ampora-host scales them
    (a x raw + b, times primary/secondary where the file states secondary values)."""
    cfg_path = path if path.lower().endswith(".cfg") else path + ".cfg"
    cfg = _config(cfg_path)
    samples = _data(cfg, cfg_path[:-4] + ".dat", _stored)
    names = [c["name"] for c in cfg["channels"]]
    units = [c["unit"] for c in cfg["channels"]]
    return Recording(cfg_path, names, units, samples, cfg["rate"], cfg["lineFrequency"], cfg["startTime"])


class Run:
    """What ampora-host wrote for one run.

    report   report.json as a dict (recording, warnings, channels)
    curves   every block curve as a numpy.float32 array, keyed by its plan name
    units    the curves' units by name
    rate     the rate the library saw, samples per second
    time     the curves' time axis in seconds (from the start of the loaded stretch)
    passed   False when a value the plan checks is out of its tolerance
    values   the reported figure of every computed channel, by plan name
    """

    def __init__(self, report, curves, passed):
        self.report, self.passed = report, passed
        self.curves = dict(zip(curves.names, curves.samples)) if curves else {}
        self.units = dict(zip(curves.names, curves.units)) if curves else {}
        self.rate = report["recording"]["rate"]
        self.time = report["recording"]["loaded"]["from"] + np.arange(len(curves) if curves else 0) / self.rate
        self.values = {c["name"]: c["value"] for c in report["channels"]}


_EXIT_DEVIATION = 1


def _span_text(span):
    if isinstance(span, str):
        return span
    start, end = span
    return f"{'' if start is None else repr(float(start))}:{'' if end is None else repr(float(end))}"


def run(recording, plan, *, span=None, resample=None, block=None, line_frequency=None, rate=None, library=None):
    """Runs ampora-host on a recording with a plan and returns a ``Run``.

    recording       a COMTRADE .cfg or a CSV file
    plan            a plan file, or the plan's text (a string with a newline)
    span            (from, to) in seconds, either may be None, or "FROM:TO"
    resample        "auto" (the host's default), "off", "track" or samples per cycle
    block, line_frequency, rate, library: the host's --block, --line-frequency, --rate, --library

    A recording or plan the host refuses raises ValueError with the host's message.
    """
    program = _native.host_program()
    if not os.access(program, os.X_OK):
        raise ValueError(f"ampora-host is not built at {program}: run scripts/build")
    if not os.path.exists(recording):
        raise ValueError(f"no recording {recording}")
    with tempfile.TemporaryDirectory(prefix="ampora-run-") as folder:
        plan_path = plan
        if "\n" in plan or not os.path.exists(plan):
            if "\n" not in plan and plan.strip().endswith(".plan"):
                raise ValueError(f"no plan file {plan}")
            plan_path = os.path.join(folder, "plan.plan")
            with open(plan_path, "w", encoding="utf-8") as f:
                f.write(plan)
        out = os.path.join(folder, "out")
        command = [program, "run", recording, "--plan", plan_path, "--out", out, "--quiet"]
        options = {"--span": None if span is None else _span_text(span),
                   "--resample": resample, "--block": block, "--line-frequency": line_frequency,
                   "--rate": rate, "--library": library or os.path.join(_native.build_dir(), "libampora.so")}
        for option, value in options.items():
            if value is not None:
                command += [option, str(value)]
        done = subprocess.run(command, capture_output=True, text=True)
        if done.returncode not in (0, _EXIT_DEVIATION) or not os.path.exists(os.path.join(out, "report.json")):
            message = done.stderr.strip().splitlines()
            raise ValueError(message[-1] if message else f"ampora-host exited with status {done.returncode}")
        with open(os.path.join(out, "report.json"), encoding="utf-8") as f:
            report = json.load(f)
        curves_cfg = os.path.join(out, "curves.cfg")
        curves = read_comtrade(curves_cfg, _stored=True) if os.path.exists(curves_cfg) else None
    return Run(report, curves, done.returncode == 0)
