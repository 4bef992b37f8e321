// Power factor and apparent power from the active- and reactive-power channels
// that the host lists just before the target (two places and one place before it).
#include <cmath>

#include "ampora.h"
#include "frame/resolve.h"

namespace {

enum class Status { PowerFactor, ApparentPower };

double StatusOf(double p, double q, Status status) {
    const double s = std::sqrt(q * q + p * p);
    if (status == Status::ApparentPower) return s;
    return s == 0.0 ? 0.0 : p / s;
}

// The block form: positions start .. start + count - 1, none above lastPosition.
void StatusBlock(CPtrList* channels, ChannelInfo* target, int start, int count, int lastPosition, Status status,
                 const char* exportName) {
    ChannelInfo* pq[2];
    if (!ResolveSources(channels, target, LookupFor(exportName), pq)) return;
    const float* p = ResultArray(pq[0]);
    const float* q = ResultArray(pq[1]);
    float* result = ResultArray(target);
    for (int i = 0; i < count; ++i) {
        const int j = start + i;
        if (j > lastPosition) return;
        const float stored = static_cast<float>(StatusOf(p[j], q[j], status));
        result[j] = stored;
    }
}

double StatusSum(CPtrList* channels, ChannelInfo* target, Status status, const char* exportName) {
    ChannelInfo* pq[2];
    if (!ResolveSources(channels, target, LookupFor(exportName), pq)) return 0.0;
    return StatusOf(pq[0]->SummaryValue, pq[1]->SummaryValue, status);
}

}  // namespace

void GetCosStatus(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t lastPosition) {
    StatusBlock(channels, target, start, count, lastPosition, Status::PowerFactor, "GetCosStatus");
}

void GetPSumStatus(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t lastPosition) {
    StatusBlock(channels, target, start, count, lastPosition, Status::ApparentPower, "GetPSumStatus");
}

double GetCosStatusSum(CPtrList* channels, ChannelInfo* target) {
    return StatusSum(channels, target, Status::PowerFactor, "GetCosStatusSum");
}

double GetPSumStatusSum(CPtrList* channels, ChannelInfo* target) {
    return StatusSum(channels, target, Status::ApparentPower, "GetPSumStatusSum");
}
