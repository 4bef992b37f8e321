// The three calculation methods: their formulas, running extremes and means.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "ampora.h"
#include "hostkit/host_channels.h"

namespace {

struct MethodCase {
    const char* name;
    void (*block)(CPtrList*, ChannelInfo*, int32_t, int32_t);
    double (*whole)(CPtrList*, ChannelInfo*, int32_t, int32_t);
    double a, b, c;
    std::vector<float> s0, s1;
    std::vector<float> expected;
};

// Sources are read from position 1 on; position 0 is a decoy.
const MethodCase kCases[] = {
    {"scale and offset", GetCalculatMethod1, GetCalculatMethod1Sum, 2.0, 1.0, 0.0, {-50, 0, 1, 2}, {-50, 0, 0, 0},
     {1, 3, 5}},
    {"identity mean", GetCalculatMethod1, GetCalculatMethod1Sum, 1.0, 0.0, 0.0, {9, 1, 2, 3, 4}, {9, 0, 0, 0, 0},
     {1, 2, 3, 4}},
    {"difference", GetCalculatMethod2, GetCalculatMethod2Sum, 1.0, -1.0, 0.0, {0, 5, 2}, {0, 1, 4}, {4, -2}},
    {"weighted sum", GetCalculatMethod2, GetCalculatMethod2Sum, 0.5, 2.0, 10.0, {0, 4}, {0, 3}, {18}},
    {"offset then scale", GetCalculatMethod3, GetCalculatMethod3Sum, 1.0, 10.0, 0.0, {0, 1.5f}, {0, 0}, {5.0f}},
    // Tenths that a float does not hold: extremes and mean are of the stored floats.
    {"tenths", GetCalculatMethod1, GetCalculatMethod1Sum, 0.1, 0.0, 0.0, {0, 1, 3}, {0, 0, 0}, {0.1f, 0.3f}},
};

// Each method in its block form (samples, in two calls: the running extremes
// carry over) and its whole-record form (results): the stored values, the
// mean, and nothing written beside the stretch.
TEST(CalcMethods, FormulaExtremesAndMean) {
    for (const MethodCase& c : kCases) {
        for (bool whole : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (whole ? ", whole record" : ", block"));
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
            double mean = 0;
            if (whole) {
                mean = c.whole(host.List(), t, 1, n);
            } else {
                c.block(host.List(), t, 1, 1);
                c.block(host.List(), t, 2, n - 1);
            }
            EXPECT_EQ(out[0], -99.0f);
            EXPECT_EQ(out[n + 1], -99.0f);

            double sum = 0, mx = -1e300, mn = 1e300;
            for (int i = 0; i < n; ++i) {
                EXPECT_FLOAT_EQ(out[i + 1], c.expected[i]) << "position " << i + 1;
                sum += c.expected[i];
                mx = std::max<double>(mx, c.expected[i]);
                mn = std::min<double>(mn, c.expected[i]);
            }
            EXPECT_DOUBLE_EQ(t->ResultMax, mx);
            EXPECT_DOUBLE_EQ(t->ResultMin, mn);
            if (whole) {
                EXPECT_DOUBLE_EQ(mean, sum / n);
            }
        }
    }
}

}  // namespace
