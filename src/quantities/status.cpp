// Power factor and apparent power from the active- and reactive-power channels
// that the host lists just before the target (two places and one place before it).
#include <algorithm>
#include <cmath>

#include "ampora.h"
#include "frame/arguments.h"
#include "frame/resolve.h"

namespace {

enum class Status { PowerFactor, ApparentPower };

// The power factor divides by 1 where the apparent power is 0 and then takes
// 0: no branch, so the block loop runs on several positions at once.
template <Status status>
double StatusOf(double p, double q) {
    const double s = std::sqrt(q * q + p * p);
    if constexpr (status == Status::ApparentPower) return s;
    const double ratio = p / (s == 0.0 ? 1.0 : s);
    return s == 0.0 ? 0.0 : ratio;
}

// The block form: positions start .. start + count - 1, none above lastPosition.
template <Status status>
void StatusBlock(CPtrList* channels, ChannelInfo* target, int start, int count, int lastPosition,
                 const char* exportName) {
    ChannelInfo* pq[2];
    if (!ResolveSources(channels, target, LookupFor(exportName), pq)) return;
    const float* p = ResultArray(pq[0]);
    const float* q = ResultArray(pq[1]);
    float* result = ResultArray(target);
    // The last position is found first, so the loop itself has no exit and
    // the compiler can run it on several positions at once.
    const long long end = std::min<long long>(static_cast<long long>(start) + count - 1, lastPosition);
    for (long long j = FirstInRecord(start); j <= end; ++j) {
        const float stored = static_cast<float>(StatusOf<status>(p[j], q[j]));
        result[j] = stored;
    }
}

template <Status status>
double StatusSum(CPtrList* channels, ChannelInfo* target, const char* exportName) {
    ChannelInfo* pq[2];
    if (!ResolveSources(channels, target, LookupFor(exportName), pq)) return 0.0;
    return StatusOf<status>(pq[0]->SummaryValue, pq[1]->SummaryValue);
}

}  // namespace

void GetCosStatus(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t lastPosition) {
    StatusBlock<Status::PowerFactor>(channels, target, start, count, lastPosition, "GetCosStatus");
}

void GetPSumStatus(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t lastPosition) {
    StatusBlock<Status::ApparentPower>(channels, target, start, count, lastPosition, "GetPSumStatus");
}

double GetCosStatusSum(CPtrList* channels, ChannelInfo* target) {
    return StatusSum<Status::PowerFactor>(channels, target, "GetCosStatusSum");
}

double GetPSumStatusSum(CPtrList* channels, ChannelInfo* target) {
    return StatusSum<Status::ApparentPower>(channels, target, "GetPSumStatusSum");
}
