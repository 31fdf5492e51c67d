// Text reply conversions, written once and used everywhere: instruments pad
// numbers with blanks and end replies with a line feed, and every caller
// that turns a reply into a number must ignore both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cvn::io {

// Blanks, tabs, CR and LF removed at both ends.
std::string_view trimReply(std::string_view text);

// A number in the form instruments send: optional sign, digits, decimal
// point, exponent ("+9.9E+37", " 1000\n", "2e3"). Blanks and line ends
// around it are ignored; anything else makes it not a number.
std::optional<double> toNumber(std::string_view text);

// The same, rounded to a 16-bit signed integer (halves to even); nothing
// when not a number or out of range.
std::optional<int16_t> toInt16(std::string_view text);

// A reply split at commas. The terminator at the very end (LF, CR LF) is
// removed from the last field; nothing else is trimmed.
std::vector<std::string> splitFields(std::string_view reply);

}  // namespace cvn::io
