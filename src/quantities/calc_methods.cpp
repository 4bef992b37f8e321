// Calculation methods: three linear per-position formulas with coefficients
// from the target record, each keeping the running extremes of what it stores.
#include "ampora.h"
#include "frame/arguments.h"
#include "frame/resolve.h"

namespace {

// Stores y at position i and folds the stored float into the running extremes.
float StoreTracked(ChannelInfo* target, int i, double y) {
    const float stored = static_cast<float>(y);
    ResultArray(target)[i] = stored;
    if (stored >= target->ResultMax) target->ResultMax = stored;
    if (stored <= target->ResultMin) target->ResultMin = stored;
    return stored;
}

// Runs formula(i, s0, s1) over the block and returns the mean of the stored
// values (0.0 when nothing was computed).
template <int Sources, typename Formula>
double RunMethod(CPtrList* channels, ChannelInfo* target, int start, int count, Reads reads,
                 Formula formula) {
    ChannelInfo* sources[Sources];
    if (!ResolveSources(channels, target, LookupFor("GetCalculatMethod1"), sources)) return 0.0;
    if (count < 1) return 0.0;
    const float* s0 = ValuesOf(sources[0], reads);
    const float* s1 = Sources > 1 ? ValuesOf(sources[Sources - 1], reads) : nullptr;
    double sum = 0.0;
    for (int i = FirstInRecord(start); i < EndOfBlock(start, count); ++i)
        sum += StoreTracked(target, i, formula(target, s0, s1, i));
    return sum / count;
}

double Method1(const ChannelInfo* t, const float* s0, const float*, int i) {
    return s0[i] * t->CalcCoefA + t->CalcCoefB;
}
double Method2(const ChannelInfo* t, const float* s0, const float* s1, int i) {
    return s1[i] * t->CalcCoefB + s0[i] * t->CalcCoefA + t->CalcCoefC;
}
double Method3(const ChannelInfo* t, const float* s0, const float*, int i) {
    return (s0[i] - t->CalcCoefA) * t->CalcCoefB;
}

}  // namespace

void GetCalculatMethod1(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    RunMethod<1>(channels, target, start, count, Reads::Samples, Method1);
}
void GetCalculatMethod2(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    RunMethod<2>(channels, target, start, count, Reads::Samples, Method2);
}
void GetCalculatMethod3(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    RunMethod<1>(channels, target, start, count, Reads::Samples, Method3);
}
double GetCalculatMethod1Sum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    return RunMethod<1>(channels, target, start, count, Reads::Results, Method1);
}
double GetCalculatMethod2Sum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    return RunMethod<2>(channels, target, start, count, Reads::Results, Method2);
}
double GetCalculatMethod3Sum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    return RunMethod<1>(channels, target, start, count, Reads::Results, Method3);
}
