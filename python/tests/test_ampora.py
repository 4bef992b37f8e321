"""The module against the host program and against known answers."""

import os
import re
import subprocess

import numpy as np
import pytest

import ampora
from ampora import _native

ROOT = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))
SIX = ["U12", "Ia", "U23", "Ib", "U31", "Ic"]

# One plan line per way a curve follows the host's blocks, and the same
# computation through ampora.call: (plan line, export, sources, keyword arguments).
LINES = [
    ("P = GetThreeLineP(256) from U12 Ia U23 Ib U31 Ic CalcKind=1", "GetThreeLineP", SIX, dict(fft_size=256, CalcKind=1)),
    ("Q = GetThreeLineP(256) from U12 Ia U23 Ib U31 Ic CalcKind=2", "GetThreeLineP", SIX, dict(fft_size=256, CalcKind=2)),
    ("PF = GetCosStatus() from P Q", "GetCosStatus", ["P", "Q"], {}),
    ("Ipos = GetZHPart(256) from Ia Ib Ic", "GetZHPart", ["Ia", "Ib", "Ic"], dict(fft_size=256)),
    ("F = GetFrequenceStatus(1) from Ua", "GetFrequenceStatus", ["Ua"], dict(refresh_extremes=1)),
    ("F2 = GetFrequenceStatus2(0) from Ua", "GetFrequenceStatus2", ["Ua"], dict(single_shot=0)),
    ("N = GetBSCLRPM(1) from Wheel PulsesPerRev=60", "GetBSCLRPM", ["Wheel"], dict(refreshExtremes=1, PulsesPerRev=60)),
    ("Ih5 = GetHarmonicValue(256) from Ia HarmonicOrder=5", "GetHarmonicValue", ["Ia"], dict(fft_size=256, HarmonicOrder=5)),
    ("Ua1 = GetPowerAvg(256) from Ua", "GetPowerAvg", ["Ua"], dict(fft_size=256)),
    ("IaP = GetPowerAvgExtra(0) from Ia", "GetPowerAvgExtra", ["Ia"], dict(reset_at_end=0)),
    ("Pex = GetThreeLinePEx(1536) from U12 Ia U23 Ib U31 Ic CalcKind=1", "GetThreeLinePEx", SIX,
     dict(window_size=1536, CalcKind=1)),
    ("PW = GetThreeLinePSum(256) from U12 Ia U23 Ib U31 Ic CalcKind=1", "GetThreeLinePSum", SIX,
     dict(fft_size=256, CalcKind=1)),
    ("UW = GetAvgValueSum() from Ua Ub Uc", "GetAvgValueSum", ["Ua", "Ub", "Uc"], {}),  # the sources' RMS
]
BLOCK = 700  # no divisor of the record's 25600 positions nor a multiple of a quarter window


def host(*arguments, cwd=None):
    subprocess.run([_native.host_program(), *arguments], check=True, capture_output=True, cwd=cwd)


@pytest.fixture(scope="module")
def generator(tmp_path_factory):
    folder = tmp_path_factory.mktemp("rec")
    host("write-recording", str(folder), "--format", "binary32", "--quiet")
    return str(folder / "generator.cfg")


@pytest.fixture(scope="module")
def host_run(generator):
    plan = "\n".join(line for line, *_ in LINES) + "\n"
    return ampora.run(generator, plan, block=BLOCK)


def sequential_mean(values):
    return np.add.accumulate(values.astype(np.float64))[-1] / len(values)


def test_calls_give_the_host_curves_bit_for_bit(generator, host_run):
    """Every curve kind (windows, carried blocks, quarter windows, trackers,
    queue, cycles, moving average) and a whole-record value: the same bits as
    the host's curves.dat, and over the same stretch the host's reported mean."""
    rec = ampora.read_comtrade(generator)
    computed = {}
    for line, export, sources, kwargs in LINES:
        name = line.split()[0]
        arrays = [computed[s] if s in computed else rec[s] for s in sources]
        got = ampora.call(export, arrays, rate=rec.rate, block=BLOCK, extent=True, **kwargs)
        if isinstance(got, float):
            assert got == host_run.values[name], name
            continue
        curve, stretch = got
        computed[name] = got  # a curve read by a later line, with its computed stretch
        assert np.array_equal(curve.view(np.uint32), host_run.curves[name].view(np.uint32)), name
        figure = sequential_mean(curve[len(curve) // 4:stretch.stop])
        assert figure == host_run.values[name], name


def test_run_returns_the_report_and_the_curves(generator, host_run):
    report = host_run.report
    assert host_run.rate == report["recording"]["rate"] == 12800.0
    assert [c["name"] for c in report["channels"]] == [line.split()[0] for line, *_ in LINES]
    assert set(host_run.curves) == {c["name"] for c in report["channels"] if not c["export"].endswith("Sum")}
    assert len(host_run.time) == len(host_run.curves["P"]) == 25600
    assert host_run.time[256] == pytest.approx(0.02)
    spanned = ampora.run(generator, LINES[0][0] + "\n", span=(0.5, 1.0))
    assert spanned.report["recording"]["span"] == {"from": 0.5, "to": 1.0}
    with pytest.raises(ValueError, match="GetThreeLineP takes 6 sources, given 2"):
        ampora.run(generator, "P = GetThreeLineP(256) from U12 Ia\n")


def three_phase(rate, seconds, frequency=50.0, u=230.0, i=10.0, lag=np.pi / 6, fifth=0.0):
    """Phase voltages and currents (RMS u and i, currents lagging by lag) and the line voltages."""
    t = np.arange(int(rate * seconds)) / rate
    turn = 2 * np.pi / 3
    ua, ub, uc = (u * np.sqrt(2) * np.cos(2 * np.pi * frequency * t - k * turn) for k in range(3))
    ia, ib, ic = (i * np.sqrt(2) * (np.cos(2 * np.pi * frequency * t - k * turn - lag)
                                    + fifth * np.cos(5 * (2 * np.pi * frequency * t - k * turn))) for k in range(3))
    return dict(Ua=ua, Ub=ub, Uc=uc, Ia=ia, Ib=ib, Ic=ic, U12=ua - ub, U23=ub - uc, U31=uc - ua)


def test_known_answers():
    """230 V and 10 A lagging 30 degrees: Q = 3 x 230 x 10 sin 30 = 3450 var (P is
    the README example's),
    a 5 % fifth harmonic of 0.5 A, and a frequency off nominal read as it is
    (the source record's rated value sets what counts as silence)."""
    s = three_phase(12800, 1.0, fifth=0.05)
    lines = [s[k] for k in SIX]
    q, ok = ampora.three_wire_power(*lines, fft_size=256, kind="Q", extent=True)
    steady = slice(ok.stop // 4, ok.stop)
    assert np.allclose(q[steady], 3450, rtol=2e-5)
    assert np.allclose(ampora.harmonic_rms(s["Ia"], order=5, fft_size=256)[steady], 0.5, rtol=1e-4)
    f, ok = ampora.frequency(three_phase(12800, 1.0, frequency=49.7)["Ua"], rate=12800, extent=True)
    assert np.allclose(f[ok], 49.7, atol=2e-3)
    # A quarter second of silence reads 0 while it lasts, and no other value.
    ua = 325.0 * np.sin(2 * np.pi * 50.0 * np.arange(12800) / 12800)
    ua[6400:9600] = 0.0
    f, ok = ampora.frequency(ua, rate=12800, extent=True)
    assert np.all(f[7000:9600] == 0.0)
    assert np.all((f[ok] == 0.0) | (np.abs(f[ok] - 50.0) < 2e-3))


@pytest.mark.parametrize("export, sources, kwargs, reason", [
    ("GetThreeLineP", 6, dict(fft_size=48, CalcKind=1), "fftSize=48 is not a power of two"),
    ("GetP", 2, dict(fft_size=2, CalcKind=1), "below 4"),
    ("GetP", 2, dict(CalcKind=1), "GetP needs fftSize"),
    ("GetP", 2, dict(fft_size=64, CalcKnd=1), "unknown argument or record field 'CalcKnd'; did you mean CalcKind"),
    ("GetP", 3, dict(fft_size=64), "GetP takes 2 sources, given 3"),
    ("GetFrequenceStatus2", 1, dict(single_shot=0), "give rate="),
    ("GetThreeLineP", "short", dict(fft_size=64), "different lengths"),
    ("GetPower", 1, {}, "unknown export 'GetPower'; did you mean GetPowerAvg"),
])
def test_bad_input_raises_before_the_library_is_called(export, sources, kwargs, reason):
    """Each of these would end the process in the library or read outside an array."""
    arrays = [np.zeros(1000, np.float32) for _ in range(6 if sources == "short" else sources)]
    if sources == "short":
        arrays[3] = arrays[3][:999]
    with pytest.raises(ValueError, match=re.escape(reason)):
        ampora.call(export, arrays, **kwargs)


def test_the_readme_example_runs_as_written(tmp_path):
    """The README's Python example, after its shell line, in a fresh folder."""
    readme = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read()
    shell, python = re.search(r"<!-- python example -->\s*```sh\n(.*?)```\s*```python\n(.*?)```", readme, re.S).groups()
    folder = str(tmp_path / "rec")
    subprocess.run(shell.replace("/tmp/rec", folder), shell=True, check=True, cwd=ROOT, capture_output=True)
    done = subprocess.run(["/usr/bin/python3", "-c", python.replace("/tmp/rec", folder)], cwd=ROOT,
                          capture_output=True, text=True, env=dict(os.environ, PYTHONPATH=os.path.join(ROOT, "python")))
    assert done.returncode == 0, done.stderr
    assert "P 5975.6 W, f 50.000 Hz" in done.stdout
