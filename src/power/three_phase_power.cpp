// Three-phase power from several voltage/current pairs, block by block and for a
// whole record: three-wire (line voltages with phase currents, the pair sum
// turned back by 30° and divided by sqrt(3)), delta (the sum of three pair
// powers) and two-wattmeter (pair 1 minus pair 2). The spectra are the call's
// own scratch; each family states its CalcKind rule, its share after Scale and
// where its block values round.
#include "ampora.h"
#include "power/pair_power.h"

namespace {

constexpr double kNoFactor = 1.0;   // multiplying by 1.0 is exact

// Three-wire: CalcKind 2 reactive, anything else active; each term times
// 1/sqrt(3) after Scale (the reciprocal of the float sqrt(3) in the block forms,
// the float 1/sqrt(3) in the whole-record forms); a block value is a float sum
// rounded after every addition.
constexpr PairFamily kThreeWire{KindReactiveAtTwo, kOneOverSqrt3Float, kInvSqrt3Float, FloatRoundedSum,
                                RmsPhasorThenTurned};
// Delta and two-wattmeter: CalcKind 1 active, anything else reactive; a block
// fundamental is rounded before the ramp, a harmonic sum kept in double.
constexpr PairFamily kPairSum{KindActiveAtOne, 1.0, 1.0, RoundedFundamental, RmsPhasorThenTurned};

constexpr PairRule Rule(PairFamily family, Wiring wiring, HarmonicSet harmonics) {
    return {family, wiring, harmonics, kNoFactor, kTrailingBeginningAt};
}

constexpr PairRule kThreeLine = Rule(kThreeWire, Wiring::ThreeLinePairs, kFundamentalOnly);
constexpr PairRule kThreeLineAll = Rule(kThreeWire, Wiring::ThreeLinePairs, kHarmonicsOneToTwentyOne);
constexpr PairRule kDelta = Rule(kPairSum, Wiring::ThreePairs, kFundamentalOnly);
constexpr PairRule kDeltaAll = Rule(kPairSum, Wiring::ThreePairs, kHarmonicsOneToTwentyOne);
constexpr PairRule kTwoWattmeter = Rule(kPairSum, Wiring::TwoWattmeter, kFundamentalOnly);
constexpr PairRule kTwoWattmeterAll = Rule(kPairSum, Wiring::TwoWattmeter, kHarmonicsOneToTwentyOne);

}  // namespace

// ---- three-wire line power ----

void GetThreeLineP(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    PairPowerBlock(kThreeLine, {channels, target, LookupFor("GetThreeLineP")}, {start, count, fftSize});
}
void GetThreeLinePAll(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    PairPowerBlock(kThreeLineAll, {channels, target, LookupFor("GetThreeLinePAll")}, {start, count, fftSize});
}
double GetThreeLinePSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    return PairPowerRecord(kThreeLine, {channels, target, LookupFor("GetThreeLinePSum")}, {start, count, fftSize});
}
double GetThreeLinePAllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    return PairPowerRecord(kThreeLineAll, {channels, target, LookupFor("GetThreeLinePAllSum")},
                           {start, count, fftSize});
}

// ---- delta power ----

void GetThreeAngleP(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    PairPowerBlock(kDelta, {channels, target, LookupFor("GetThreeAngleP")}, {start, count, fftSize});
}
void GetThreeAnglePAll(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    PairPowerBlock(kDeltaAll, {channels, target, LookupFor("GetThreeAnglePAll")}, {start, count, fftSize});
}
double GetThreeAnglePSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    return PairPowerRecord(kDelta, {channels, target, LookupFor("GetThreeAnglePSum")}, {start, count, fftSize});
}
double GetThreeAnglePAllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    return PairPowerRecord(kDeltaAll, {channels, target, LookupFor("GetThreeAnglePAllSum")}, {start, count, fftSize});
}

// ---- two-wattmeter power ----

void GetTwoAngleP(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    PairPowerBlock(kTwoWattmeter, {channels, target, LookupFor("GetTwoAngleP")}, {start, count, fftSize});
}
void GetTwoAnglePAll(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    PairPowerBlock(kTwoWattmeterAll, {channels, target, LookupFor("GetTwoAnglePAll")}, {start, count, fftSize});
}
double GetTwoAnglePSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    return PairPowerRecord(kTwoWattmeter, {channels, target, LookupFor("GetTwoAnglePSum")}, {start, count, fftSize});
}
double GetTwoAnglePAllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    return PairPowerRecord(kTwoWattmeterAll, {channels, target, LookupFor("GetTwoAnglePAllSum")},
                           {start, count, fftSize});
}
