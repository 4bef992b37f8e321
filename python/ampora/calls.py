"""Exports on numpy arrays: ``call`` builds the records, the list and the
export's host arguments exactly as ampora-host does for one plan line, runs the
block phase (or the whole-record call) and returns the result."""

import difflib
import math
import re

import numpy as np

from . import _native

_INT32_MAX = 2**31 - 1
_MAX_PULSES = 100000
_LEAST_WINDOW = 4
_MIN_BUFFER = 64  # window buffers hold at least 64 entries
_MIN_PU_PARAMS = 16
_UNWRITTEN = 0x7FC0A3B5  # a quiet NaN with a payload no export computes
# The crossing trackers and cycle averages hold 0 until their first period.
_TRACKERS = ("ThreeSlots", "PeriodByPeriod", "PulseQueue", "Cycles")


def exports():
    """The names of every export, in ordinal order."""
    return list(_native.library().table.exports)


def describe(export):
    """An export's table entry: sources, arguments (with who fills them), window, curve, setting."""
    return dict(_entry(export))


def _entry(export):
    table = _native.library().table
    if export not in table.exports:
        near = difflib.get_close_matches(str(export), table.exports, n=3)
        raise ValueError(f"unknown export {export!r}" + (f"; did you mean {', '.join(near)}?" if near else ""))
    return table.exports[export]


def _camel(name):
    """fft_size -> fftSize; a name already in camel case is kept."""
    head, *rest = name.split("_")
    return head + "".join(w[:1].upper() + w[1:] for w in rest)


def _power_of_two(n):
    return n >= 2 and (n & (n - 1)) == 0


def _integer(export, name, value):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, np.integer, float, np.floating)) \
            or value != math.floor(value) or not -2**31 <= value <= _INT32_MAX:
        raise ValueError(f"{export}: {name} must be a 32-bit integer, not {value!r}")
    return int(value)


def _number(export, name, value):
    try:
        return float(value)
    except (TypeError, ValueError):
        raise ValueError(f"{export}: {name} must be a number, not {value!r}") from None


def _sources(export, entry, sources):
    """The source arrays, and the end of the computed stretch of those given
    as call(..., extent=True) gave them: a curve computed from curves is final
    only as far as they are."""
    arrays, final = [], []
    for k, s in enumerate(sources):
        if isinstance(s, tuple) and len(s) == 2 and isinstance(s[1], slice):
            s, stretch = s
            final.append(stretch.stop)
        try:
            a = np.ascontiguousarray(s, dtype=np.float32)
        except (TypeError, ValueError):
            raise ValueError(f"{export}: source {k} is not an array of numbers") from None
        if a.ndim != 1:
            raise ValueError(f"{export}: source {k} has {a.ndim} dimensions; give one array per channel")
        arrays.append(a)
    wanted = entry["sources"]
    if wanted >= 0 and len(arrays) != wanted:
        raise ValueError(f"{export} takes {wanted} source{'s' if wanted != 1 else ''}, given {len(arrays)}")
    if not arrays:
        raise ValueError(f"{export}: give the source arrays (sources=[...])")
    lengths = sorted({len(a) for a in arrays})
    if len(lengths) > 1:
        raise ValueError(f"{export}: the sources have different lengths {lengths}; every channel of a record "
                         "has one sample per position")
    if lengths[0] == 0:
        raise ValueError(f"{export}: the sources hold no samples")
    if lengths[0] > _INT32_MAX:
        raise ValueError(f"{export}: {lengths[0]} positions exceed the library's 32-bit positions")
    return arrays, min(final, default=lengths[0])


# The host arguments a call may set itself: the rates. Positions and lengths
# come from the arrays, so no call reads or writes past them.
_RATE_ARGUMENTS = ("samplesPerMs", "samplesPer20ms")


def _settings(export, entry, table, settings):
    """Splits keyword arguments into the export's own arguments, rate overrides,
    the per-unit parameters and target record fields; anything else is refused."""
    plan, overrides, fields, pu_params = {}, {}, {}, None
    arguments = {a["name"]: a for a in entry["arguments"]}
    for key, value in settings.items():
        name = key if key in arguments or key in table.named_fields else _camel(key)
        a = arguments.get(name)
        if a is not None and a["fromPlan"]:
            plan[name] = value
        elif a is not None and name in _RATE_ARGUMENTS:
            overrides[name] = value
        elif a is not None and a["type"] == "p":
            pu_params = [_number(export, name, v) for v in np.atleast_1d(value)]
        elif a is not None:
            raise ValueError(f"{export}: {name} is filled from the arrays and the block, not given")
        elif name in table.named_fields:
            fields[name] = value
        else:
            known = [n for n, a in arguments.items() if a["fromPlan"] or n in _RATE_ARGUMENTS or a["type"] == "p"]
            near = difflib.get_close_matches(name, known + list(table.named_fields), n=3)
            raise ValueError(f"{export}: unknown argument or record field {key!r}"
                             + (f"; did you mean {', '.join(near)}?" if near else ""))
    missing = [a["name"] for a in entry["arguments"] if a["fromPlan"] and a["name"] not in plan]
    if missing:
        raise ValueError(f"{export} needs {', '.join(missing)}")
    return plan, overrides, fields, pu_params


def _check_window(export, plan):
    # The library ends the process on a short window that is no power of two;
    # the host refuses every such length first, and so does this module.
    if "fftSize" in plan:
        n = plan["fftSize"]
        if n < _LEAST_WINDOW:
            raise ValueError(f"{export}: the window fftSize={n} is below {_LEAST_WINDOW}")
        if not _power_of_two(n):
            raise ValueError(f"{export}: the window fftSize={n} is not a power of two")
    if "windowSize" in plan and plan["windowSize"] < 1:
        raise ValueError(f"{export}: the window windowSize={plan['windowSize']} is below 1")


def _field_values(export, table, name, value):
    slots = table.named_fields[name]["slots"]
    values = list(np.atleast_1d(np.asarray(value, dtype=object)))
    if len(values) > slots:
        raise ValueError(f"{export}: {name} takes {slots} value{'s' if slots > 1 else ''}, given {len(values)}")
    return [_number(export, name, v) for v in values]


def _typed(export, a, value):
    return _integer(export, a["name"], value) if a["type"] == "i" else _number(export, a["name"], value)


def _unit_list(units, count):
    if units is None or isinstance(units, str):
        return [units or ""] * count
    units = list(units)
    if len(units) != count:
        raise ValueError(f"give one unit per source: {count} sources, {len(units)} units")
    return units


def call(export, sources, *, rate=None, block=1000, extent=False, unit="", source_units=None, source_fields=None,
         **settings):
    """Runs one export over whole-record arrays as ampora-host runs one plan line.

    export          an export name, e.g. "GetThreeLineP" (``exports()`` lists them).
    sources         the source channels, one 1-D array each, all of one length, in the
                    order the export names them (the plan line's ``from``); a curve may
                    be given as the (curve, slice) that extent=True returned.
    rate            samples per second; needed by the exports that take a rate
                    (samplesPerMs, samplesPer20ms are filled from it as the host does).
    block           positions per host block (the host's default 1000).
    extent          True: a block export returns (curve, slice) with the slice of
                    positions holding computed values, as the host reports them: not a
                    tracker's run-in before its first period, nor the tail whose last
                    window or period would need samples past the record's end.
    unit            the target record's unit text; source_units: one per source (or one
                    for all) — "kV" scales the trackers' presence threshold.
    source_fields   a list of dicts, record fields per source (e.g. PhaseShift).
    settings        the export's own arguments by name (fft_size= or fftSize=,
                    window_size=, refresh_extremes=, ...), record fields of the target
                    by name (CalcKind=1, HarmonicOrder=5, Scale=...), the rates to
                    override (samplesPerMs=, samplesPer20ms=), and puParams=[...] for
                    the voltage summaries. Positions and lengths (start, count,
                    totalSamples, ...) and work buffers are the host's to fill.

    The sources become records listed before the target, as recorded channels
    (their extremes and RMS filled in). Exports that read summary records
    (ChannelId + 36: GetAngleSum and the machine summaries) find none here and
    return as on a missing source; ampora.run runs them from a plan.

    A block export returns its curve as a numpy.float32 array of one value per
    position; a whole-record export returns a float. Bad input raises ValueError
    before the library is called.
    """
    line = _Line(export, sources, rate, block, unit, source_units, source_fields, settings)
    host = _native.HostChannels(line.table)
    try:
        one = _Run(host, line)
        result = one.go()
        if not (extent and line.entry["block"]):
            return result
        stretch = one.extent(result)
        return result, slice(stretch.start, min(stretch.stop, line.final))
    finally:
        host.release()


class _Line:
    """A call's input, checked as the host checks a plan line, and more: nothing
    reaches the library that could end the process or read outside an array."""

    def __init__(self, export, sources, rate, block, unit, source_units, source_fields, settings):
        self.table = _native.library().table
        self.entry = entry = _entry(export)
        self.arrays, self.final = _sources(export, entry, sources)
        self.n = len(self.arrays[0])
        plan, overrides, fields, self.pu_params = _settings(export, entry, self.table, settings)
        typed = {a["name"]: a for a in entry["arguments"]}
        self.plan = {name: _typed(export, typed[name], plan[name]) for name in typed if typed[name]["fromPlan"]}
        self.overrides = {name: _typed(export, typed[name], v) for name, v in overrides.items()}
        _check_window(export, self.plan)
        self.fields = {k: _field_values(export, self.table, k, v) for k, v in fields.items()}
        self.block = _integer(export, "block", block)
        if self.block < 1:
            raise ValueError(f"{export}: block must be at least 1 position, not {self.block}")
        self.rate = self._rate(export, rate)
        self.unit = unit
        self.units = _unit_list(source_units, len(self.arrays))
        self.source_fields = self._source_fields(export, source_fields)
        self.pulses = max(1.0, float(np.floor(self.fields.get("PulsesPerRev", [0.0])[0])))
        if entry["curve"] == "PulseQueue" and not self.pulses <= _MAX_PULSES:
            raise ValueError(f"{export}: PulsesPerRev must be between 1 and {_MAX_PULSES}")

    def _rate(self, export, rate):
        names = {a["name"] for a in self.entry["arguments"]}
        needed = names & {"samplesPerMs", "samplesPer20ms"} - set(self.overrides)
        if not needed:
            return None if rate is None else _number(export, "rate", rate)
        if rate is None:
            raise ValueError(f"{export} takes {', '.join(sorted(needed))}: give rate= in samples per second")
        rate = _number(export, "rate", rate)
        if not (rate > 0 and math.isfinite(rate)):
            raise ValueError(f"{export}: rate must be a positive number of samples per second, not {rate}")
        return rate

    def _source_fields(self, export, given):
        given = list(given or [])
        if len(given) > len(self.arrays):
            raise ValueError(f"{export}: source_fields has {len(given)} entries for {len(self.arrays)} sources")
        checked = []
        for fields in given:
            for name in fields or {}:
                if name not in self.table.named_fields:
                    near = difflib.get_close_matches(name, self.table.named_fields, n=3)
                    raise ValueError(f"{export}: unknown record field {name!r}"
                                     + (f"; did you mean {', '.join(near)}?" if near else ""))
            checked.append({k: _field_values(export, self.table, k, v) for k, v in (fields or {}).items()})
        return checked


class _Run:
    """One plan line's records, arguments and calls (tools/host_run.cpp)."""

    def __init__(self, host, line):
        self.host, self.line, self.entry, self.n = host, line, line.entry, line.n
        self.plan, self.overrides, self.rate = line.plan, line.overrides, line.rate
        self.window = max([_MIN_BUFFER] + [v for k, v in self.plan.items() if k == "fftSize"])
        self.sources = []
        for k, data in enumerate(line.arrays):
            record = host.add()
            address, array = host.memory.floats(self.n)
            array[:] = data
            host.unit(record, line.units[k])
            host.set(record, "Scale", 1.0)
            host.share_array(record, address, array)
            self.sources.append(record)
        self.target = self._target(line.unit, line.fields, line.pulses)
        # The sources' fields go in last, as the plan's `set` lines do.
        for record, extra in zip(self.sources, line.source_fields):
            for name, values in extra.items():
                for slot, v in enumerate(values):
                    host.set(record, name, v, slot)

    def _target(self, unit, fields, pulses):
        host = self.host
        target = host.add()
        # Windows read up to a window ahead and leading ramps write a quarter
        # window past the block: the result array has room for both.
        padding = 2 * max([_MIN_BUFFER] + [max(0, v) for v in self.plan.values() if isinstance(v, int)])
        self.results_address, self.results = host.memory.floats(self.n + padding)
        for name in ("SampleData", "ResultData", "SecondaryData"):
            host.set(target, name, self.results_address)
        if self.entry["readsOwnSamples"]:
            own = host.get(self.sources[0], "SampleData")
            host.set(target, "SampleData", own)
            host.set(target, "SecondaryData", own)
        host.unit(target, unit)
        host.set(target, "Scale", 1.0)
        host.set(target, "ResultMax", -math.inf)  # the running extremes start empty
        host.set(target, "ResultMin", math.inf)
        for name, values in fields.items():
            for slot, v in enumerate(values):
                host.set(target, name, v, slot)
        if not self.entry["readsOwnSamples"]:
            host.source_ids(target, [int(host.get(s, "ChannelId")) for s in self.sources])
        self.buffers = [host.memory.floats(self.window)[0]
                        for a in self.entry["arguments"] if a["type"] == "b"]
        self.pu_params = None
        if any(a["type"] == "p" for a in self.entry["arguments"]):
            given = self.line.pu_params or []
            self.pu_params, values = host.memory.floats(max(_MIN_PU_PARAMS, len(given)))
            values[:len(given)] = given
        if self.entry["curve"] == "PulseQueue":
            host.construct_queue(target, int(3 * pulses + 1))
        return target

    def arguments(self, start, count):
        values, buffers = [], iter(self.buffers)
        for a in self.entry["arguments"]:
            name = a["name"]
            if a["fromPlan"]:
                values.append(self.plan[name])
                continue
            v = 0
            if name == "start":
                v = start
            elif name in ("count", "length"):
                v = count
            elif name in ("recordEnd", "resultLength", "totalSamples"):
                v = self.n
            elif name == "lastPosition":
                v = self.n - 1
            elif name == "samplesPer20ms" and self.rate is not None:
                v = _lround(self.rate * 0.02)
            elif name == "samplesPerMs" and self.rate is not None:
                v = self.rate / 1000.0
            elif name == "buf":
                v = next(buffers)
            elif name == "puParams":
                v = self.pu_params
            values.append(self.overrides.get(name, v))
        return values

    def call(self, start, count):
        f = _native.library().function(self.entry["name"])
        if self.entry["records"]:
            leading = [_native.ctypes.addressof(r) for r in self.sources[:self.entry["records"]]]
            leading += [None] * (self.entry["records"] - len(leading))
        else:
            leading = [_native.ctypes.addressof(self.host.list), _native.ctypes.addressof(self.target)]
        return f(*leading, *self.arguments(start, count))

    def go(self):
        block = self.line.block
        if not self.entry["block"]:
            return float(self.call(0, self.n))
        carried = 0
        self.written_end = self.n
        for start in range(0, self.n, block):
            count = min(block, self.n - start)
            carried, (first, length) = self.stretch(carried, start, count)
            if length <= 0:
                continue
            # As the host: a last call from past position 0 (or any quarter-window
            # call) is watched for where it stops writing.
            if first + length == self.n and (first > 0 or self.entry["curve"] == "QuarterWindows"):
                self.written_end = self.watched_call(first, length)
            else:
                self.call(first, length)
        return self.results[:self.n].copy()

    def watched_call(self, first, length):
        """Calls over the record's last block and returns the end of what it wrote:
        the block's positions are marked beforehand and given back their earlier
        values afterwards where the export left them."""
        stretch = self.results[first:self.n]
        before = stretch.copy()
        stretch.view(np.uint32)[:] = _UNWRITTEN
        self.call(first, length)
        left = stretch.view(np.uint32) == _UNWRITTEN
        stretch[left] = before[left]
        written = np.flatnonzero(~left)
        return first + int(written[-1]) + 1 if len(written) else first

    def extent(self, values):
        """The positions holding computed values (host_run.cpp's CompletedEnd and TrackedStart)."""
        end = min(self.written_end, self.n)
        curve = self.entry["curve"]
        crossing = 0.0
        if curve == "ThreeSlots":
            crossing = self.host.get(self.target, "TrackState", 2)
        elif curve == "PeriodByPeriod":
            crossing = self.host.get(self.target, "TrackState", 0)
        elif curve == "PulseQueue":
            crossing = float(self.host.queue_entry(self.target, int(self.line.pulses))) - 1.0
        if crossing > 0.0:
            end = min(end, int(crossing) + 1)
        start = 0
        if curve in _TRACKERS:
            computed = np.flatnonzero(values[:end] != 0.0)
            start = int(computed[0]) if len(computed) else end
        return slice(start, end)

    def stretch(self, carried, start, count):
        """The positions the export is called over for one host block (host_run.cpp's StretchFor)."""
        end, n = start + count, self.n
        curve = self.entry["curve"]
        if curve == "QuarterWindows":
            q = max(1, self.plan.get("fftSize", 4) // 4)
            whole = n if end == n else carried + (end - carried) // q * q
            following = whole
            # From position 0 each window writes the quarter window below it, so
            # the last one is left for the next call, which writes from its start on.
            if carried == 0 and whole != n and whole > q:
                following = whole - q
            return following, (carried, whole - carried)
        if curve == "FromPreviousBlock":
            return start, (carried, end - carried)
        return carried, (start, count)


def _lround(x):
    """C's lround: halves away from zero."""
    return int(math.floor(abs(x) + 0.5)) * (1 if x >= 0 else -1)
