// The three calculation methods: their formulas, running extremes and means.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "ampora.h"
#include "support/integrity.h"

namespace {

struct MethodCase {
    const char* name;
    int method;
    double a, b, c;
    std::vector<float> s0, s1;
    std::vector<float> expected;
};

void RunBlock(int method, CPtrList* list, ChannelInfo* t, int start, int count) {
    if (method == 1) GetCalculatMethod1(list, t, start, count);
    if (method == 2) GetCalculatMethod2(list, t, start, count);
    if (method == 3) GetCalculatMethod3(list, t, start, count);
}
double RunWhole(int method, CPtrList* list, ChannelInfo* t, int start, int count) {
    if (method == 1) return GetCalculatMethod1Sum(list, t, start, count);
    if (method == 2) return GetCalculatMethod2Sum(list, t, start, count);
    return GetCalculatMethod3Sum(list, t, start, count);
}

void PrintTo(const MethodCase& c, std::ostream* os) { *os << c.name; }

class CalcMethods : public testing::TestWithParam<MethodCase> {};

// Each method in its block form (samples) and its whole-record form (results):
// the stored values, the mean, and nothing written outside the block and the
// running extremes.
TEST_P(CalcMethods, FormulaExtremesAndMean) {
    const MethodCase& c = GetParam();
    for (bool whole : {false, true}) {
        HostChannels host(0xA5);
        ChannelInfo* s0 = host.Add(1);
        ChannelInfo* s1 = host.Add(2);
        ChannelInfo* t = host.Add(3, false);
        (whole ? host.Results(s0, c.s0) : host.Samples(s0, c.s0));
        (whole ? host.Results(s1, c.s1) : host.Samples(s1, c.s1));
        const int n = static_cast<int>(c.expected.size());
        float* out = host.Results(t, n + 2, -99.0f);
        host.SetSources(t, {1, 2});
        t->CalcCoefA = c.a;
        t->CalcCoefB = c.b;
        t->CalcCoefC = c.c;
        t->ResultMax = -std::numeric_limits<double>::infinity();
        t->ResultMin = std::numeric_limits<double>::infinity();

        ByteWatch watch(host);
        watch.AllowFloats(out, 1, n);
        AMPORA_ALLOW_FIELD(watch, t, ResultMax);
        AMPORA_ALLOW_FIELD(watch, t, ResultMin);
        double mean = 0;
        if (whole) mean = RunWhole(c.method, host.List(), t, 1, n);
        else RunBlock(c.method, host.List(), t, 1, n);
        EXPECT_EQ(watch.Violations(), "");

        double sum = 0, mx = -1e300, mn = 1e300;
        for (int i = 0; i < n; ++i) {
            EXPECT_FLOAT_EQ(out[i + 1], c.expected[i]) << c.name << " position " << i + 1;
            sum += c.expected[i];
            mx = std::max<double>(mx, c.expected[i]);
            mn = std::min<double>(mn, c.expected[i]);
        }
        EXPECT_EQ(out[0], -99.0f);
        EXPECT_EQ(out[n + 1], -99.0f);
        EXPECT_DOUBLE_EQ(t->ResultMax, mx);
        EXPECT_DOUBLE_EQ(t->ResultMin, mn);
        if (whole) {
            EXPECT_DOUBLE_EQ(mean, sum / n) << c.name;
        }
    }
}

// Sources are read from position 1 on; position 0 is a decoy.
INSTANTIATE_TEST_SUITE_P(
    Examples, CalcMethods,
    testing::Values(MethodCase{"scale and offset", 1, 2.0, 1.0, 0.0, {-50, 0, 1, 2}, {-50, 0, 0, 0}, {1, 3, 5}},
                    MethodCase{"identity mean", 1, 1.0, 0.0, 0.0, {9, 1, 2, 3, 4}, {9, 0, 0, 0, 0}, {1, 2, 3, 4}},
                    MethodCase{"difference", 2, 1.0, -1.0, 0.0, {0, 5, 2}, {0, 1, 4}, {4, -2}},
                    MethodCase{"weighted sum", 2, 0.5, 2.0, 10.0, {0, 4}, {0, 3}, {18}},
                    MethodCase{"offset then scale", 3, 1.0, 10.0, 0.0, {0, 1.5f}, {0, 0}, {5.0f}}),
    [](const testing::TestParamInfo<MethodCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name) if (ch == ' ') ch = '_';
        return name;
    });

}  // namespace
