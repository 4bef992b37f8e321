"""Ampora for numpy: every export of the native library on arrays, and the
host program's runs as data.

    import ampora
    rec = ampora.read_comtrade("/tmp/rec/generator.cfg")
    p = ampora.three_wire_power(rec["U12"], rec["Ia"], rec["U23"], rec["Ib"], rec["U31"], rec["Ic"], fft_size=256)

``call`` runs any export by name as ampora-host runs one plan line; the named
wrappers below cover the common families. ``run`` runs ampora-host itself.
The module loads build/native/libampora.so and the export table the build
writes beside it (set AMPORA_BUILD_DIR for another native build folder).
"""

from .calls import call, describe, exports
from .recordings import Recording, Run, read_comtrade, run

__all__ = ["call", "describe", "exports", "read_comtrade", "Recording", "run", "Run",
           "single_phase_power", "three_wire_power", "fundamental_rms", "harmonic_rms",
           "sequence_components", "power_factor", "frequency"]

_CALC_KIND = {"P": 1, "Q": 2}
# Each wrapper passes **options on to call: block=, extent=, source_units=, ...


def _kind(kind):
    if kind not in _CALC_KIND:
        raise ValueError(f"kind must be 'P' (active, W) or 'Q' (reactive, var), not {kind!r}")
    return _CALC_KIND[kind]


def single_phase_power(u, i, *, fft_size, kind="P", harmonics=False, **options):
    """Single-phase active (W) or reactive (var) power per position, from a phase
    voltage (V) and current (A): GetP, or GetPAll (harmonics 1 to 21 summed).

    fft_size: the window in samples, a power of two of at least 4 (32 with
    harmonics) holding exactly one cycle of the line frequency (256 at 50 Hz and
    12.8 kS/s): bin 1 is the fundamental only then. The curve ramps from window
    to window, a quarter window apart, and holds 0 before the first window."""
    return call("GetPAll" if harmonics else "GetP", [u, i], fftSize=fft_size, CalcKind=_kind(kind), **options)


def three_wire_power(u12, i1, u23, i2, u31, i3, *, fft_size, kind="P", harmonics=False, **options):
    """Three-wire power per position, active (W) or reactive (var), from the line
    voltages U12, U23, U31 (V) and the phase currents I1, I2, I3 (A):
    GetThreeLineP, or GetThreeLinePAll (harmonics 1 to 21 summed).

    fft_size: a power of two of at least 4 (32 with harmonics), one cycle of the
    line frequency in samples; the curve ramps a quarter window at a time."""
    return call("GetThreeLinePAll" if harmonics else "GetThreeLineP", [u12, i1, u23, i2, u31, i3],
                fftSize=fft_size, CalcKind=_kind(kind), **options)


def fundamental_rms(x, *, fft_size, **options):
    """The fundamental's RMS per position, in the signal's unit: GetPowerAvg.
    fft_size: one cycle in samples, a power of two of at least 4."""
    return call("GetPowerAvg", [x], fftSize=fft_size, **options)


def harmonic_rms(x, *, order, fft_size, **options):
    """The RMS of harmonic ``order`` per position, in the signal's unit:
    GetHarmonicValue over full-length windows. fft_size: a power of two of at
    least 4 holding whole cycles; the order counts in cycles of the window, so a
    window of k cycles reads harmonic h at order k*h. The last value is held
    to the record's end."""
    return call("GetHarmonicValue", [x], fftSize=fft_size, HarmonicOrder=order, **options)


def sequence_components(a, b, c, *, fft_size, **options):
    """Positive-, negative- and zero-sequence RMS per position of a three-phase
    set (in the phases' unit), as a dict of three curves: GetZHPart, GetFXPart,
    GetLXPart. fft_size: one cycle, a power of two of at least 4."""
    return {name: call(export, [a, b, c], fftSize=fft_size, **options)
            for name, export in (("positive", "GetZHPart"), ("negative", "GetFXPart"), ("zero", "GetLXPart"))}


def power_factor(p, q, **options):
    """The power factor P/S per position from active and reactive power curves
    (GetCosStatus, the two curves as its records listed before the target)."""
    return call("GetCosStatus", [p, q], **options)


def frequency(x, *, rate, **options):
    """The frequency in Hz per position, period by period from rising crossings
    of the signal's middle level (GetFrequenceStatus2: positions kept as
    doubles, so long records keep their resolution). rate: samples per second.
    Positions before the first whole period hold 0."""
    return call("GetFrequenceStatus2", [x], rate=rate, singleShot=0, **options)
