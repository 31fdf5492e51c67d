// Strict, locale-independent conversions of instrument text replies.
#include "io/ReplyConvert.h"

#include <charconv>
#include <cmath>

namespace cvn::io {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The number grammar instruments use: [sign] digits [. digits] [e [sign]
// digits], with digits allowed on either side of the point but not on
// neither. Checked here so that from_chars never sees "inf", "nan" or hex.
bool isInstrumentNumber(std::string_view s) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t mantissaDigits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++mantissaDigits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++mantissaDigits;
    }
    if (mantissaDigits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < s.size() && isDigit(s[i])) ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    return i == s.size();
}

}  // namespace

std::string_view trimReply(std::string_view text) {
    auto b = text.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return {};
    auto e = text.find_last_not_of(kBlanks);
    return text.substr(b, e - b + 1);
}

std::optional<double> toNumber(std::string_view text) {
    std::string_view s = trimReply(text);
    if (!isInstrumentNumber(s)) return std::nullopt;
    // from_chars takes no leading '+'.
    bool negative = false;
    if (s.front() == '+' || s.front() == '-') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    double v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (p != s.data() + s.size()) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves v alone here; tell underflow (a tiny value, taken
        // as zero) from overflow (not a usable number) by the exponent sign.
        auto e = s.find_first_of("eE");
        if (e == std::string_view::npos || s[e + 1] != '-') return std::nullopt;
        v = 0.0;
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
    return negative ? -v : v;
}

std::optional<int16_t> toInt16(std::string_view text) {
    auto v = toNumber(text);
    if (!v) return std::nullopt;
    double floor = std::floor(*v);
    double frac = *v - floor;
    double r = floor;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(floor, 2.0) != 0.0)) r = floor + 1.0;
    if (r < -32768.0 || r > 32767.0) return std::nullopt;
    return static_cast<int16_t>(r);
}

std::vector<std::string> splitFields(std::string_view reply) {
    if (!reply.empty() && reply.back() == '\n') reply.remove_suffix(1);
    if (!reply.empty() && reply.back() == '\r') reply.remove_suffix(1);
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        auto comma = reply.find(',', start);
        if (comma == std::string_view::npos) {
            fields.emplace_back(reply.substr(start));
            return fields;
        }
        fields.emplace_back(reply.substr(start, comma - start));
        start = comma + 1;
    }
}

}  // namespace cvn::io
