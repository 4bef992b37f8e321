// Terminal voltage and current phasors carried through the transformer and the
// line impedance in per unit, and the angles between the resulting voltages.
// The exports hand their phasors and angles on through the records' SummaryAux
// slots, so the host calls them in order: GetUTSum (or GetUX2Sum), GetUXSum,
// then the angle exports.
#include "dsp/elementary.h"
#include <cmath>

#include "ampora.h"
#include "dsp/phase_angle.h"
#include "frame/resolve.h"
#include "machine/angle_fold.h"
#include "machine/machine_common.h"
#include "power/pair_power.h"
#include "power/phasor_step.h"
#include "power/window_walk.h"

namespace {

// Entries of the caller's per-unit parameter array.
constexpr int kResultVoltageBase = 0;
constexpr int kCurrentBase = 1;
constexpr int kTerminalVoltageBase = 2;
constexpr int kMagnitudeRatio = 6;
constexpr int kTransformerReactance = 8;
constexpr int kLineResistance = 11;
constexpr int kLineReactance = 12;

constexpr double kTransformerShiftDegrees = 30.0;

// The phasors of the sources' fundamental over one window of their ResultData.
struct WindowPhasors {
    ScratchSources scratch;
    WindowPhasors(ChannelInfo* const* records, int count, int fftSize)
        : scratch(records, count, Reads::Results, fftSize, kFundamentalOnly) {}
    Phasor At(int k) const { return scratch.sources.At(k, 1); }
    void Compute(int offset, int fftSize) { PhasorsOfWindow(scratch.sources, offset, fftSize, kFundamentalOnly); }
};

// The voltage behind the transformer, T = U·e^(-j30°) − j·Xt·I, from one
// window's phasors of u (source 0) and i (source 1) in per unit: T goes into
// the target's slots 0 and 1, the angles of U and T into u's, the per-unit
// current into i's. Returns |T| in the result's units.
double BehindTransformer(const WindowPhasors& phasors, const float* pu, LineTurn turn, ChannelInfo* target,
                         ChannelInfo* u, ChannelInfo* i) {
    const Phasor up = phasors.At(0), ip = phasors.At(1);
    const float ur = static_cast<float>(up.re / pu[kResultVoltageBase]);
    const float ui = static_cast<float>(up.im / pu[kResultVoltageBase]);
    const float ir = static_cast<float>(ip.re / pu[kCurrentBase]);
    const float ii = static_cast<float>(ip.im / pu[kCurrentBase]);
    const double cs = turn.cosine, sn = turn.sine;
    const float tRe = static_cast<float>(ii * pu[kTransformerReactance] + ur * cs + ui * sn);
    const double tIm = (ui * cs - ur * sn) - ir * pu[kTransformerReactance];
    const float tImStored = static_cast<float>(tIm);
    target->SummaryAux[0] = tRe;
    target->SummaryAux[1] = tImStored;
    const double magnitude = std::sqrt(tIm * tIm + static_cast<double>(tRe) * tRe) * pu[kMagnitudeRatio] *
                             pu[kResultVoltageBase];
    u->SummaryAux[0] = PhaseAngle(up.re, up.im);
    u->SummaryAux[1] = PhaseAngle(tRe, tIm);
    i->SummaryAux[0] = ir;
    i->SummaryAux[1] = ii;
    return magnitude;
}

// One window's terminal voltage (source a) and current (b) in per unit into
// their slots 0 and 1; into d's the angle of d's own phasor and of the voltage.
void StoreTerminalPhasors(const WindowPhasors& phasors, ChannelInfo* a, ChannelInfo* b, ChannelInfo* d,
                          const float* pu) {
    const Phasor ap = phasors.At(0), bp = phasors.At(1), dp = phasors.At(2);
    a->SummaryAux[0] = ap.re / pu[kTerminalVoltageBase];
    a->SummaryAux[1] = ap.im / pu[kTerminalVoltageBase];
    b->SummaryAux[0] = bp.re / pu[kCurrentBase];
    b->SummaryAux[1] = bp.im / pu[kCurrentBase];
    d->SummaryAux[0] = PhaseAngle(dp.re, dp.im);
    d->SummaryAux[1] = PhaseAngle(a->SummaryAux[0], a->SummaryAux[1]);
}

// X = A + (B.re + j·B.im)·(R − j·Xl): the voltage beyond the line impedance, from
// the transformer-side phasor slots of a and the current slots of b. Writes the
// angle of X into d's slot 2 and returns |X| scaled to the result's units.
double ThroughLine(const ChannelInfo* a, const ChannelInfo* b, ChannelInfo* d, const float* pu) {
    const float xRe = static_cast<float>((pu[kLineReactance] * b->SummaryAux[1] + pu[kLineResistance] * b->SummaryAux[0]) +
                                         a->SummaryAux[0]);
    const float xIm = static_cast<float>((pu[kLineResistance] * b->SummaryAux[1] + a->SummaryAux[1]) -
                                         pu[kLineReactance] * b->SummaryAux[0]);
    d->SummaryAux[2] = PhaseAngle(xRe, xIm);
    return std::sqrt(static_cast<double>(xIm) * xIm + static_cast<double>(xRe) * xRe) * pu[kMagnitudeRatio] *
           pu[kResultVoltageBase];
}

// The angle exports: slot a minus slot b of record A, plus the power angle in
// B's summary record (degrees), in degrees less the shift, folded.
double AngleBetween(CPtrList* channels, ChannelInfo* target, const char* name, int slotA, int slotB,
                    double shiftDegrees) {
    ChannelInfo* sources[1];
    if (!ResolveSources(channels, target, LookupFor(name), sources)) return 0.0;
    const ChannelInfo* b = FindSummaryRecord(channels, target, 1);
    if (b == nullptr) return 0.0;
    const ChannelInfo* a = sources[0];
    const double degrees =
        (a->SummaryAux[slotA] - a->SummaryAux[slotB] + b->SummaryValue * kRadiansPerDegree) * kDegreesPerRadianFloat -
        shiftDegrees;
    return FoldPowerAngle(degrees);
}

// A window the phasors cannot be formed from: nothing is written. Every length
// the transform takes will do; any other ends the process in the check.
bool NoWindow(int fftSize) { return !UsableWindow(fftSize, 1, Transform::Reduced); }

}  // namespace

double GetUTSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                float* puParams) {
    ChannelInfo* sources[2];
    if (!ResolveSources(channels, target, LookupFor("GetUTSum"), sources) || puParams == nullptr) return 0.0;
    if (NoWindow(fftSize) || count < fftSize) return 0.0;
    WindowPhasors phasors(sources, 2, fftSize);
    if (!phasors.scratch.Held()) return 0.0;
    const LineTurn turn = LineTurnOf();
    float sum = 0.0f;
    int windows = 0;
    WalkRecord(start, count, fftSize, fftSize, RecordWindow::BeginsAtPosition, [&](int, int offset) {
        phasors.Compute(offset, fftSize);
        sum = static_cast<float>(sum + BehindTransformer(phasors, puParams, turn, target, sources[0], sources[1]));
        ++windows;
    });
    const float mean = static_cast<float>(static_cast<double>(sum) / windows);
    return mean;
}

double GetUXSum(CPtrList* channels, ChannelInfo* target, int32_t, int32_t, int32_t, float* puParams) {
    // A is the summary record of source 0; source 0 itself need not be listed.
    if (channels == nullptr || puParams == nullptr) return 0.0;
    const ChannelInfo* a = FindSummaryRecord(channels, target, 0);
    const ChannelInfo* b = FindChannelById(channels, SourceIdArray(target)[1]);
    ChannelInfo* d = FindChannelById(channels, SourceIdArray(target)[2]);
    if (a == nullptr || b == nullptr || d == nullptr) return 0.0;
    return ThroughLine(a, b, d, puParams);
}

double GetUX2Sum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t, int32_t fftSize,
                 float* puParams) {
    ChannelInfo* sources[3];
    if (!ResolveSources(channels, target, LookupFor("GetUX2Sum"), sources) || puParams == nullptr) return 0.0;
    // A window beginning before position 0 lies outside the record.
    if (NoWindow(fftSize) || start < 0) return 0.0;
    WindowPhasors phasors(sources, 3, fftSize);
    if (!phasors.scratch.Held()) return 0.0;
    phasors.Compute(start, fftSize);
    StoreTerminalPhasors(phasors, sources[0], sources[1], sources[2], puParams);
    return ThroughLine(sources[0], sources[1], sources[2], puParams);
}

double GetAngleTSum(CPtrList* channels, ChannelInfo* target) {
    return AngleBetween(channels, target, "GetAngleTSum", 0, 1, kTransformerShiftDegrees);
}

double GetAngleXSum(CPtrList* channels, ChannelInfo* target) {
    return AngleBetween(channels, target, "GetAngleXSum", 0, 2, kTransformerShiftDegrees);
}

double GetAngleX2Sum(CPtrList* channels, ChannelInfo* target) {
    return AngleBetween(channels, target, "GetAngleX2Sum", 1, 2, 0.0);
}
