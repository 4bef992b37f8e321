// The EMF, the saturation factor and the calculated power angle of a
// synchronous machine, from whole-record voltage, current and power values.
#include "dsp/elementary.h"
#include <cmath>

#include "ampora.h"
#include "dsp/phase_angle.h"
#include "frame/resolve.h"
#include "machine/angle_fold.h"
#include "machine/machine_common.h"

namespace {

constexpr double kTjjReactanceFactor = 0.8;   // the TJJ form sees 0.8 of the reactance
constexpr int kKmTableEntries = 20;
constexpr double kKmFirstEmfPercent = 90.0;   // entry k belongs to the EMF 0.90 + 0.01·k
constexpr double kKmLastEmfPercent = 109.0;

// |U + (r + j·k·x)·I·e^(-j·phi)| in per unit.
double EmfMagnitude(const ChannelInfo* u, const ChannelInfo* i, double uBase, double iBase, double r, double x,
                    float phi, double k) {
    if (u == nullptr || i == nullptr) return 0.0;
    const double uPu = u->SummaryValue / uBase;
    const double iPu = i->SummaryValue / iBase;
    const double cosPhi = Cos(phi), sinPhi = Sin(phi);
    const double along = uPu + iPu * (r * cosPhi + k * x * sinPhi);
    const double across = iPu * (k * x * cosPhi - r * sinPhi);
    return std::sqrt(std::pow(along, 2.0) + std::pow(across, 2.0));
}

}  // namespace

double GetEqYJJ(ChannelInfo* uChannel, ChannelInfo* iChannel, double uBase, double iBase, double r, double x,
                float phi) {
    return EmfMagnitude(uChannel, iChannel, uBase, iBase, r, x, phi, 1.0);
}

double GetEqTJJ(ChannelInfo* uChannel, ChannelInfo* iChannel, double uBase, double iBase, double r, double x,
                float phi) {
    return EmfMagnitude(uChannel, iChannel, uBase, iBase, r, x, phi, kTjjReactanceFactor);
}

double GetKmByEq(ChannelInfo* record, float eq) {
    if (record == nullptr) return 1.0;
    const double* table = record->KmTable;
    const double percent = eq * 100.0;
    if (percent >= kKmLastEmfPercent) return table[kKmTableEntries - 1];
    // Below 0.91 (and for an EMF that is not a number) the first entry holds.
    if (!(percent >= kKmFirstEmfPercent + 1.0)) return table[0];
    const int n = static_cast<int>(percent);
    const double low = table[n - 90], high = table[n - 89];
    // Between two entries the factor is interpolated linearly: the weight grows
    // from 0 at the EMF n/100 (entry n - 90) to 1 at (n + 1)/100 (entry n - 89),
    // so a table of measured factors is followed between its points.
    const double weight = percent - n;
    return low + weight * (high - low);
}

double GetGJ3Sum(CPtrList* channels, ChannelInfo* target, int32_t, int32_t count, int32_t step) {
    ChannelInfo* sources[2];
    if (!ResolveSources(channels, target, LookupFor("GetGJ3Sum"), sources)) return 0.0;
    const ChannelInfo* p = FindSummaryRecord(channels, target, 2);
    const ChannelInfo* q = FindSummaryRecord(channels, target, 3);
    if (p == nullptr || q == nullptr) return 0.0;
    ChannelInfo* v = sources[0];   // the voltage channel carries the machine's data
    ChannelInfo* a = sources[1];   // the current channel carries the saturation table

    const float phi = static_cast<float>(PhaseAngle(p->SummaryValue, q->SummaryValue));
    const bool yjj = v->MachineKind == 1.0;
    const double x0 = yjj ? v->AngleReactanceYJJ : v->AngleReactanceTJJ;
    double x = x0;
    if (v->SaturationOn == 1.0) {
        const float eq = static_cast<float>(
            yjj ? GetEqYJJ(v, a, v->VoltageBase, v->CurrentBase, v->EmfResistance, v->EmfReactanceYJJ, phi)
                : GetEqTJJ(v, a, v->VoltageBase, v->CurrentBase, v->EmfResistance, v->EmfReactanceTJJ, phi));
        x = GetKmByEq(a, eq) * x0 + v->ReactanceAddend;
    }
    const double u = v->SummaryValue / v->VoltageBase;
    const double i = a->SummaryValue / v->CurrentBase;
    const float re = static_cast<float>(u * Cos(phi));
    // The current lies along the real axis and the EMF is U + jX·I.
    const double delta = PhaseAngle(re, u * Sin(phi) + i * x) - phi;
    const double delta0 = PhaseAngle(re, u * Sin(phi) + i * x0) - phi;

    const double saturated = FoldPowerAngle(RepeatedFloatMean(delta, count, step) * kDegreesPerRadian);
    const double unsaturated = FoldPowerAngle(RepeatedFloatMean(delta0, count, step) * kDegreesPerRadian);
    target->SummaryValue = saturated;
    target->SummaryAux[1] = unsaturated;
    return saturated;
}

// Also exported as GetGJ6Sum: the same routine under both names.
double GetGJ4Sum(CPtrList* channels, ChannelInfo* target, int32_t, int32_t count, int32_t step) {
    if (channels == nullptr || FindChannelById(channels, SourceIdArray(target)[4]) == nullptr) return 0.0;
    const ChannelInfo* r[4];
    for (int k = 0; k < 4; ++k)
        if ((r[k] = FindSummaryRecord(channels, target, k)) == nullptr) return 0.0;
    const double theta = (r[3]->SummaryValue + r[0]->SummaryValue) * kRadiansPerDegree;
    const double alpha = PhaseAngle(r[1]->SummaryValue, r[2]->SummaryValue);
    const double angle = RepeatedFloatMean((theta - alpha) * kDegreesPerRadian, count, step);
    target->SummaryValue = angle;
    return angle;
}

#if !defined(_WIN32)
extern "C" double GetGJ6Sum(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t)
    __attribute__((alias("GetGJ4Sum"), visibility("default")));
#endif

double GetJXtmp(CPtrList* channels, ChannelInfo* target) {
    if (channels == nullptr) return 0.0;
    const ChannelInfo* summary = FindSummaryRecord(channels, target, 0);
    return summary != nullptr ? summary->SummaryAux[1] : 0.0;
}
