#include "power/pair_power.h"

#include <optional>

namespace {

int SourceCount(Wiring wiring) {
    switch (wiring) {
        case Wiring::PhasePair:
        case Wiring::LinePair: return 2;
        case Wiring::TwoWattmeter: return 4;
        case Wiring::ThreeLinePairs:
        case Wiring::ThreePairs: return 6;
    }
    return 0;
}

// The pairs' products of every harmonic of the set, combined as the wiring says.
void CombinedProducts(const PhasorSources& s, Wiring wiring, LineTurn turn, HarmonicSet set, PairProducts* out) {
    auto pair = [&s](int k, int h) { return PairOf(s.At(2 * k, h), s.At(2 * k + 1, h)); };
    auto each = [set](auto&& product) {
        for (int h = set.first; h <= set.last; ++h) product(h);
    };
    switch (wiring) {
        case Wiring::PhasePair: return each([&](int h) { out[h] = pair(0, h); });
        case Wiring::LinePair: return each([&](int h) { out[h] = TurnedBack(pair(0, h), turn); });
        case Wiring::ThreeLinePairs:
            return each([&](int h) { out[h] = TurnedBack((pair(0, h) + pair(1, h)) + pair(2, h), turn); });
        case Wiring::ThreePairs: return each([&](int h) { out[h] = (pair(0, h) + pair(1, h)) + pair(2, h); });
        case Wiring::TwoWattmeter: return each([&](int h) { out[h] = pair(0, h) - pair(1, h); });
    }
}

double Select(PairProducts z, PowerKind kind) {
    if (kind == PowerKind::Active) return z.x;
    if (kind == PowerKind::Reactive) return z.y;
    return 0.0;
}

bool Held(const Spectrum* buffers) {
    for (int k = 0; k < 2; ++k)
        if (buffers[k].re == nullptr || buffers[k].im == nullptr) return false;
    return true;
}

// Resolves the rule's sources, checks the window length and gives body the
// call with its spectra: the caller's buffers, or its own scratch (allocated
// once there is a window to compute, anyWindow). Returns body's result, or
// 0.0 when the export must not write: a null buffer, a missing source, a
// window too short for the rule's harmonics, or no memory for the scratch.
template <typename Body>
double WithPairCall(const PairRule& rule, CallRecords records, Reads reads, int fftSize, int minimumWindow,
                    bool anyWindow, const Spectrum* buffers, Body&& body) {
    if (buffers != nullptr && !Held(buffers)) return 0.0;
    const int count = SourceCount(rule.wiring);
    ChannelInfo* sources[kMostSources];
    if (!ResolveSources(records.channels, records.target, records.lookup, sources, count)) return 0.0;
    const int minimum = rule.harmonics.last > 1 ? kMinimumAllHarmonicsWindow : minimumWindow;
    if (!UsableWindow(fftSize, minimum, Transform::Reduced) || !anyWindow) return 0.0;
    std::optional<ScratchSources> own;
    PhasorSources phasors;
    if (buffers != nullptr) {
        phasors = PrepareSources(sources, count, reads, buffers, rule.harmonics, fftSize);
    } else {
        own.emplace(sources, count, reads, fftSize, rule.harmonics);
        if (!own->Held()) return 0.0;
        phasors = own->sources;
    }
    phasors.rounding = rule.family.phasorRounding;
    const ChannelInfo* target = records.target;
    PairCall call{rule, phasors, rule.family.kindOf(target->CalcKind), target->Scale, LineTurnOf()};
    return body(call);
}

// A record form's window value as it is stored: a harmonic sum once; a
// fundamental's quantity with its factor stored, then that entry times Scale
// stored, then times the share stored (a share of 1.0 stores the same float).
float StoredWindowValue(const PairCall& call) {
    if (call.kind == PowerKind::Zero) return 0.0f;
    const double share = call.rule.family.recordShare;
    if (call.rule.harmonics.last > 1) {
        const float stored =
            static_cast<float>(SumOverHarmonics(call.rule.harmonics, [&](int h) { return call.Term(h, share); }));
        return stored;
    }
    float entry = static_cast<float>(call.Quantity(1) * call.rule.factor);
    entry = static_cast<float>(entry * call.scale);
    entry = static_cast<float>(entry * share);
    return entry;
}

// Runs walk(window) with window(offset) forming the phasors of the window at
// offset from the bins of the harmonic set alone. A caller's buffers receive
// the whole spectrum of the last window only, so that window is formed again
// whole once the walk is over: the same bins, the same phasors.
template <typename Walk>
void WalkOnUsedBins(PairCall& call, int fftSize, Walk&& walk) {
    const SpectrumUse use = call.sources.use;
    call.sources.use = SpectrumUse::UsedBinsOnly;
    std::optional<int> last;
    walk([&](int offset) {
        last = offset;
        call.Window(offset, fftSize);
    });
    call.sources.use = use;
    if (use == SpectrumUse::WholeSpectrum && last) call.Window(*last, fftSize);
}

void Block(const PairRule& rule, CallRecords records, WindowSpan span, const Spectrum* buffers) {
    WithPairCall(rule, records, Reads::Samples, span.fftSize, kMinimumBlockWindow, true, buffers, [&](PairCall& call) {
        WalkOnUsedBins(call, span.fftSize, [&](auto&& window) {
            WalkBlock(ResultArray(records.target), span.start, span.count, span.fftSize, rule.placement.walk,
                      [&](int offset) {
                          window(offset);
                          return rule.family.windowValue(call);
                      });
        });
        return 0.0;
    });
}

double Record(const PairRule& rule, CallRecords records, WindowSpan span, const Spectrum* buffers) {
    const bool anyWindow = span.count >= span.fftSize;
    return WithPairCall(rule, records, Reads::Results, span.fftSize, 0, anyWindow, buffers, [&](PairCall& call) {
        float* result = ResultArray(records.target);
        FloatMean mean;
        WalkOnUsedBins(call, span.fftSize, [&](auto&& window) {
            WalkRecord(span.start, span.count, span.fftSize, span.fftSize, rule.placement.recordWindow,
                       [&](int position, int offset) {
                           window(offset);
                           const float stored = StoredWindowValue(call);
                           result[position] = stored;
                           mean.Add(stored);
                       });
        });
        return mean.Value();
    });
}

}  // namespace

void PairCall::Window(int offset, int fftSize) {
    PhasorsOfWindow(sources, offset, fftSize, rule.harmonics);
    CombinedProducts(sources, rule.wiring, turn, rule.harmonics, products);
}

double PairCall::Quantity(int h) const { return Select(products[h], kind); }

double PairCall::Term(int h, double share) const {
    if (kind == PowerKind::Zero) return 0.0;
    return Quantity(h) * rule.factor * scale * share;
}

double UnroundedSum(const PairCall& call) {
    const double share = call.rule.family.blockShare;
    return SumOverHarmonics(call.rule.harmonics, [&](int h) { return call.Term(h, share); });
}

double RoundedFundamental(const PairCall& call) {
    const double v = UnroundedSum(call);
    if (call.rule.harmonics.last == 1) return static_cast<float>(v);
    return v;
}

double FloatRoundedSum(const PairCall& call) {
    const double share = call.rule.family.blockShare;
    return static_cast<float>(FloatSumOverHarmonics(call.rule.harmonics, [&](int h) { return call.Term(h, share); }));
}

void PairPowerBlock(const PairRule& rule, CallRecords records, WindowSpan span) {
    Block(rule, records, span, nullptr);
}
void PairPowerBlock(const PairRule& rule, CallRecords records, WindowSpan span, PairBuffers buffers) {
    const Spectrum spectra[] = {buffers.voltage, buffers.current};
    Block(rule, records, span, spectra);
}

double PairPowerRecord(const PairRule& rule, CallRecords records, WindowSpan span) {
    return Record(rule, records, span, nullptr);
}
double PairPowerRecord(const PairRule& rule, CallRecords records, WindowSpan span, PairBuffers buffers) {
    const Spectrum spectra[] = {buffers.voltage, buffers.current};
    return Record(rule, records, span, spectra);
}
