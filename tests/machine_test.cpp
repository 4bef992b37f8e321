// Synchronous machine: EMF, saturation factor, calculated and measured power
// angles, and the voltages carried through transformer and line.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ampora.h"
#include "machine/angle_fold.h"
#include "machine/machine_common.h"
#include "hostkit/host_channels.h"
#include "support/power_signals.h"

namespace {

constexpr double kDeg = kPi / 180.0;

TEST(MachineEmf, NoCurrentGivesTheVoltageAndTheTjjFormSeesEightTenthsOfX) {
    HostChannels host;
    ChannelInfo* u = host.Add(1);
    ChannelInfo* i = host.Add(2);
    u->SummaryValue = 230.0;
    i->SummaryValue = 0.0;
    EXPECT_DOUBLE_EQ(GetEqYJJ(u, i, 230.0, 10.0, 0.05, 1.2, 0.5f), 1.0);
    i->SummaryValue = 10.0;
    EXPECT_DOUBLE_EQ(GetEqTJJ(u, i, 230.0, 10.0, 0.1, 1.0, 0.7f), GetEqYJJ(u, i, 230.0, 10.0, 0.1, 0.8, 0.7f));
}

TEST(MachineEmf, SaturationTableEndsAndInterpolation) {
    HostChannels host;
    ChannelInfo* a = host.Add(2);
    for (int k = 0; k < 20; ++k) a->KmTable[k] = 1.0 + 0.1 * k;
    EXPECT_EQ(GetKmByEq(a, 0.905f), 1.0);
    EXPECT_EQ(GetKmByEq(a, 1.2f), a->KmTable[19]);
    EXPECT_NEAR(GetKmByEq(a, 0.955f), 1.55, 1e-5) << "halfway between entries 5 and 6";
    EXPECT_NEAR(GetKmByEq(a, 1.0f), 2.0, 1e-5);
    EXPECT_EQ(GetKmByEq(a, std::nanf("")), 1.0);
}

// Voltage 1, current 2, power summaries 3 + 36 and 4 + 36, target 9.
struct CalculatedAngle {
    HostChannels host{0x3C};
    ChannelInfo* v = host.Add(1);
    ChannelInfo* a = host.Add(2);
    ChannelInfo* p = host.Add(3 + 36);
    ChannelInfo* q = host.Add(4 + 36);
    ChannelInfo* target = host.Add(9, false);
    CalculatedAngle() {
        host.SetSources(target, {1, 2, 3, 4}, /*byIndex=*/true);   // always by id
        v->SummaryValue = 230.0;
        v->VoltageBase = 230.0;
        v->CurrentBase = 10.0;
        a->SummaryValue = 10.0;
        p->SummaryValue = std::cos(30 * kDeg);
        q->SummaryValue = std::sin(30 * kDeg);
        v->MachineKind = 1.0;
        v->AngleReactanceYJJ = 1.0;
        v->AngleReactanceTJJ = 7.0;
        v->EmfReactanceYJJ = 1.0;
        v->EmfResistance = 0.0;
        v->ReactanceAddend = 0.0;
        v->SaturationOn = 0.0;
        for (double& km : a->KmTable) km = 0.5;
    }
    double Run() { return GetGJ3Sum(host.List(), target, 0, 1000, 100); }
};

TEST(MachineAngle, CalculatedFromAPhasorDiagram) {
    CalculatedAngle c;
    // U = I = 1 pu, 30° lagging, X = 1: tan(δ + 30°) = (0.5 + 1)/0.866, δ = 30°.
    EXPECT_NEAR(c.Run(), 30.0, 1e-4);
    EXPECT_EQ(c.target->SummaryValue, c.target->SummaryAux[1]) << "without saturation both angles agree";
    c.v->MachineKind = 0.0;   // the TJJ reactance 7: tan(δ + 30°) = 7.5/0.866
    EXPECT_NEAR(c.Run(), std::atan(7.5 / std::cos(30 * kDeg)) / kDeg - 30.0, 1e-4);
    c.v->MachineKind = 1.0;
    c.v->SaturationOn = 1.0;   // the table halves the reactance
    EXPECT_NEAR(c.Run(), std::atan(1.0 / std::cos(30 * kDeg)) / kDeg - 30.0, 1e-4);
    EXPECT_NEAR(c.target->SummaryAux[1], 30.0, 1e-4) << "the unsaturated angle";
    EXPECT_EQ(GetGJ3Sum(c.host.List(), c.target, 0, 50, 100), 0.0) << "count below step";
}

TEST(MachineAngle, FoldingRanges) {
    EXPECT_EQ(FoldPowerAngle(500.0), 140.0);
    EXPECT_EQ(FoldPowerAngle(-300.0), 60.0);
    EXPECT_EQ(FoldMeasuredAngle(-30.0), 330.0);
    EXPECT_EQ(FoldMeasuredAngle(725.0), 5.0);
    EXPECT_TRUE(std::isnan(FoldPowerAngle(NAN)));
    EXPECT_TRUE(std::isinf(FoldMeasuredAngle(INFINITY)));
    const double huge = FoldPowerAngle(1e30);
    EXPECT_TRUE(huge >= -90.0 && huge < 270.0) << huge;
}

// The difference of stored angles, and the second slot of a summary record.
TEST(MachineAngle, DifferenceOfStoredAnglesAndSecondSummarySlot) {
    HostChannels host;
    ChannelInfo* r[4];
    for (int k = 0; k < 4; ++k) r[k] = host.Add(k + 1 + 36);
    host.Add(5);
    ChannelInfo* target = host.Add(9, false);
    host.SetSources(target, {1, 2, 3, 4, 5});
    r[0]->SummaryValue = 10.0;
    r[3]->SummaryValue = 20.0;
    r[1]->SummaryValue = 1.0;
    r[2]->SummaryValue = 1.0;   // 45°
    EXPECT_NEAR(GetGJ4Sum(host.List(), target, 0, 10, 1), -15.0, 1e-5);
    EXPECT_NEAR(target->SummaryValue, -15.0, 1e-5);
    r[3]->SummaryValue = 400.0;
    EXPECT_GT(GetGJ4Sum(host.List(), target, 0, 10, 1), 300.0) << "not folded";
    host.SetSources(target, {1, 2, 3, 4, 6});
    EXPECT_EQ(GetGJ4Sum(host.List(), target, 0, 10, 1), 0.0) << "the fifth record must exist";
    host.SetSources(target, {3});
    r[2]->SummaryAux[1] = 12.5;
    EXPECT_EQ(GetJXtmp(host.List(), target), 12.5);
}

// The float mean of a repeated angle stops adding once its sum can no longer
// change: the same bits as adding every term (a count of INT_MAX then takes
// about 2^24 additions, not 2^31).
TEST(MachineAngle, RepeatedMeanStopsWhenTheFloatSumCannotChange) {
    const int count = 1 << 25;
    for (const double value : {0.37, -1e-3, std::nan("")}) {
        float sum = 0.0f;
        for (int j = 0; j < count; ++j) sum = static_cast<float>(sum + value);
        const double mean = RepeatedMean<float>(value, count, 1), every = static_cast<double>(sum) / count;
        EXPECT_TRUE(mean == every || (std::isnan(mean) && std::isnan(every))) << value;
    }
}

// A 50 Hz voltage at 10 kS/s and a key pulse rising delaySamples before each
// of its rising zero crossings (once per revolution, every revPeriods periods).
struct MeasuredAngle {
    static constexpr int kSamples = 4000;
    static constexpr double kPeriod = 200.0;
    HostChannels host{0x77};
    ChannelInfo* v = host.Add(1);
    ChannelInfo* k = host.Add(2);
    ChannelInfo* f = host.Add(3 + 36);
    ChannelInfo* target = host.Add(9, false);
    MeasuredAngle(double voltagePeriod, int delaySamples, int revPeriods) {
        // Rising zero crossings of the voltage (amplitude 100) at 100.5 + n·period.
        host.Results(v, Signal(kSamples, voltagePeriod, {{100.0 / std::sqrt(2.0), -2 * kPi * 100.5 / voltagePeriod - kPi / 2}}));
        std::vector<float> key(kSamples, 0.0f);
        // The 0/1 key reaches level 0.5 half a sample before the sample where it is 1.
        for (double rise = 100.5 - delaySamples + 0.5; rise < kSamples; rise += kPeriod * revPeriods)
            for (int i = static_cast<int>(rise); i < std::min<int>(kSamples, rise + 20); ++i) key[i] = 1.0f;
        host.Results(k, key);
        host.SetSources(target, {1, 2, 3});
        f->SummaryValue = 50.0;
        v->KeyLevel = 0.0;
        v->AngleOffset = 6.0;
        v->RatedSpeed = 3000.0 / revPeriods;
    }
};

TEST(MachineMeasuredAngle, AVoltageOutsideFortyFiveToFiftyFiveHertzIsMeasuredOnce) {
    // 60 Hz: after the first measurement no crossing fits the period test. The key
    // follows the voltage, its first pulse 20 samples ahead; later pulses drift.
    MeasuredAngle m(10000.0 / 60.0, 20, 1);
    std::vector<float> key(MeasuredAngle::kSamples, 0.0f);
    for (double rise = 81.0; rise < MeasuredAngle::kSamples; rise += 10000.0 / 60.0 * 1.7)
        for (int i = static_cast<int>(rise); i < static_cast<int>(rise) + 20; ++i) key[i] = 1.0f;
    std::copy(key.begin(), key.end(), ResultArray(m.k));
    // 20 samples at 10 kS/s and the recorded 50 Hz: 36°, less the 6° offset.
    EXPECT_NEAR(GetGJSum(m.host.List(), m.target, 0, MeasuredAngle::kSamples, 10.0, MeasuredAngle::kSamples), 30.0,
                0.02);
    EXPECT_EQ(m.v->KeyLevel, 0.5) << "the key level is kept in the voltage record";
}

TEST(MachineMeasuredAngle, SeveralVoltagePeriodsPerRevolution) {
    // Two periods per revolution: the measurement is taken at the second crossing
    // after each key pulse, (20 + 200) samples later, and halved: 198°, less 6°.
    MeasuredAngle m(200.0, 20, 2);
    EXPECT_NEAR(GetGJ5Sum(m.host.List(), m.target, 0, MeasuredAngle::kSamples, 10.0, 400), 192.0, 0.5);
    // A voltage stride longer than the record (from 1.37e10 samples per
    // millisecond on it overflowed) finds no crossing; no rate, no measurement.
    for (const double rate : {1.4e10, 0.0, std::nan("")}) {
        EXPECT_EQ(GetGJ5Sum(m.host.List(), m.target, 0, MeasuredAngle::kSamples, rate, 400), 0.0) << rate;
        EXPECT_EQ(GetGJSum(m.host.List(), m.target, 0, MeasuredAngle::kSamples, rate, MeasuredAngle::kSamples), 0.0);
    }
    m.v->RatedSpeed = 0.0;
    EXPECT_EQ(GetGJ5Sum(m.host.List(), m.target, 0, MeasuredAngle::kSamples, 10.0, 400), 0.0);
}

// The per-unit chain: terminal voltage U and current I, one cycle per 64-sample window.
struct Summaries {
    static constexpr int kWindow = 64;
    HostChannels host{0x11};
    ChannelInfo* u = host.Add(1);
    ChannelInfo* i = host.Add(2);
    ChannelInfo* t = host.Add(4 + 36);   // GetUTSum's target is the summary record of channel 4
    ChannelInfo* powerAngle = host.Add(5 + 36);
    ChannelInfo* x = host.Add(6, false);
    std::vector<float> pu = std::vector<float>(13, 0.0f);
    Summaries(double currentRms) {
        host.Results(u, Signal(4 * kWindow, kWindow, {{1.0, 0.0}}));
        host.Results(i, Signal(4 * kWindow, kWindow, {{currentRms, 0.0}}));
        pu[0] = 1.0f;
        pu[1] = 1.0f;
        pu[2] = 1.0f;
        pu[6] = 1.0f;
        pu[8] = 0.1f;
        pu[12] = 0.2f;
        powerAngle->SummaryValue = 0.0;
    }
};

TEST(MachineSummaries, ZeroCurrentAndZeroLineImpedance) {
    Summaries s(0.0);
    s.host.SetSources(s.t, {1, 2});
    EXPECT_NEAR(GetUTSum(s.host.List(), s.t, 0, 4 * Summaries::kWindow, Summaries::kWindow, s.pu.data()), 1.0, 1e-5);
    EXPECT_NEAR(s.u->SummaryAux[1] - s.u->SummaryAux[0], -30 * kDeg, 1e-5) << "T lags U by 30°";
    s.pu[12] = 0.0f;
    ChannelInfo* a = s.host.Add(7 + 36);
    a->SummaryAux[0] = 0.6;
    a->SummaryAux[1] = 0.8;
    s.host.SetSources(s.x, {7, 2, 1});
    s.pu[6] = 2.0f;
    EXPECT_NEAR(GetUXSum(s.host.List(), s.x, 0, 0, 0, s.pu.data()), 2.0, 1e-6);
}

TEST(MachineSummaries, WholeChainAgainstAPhasorDiagram) {
    // U = 1∠0, I = 1∠0 pu; T = U·e^(-j30°) − j0.1·I = 0.866 − j0.6;
    // X = T − j0.2·I = 0.866 − j0.8.
    Summaries s(1.0);
    s.host.SetSources(s.t, {1, 2});
    const double ut = GetUTSum(s.host.List(), s.t, 0, 4 * Summaries::kWindow, Summaries::kWindow, s.pu.data());
    EXPECT_NEAR(ut, std::hypot(0.866025, 0.6), 1e-4);

    s.host.SetSources(s.x, {4, 2, 1});
    const double ux = GetUXSum(s.host.List(), s.x, 0, 0, 0, s.pu.data());
    EXPECT_NEAR(ux, std::hypot(0.866025, 0.8), 1e-4);

    ChannelInfo* angle = s.host.Add(8, false);
    s.host.SetSources(angle, {1, 5});
    EXPECT_NEAR(GetAngleTSum(s.host.List(), angle), std::atan2(0.6, 0.866025) / kDeg - 30.0, 1e-3);
    EXPECT_NEAR(GetAngleXSum(s.host.List(), angle), std::atan2(0.8, 0.866025) / kDeg - 30.0, 1e-3);

    // The terminal-voltage form computes the same X from one window.
    ChannelInfo* reference = s.host.Add(3);
    s.host.Results(reference, Signal(4 * Summaries::kWindow, Summaries::kWindow, {{std::sqrt(0.5), 0.0}}));
    s.host.SetSources(s.x, {1, 2, 3});
    const double ux2 = GetUX2Sum(s.host.List(), s.x, 0, 0, Summaries::kWindow, s.pu.data());
    EXPECT_NEAR(ux2, std::hypot(1.0, 0.2), 1e-4) << "X = U − j0.2·I without the transformer";
}

TEST(MachineSummaries, AngleExportsFold) {
    HostChannels host;
    ChannelInfo* a = host.Add(1);
    ChannelInfo* b = host.Add(2 + 36);
    ChannelInfo* target = host.Add(9, false);
    host.SetSources(target, {1, 2});
    a->SummaryAux[0] = a->SummaryAux[1] = a->SummaryAux[2] = 0.25;
    b->SummaryValue = 0.0;
    EXPECT_DOUBLE_EQ(GetAngleTSum(host.List(), target), -30.0);
    a->SummaryAux[1] = 5.0;
    a->SummaryAux[2] = 0.0;
    EXPECT_NEAR(GetAngleX2Sum(host.List(), target), 5.0 * 57.2957763671875 - 360.0, 1e-9);   // -73.52°
}

}  // namespace
