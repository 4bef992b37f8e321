// Numbers as an engineer reads them in the report and on the plot's axes:
// SI prefixes on the units that take them ("96.5823 MW"), and as many digits
// as the tolerance asks for ("49.888 Hz" against ±0.05 Hz, "0.8732").
#pragma once

#include <string>

// The power of ten of the last digit a value is shown with: a tenth of the
// tolerance or finer when the plan states one (absoluteTolerance > 0), six
// significant digits otherwise; never more digits than a float holds.
int LastDigit(double value, double absoluteTolerance);

// The prefix's power of ten (a multiple of 3) for numbers of this size in this
// unit: 0 for units that take no prefix (rpm, deg, pu, none) and for
// magnitudes from 0.1 to 10000, which read well as they are. Never below the
// last digit shown (lastDigit), so "0.0 mV" and not "0 µV" for a coarse zero.
int PrefixExponent(double magnitude, const std::string& unit, int lastDigit);

// The unit with the prefix of the exponent ("MW"); the unit as given for 0.
std::string PrefixedUnit(int prefixExponent, const std::string& unit);

// value / 10^prefixExponent with the decimals that reach lastDigit, rounded
// there ("-0" never appears); "nan", "inf" and "-inf" as such.
std::string ScaledNumber(double value, int prefixExponent, int lastDigit);

// The value with its prefixed unit: "96.5823 MW", "0.8732" (no unit).
std::string FormatQuantity(double value, const std::string& unit, int lastDigit);
