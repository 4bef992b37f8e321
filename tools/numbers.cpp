#include "numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kDefaultSignificant = 6;  // digits of a value the plan checks against nothing
constexpr int kMostSignificant = 9;     // a float's 24 bits hold about nine digits
constexpr double kToleranceDigits = 10.0;  // the last digit shown is a tenth of the tolerance or finer
constexpr double kPlainFrom = 0.1, kPlainTo = 10000.0;  // magnitudes shown without a prefix
constexpr int kLargestPrefix = 12, kSmallestPrefix = -12;  // T down to p

// The units a prefix reads naturally with; rpm, deg, pu and the like stay as they are.
bool TakesPrefix(const std::string& unit) {
    static const char* const kUnits[] = {"V", "A", "W", "var", "VA", "Hz", "s", "Wh", "varh", "VAh", "Ohm", "F", "H"};
    return std::any_of(std::begin(kUnits), std::end(kUnits), [&](const char* u) { return unit == u; });
}

int Leading(double magnitude) { return static_cast<int>(std::floor(std::log10(magnitude))); }

// Integer division rounding towards minus infinity, for negative exponents.
int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

int LastDigit(double value, double absoluteTolerance) {
    const double magnitude = std::fabs(value);
    const bool sized = std::isfinite(magnitude) && magnitude > 0.0;
    const bool toleranced = std::isfinite(absoluteTolerance) && absoluteTolerance > 0.0;
    if (!toleranced) return sized ? Leading(magnitude) - (kDefaultSignificant - 1) : 0;
    const int digit = Leading(absoluteTolerance / kToleranceDigits);
    return sized ? std::max(digit, Leading(magnitude) - (kMostSignificant - 1)) : digit;
}

int PrefixExponent(double magnitude, const std::string& unit, int lastDigit) {
    magnitude = std::fabs(magnitude);
    if (!TakesPrefix(unit) || !std::isfinite(magnitude) || (magnitude >= kPlainFrom && magnitude < kPlainTo)) return 0;
    const int engineering = magnitude > 0.0 ? 3 * FloorDiv(Leading(magnitude), 3) : 0;
    const int finest = -3 * FloorDiv(-lastDigit, 3);  // lastDigit rounded up to a multiple of 3
    return std::clamp(std::max(engineering, finest), kSmallestPrefix, kLargestPrefix);
}

std::string PrefixedUnit(int prefixExponent, const std::string& unit) {
    static const char* const kPrefixes[] = {"p", "n", "µ", "m", "", "k", "M", "G", "T"};
    return kPrefixes[(prefixExponent - kSmallestPrefix) / 3] + unit;
}

std::string ScaledNumber(double value, int prefixExponent, int lastDigit) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0.0 ? "inf" : "-inf";
    // Rounded at the last digit in the value's own scale, then scaled: the
    // decimals follow the digit, whatever the prefix.
    const double resolution = std::pow(10.0, lastDigit);
    double rounded = std::round(value / resolution) * resolution;
    if (rounded == 0.0) rounded = 0.0;  // no "-0"
    const int decimals = std::max(0, prefixExponent - lastDigit);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, rounded / std::pow(10.0, prefixExponent));
    return text;
}

std::string FormatQuantity(double value, const std::string& unit, int lastDigit) {
    const double shown = std::max(std::fabs(value), std::pow(10.0, lastDigit));
    const int prefix = PrefixExponent(shown, unit, lastDigit);
    const std::string number = ScaledNumber(value, prefix, lastDigit);
    return unit.empty() ? number : number + " " + PrefixedUnit(prefix, unit);
}
