#include "automation/Convert.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "automation/AutomationError.h"

namespace cvn::automation {

namespace {

template <typename Int>
Int toChecked(double value) {
    double r = roundHalfEven(value);
    // NaN fails both comparisons and so lands in the overflow branch.
    if (!(r >= static_cast<double>(std::numeric_limits<Int>::min()) &&
          r <= static_cast<double>(std::numeric_limits<Int>::max()))) {
        throw AutomationError(ErrorNumber::Overflow);
    }
    return static_cast<Int>(r);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

double roundHalfEven(double value) {
    if (!std::isfinite(value)) return value;
    double floor = std::floor(value);
    double diff = value - floor;
    if (diff < 0.5) return floor;
    if (diff > 0.5) return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

int16_t toInteger(double value) {
    return toChecked<int16_t>(value);
}
int32_t toLong(double value) {
    return toChecked<int32_t>(value);
}
uint8_t toByte(double value) {
    return toChecked<uint8_t>(value);
}

std::optional<double> parseNumber(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // from_chars would also take "inf" and "nan"; the runtime does not.
    if (text.empty() ||
        !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.')) {
        return std::nullopt;
    }
    double value = 0;
    auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return negative ? -value : value;
}

std::string formatNumber(double value) {
    if (value == 0.0) return "0";  // also for -0
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15G", value);
    return buf;
}

}  // namespace cvn::automation
