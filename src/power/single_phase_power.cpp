// Single-phase harmonic power: one voltage and one current source, active or
// reactive power from their RMS phasors, block by block over sliding windows and
// for a whole record over whole windows. The exports differ in the harmonics
// they add, the wiring (phase voltage, or line voltage turned back by 30°), the
// factor, the ramp placement, the window of a record step and where they round.
#include "ampora.h"
#include "frame/resolve.h"
#include "power/pair_power.h"
#include "power/phasor_step.h"
#include "power/window_walk.h"

namespace {

constexpr double kThreePhases = 3.0;                    // balanced system from one phase voltage
constexpr double kLineFactor = 1.7320508386561266;      // sqrt(3) from a line voltage
constexpr double kOnePhase = 1.0;                       // no factor; multiplying by 1.0 is exact

enum class Wiring { Phase, Line };

struct SinglePhaseRule {
    HarmonicSet harmonics;
    Wiring wiring;
    double factor;
};

constexpr SinglePhaseRule kGet3PBy1{kFundamentalOnly, Wiring::Phase, kThreePhases};
constexpr SinglePhaseRule kGet3PBy1All{kHarmonicsOneToTwentyOne, Wiring::Phase, kThreePhases};
constexpr SinglePhaseRule kGetP{kFundamentalOnly, Wiring::Phase, kOnePhase};
constexpr SinglePhaseRule kGetPAll{kHarmonicsOneToTwentyOne, Wiring::Phase, kOnePhase};
constexpr SinglePhaseRule kGet3PBy1Line{kFundamentalOnly, Wiring::Line, kLineFactor};
constexpr SinglePhaseRule kGet3PBy1LineAll{kHarmonicsOneToTwentyOne, Wiring::Line, kLineFactor};

// The pair's product at one harmonic times the factor, before Scale.
double Unscaled(const SinglePhaseRule& rule, PairProducts z, LineTurn turn, PowerKind kind) {
    const PairProducts frame = rule.wiring == Wiring::Line ? TurnedBack(z, turn) : z;
    return Select(frame, kind) * rule.factor;
}

struct SinglePhaseCall {
    SinglePhaseRule rule;
    PhasorSources<2> sources;
    PowerKind kind;
    double scale;
    LineTurn turn;
    int fftSize;

    PairProducts ProductsAt(int h) const {
        return PairOf(PhasorAt(sources.spectra[0], h), PhasorAt(sources.spectra[1], h));
    }
    // Factor and Scale applied to each harmonic's term; a kind outside 1 and 2
    // gives 0.0 whatever the factors hold.
    double ScaledTerm(int h) const {
        if (kind == PowerKind::Zero) return 0.0;
        return Unscaled(rule, ProductsAt(h), turn, kind) * scale;
    }
    // Phasors of the window at offset, then the sum of the terms, unrounded.
    double WindowValue(int offset) {
        PhasorsOfWindow(sources, offset, fftSize, rule.harmonics);
        return SumOverHarmonics(rule.harmonics, [this](int h) { return ScaledTerm(h); });
    }
};

// Resolves the voltage (source 0) and current (source 1), checks the window
// length and prepares the call; false when the export must not write.
bool Prepare(CPtrList* channels, ChannelInfo* target, SourceLookup lookup, const SinglePhaseRule& rule,
             Reads reads, int fftSize, float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im,
             int minimumWindow, SinglePhaseCall& call) {
    if (spec0Re == nullptr || spec0Im == nullptr || spec1Re == nullptr || spec1Im == nullptr) return false;
    ChannelInfo* records[2];
    if (!ResolveSources(channels, target, lookup, records)) return false;
    const int minimum = rule.harmonics.last > 1 ? kMinimumAllHarmonicsWindow : minimumWindow;
    if (!UsableWindow(fftSize, minimum, Transform::Reduced)) return false;
    const Spectrum spectra[2] = {{spec0Re, spec0Im}, {spec1Re, spec1Im}};
    call.rule = rule;
    call.sources = PrepareSources(records, reads, spectra, rule.harmonics);
    call.kind = KindOneActiveTwoReactive(target->CalcKind);
    call.scale = target->Scale;
    call.turn = LineTurnOf();
    call.fftSize = fftSize;
    return true;
}

void RunBlock(const SinglePhaseRule& rule, const BlockWalk& walk, SourceLookup lookup, CPtrList* channels,
              ChannelInfo* target, int start, int count, int fftSize, float* spec0Re, float* spec0Im,
              float* spec1Re, float* spec1Im) {
    SinglePhaseCall call;
    if (!Prepare(channels, target, lookup, rule, Reads::Samples, fftSize, spec0Re, spec0Im, spec1Re, spec1Im,
                 kMinimumBlockWindow, call))
        return;
    WalkBlock(ResultArray(target), start, count, fftSize, walk,
              [&call](int offset) { return call.WindowValue(offset); });
}

// Whole-record forms: one stored value per whole window, the mean returned. The
// fundamental forms store the product with its factor, then multiply the stored
// entry by Scale and store it again; the harmonic sums store once.
double RunRecord(const SinglePhaseRule& rule, RecordWindow window, SourceLookup lookup, CPtrList* channels,
                 ChannelInfo* target, int start, int length, int fftSize, float* spec0Re, float* spec0Im,
                 float* spec1Re, float* spec1Im) {
    SinglePhaseCall call;
    if (!Prepare(channels, target, lookup, rule, Reads::Results, fftSize, spec0Re, spec0Im, spec1Re, spec1Im,
                 0, call))
        return 0.0;
    float* result = ResultArray(target);
    FloatMean mean;
    WalkRecord(start, length, fftSize, fftSize, window, [&](int position, int offset) {
        PhasorsOfWindow(call.sources, offset, fftSize, rule.harmonics);
        if (call.kind == PowerKind::Zero) {
            result[position] = 0.0f;
        } else if (rule.harmonics.last == 1) {
            const float unscaled = static_cast<float>(Unscaled(rule, call.ProductsAt(1), call.turn, call.kind));
            result[position] = unscaled;
            const float scaled = static_cast<float>(result[position] * call.scale);
            result[position] = scaled;
        } else {
            const float stored = static_cast<float>(
                SumOverHarmonics(rule.harmonics, [&call](int h) { return call.ScaledTerm(h); }));
            result[position] = stored;
        }
        mean.Add(result[position]);
    });
    return mean.Value();
}

}  // namespace

void Get3PBy1(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
              float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    RunBlock(kGet3PBy1, kTrailingWalk, LookupFor("Get3PBy1"), channels, target, start, count, fftSize, spec0Re,
             spec0Im, spec1Re, spec1Im);
}
void Get3PBy1All(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                 float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    RunBlock(kGet3PBy1All, kTrailingWalk, LookupFor("Get3PBy1All"), channels, target, start, count, fftSize,
             spec0Re, spec0Im, spec1Re, spec1Im);
}
void GetP(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
          float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    RunBlock(kGetP, kLeadingWalk, LookupFor("GetP"), channels, target, start, count, fftSize, spec0Re, spec0Im,
             spec1Re, spec1Im);
}
void GetPAll(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
             float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    RunBlock(kGetPAll, kLeadingWalk, LookupFor("GetPAll"), channels, target, start, count, fftSize, spec0Re,
             spec0Im, spec1Re, spec1Im);
}
void Get3PBy1Line(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                  float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    RunBlock(kGet3PBy1Line, kTrailingWalk, LookupFor("Get3PBy1Line"), channels, target, start, count, fftSize,
             spec0Re, spec0Im, spec1Re, spec1Im);
}
void Get3PBy1LineAll(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                     float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    RunBlock(kGet3PBy1LineAll, kTrailingWalk, LookupFor("Get3PBy1LineAll"), channels, target, start, count,
             fftSize, spec0Re, spec0Im, spec1Re, spec1Im);
}

double Get3PBy1Sum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length, int32_t fftSize,
                   float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    return RunRecord(kGet3PBy1, RecordWindow::EndsAtPosition, LookupFor("Get3PBy1Sum"), channels, target, start,
                     length, fftSize, spec0Re, spec0Im, spec1Re, spec1Im);
}
double Get3PBy1LineSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length, int32_t fftSize,
                       float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    return RunRecord(kGet3PBy1Line, RecordWindow::EndsAtPosition, LookupFor("Get3PBy1LineSum"), channels, target,
                     start, length, fftSize, spec0Re, spec0Im, spec1Re, spec1Im);
}
double Get3PBy1AllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length, int32_t fftSize,
                      float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    return RunRecord(kGet3PBy1All, RecordWindow::EndsAtPosition, LookupFor("Get3PBy1AllSum"), channels, target,
                     start, length, fftSize, spec0Re, spec0Im, spec1Re, spec1Im);
}
double Get3PBy1LineAllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length,
                          int32_t fftSize, float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    return RunRecord(kGet3PBy1LineAll, RecordWindow::EndsAtPosition, LookupFor("Get3PBy1LineAllSum"), channels,
                     target, start, length, fftSize, spec0Re, spec0Im, spec1Re, spec1Im);
}
double GetPAllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length, int32_t fftSize,
                  float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    return RunRecord(kGetPAll, RecordWindow::BeginsAtPosition, LookupFor("GetPAllSum"), channels, target, start,
                     length, fftSize, spec0Re, spec0Im, spec1Re, spec1Im);
}
