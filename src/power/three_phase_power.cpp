// Three-phase power from several voltage/current pairs, block by block and for a
// whole record: three-wire (line voltages with phase currents, the pair sum
// turned back by 30° and divided by sqrt(3)), delta (the sum of three pair
// powers) and two-wattmeter (pair 1 minus pair 2). The spectra are the call's
// own scratch; each export states its harmonics, CalcKind rule, factor and the
// points where it rounds to float.
#include "ampora.h"
#include "frame/resolve.h"
#include "power/pair_power.h"
#include "power/phasor_step.h"
#include "power/window_walk.h"

namespace {

constexpr double kLineInverseSqrt3 = 0.5773502795520422;       // block forms
constexpr float kLineInverseSqrt3Float = 0.5773502588272095f;  // whole-record forms: the float constant

// How the pairs' products make one harmonic's quantity.
enum class Wiring {
    ThreeWire,     // three pairs summed, turned back by 30°
    Delta,         // three pairs summed
    TwoWattmeter,  // pair 1 minus pair 2
};

template <int N>
struct MultiPairCall {
    Wiring wiring;
    HarmonicSet harmonics;
    PowerKind kind;
    double scale;
    LineTurn turn;
    int fftSize;
    ScratchSources<N>& own;

    // The selected quantity of harmonic h, before Scale and any factor.
    double Quantity(int h) const {
        const PhasorSources<N>& s = own.sources;
        if constexpr (N == 4) {
            return Select(PairAt(s, 0, h) - PairAt(s, 1, h), kind);   // two-wattmeter
        } else {
            const PairProducts z = (PairAt(s, 0, h) + PairAt(s, 1, h)) + PairAt(s, 2, h);
            return Select(wiring == Wiring::ThreeWire ? TurnedBack(z, turn) : z, kind);
        }
    }
    void PhasorsAt(int offset) { PhasorsOfWindow(own.sources, offset, fftSize, harmonics); }
};

// Resolves the N sources, checks the window length, allocates the spectra and
// runs body(call); nothing happens when a source is missing, the window is
// too short, there is no window to compute (anyWindow false: checked before
// the spectra are allocated) or the spectra cannot be had. Returns body's
// result, or 0.0.
template <int N, typename Body>
double WithSources(CPtrList* channels, ChannelInfo* target, SourceLookup lookup, Wiring wiring, HarmonicSet set,
                   PowerKind (*kindOf)(uint32_t), Reads reads, int fftSize, int minimumWindow, bool anyWindow,
                   Body&& body) {
    ChannelInfo* records[N];
    if (!ResolveSources(channels, target, lookup, records)) return 0.0;
    const int minimum = set.last > 1 ? kMinimumAllHarmonicsWindow : minimumWindow;
    if (!UsableWindow(fftSize, minimum, Transform::Reduced) || !anyWindow) return 0.0;
    ScratchSources<N> own(records, reads, fftSize, set);
    if (!own.Held()) return 0.0;
    MultiPairCall<N> call{wiring, set, kindOf(target->CalcKind), target->Scale, LineTurnOf(), fftSize, own};
    return body(call);
}

// Block forms: trailing ramp; value(call) forms the window value from the phasors.
template <int N, typename Value>
void RunBlock(CPtrList* channels, ChannelInfo* target, SourceLookup lookup, Wiring wiring, HarmonicSet set,
              PowerKind (*kindOf)(uint32_t), int start, int count, int fftSize, Value&& value) {
    WithSources<N>(channels, target, lookup, wiring, set, kindOf, Reads::Samples, fftSize, kMinimumBlockWindow, true,
                   [&](MultiPairCall<N>& call) {
                       WalkBlock(ResultArray(target), start, count, fftSize, kTrailingWalk, [&](int offset) {
                           call.PhasorsAt(offset);
                           return value(call);
                       });
                       return 0.0;
                   });
}

// Whole-record forms: whole windows beginning at start + j·fftSize; store(call,
// entry) writes the window value into the target's entry; the mean is returned.
template <int N, typename Store>
double RunRecord(CPtrList* channels, ChannelInfo* target, SourceLookup lookup, Wiring wiring, HarmonicSet set,
                 PowerKind (*kindOf)(uint32_t), int start, int count, int fftSize, Store&& store) {
    return WithSources<N>(channels, target, lookup, wiring, set, kindOf, Reads::Results, fftSize, 0, count >= fftSize,
                          [&](MultiPairCall<N>& call) {
                              float* result = ResultArray(target);
                              FloatMean mean;
                              WalkRecord(start, count, fftSize, fftSize, RecordWindow::BeginsAtPosition,
                                         [&](int position, int offset) {
                                             call.PhasorsAt(offset);
                                             store(call, result[position]);
                                             mean.Add(result[position]);
                                         });
                              return mean.Value();
                          });
}

// ---- window values of the block forms ----

// Three-wire: T = quantity · Scale · 1/sqrt(3) per harmonic; the fundamental is
// rounded once, the harmonic sum after every addition.
template <int N>
double ThreeWireValue(const MultiPairCall<N>& call) {
    return static_cast<float>(FloatSumOverHarmonics(
        call.harmonics, [&call](int h) { return call.Quantity(h) * call.scale * kLineInverseSqrt3; }));
}

// Delta and two-wattmeter: quantity · Scale; the fundamental rounded before the
// ramp, the harmonic sum kept in extended precision until it is written.
template <int N>
double PairSumValue(const MultiPairCall<N>& call) {
    const double v = SumOverHarmonics(call.harmonics, [&call](int h) { return call.Quantity(h) * call.scale; });
    if (call.harmonics.last == 1) return static_cast<float>(v);
    return v;
}

// ---- stored window values of the whole-record forms ----

// Three-wire fundamental: the quantity, times Scale, times the float 1/sqrt(3),
// each product stored as a float in turn.
void StoreThreeWireFundamental(const MultiPairCall<6>& call, float& entry) {
    entry = static_cast<float>(call.Quantity(1));
    entry = static_cast<float>(entry * call.scale);
    entry = static_cast<float>(entry * static_cast<double>(kLineInverseSqrt3Float));
}
void StoreThreeWireHarmonics(const MultiPairCall<6>& call, float& entry) {
    const double sum = SumOverHarmonics(call.harmonics, [&call](int h) {
        return call.Quantity(h) * call.scale * static_cast<double>(kLineInverseSqrt3Float);
    });
    entry = static_cast<float>(sum);
}

// Delta and two-wattmeter fundamental: the quantity stored, then times Scale
// stored again; the harmonic sums of quantity · Scale stored once.
template <int N>
void StorePairFundamental(const MultiPairCall<N>& call, float& entry) {
    entry = static_cast<float>(call.Quantity(1));
    entry = static_cast<float>(entry * call.scale);
}
template <int N>
void StorePairHarmonics(const MultiPairCall<N>& call, float& entry) {
    entry = static_cast<float>(
        SumOverHarmonics(call.harmonics, [&call](int h) { return call.Quantity(h) * call.scale; }));
}

}  // namespace

// ---- three-wire line power ----

void GetThreeLineP(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    RunBlock<6>(channels, target, LookupFor("GetThreeLineP"), Wiring::ThreeWire, kFundamentalOnly,
                KindReactiveAtTwo, start, count, fftSize, ThreeWireValue<6>);
}
void GetThreeLinePAll(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    RunBlock<6>(channels, target, LookupFor("GetThreeLinePAll"), Wiring::ThreeWire, kHarmonicsOneToTwentyOne,
                KindReactiveAtTwo, start, count, fftSize, ThreeWireValue<6>);
}
double GetThreeLinePSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    return RunRecord<6>(channels, target, LookupFor("GetThreeLinePSum"), Wiring::ThreeWire, kFundamentalOnly,
                        KindReactiveAtTwo, start, count, fftSize, StoreThreeWireFundamental);
}
double GetThreeLinePAllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count,
                           int32_t fftSize) {
    return RunRecord<6>(channels, target, LookupFor("GetThreeLinePAllSum"), Wiring::ThreeWire,
                        kHarmonicsOneToTwentyOne, KindReactiveAtTwo, start, count, fftSize,
                        StoreThreeWireHarmonics);
}

// ---- delta power ----

void GetThreeAngleP(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    RunBlock<6>(channels, target, LookupFor("GetThreeAngleP"), Wiring::Delta, kFundamentalOnly, KindActiveAtOne,
                start, count, fftSize, PairSumValue<6>);
}
void GetThreeAnglePAll(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    RunBlock<6>(channels, target, LookupFor("GetThreeAnglePAll"), Wiring::Delta, kHarmonicsOneToTwentyOne,
                KindActiveAtOne, start, count, fftSize, PairSumValue<6>);
}
double GetThreeAnglePSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count,
                         int32_t fftSize) {
    return RunRecord<6>(channels, target, LookupFor("GetThreeAnglePSum"), Wiring::Delta, kFundamentalOnly,
                        KindActiveAtOne, start, count, fftSize, StorePairFundamental<6>);
}
double GetThreeAnglePAllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count,
                            int32_t fftSize) {
    return RunRecord<6>(channels, target, LookupFor("GetThreeAnglePAllSum"), Wiring::Delta,
                        kHarmonicsOneToTwentyOne, KindActiveAtOne, start, count, fftSize, StorePairHarmonics<6>);
}

// ---- two-wattmeter power ----

void GetTwoAngleP(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    RunBlock<4>(channels, target, LookupFor("GetTwoAngleP"), Wiring::TwoWattmeter, kFundamentalOnly,
                KindActiveAtOne, start, count, fftSize, PairSumValue<4>);
}
void GetTwoAnglePAll(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    RunBlock<4>(channels, target, LookupFor("GetTwoAnglePAll"), Wiring::TwoWattmeter, kHarmonicsOneToTwentyOne,
                KindActiveAtOne, start, count, fftSize, PairSumValue<4>);
}
double GetTwoAnglePSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    return RunRecord<4>(channels, target, LookupFor("GetTwoAnglePSum"), Wiring::TwoWattmeter, kFundamentalOnly,
                        KindActiveAtOne, start, count, fftSize, StorePairFundamental<4>);
}
double GetTwoAnglePAllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count,
                          int32_t fftSize) {
    return RunRecord<4>(channels, target, LookupFor("GetTwoAnglePAllSum"), Wiring::TwoWattmeter,
                        kHarmonicsOneToTwentyOne, KindActiveAtOne, start, count, fftSize, StorePairHarmonics<4>);
}
