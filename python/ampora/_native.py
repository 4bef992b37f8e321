"""The native side: the built library, its export table, memory below 4 GiB,
and records and a channel list built the way ampora-host builds them.

The export table (``ampora_exports.json``) is written beside the library by
``ampora-export-table`` at build time from the export registry, the typed
declarations of ``ampora.h`` and the host program's own argument rules, so
this module restates no export, argument or record offset.
"""

import ctypes
import json
import math
import os

import numpy as np

_HERE = os.path.dirname(os.path.abspath(__file__))
# python/ampora -> the repository's native build.
_DEFAULT_BUILD = os.path.normpath(os.path.join(_HERE, "..", "..", "build", "native"))


def build_dir():
    """The native build folder: $AMPORA_BUILD_DIR, else build/native of this checkout."""
    return os.environ.get("AMPORA_BUILD_DIR", _DEFAULT_BUILD)


def host_program():
    return os.path.join(build_dir(), "tools", "ampora-host")


class Table:
    """The export table and the record layout, as the build wrote them."""

    def __init__(self, path):
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        self.exports = {e["name"]: e for e in data["exports"]}
        record = data["record"]
        self.record_size = record["hostRecordSize"]
        self.named_fields = record["namedFields"]
        self.host_fields = record["hostFields"]
        self.queue = record["crossingQueue"]


_C_TYPES = {"i": ctypes.c_int32, "d": ctypes.c_double, "f": ctypes.c_float,
            "b": ctypes.c_void_p, "p": ctypes.c_void_p}


class Library:
    """libampora.so through ctypes, every export typed from the table."""

    def __init__(self, directory):
        path = os.path.join(directory, "libampora.so")
        table = os.path.join(directory, "ampora_exports.json")
        for needed in (path, table):
            if not os.path.exists(needed):
                raise ImportError(f"ampora: {needed} is missing; build it with scripts/build "
                                  "(or set AMPORA_BUILD_DIR to a native build folder)")
        self.table = Table(table)
        self.dll = ctypes.CDLL(path)
        self.functions = {}

    def function(self, name):
        if name not in self.functions:
            entry = self.table.exports[name]
            leading = [ctypes.c_void_p] * (entry["records"] if entry["records"] else 2)
            f = getattr(self.dll, name)
            f.argtypes = leading + [_C_TYPES[a["type"]] for a in entry["arguments"]]
            f.restype = None if entry["block"] else ctypes.c_double
            self.functions[name] = f
        return self.functions[name]


_library = None


def library():
    global _library
    if _library is None:
        _library = Library(build_dir())
    return _library


# ---- Memory below 4 GiB ----
# The record's array fields hold 32-bit addresses on every build, so the arrays
# a record points to are mapped low: MAP_32BIT first (the second GiB), then the
# free stretches below 4 GiB by address hint, as hostkit/low_memory.h does.

_PROT_READ_WRITE = 0x1 | 0x2
_MAP_PRIVATE_ANONYMOUS = 0x02 | 0x20
_MAP_32BIT = 0x40
_MAP_FIXED_NOREPLACE = 0x100000
_FOUR_GIB = 1 << 32
_LOWEST_MAPPING = 1 << 16  # the usual vm.mmap_min_addr
_PAGE = os.sysconf("SC_PAGE_SIZE")

_libc = ctypes.CDLL(None, use_errno=True)
_libc.mmap.restype = ctypes.c_void_p
_libc.mmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_long]
_libc.munmap.restype = ctypes.c_int
_libc.munmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
_MAP_FAILED = ctypes.c_void_p(-1).value


def _map(hint, length, flags):
    p = _libc.mmap(hint, length, _PROT_READ_WRITE, _MAP_PRIVATE_ANONYMOUS | flags, -1, 0)
    if p is None or p == _MAP_FAILED:
        return None
    if p + length > _FOUR_GIB:
        _libc.munmap(p, length)
        return None
    return p


def _gaps_below_4gib():
    used = []
    with open("/proc/self/maps") as maps:
        for line in maps:
            begin, end = line.split()[0].split("-")
            used.append((int(begin, 16), int(end, 16)))
    gaps, start = [], _LOWEST_MAPPING
    for begin, end in sorted(used):
        if begin >= _FOUR_GIB:
            break
        if begin > start:
            gaps.append((start, begin))
        start = max(start, end)
    if start < _FOUR_GIB:
        gaps.append((start, _FOUR_GIB))
    return gaps


class LowMemory:
    """Zeroed arrays below 4 GiB, unmapped together by release()."""

    def __init__(self):
        self.mappings = []

    def bytes(self, n):
        length = max(1, -(-n // _PAGE)) * _PAGE
        p = _map(None, length, _MAP_32BIT)
        if p is None:
            for begin, end in _gaps_below_4gib():
                if end - begin >= length:
                    p = _map(begin, length, _MAP_FIXED_NOREPLACE)
                    if p is not None:
                        break
        if p is None:
            raise MemoryError(f"ampora: no room for {n} bytes below 4 GiB")
        self.mappings.append((p, length))
        return p

    def floats(self, n):
        p = self.bytes(4 * n)
        return p, np.ctypeslib.as_array((ctypes.c_float * max(n, 1)).from_address(p))[:n]

    def release(self):
        for p, length in self.mappings:
            _libc.munmap(p, length)
        self.mappings = []


# ---- The list and the records ----

class CNode(ctypes.Structure):
    pass


CNode._fields_ = [("next", ctypes.POINTER(CNode)), ("prev", ctypes.POINTER(CNode)), ("data", ctypes.c_void_p)]


class CPtrList(ctypes.Structure):
    _fields_ = [("vtable", ctypes.c_void_p), ("head", ctypes.POINTER(CNode)), ("tail", ctypes.POINTER(CNode)),
                ("count", ctypes.c_int), ("freeList", ctypes.POINTER(CNode)), ("blocks", ctypes.c_void_p),
                ("blockSize", ctypes.c_int)]


_FORMATS = {"d": "<d", "u": "<I", "f": "<f", "b": "<B"}
_SUMMARY_OFFSET = 36  # summary records sit at ChannelId + 36; ordinary ids skip those bands


def _next_ordinary_id(last):
    n = last + 1
    if ((n - 1) // _SUMMARY_OFFSET) % 2 == 1:
        n += _SUMMARY_OFFSET
    return n


class HostChannels:
    """A list and records as ampora-host builds them: each record zeroed past
    the fields the host fills, its arrays in low memory."""

    def __init__(self, table):
        self.table = table
        self.memory = LowMemory()
        self.records = []
        self.nodes = []
        self.list = CPtrList(None, None, None, 0, None, None, 10)
        self.last_id = 0

    def add(self):
        record = ctypes.create_string_buffer(self.table.record_size)
        self.last_id = _next_ordinary_id(self.last_id)
        self.set(record, "ChannelId", self.last_id)
        self.set(record, "ListIndex", len(self.records))
        node = CNode(None, self.list.tail, ctypes.addressof(record))
        if self.nodes:
            self.nodes[-1].next = ctypes.pointer(node)
        else:
            self.list.head = ctypes.pointer(node)
        self.list.tail = ctypes.pointer(node)
        self.list.count += 1
        self.records.append(record)
        self.nodes.append(node)
        return record

    def _field(self, name):
        if name in self.table.host_fields:
            return self.table.host_fields[name]
        return self.table.named_fields[name]

    def set(self, record, name, value, slot=0):
        f = self._field(name)
        at = f["offset"] + slot * (8 if f["type"] == "d" else 4)
        fmt = _FORMATS[f["type"]]
        dtype = np.dtype(fmt)
        np.frombuffer(record, dtype=np.uint8)[at:at + dtype.itemsize] = np.frombuffer(
            np.array(value, dtype=np.float64).astype(dtype).tobytes(), dtype=np.uint8)

    def get(self, record, name, slot=0):
        f = self._field(name)
        dtype = np.dtype(_FORMATS[f["type"]])
        return np.frombuffer(record, dtype=dtype, count=1, offset=f["offset"] + slot * dtype.itemsize)[0]

    def set_words(self, record, name, at, value):
        offset = self._field(name)["offset"] + at
        np.frombuffer(record, dtype=np.uint8)[offset:offset + 4] = np.frombuffer(
            np.array(value, dtype="<u4").tobytes(), dtype=np.uint8)

    def unit(self, record, text):
        data = text.encode() + b"\0"
        p = self.memory.bytes(len(data))
        ctypes.memmove(p, data, len(data))
        self.set(record, "UnitText", p)

    def source_ids(self, target, ids):
        p = self.memory.bytes(len(ids))
        ctypes.memmove(p, bytes(ids), len(ids))
        self.set(target, "SourceIds", p)
        self.set(target, "SourceByIndex", 0)

    def share_array(self, record, address, data):
        """A channel's array as its samples, results and secondary data, with its
        extremes and whole-record RMS as a recorder fills them."""
        for name in ("SampleData", "ResultData", "SecondaryData"):
            self.set(record, name, address)
        finite = data[np.isfinite(data)]
        top = bottom = data[0] if len(data) else np.float32(0)
        peak = np.float32(0)
        if len(finite):
            # std::max / std::min keep their first argument unless the other compares past it.
            high, low = finite.max(), finite.min()
            top = high if top < high else top
            bottom = low if low < bottom else bottom
            peak = max(peak, np.abs(finite).max())
        self.set(record, "FullScale", peak)
        self.set(record, "RatedValue", peak)
        self.set(record, "SampleMax", top)
        self.set(record, "SampleMin", bottom)
        self.set(record, "SummaryValue", _sequential_rms(data))

    def construct_queue(self, record, length):
        """The pulse tracker's crossing queue: length entries of 0.0 in a low array."""
        capacity = length + 1
        p, self.queue_storage = self.memory.floats(capacity)
        q = self.table.queue
        for key, value in (("storage", p), ("capacity", capacity), ("front", 0), ("count", length)):
            self.set_words(record, "CrossingQueue", q[key], value)

    def queue_entry(self, record, k):
        """Entry k from the queue's front (0 the oldest)."""
        offset = self._field("CrossingQueue")["offset"]
        words = np.frombuffer(record, dtype="<u4", count=12, offset=offset)
        q = self.table.queue
        front, capacity = words[q["front"] // 4], words[q["capacity"] // 4]
        return self.queue_storage[(int(front) + k) % int(capacity)]

    def release(self):
        self.memory.release()


def _sequential_rms(data):
    """The RMS as the host sums it: double squares added in position order."""
    if len(data) == 0:
        return 0.0
    squares = data.astype(np.float64) ** 2
    return math.sqrt(np.add.accumulate(squares)[-1] / len(data))
