// Metric prefixes for measurement replies. Parsing and printing use
// from_chars/to_chars so that the user's locale can never turn the decimal
// point into a comma.
#include "measure/SIPrefix.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <system_error>

namespace cvn {
namespace {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// [sign] digits, leading zeros allowed; nothing outside 16 bits.
std::optional<int16_t> parseExponent(std::string_view text) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    int32_t value = 0;
    for (char c : text) {
        if (!isDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 32768) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT16_MAX) return std::nullopt;
    return static_cast<int16_t>(value);
}

// [sign] digits [. digits], with at least one digit; no exponent, since the
// reply was already split at it.
std::optional<double> parseMantissa(std::string_view text) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::size_t digits = 0;
    std::size_t i = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0 || i != text.size()) return std::nullopt;
    double value = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

struct Scale {
    double factor;
    const char* prefix;
};

// The prefix of the multiple of three next to e on the side of zero, and
// the power of ten that makes up the difference. Only multiplications:
// the factors 0.1 and 0.01 stand for one or two places the other way.
Scale scaleFor(int e) {
    static constexpr const char* kUp[] = {"", "k", "M", "G"};
    static constexpr const char* kDown[] = {"", "m", "u", "n", "p"};
    static constexpr double kUpFactor[] = {1, 10, 100};
    static constexpr double kDownFactor[] = {1, 0.1, 0.01};
    if (e >= 0) return {kUpFactor[e % 3], kUp[e / 3]};
    return {kDownFactor[-e % 3], kDown[-e / 3]};
}

}  // namespace

std::string FormatScaledMantissa(double value) {
    if (!std::isfinite(value)) return {};
    if (value == 0) return "0";  // also -0, which is not negative
    // Rounding to 15 significant digits first hides the binary noise of the
    // 0.1 and 0.01 factors (1.2345 * 0.1 = 0.12345000000000001).
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    if (ec != std::errc()) return {};
    const std::string_view sci(buf, static_cast<std::size_t>(end - buf));  // -d.dddde+XX
    const auto ePos = sci.find('e');
    const bool negative = sci.front() == '-';
    std::string digits;
    for (char c : sci.substr(0, ePos)) {
        if (isDigit(c)) digits += c;
    }
    int exponent = 0;
    std::from_chars(sci.data() + ePos + 1 + (sci[ePos + 1] == '+' ? 1 : 0), sci.data() + sci.size(),
                    exponent);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= -4 && exponent < 15) {
        if (exponent < 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        } else if (static_cast<std::size_t>(exponent) + 1 >= digits.size()) {
            out += digits;
            out.append(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
        } else {
            out += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
            out += '.';
            out += digits.substr(static_cast<std::size_t>(exponent) + 1);
        }
        return out;
    }
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += exponent < 0 ? "E-" : "E+";
    const int magnitude = std::abs(exponent);
    if (magnitude < 10) out += '0';
    out += std::to_string(magnitude);
    return out;
}

std::string GetSIPrefix(std::string_view exponentText, std::string& mantissaText) {
    const auto e = parseExponent(exponentText);
    if (!e) return {};
    // The scope reports "no result" as a huge placeholder (9.9E+37).
    if (*e >= 21) return std::string(kNoEdges);
    if (*e > 9 || *e < -12) return "E" + std::string(trimmed(exponentText));

    const Scale scale = scaleFor(*e);
    if (scale.factor != 1) {
        const auto mantissa = parseMantissa(mantissaText);
        if (!mantissa) return {};
        const double scaled = *mantissa * scale.factor;
        if (!std::isfinite(scaled)) return {};
        mantissaText = FormatScaledMantissa(scaled);
    }
    return scale.prefix;
}

std::string MeasurementDisplayText(std::string_view mantissaText, std::string_view exponentText,
                                   std::string_view unit) {
    std::string mantissa(mantissaText);
    const std::string prefix = GetSIPrefix(exponentText, mantissa);
    if (prefix == kNoEdges) return prefix;
    return mantissa + prefix + std::string(unit);
}

std::optional<double> MeasurementReplyValue(std::string_view mantissaText,
                                            std::string_view exponentText) {
    const auto e = parseExponent(exponentText);
    if (!e || *e >= 21 || !parseMantissa(mantissaText)) return std::nullopt;
    // Read once with the exponent, so +2.94082E-04 is the double nearest
    // 0.000294082, not a product with a rounding error.
    std::string number(trimmed(mantissaText));
    if (number.front() == '+') number.erase(0, 1);
    number += "e" + std::to_string(*e);
    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace cvn
