// Engineering form for measurement replies: the scope answers in scientific
// notation (+1.23450E-03); the Measurement tab shows a metric prefix
// instead (+1.23450m), and "No edges" for the huge placeholder value the
// scope sends when a measurement has no result.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cvn {

inline constexpr std::string_view kNoEdges = "No edges";

// exponentText is the reply text after the "E" (for example "+01", "-03"),
// mantissaText the text before it. Returns the prefix ("", "k", "M", "G",
// "m", "u", "n", "p"), "No edges" for exponents of 21 and above, or "E"
// followed by the exponent text for exponents with no prefix (10 to 20,
// -13 and below).
//
// Where the prefix does not match the exponent exactly, mantissaText is
// replaced by the scaled value (+5.00000 with +01 becomes "50"); otherwise
// it is left exactly as received. Blanks and line ends around either text
// are ignored when reading it, and are dropped from the exponent that an
// "E" result repeats.
//
// Bad input is not an error: an exponent that is not a 16-bit integer, a
// mantissa that is not a number where scaling is needed, or an overflow
// gives "" and leaves mantissaText untouched, so the caller shows the
// mantissa as received with no prefix.
std::string GetSIPrefix(std::string_view exponentText, std::string& mantissaText);

// The text the Measurement tab shows for one reply split at "E": "No edges"
// alone, or the (scaled) mantissa, the prefix and the unit with no blanks.
std::string MeasurementDisplayText(std::string_view mantissaText, std::string_view exponentText,
                                   std::string_view unit);

// The value a reply split at "E" stands for, in the unit of its row:
// nothing for "No edges" and whenever the display would fall back to the
// mantissa alone (an exponent that is not a 16-bit integer, such as
// "+99999" or "abc", or a mantissa that is not a number), so a value is
// never one the scope did not send.
std::optional<double> MeasurementReplyValue(std::string_view mantissaText,
                                            std::string_view exponentText);

// A scaled mantissa as text: full stop as decimal separator, a minus sign
// only when negative, at most 15 significant digits, no trailing zeros and
// no trailing point. Plain notation from 1E-4 up to below 1E15 (which
// covers every scaled mantissa), exponent form such as "1E-05" outside.
std::string FormatScaledMantissa(double value);

}  // namespace cvn
