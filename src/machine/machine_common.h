// What the synchronous-machine exports share: unit conversions and the mean of
// a value repeated once per window position.
#pragma once

constexpr double kDegreesPerRadian = 57.29577791868204;
constexpr double kRadiansPerDegree = 0.017453293005625408;

// The calculated angles are accumulated once for every position j = 0, step,
// 2·step, ... <= count - step, as float sums, and divided by the number of
// terms. The inputs do not change with j, so this is the value up to the float
// accumulation. No terms (count < step, or a step below 1 that would never
// advance) gives 0.0.
inline double RepeatedFloatMean(double value, int count, int step) {
    if (step < 1 || count < step) return 0.0;
    float sum = 0.0f;
    int terms = 0;
    for (int j = 0; j <= count - step; j += step) {
        sum = static_cast<float>(sum + value);
        ++terms;
    }
    return static_cast<double>(sum) / terms;
}
