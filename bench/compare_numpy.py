#!/usr/bin/python3
"""The library against the fastest numpy formulation of the same outputs.

Builds 10 s at 50 kS/s of six channels (U12, I1, U23, I2, U31, I3: 50 Hz drifting
by +-0.2 Hz, 5th and 7th harmonics, noise), runs every case through the C driver
ampora-compare (which calls the exports in host blocks and times only those
calls) and through numpy, checks that both give the same curve, alternates the
timed runs and prints a Markdown table: the range of the sweeps' medians.

    bench/compare_numpy.py [--sweeps 3] [--rounds 7] [--callgrind] [--case TEXT]
                           [--driver build/native/bench/ampora-compare]

numpy is Debian's python3-numpy (scripts/setup installs it); run with /usr/bin/python3.
"""
import argparse
import datetime
import os
import platform
import subprocess
import sys
import tempfile
import time

# One thread in the matrix products, as the library runs one: the comparison is core for core.
os.environ.setdefault('OPENBLAS_NUM_THREADS', '1')
os.environ.setdefault('OMP_NUM_THREADS', '1')

import numpy as np  # noqa: E402  (after the thread setting, which numpy reads when it loads)

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# The recording.
RATE = 50_000                 # samples per second
SECONDS = 10
MAINS_HZ = 50.0
DRIFT_HZ = 0.2                # the frequency swings by this much either way ...
DRIFT_PERIOD_S = 4.0          # ... over this period
PHASE_RMS_V = 230.0
PHASE_RMS_A = 10.0
CURRENT_LAG = 0.5236          # radians, 30 degrees
VOLTAGE_HARMONICS = ((5, 0.02, 0.0), (7, 0.01, 0.0))     # order, share of the fundamental, phase
CURRENT_HARMONICS = ((5, 0.08, -1.0), (7, 0.05, -0.7))
VOLTAGE_NOISE_V = 0.5
CURRENT_NOISE_A = 0.02
SEED = 22
# Per-source PhaseShift (radians) of U12, I1, U23, I2, U31, I3: every phasor is turned.
PHASE_SHIFT = (0.0, 0.002, 0.004, 0.006, 0.008, 0.010)
SCALE = 1.0                   # every target's Scale; CalcKind 1 (active power)

# The library's constants, as its exports use them.
RMS_SCALE = 0.7071067932881648
LINE_SCALE = 0.5773502795520422
THIRTY_DEGREES = 0.5235987901687622
REDUCED_POINTS = 64
HIGHEST_HARMONIC = 21
SEQUENCE_TURN = 0.8660253882408142
SPACE_VECTOR_SCALE = 0.6666666865348816
PRESENCE_SHARE = 0.009999999776482582
FREQUENCY_FULL_SCALE = 1000.0        # the driver's FullScale of U12
HOST_BLOCK = 8192                    # the driver's host block
WINDOW_SIZE_W200 = 1200              # GetThreeLinePEx: W = windowSize / 6
SKIP_AFTER_CROSSING = 9              # the tracker goes on 9 samples after a crossing it took
SLOWEST_SPAN_MS = 1500.0             # three periods longer than this are written as 0

# A truncated geometric series drops terms below this share of the values.
SERIES_CUTOFF = 1e-12
TARGET_BATCH_S = 0.1                 # each timed batch runs at least this long
CHUNK_BYTES = 1 << 20                # a chunk of windows' products fits the processor's L2 cache

F32 = np.float32


# ---------------------------------------------------------------- the recording

def build_signals():
    """The six channels as a (6, N) float32 array, rows U12, I1, U23, I2, U31, I3."""
    n = RATE * SECONDS
    t = np.arange(n) / RATE
    frequency = MAINS_HZ + DRIFT_HZ * np.sin(2 * np.pi * t / DRIFT_PERIOD_S)
    angle = 2 * np.pi * np.cumsum(frequency) / RATE
    rng = np.random.default_rng(SEED)

    def wave(rms, phase, harmonics):
        x = np.cos(phase)
        for order, share, shift in harmonics:
            x += share * np.cos(order * phase + shift)
        return np.sqrt(2) * rms * x

    phases = [angle - 2 * np.pi * k / 3 for k in range(3)]
    u = [wave(PHASE_RMS_V, p, VOLTAGE_HARMONICS) for p in phases]
    i = [wave(PHASE_RMS_A, p - CURRENT_LAG, CURRENT_HARMONICS) for p in phases]
    x = np.empty((6, n), F32)
    for k in range(3):
        x[2 * k] = u[k] - u[(k + 1) % 3] + rng.normal(0.0, VOLTAGE_NOISE_V, n)
        x[2 * k + 1] = i[k] + rng.normal(0.0, CURRENT_NOISE_A, n)
    return x


# ---------------------------------------------------------------- shared numpy steps

def series_taps(a):
    """Terms of a geometric series in a until they fall below SERIES_CUTOFF."""
    return max(1, int(np.ceil(np.log(SERIES_CUTOFF) / np.log(a))))


def anchors(values, a, first):
    """e[m] = a*e[m-1] + (1-a)*values[m] with e[-1] = first: the entry each ramp
    ends on, which the next ramp starts from. Solved as a convolution with the
    geometric taps (1-a)*a^k, truncated where a^k drops below SERIES_CUTOFF."""
    taps = (1.0 - a) * a ** np.arange(series_taps(a))
    e = np.convolve(values, taps)[:len(values)]
    e += first * a ** np.arange(1, len(values) + 1)
    return e


def ramp_walk(body, anchor, values, step, first_k=0):
    """The ramps of consecutive windows, in float32: window j writes
    body[j, k] = s + (values[j] - s) * step * (first_k + k) from its start s,
    the first from anchor and each next from the entry the previous one ended on."""
    q = body.shape[1]
    start = np.concatenate([[anchor], anchors(values, 1.0 - step * (first_k + q - 1), anchor)[:-1]])
    slope = ((values - start) * step).astype(F32)
    np.multiply(slope[:, None], np.arange(first_k, first_k + q, dtype=F32), out=body)
    body += start.astype(F32)[:, None]


def window_bins(x, fft_size, orders, windows, offset=0, points=None, dtype=F32):
    """Bins `orders` of the library's transform of the windows that begin at
    offset + j*q (q = fftSize/4, j = 0 .. windows-1) of each row of x (its
    64-point subsample of every (fftSize/64)-th sample above 64 points),
    unscaled: shape (rows, windows, 2*len(orders)), real values then imaginary.

    A window is four quarter-window blocks and consecutive windows share three.
    Each block is multiplied once, with the DFT row of the quarter its position
    modulo four blocks gives it (one matrix product per row of x and quarter),
    and a window adds its four blocks: a moving sum. Bin h of window j so
    carries the factor (-i)^(h*j), the same for every row; the exports' pair
    products and magnitudes do not see it."""
    points = points or min(fft_size, REDUCED_POINTS)
    stride = fft_size // points
    quarter = fft_size // 4
    block = points // 4
    blocks = windows + 3
    groups = -(-blocks // 4)
    rows = x.shape[0]
    width = 2 * len(orders)
    y = np.zeros((rows, groups * 4, block), dtype)
    y[:, :blocks] = x[:, offset:offset + blocks * quarter:stride].reshape(rows, blocks, block)
    angle = -2 * np.pi * np.outer(np.arange(points), orders) / points
    dft = np.concatenate([np.cos(angle), np.sin(angle)], axis=1).astype(dtype).reshape(4, block, width)
    products = np.empty((rows, groups, 4, width), dtype)
    np.matmul(y.reshape(rows, groups, 4, block).transpose(0, 2, 1, 3), dft, out=products.transpose(0, 2, 1, 3))
    products = products.reshape(rows, groups * 4, width)
    pairs = products[:, :-1] + products[:, 1:]
    return pairs[:, :windows] + pairs[:, 2:windows + 2]


def as_complex(bins):
    """The bins of one order as complex values, shape (rows, windows)."""
    return bins[..., 0].astype(np.float64) + 1j * bins[..., 1]


def line_power(bins, orders, points):
    """Window values of GetThreeLineP(All): the pair products of the three line
    voltages with their currents, turned back by 30 degrees, summed over the orders."""
    h = len(orders)
    shift = np.asarray(PHASE_SHIFT)
    phasor = 2.0 / points * RMS_SCALE
    # Constant factor of pair p at order h: both phasor scales, the sources' turns
    # -(PhaseShift*h) of voltage and (conjugated) current, the 30 degrees, Scale/sqrt(3).
    turn = np.exp(-1j * (np.outer(shift[0::2] - shift[1::2], orders) + THIRTY_DEGREES))
    weight = turn * phasor * phasor * SCALE * LINE_SCALE
    u = bins[0::2]
    i = bins[1::2]
    ur, ui, ir, ii = u[..., :h], u[..., h:], i[..., :h], i[..., h:]
    # Re(w * u * conj(i)) = Re(w) * (ur*ir + ui*ii) - Im(w) * (ui*ir - ur*ii)
    same = ur * ir + ui * ii
    cross = ui * ir - ur * ii
    wr = weight.real.astype(bins.dtype)[:, :, None]
    wi = weight.imag.astype(bins.dtype)[:, :, None]
    return (np.matmul(same, wr) - np.matmul(cross, wi)).sum(axis=0)[:, 0]


def trailing_curve(out, fft_size, first, values):
    """The trailing walk of one recording: the first window fills [0, fftSize);
    window j >= 1 at position fftSize + j*q ramps over the quarter before it."""
    q = fft_size // 4
    out[:fft_size] = first
    ramp_walk(out[fft_size:fft_size + len(values) * q].reshape(-1, q), first, values, 4.0 / fft_size)


def leading_curve(out, fft_size, first, values):
    """The leading walk: the first window fills [0, fftSize + q) (the first host
    block reaches past fftSize); window j >= 1 at fftSize + j*q ramps over the quarter from it."""
    q = fft_size // 4
    out[:fft_size + q] = first
    ramp_walk(out[fft_size + q:fft_size + q + len(values) * q].reshape(-1, q), first, values, 4.0 / fft_size)


def trailing_windows(n, fft_size, inclusive):
    """Windows after the first that a trailing walk over [0, n) visits."""
    q = fft_size // 4
    last = n if inclusive else n - 1
    return (last - fft_size) // q


# ---------------------------------------------------------------- the cases

def three_line_p(orders, dtype=F32):
    """GetThreeLineP (one order) or GetThreeLinePAll (orders 1 to 21). The windows
    go in chunks whose products stay in the processor's cache."""
    per_window = 6 * 2 * len(orders) * np.dtype(dtype).itemsize
    chunk = max(256, CHUNK_BYTES // per_window)

    def run(x, out, fft_size):
        n = x.shape[1]
        windows = trailing_windows(n, fft_size, inclusive=True) + 1
        points = min(fft_size, REDUCED_POINTS)
        q = fft_size // 4
        v = np.empty(windows)
        for first in range(0, windows, chunk):
            count = min(chunk, windows - first)
            bins = window_bins(x, fft_size, orders, count, offset=first * q, dtype=dtype)
            v[first:first + count] = line_power(bins, orders, points)
        trailing_curve(out, fft_size, v[0], v[1:])
    return run


def harmonic_value(order):
    """GetHarmonicValue of U12: one bin of the full-length transform per window, trailing ramps."""
    def run(x, out, fft_size):
        n = x.shape[1]
        windows = trailing_windows(n, fft_size, inclusive=False) + 1
        bins = window_bins(x[0:1], fft_size, [order], windows, points=fft_size, dtype=np.float64)[0]
        v = np.hypot(bins[:, 0], bins[:, 1]) * (2.0 / fft_size * RMS_SCALE)
        trailing_curve(out, fft_size, v[0], v[1:])
        # The last block holds the last entry from the last window position to the end.
        written = fft_size + (windows - 1) * (fft_size // 4)
        out[written:n] = out[written - 1]
    return run


def get_p(x, out, fft_size):
    """One pair (U12 with I1), the fundamental, no factor; leading ramps."""
    n = x.shape[1]
    q = fft_size // 4
    windows = (n - 1 - fft_size) // q + 1
    b = as_complex(window_bins(x[0:2], fft_size, [1], windows, dtype=np.float64))
    phasor = 2.0 / REDUCED_POINTS * RMS_SCALE
    weight = np.exp(-1j * (PHASE_SHIFT[0] - PHASE_SHIFT[1])) * phasor * phasor * SCALE
    v = (b[0] * np.conj(b[1]) * weight).real
    leading_curve(out, fft_size, v[0], v[1:])


def power_avg(x, out, fft_size):
    """The bin-1 RMS of U12; the window of position p ends at p, so windows after
    the first begin at j*q + 1."""
    n = x.shape[1]
    q = fft_size // 4
    scale = 2.0 / REDUCED_POINTS * RMS_SCALE
    first = np.abs(as_complex(window_bins(x[0:1], fft_size, [1], 1, dtype=np.float64))[0, 0]) * scale
    windows = (n - 1 - fft_size) // q
    v = np.abs(as_complex(window_bins(x[0:1], fft_size, [1], windows, offset=q + 1, dtype=np.float64))[0]) * scale
    leading_curve(out, fft_size, first, v)


def zh_part(x, out, fft_size):
    """Positive sequence of I1, I2, I3. Each host block ramps 1/fftSize of the way
    per element from the entry before it; the first block (from position 0)
    writes element 0 alone for its first window and leaves its last quarter to
    the host's fill, from which the second block's ramps start."""
    n = x.shape[1]
    q = fft_size // 4
    windows = n // q                    # window m at position m*q, every one with m*q + q <= n
    offsets = n // q - 4                # distinct windows: those at positions up to fftSize share offset 0
    b = as_complex(window_bins(x[1::2], fft_size, [1], offsets + 1, dtype=np.float64)) * (2.0 / REDUCED_POINTS * RMS_SCALE)
    turn = -0.5 + 1j * SEQUENCE_TURN
    w = np.abs(b[0] + turn * b[1] + np.conj(turn) * b[2]) / 3.0
    v = w[np.maximum(np.arange(windows) - 4, 0)]
    per_block = HOST_BLOCK // q
    # First host block: element 0; then elements 1 .. q-1; then q elements per window.
    out[0] = v[0]
    out[1:q] = v[0] + (v[1] - v[0]) * np.arange(1, q) / fft_size
    chain = v[2:per_block]
    ramp_walk(out[q:q + len(chain) * q].reshape(-1, q), float(out[q - 1]), chain, 1.0 / fft_size, first_k=1)
    # Later blocks: one walk, from the fill the first block left at HOST_BLOCK - 1.
    chain = v[per_block:]
    ramp_walk(out[HOST_BLOCK:HOST_BLOCK + len(chain) * q].reshape(-1, q), float(out[HOST_BLOCK - 1]), chain,
              1.0 / fft_size, first_k=1)


def three_line_p_ex(x, out, window_size):
    """Space-vector line power with its moving average. The angle of the
    (p', q') vector turned by 30 degrees and brought back with sin and cos is a
    fixed bilinear form: pv = u^T M i, with the Clarke rows a and b."""
    w = window_size // 6
    a = np.array([1.0, -0.5, -0.5])
    b = np.array([0.0, SEQUENCE_TURN, -SEQUENCE_TURN])
    c1 = LINE_SCALE * SPACE_VECTOR_SCALE * np.cos(THIRTY_DEGREES)
    c2 = LINE_SCALE * SPACE_VECTOR_SCALE * np.sin(THIRTY_DEGREES)
    m = (c1 * (np.outer(a, a) + np.outer(b, b)) + c2 * (np.outer(b, a) - np.outer(a, b))) * SCALE
    m = m.astype(F32)
    u0, i0, u1, i1, u2, i2 = x
    acc = u0 * (m[0, 0] * i0 + m[0, 1] * i1 + m[0, 2] * i2)
    acc += u1 * (m[1, 0] * i0 + m[1, 1] * i1 + m[1, 2] * i2)
    acc += u2 * (m[2, 0] * i0 + m[2, 1] * i1 + m[2, 2] * i2)
    total = acc.astype(np.float64)
    np.cumsum(total, out=total)
    n = x.shape[1]
    np.multiply(total[w:] - total[:-w], 1.0 / w, out=out[w:n], casting='same_kind')
    out[:w] = total[w - 1] / w


def record_level(x):
    """The crossing level the tracker takes from U12's record: halfway between the
    extremes the host keeps in SampleMax and SampleMin, as a float32."""
    return F32((float(x[0].max()) + float(x[0].min())) * 0.5)


def frequency_status(x, out, level):
    """GetFrequenceStatus on U12: rising crossings of the level from a shifted
    comparison and np.flatnonzero, interpolated positions rounded to float32 as
    the tracker stores them, the look-back test, the frequency over three
    periods and its ramp over the oldest of them, and the host blocks' tails.
    Crossings closer than the tracker's skip, and periods beyond its slowest,
    are not modelled (this recording has neither; the function says so if one has)."""
    s = x[0]
    n = s.shape[0]
    per_ms = RATE / 1000.0
    per_20ms = int(RATE / MAINS_HZ)
    threshold = FREQUENCY_FULL_SCALE * PRESENCE_SHARE
    look_back = int(per_ms * 0.5)
    above = s >= level
    i = np.flatnonzero(~above[:-1] & above[1:])
    lo = s[i].astype(np.float64)
    hi = s[i + 1].astype(np.float64)
    t = ((i + 1) - (hi - float(level)) / (hi - lo)).astype(F32)
    # A rising crossing counts only if no pair of the look-back samples before it falls.
    k = t.astype(np.int64)
    m = k[:, None] - np.arange(look_back)[None, :]
    valid = m >= 1
    mm = np.where(valid, m, 1)
    before = s[mm - 1]
    after = s[mm]
    falls = ((before >= level) & (after < level)) | ((before > level) & (after <= level))
    keep = ~np.any(falls & valid, axis=1)
    i = i[keep]
    t = t[keep].astype(np.float64)
    if np.any(np.diff(i) < SKIP_AFTER_CROSSING):
        raise RuntimeError('crossings closer than the tracker skips: not modelled here')
    span = t[3:] - t[:-3]
    if np.any(span > per_ms * SLOWEST_SPAN_MS):
        raise RuntimeError('a period beyond the slowest the tracker measures: not modelled here')
    # Presence: the largest and smallest sample over each three periods.
    edges = t.astype(np.int64) + 1
    high = np.maximum.reduceat(s, edges[:-1])
    low = np.minimum.reduceat(s, edges[:-1])
    high3 = np.maximum(np.maximum(high[:-2], high[1:-1]), high[2:])
    low3 = np.minimum(np.minimum(low[:-2], low[1:-1]), low[2:])
    present = (np.abs(high3) >= threshold) | (np.abs(low3) >= threshold)
    f = np.where(present, per_20ms * 150.0 / span, 0.0)          # f[j] at crossing j + 3
    # The fourth crossing fills from 0; each later one ramps over the oldest period.
    first_end = int(t[1]) + 1
    out[:first_end] = f[0]
    prev = f[:-1]
    value = f[1:]
    slope = np.where(value == 0.0, 0.0, (value - prev) * 3.0 / span[1:])
    origin = t[1:-3]
    starts = origin.astype(np.int64) + 1
    ends = t[2:-2].astype(np.int64) + 1
    base = np.where(value == 0.0, 0.0, prev + slope * (starts - origin))
    lengths = ends - starts
    # The periods differ by a few samples: ramps as rows of the longest, the rows' ends dropped.
    k = np.arange(lengths.max(), dtype=F32)
    rows = base.astype(F32)[:, None] + slope.astype(F32)[:, None] * k[None, :]
    out[starts[0]:ends[-1]] = rows[k[None, :] < lengths[:, None]]
    # Past the ramps only the host blocks' tails write: each block holds the
    # value of its newest crossing from after the crossing before it to its end.
    ramped = ends[-1]
    for start in range(ramped // HOST_BLOCK * HOST_BLOCK, n, HOST_BLOCK):
        end = min(start + HOST_BLOCK, n)
        newest = np.searchsorted(i, end - 2, side='right') - 1     # scanned pairs end at end - 1
        held = f[newest - 3] if newest >= 3 and start > 1 else 0.0
        out[max(int(t[newest - 1]) + 1, ramped):end] = held


# label, numpy function, its parameter (or a function of the recording giving it),
# the target's fill before the agreement run, and how numpy computes it.
CASES = [
    ('GetThreeLineP fftSize 1024', three_line_p([1], np.float64), 1024, np.nan,
     'the 64-point subsample as a strided view in quarter-window blocks; one matrix product of the blocks '
     'with the bin-1 rows of the four quarters; each window the moving sum of four blocks (float64); '
     'ramps broadcast over the quarter from anchors by a truncated geometric series (np.convolve)'),
    ('GetThreeLineP fftSize 256', three_line_p([1], np.float64), 256, np.nan, 'the same'),
    ('GetThreeLinePAll fftSize 1024', three_line_p(range(1, HIGHEST_HARMONIC + 1)), 1024, np.nan,
     'the same with the rows of orders 1 to 21 (float32), windows in chunks that stay in the cache'),
    ('GetThreeLinePAll fftSize 256', three_line_p(range(1, HIGHEST_HARMONIC + 1)), 256, np.nan, 'the same'),
    ('GetThreeLinePAll fftSize 64', three_line_p(range(1, HIGHEST_HARMONIC + 1)), 64, np.nan, 'the same'),
    ('GetThreeLinePEx W 200', three_line_p_ex, WINDOW_SIZE_W200, np.nan,
     'algebraic: the space-vector power turned by 30 degrees is a fixed 3x3 bilinear form of the six '
     'samples (float32); the moving average from a float64 cumsum'),
    ('GetFrequenceStatus', frequency_status, record_level, np.nan,
     'rising crossings from a shifted comparison and np.flatnonzero, positions rounded to float32 as the '
     'tracker keeps them; the look-back test on a gathered (crossings x 25) array; presence by '
     'maximum/minimum.reduceat; the ramps as rows of the longest period, broadcast, the rows\' ends dropped '
     'by a mask; the host blocks\' tails'),
    ('GetHarmonicValue fftSize 1024 order 1', harmonic_value(1), 1024, np.nan,
     'the single bin: quarter-window blocks (a reshape) times the bin row of each quarter in float64, '
     'windows as moving sums; magnitude by np.hypot'),
    ('GetHarmonicValue fftSize 8192 order 8', harmonic_value(8), 8192, np.nan, 'the same'),
    ('GetP fftSize 1024', get_p, 1024, np.nan, 'as GetThreeLineP on U12 and I1, leading ramps'),
    ('GetZHPart fftSize 1024', zh_part, 1024, 0.0,
     'as GetThreeLineP on I1, I2, I3, then the magnitude of P1 + a P2 + a^2 P3 over 3; each host block\'s '
     'geometric ramps '
     'from anchors by a truncated geometric series'),
    ('GetPowerAvg fftSize 1024', power_avg, 1024, np.nan,
     'as GetThreeLineP on U12, windows through their position; leading ramps'),
]
READ_BOUND = 'read bound: 24 bytes in, 4 out per position'


# ---------------------------------------------------------------- driver, timing, agreement

class Driver:
    """ampora-compare serving commands over a pipe."""

    def __init__(self, path, signals):
        self.args = [path, '--signals', signals, '--rate', str(RATE),
                     '--phase-shift', ','.join(repr(p) for p in PHASE_SHIFT), '--block', str(HOST_BLOCK)]
        self.proc = subprocess.Popen(self.args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def ask(self, line):
        self.proc.stdin.write(line + '\n')
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().strip()
        if answer.startswith('error') or not answer:
            raise RuntimeError(f'ampora-compare: {answer or "no answer"} to {line!r}')
        return answer

    def time(self, label, runs):
        return float(self.ask(f'time {runs} {label}'))

    def curve(self, label, fill, path):
        self.ask(f'write {"nan" if np.isnan(fill) else fill} {path} {label}')
        return np.fromfile(path, dtype=F32)

    def labels(self):
        listed = subprocess.run(self.args + ['--list'], capture_output=True, text=True, check=True).stdout
        return [line.split('\t')[0] for line in listed.splitlines()]

    def close(self):
        self.proc.stdin.close()
        self.proc.wait()


def agreement(library, ours):
    """The largest difference relative to the value (over the positions whose
    value is at least 1 % of the curve's peak) and relative to the peak, where
    the library wrote; and whether numpy wrote exactly the same positions."""
    written = ~np.isnan(library)
    same_positions = np.array_equal(written, ~np.isnan(ours))
    a = library[written].astype(np.float64)
    b = ours[written].astype(np.float64)
    peak = np.max(np.abs(a))
    large = np.abs(a) >= 0.01 * peak
    difference = np.abs(a - b)
    return float(np.max(difference[large] / np.abs(a[large]))), float(np.max(difference) / peak), same_positions


def numpy_seconds(run, x, out, param, runs):
    t0 = time.perf_counter()
    for _ in range(runs):
        run(x, out, param)
    return time.perf_counter() - t0


def measure(driver, x, label, run, param, rounds):
    """Median seconds per pass of the library and of numpy, the batches alternating."""
    n = x.shape[1]
    out = np.zeros(n + HOST_BLOCK, F32)
    single_lib = driver.time(label, 1)           # also the warm-up
    runs_lib = max(1, int(np.ceil(TARGET_BATCH_S / max(single_lib, 1e-9))))
    if run is None:
        return np.median([driver.time(label, runs_lib) / runs_lib for _ in range(rounds)]), None
    single_np = numpy_seconds(run, x, out, param, 1)
    runs_np = max(1, int(np.ceil(TARGET_BATCH_S / max(single_np, 1e-9))))
    lib, ours = [], []
    for _ in range(rounds):
        lib.append(driver.time(label, runs_lib) / runs_lib)
        ours.append(numpy_seconds(run, x, out, param, runs_np) / runs_np)
    return float(np.median(lib)), float(np.median(ours))


def callgrind_counts(driver, positions):
    """Instructions per position of each case from bench/callgrind.sh, on the
    first `positions` positions of the recording."""
    env = dict(os.environ, BENCH=' '.join(driver.args + ['--positions', str(positions)]))
    listing = subprocess.run([os.path.join(HERE, 'callgrind.sh')], env=env, cwd=ROOT,
                             capture_output=True, text=True, check=True).stdout
    counts = {}
    for line in listing.splitlines():
        head, _, _ = line.rpartition(' instructions/position')
        label, _, value = head.rstrip().rpartition(' ')
        counts[label.strip()] = float(value)
    return counts


def machine():
    model = platform.processor() or platform.machine()
    try:
        with open('/proc/cpuinfo') as info:
            for line in info:
                if line.startswith('model name'):
                    model = line.split(':', 1)[1].strip()
                    break
    except OSError:
        pass
    return f'{model}, {os.cpu_count()} cores'


def spread(values, digits):
    """'low–high' of the values at the given decimals, or one value when they agree."""
    low, high = f'{min(values):.{digits}f}', f'{max(values):.{digits}f}'
    return low if low == high else f'{low}–{high}'


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--driver', default=os.path.join(ROOT, 'build/native/bench/ampora-compare'))
    parser.add_argument('--rounds', type=int, default=7, help='alternating timed batches per side and sweep')
    parser.add_argument('--sweeps', type=int, default=3,
                        help='timings of every case, one after the other; the table gives their range')
    parser.add_argument('--callgrind', action='store_true', help='add instructions per position (slow)')
    parser.add_argument('--callgrind-positions', type=int, default=100_000)
    parser.add_argument('--case', default='', help='only the cases whose label contains this')
    args = parser.parse_args()

    x = build_signals()
    n = x.shape[1]
    cases = [(label, run, param(x) if callable(param) else param, fill, how)
             for label, run, param, fill, how in CASES + [(READ_BOUND, None, None, None, 'a C loop in the driver')]
             if args.case in label]
    with tempfile.TemporaryDirectory() as tmp:
        signals = os.path.join(tmp, 'signals.f32')
        x.tofile(signals)
        driver = Driver(args.driver, signals)
        known = driver.labels()
        for label, *_ in cases:
            if label not in known:
                sys.exit(f'ampora-compare has no case {label!r}')
        agreed = {}
        for label, run, param, fill, _ in cases:
            if run is None:
                continue
            library = driver.curve(label, fill, os.path.join(tmp, 'curve.f32'))
            ours = np.full(n + HOST_BLOCK, fill, F32)
            run(x, ours, param)
            agreed[label] = agreement(library, ours[:n])
            worst = agreed[label]
            print(f'{label}: differences {worst[0]:.1e} of the value, {worst[1]:.1e} of the peak, '
                  f'same positions {worst[2]}', file=sys.stderr)
        load = [os.getloadavg()[0]]
        timings = {label: [] for label, *_ in cases}      # (library, numpy) seconds per pass, per sweep
        for sweep in range(args.sweeps):
            for label, run, param, _, _ in cases:
                lib, ours = measure(driver, x, label, run, param, args.rounds)
                timings[label].append((lib, ours))
                print(f'sweep {sweep + 1} {label}: library {n / lib / 1e6:.1f}, numpy '
                      f'{"-" if ours is None else f"{n / ours / 1e6:.1f}"} M positions/s', file=sys.stderr)
            load.append(os.getloadavg()[0])
        counts = callgrind_counts(driver, args.callgrind_positions) if args.callgrind else {}
        driver.close()

    bound = [n / lib / 1e6 for lib, _ in timings.get(READ_BOUND, [])]
    print(f'Measured {datetime.date.today()} on {machine()}; numpy {np.__version__} on OpenBLAS, one thread; '
          f'load average {" / ".join(f"{v:.2f}" for v in load)} before and after each sweep; '
          f'{args.sweeps} sweeps of {args.rounds} alternating batches of at least {TARGET_BATCH_S} s per side; '
          f'the range of the sweeps\' medians.')
    print()
    print('| Case | library M positions/s | best numpy M positions/s | ratio | share of the read bound '
          '| instructions/position | max difference / value | max difference / peak |')
    print('|---|---|---|---|---|---|---|---|')
    for label, *_ in cases:
        lib_rate = [n / lib / 1e6 for lib, _ in timings[label]]
        numpy_rate = [n / ours / 1e6 for _, ours in timings[label] if ours is not None]
        ratios = [ours / lib for lib, ours in timings[label] if ours is not None]
        # The transforms of the six sources at fftSize 1024 or below touch every cache line of them.
        share = '–'
        if bound and label.startswith('GetThreeLineP'):
            share = spread([100 * r / b for r, b in zip(lib_rate, bound)], 0) + ' %'
        count = f'{counts[label]:.1f}' if label in counts else '–'
        worst = agreed.get(label)
        diff = '– | –' if worst is None else f'{worst[0]:.1e} | {worst[1]:.1e}'
        if worst is not None and not worst[2]:
            diff += ' (not the same positions!)'
        print(f'| `{label}` | {spread(lib_rate, 0 if min(lib_rate) >= 100 else 1)} '
              f'| {spread(numpy_rate, 0 if numpy_rate and min(numpy_rate) >= 100 else 1) if numpy_rate else "–"} '
              f'| {spread(ratios, 2) if ratios else "–"} | {share} | {count} | {diff} |')
    print()
    print('The numpy formulations:')
    for label, _, _, _, how in cases:
        if how != 'the same':
            print(f'- `{label}`: {how}.')

if __name__ == '__main__':
    main()
