// Number conversions done the way the automation runtime does them: rounding
// to integers with halves going to the even neighbour, overflow reported as
// error 6, numbers read from and written to text in the invariant format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cvn::automation {

// Nearest integer value, halves to even (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double roundHalfEven(double value);

// Rounded half to even, then range-checked; AutomationError 6 when the
// rounded value (or NaN) does not fit.
int16_t toInteger(double value);
int32_t toLong(double value);
uint8_t toByte(double value);

// Optional blanks, sign, digits with an optional decimal point, optional
// exponent ("  -1.5e3 ", ".5", "2E+3"). Anything else, including an empty
// text, "inf" or "nan", is not a number.
std::optional<double> parseNumber(std::string_view text);

// Up to 15 significant digits, no trailing zeros, exponent form for very
// large or small magnitudes ("0.1", "1234567", "1E+20", "1.5E-07").
std::string formatNumber(double value);

}  // namespace cvn::automation
