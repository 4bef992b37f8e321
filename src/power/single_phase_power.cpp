// Single-phase harmonic power: one voltage and one current source, active or
// reactive power from their RMS phasors, block by block over sliding windows and
// for a whole record over whole windows, in the caller's work buffers. The
// exports differ in the harmonics they add, the wiring (phase voltage, or line
// voltage turned back by 30°), the factor and where their windows lie.
#include "ampora.h"
#include "power/pair_power.h"

namespace {

constexpr double kThreePhases = 3.0;   // balanced system from one phase voltage
constexpr double kOnePhase = 1.0;      // no factor; multiplying by 1.0 is exact

// CalcKind 1 active, 2 reactive, anything else 0.0; each term is final once
// Scale is applied and the block forms ramp to the sum as it is.
constexpr PairFamily kSinglePhase{KindOneActiveTwoReactive, 1.0, 1.0, UnroundedSum, RmsPhasorThenTurned};

constexpr PairRule kGet3PBy1{kSinglePhase, Wiring::PhasePair, kFundamentalOnly, kThreePhases, kTrailingEndingAt};
constexpr PairRule kGet3PBy1All{kSinglePhase, Wiring::PhasePair, kHarmonicsOneToTwentyOne, kThreePhases,
                                kTrailingEndingAt};
constexpr PairRule kGetP{kSinglePhase, Wiring::PhasePair, kFundamentalOnly, kOnePhase, kLeadingBeginningAt};
constexpr PairRule kGetPAll{kSinglePhase, Wiring::PhasePair, kHarmonicsOneToTwentyOne, kOnePhase,
                            kLeadingBeginningAt};
// A line voltage: sqrt(3) as the reciprocal of the float 1/sqrt(3).
constexpr PairRule kGet3PBy1Line{kSinglePhase, Wiring::LinePair, kFundamentalOnly, kOneOverInvSqrt3Float,
                                 kTrailingEndingAt};
constexpr PairRule kGet3PBy1LineAll{kSinglePhase, Wiring::LinePair, kHarmonicsOneToTwentyOne,
                                    kOneOverInvSqrt3Float, kTrailingEndingAt};

}  // namespace

void Get3PBy1(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
              float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    PairPowerBlock(kGet3PBy1, {channels, target, LookupFor("Get3PBy1")}, {start, count, fftSize},
                   {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}
void Get3PBy1All(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                 float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    PairPowerBlock(kGet3PBy1All, {channels, target, LookupFor("Get3PBy1All")}, {start, count, fftSize},
                   {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}
void GetP(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
          float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    PairPowerBlock(kGetP, {channels, target, LookupFor("GetP")}, {start, count, fftSize},
                   {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}
void GetPAll(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
             float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    PairPowerBlock(kGetPAll, {channels, target, LookupFor("GetPAll")}, {start, count, fftSize},
                   {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}
void Get3PBy1Line(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                  float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    PairPowerBlock(kGet3PBy1Line, {channels, target, LookupFor("Get3PBy1Line")}, {start, count, fftSize},
                   {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}
void Get3PBy1LineAll(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                     float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    PairPowerBlock(kGet3PBy1LineAll, {channels, target, LookupFor("Get3PBy1LineAll")}, {start, count, fftSize},
                   {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}

double Get3PBy1Sum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length, int32_t fftSize,
                   float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    return PairPowerRecord(kGet3PBy1, {channels, target, LookupFor("Get3PBy1Sum")}, {start, length, fftSize},
                           {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}
double Get3PBy1LineSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length, int32_t fftSize,
                       float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    return PairPowerRecord(kGet3PBy1Line, {channels, target, LookupFor("Get3PBy1LineSum")}, {start, length, fftSize},
                           {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}
double Get3PBy1AllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length, int32_t fftSize,
                      float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    return PairPowerRecord(kGet3PBy1All, {channels, target, LookupFor("Get3PBy1AllSum")}, {start, length, fftSize},
                           {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}
double Get3PBy1LineAllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length, int32_t fftSize,
                          float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    return PairPowerRecord(kGet3PBy1LineAll, {channels, target, LookupFor("Get3PBy1LineAllSum")},
                           {start, length, fftSize}, {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}
double GetPAllSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length, int32_t fftSize,
                  float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    return PairPowerRecord(kGetPAll, {channels, target, LookupFor("GetPAllSum")}, {start, length, fftSize},
                           {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}
