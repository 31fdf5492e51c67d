// CSV and JSON text of data sets, formatted in chunks.
#include "host/formats/CaptureText.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "host/formats/ChunkFormatter.h"

namespace cvn::host {
namespace {

// Exact powers of ten: every one up to 10^27 is a long double without
// rounding.
constexpr int kMaxPower = 27;
const long double* powersOfTen() {
    static const auto table = [] {
        std::array<long double, kMaxPower + 1> p{};
        p[0] = 1;
        for (int i = 1; i <= kMaxPower; ++i) p[i] = p[i - 1] * 10;
        return p;
    }();
    return table.data();
}

// GCC's and Clang's 128-bit integers: the products below need 120 bits.
__extension__ typedef unsigned __int128 Wide;

// round(|t| * 10^k) exactly, in integers: |t| is m * 2^-s with a 53-bit m,
// so the product is m * 10^k, shifted right by s with the remainder
// deciding the rounding (ties to even, as printf rounds). False when the
// numbers do not fit 128 bits; the caller then takes the slower road.
bool scaledExactly(double t, int k, uint64_t& rounded) {
    if (k < 0 || k > 22) return false;
    const auto bits = std::bit_cast<uint64_t>(t) & ~(uint64_t{1} << 63);
    const int biased = static_cast<int>(bits >> 52);
    if (biased == 0 || biased == 0x7ff) return false;  // subnormal, infinite, NaN
    const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const int shift = 1075 - biased;  // |t| = mantissa * 2^-shift
    if (shift <= 0 || shift >= 127) return false;
    static const auto powers = [] {
        std::array<Wide, 23> p{};
        p[0] = 1;
        for (size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
        return p;
    }();
    const Wide product = static_cast<Wide>(mantissa) * powers[k];
    const Wide quotient = product >> shift;
    const Wide rest = product - (quotient << shift);
    const Wide half = static_cast<Wide>(1) << (shift - 1);
    if (quotient >= (static_cast<Wide>(1) << 63)) return false;
    rounded = static_cast<uint64_t>(quotient);
    if (rest > half || (rest == half && (rounded & 1))) ++rounded;
    return true;
}

// The 12 significant digits of |t| as an integer below 10^12 and the
// decimal exponent of the first; false where neither exact integers nor a
// long double product (away from a tie) settle them. `exponent` comes in
// as a guess (the previous time's, which is almost always right).
bool twelveDigits(double t, uint64_t& digits, int& exponent) {
    const long double a = t < 0 ? -static_cast<long double>(t) : static_cast<long double>(t);
    int e = exponent;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt == 2) e = static_cast<int>(std::floor(std::log10(std::fabs(t))));
        const int k = 11 - e;
        uint64_t m = 0;
        if (!scaledExactly(t, k, m)) {
            if (k > kMaxPower || k < -kMaxPower) {
                if (attempt >= 2) return false;
                e = static_cast<int>(std::floor(std::log10(std::fabs(t))));
                continue;
            }
            const long double scaled = k >= 0 ? a * powersOfTen()[k] : a / powersOfTen()[-k];
            if (scaled >= 1e13L || scaled < 1e10L) {
                e = static_cast<int>(std::floor(std::log10(std::fabs(t))));
                continue;
            }
            const auto whole = static_cast<uint64_t>(scaled);  // truncates: scaled > 0
            const long double fraction = scaled - static_cast<long double>(whole);
            if (fraction > 0.5L - 1e-6L && fraction < 0.5L + 1e-6L) return false;
            m = whole + (fraction > 0.5L ? 1 : 0);
        }
        if (m == 1000000000000ULL) {
            digits = 100000000000ULL;
            exponent = e + 1;
            return true;
        }
        if (m > 1000000000000ULL) {
            ++e;
            continue;
        }
        if (m < 100000000000ULL) {
            --e;
            continue;
        }
        digits = m;
        exponent = e;
        return true;
    }
    return false;
}

// Twelve digits resolve a sample of a million-point record anywhere on the
// time axis, without the binary noise of a round-trip form (0.00499000...05).
// Written exactly as printf's "%.12g" would (and std::to_chars with general
// format and precision 12), from the digits as an integer: several times
// faster than either.
// `exponent` carries the decimal exponent from one call to the next.
char* putTime(char* at, double t, int& exponent) {
    uint64_t m = 0;
    if (!std::isfinite(t) || t == 0 || !twelveDigits(t, m, exponent))
        return std::to_chars(at, at + 32, t, std::chars_format::general, 12).ptr;
    const int e = exponent;
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char digits[12];
    for (int i = 10; i >= 0; i -= 2) {
        std::memcpy(digits + i, kPairs + 2 * (m % 100), 2);
        m /= 100;
    }
    int count = 12;
    while (count > 1 && digits[count - 1] == '0') --count;
    if (t < 0) *at++ = '-';
    if (e < -4 || e >= 12) {
        *at++ = digits[0];
        if (count > 1) {
            *at++ = '.';
            std::memcpy(at, digits + 1, static_cast<size_t>(count - 1));
            at += count - 1;
        }
        *at++ = 'e';
        *at++ = e < 0 ? '-' : '+';
        const int x = e < 0 ? -e : e;
        if (x >= 100) *at++ = static_cast<char>('0' + x / 100);
        *at++ = static_cast<char>('0' + x / 10 % 10);
        *at++ = static_cast<char>('0' + x % 10);
        return at;
    }
    if (e >= 0) {
        std::memcpy(at, digits, static_cast<size_t>(e + 1));
        at += e + 1;
        if (count > e + 1) {
            *at++ = '.';
            std::memcpy(at, digits + e + 1, static_cast<size_t>(count - e - 1));
            at += count - e - 1;
        }
        return at;
    }
    *at++ = '0';
    *at++ = '.';
    for (int i = 0; i < -e - 1; ++i) *at++ = '0';
    std::memcpy(at, digits, static_cast<size_t>(count));
    return at + count;
}

// The shortest text that reads back as the same double; null when it is
// not a number JSON can hold.
char* putNumber(char* at, double v) {
    if (!std::isfinite(v)) {
        std::memcpy(at, "null", 4);
        return at + 4;
    }
    return std::to_chars(at, at + 32, v).ptr;
}

// Shortest form of a small integer: the same digits as the double's.
template <typename T>
char* putRaw(char* at, T v) {
    if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, int16_t>)
        return std::to_chars(at, at + 8, static_cast<int>(v)).ptr;
    else
        return putNumber(at, static_cast<double>(v));
}

constexpr size_t kMaxLine = 72;

// The scaled values of small raw integers, formatted once each: a word
// record has at most 65536 different values, however long it is.
class ValueTexts {
public:
    static constexpr size_t kWidth = 32;

    template <typename T>
    ValueTexts(std::span<const T> raw, const PreambleBlock& b) {
        if (raw.empty()) return;
        const auto [lo, hi] = std::minmax_element(raw.begin(), raw.end());
        first_ = *lo;
        const size_t count = static_cast<size_t>(*hi - *lo) + 1;
        text_.resize(count * kWidth);
        length_.resize(count);
        for (size_t v = 0; v < count; ++v) {
            char* start = text_.data() + v * kWidth;
            const auto value = static_cast<double>(first_ + static_cast<int64_t>(v));
            length_[v] = static_cast<uint8_t>(putNumber(start, b.Value(value)) - start);
        }
    }
    char* put(char* at, int64_t raw) const {
        const size_t v = static_cast<size_t>(raw - first_);
        std::memcpy(at, text_.data() + v * kWidth, kWidth);
        return at + length_[v];
    }

private:
    int64_t first_ = 0;
    std::vector<char> text_;
    std::vector<uint8_t> length_;
};

template <typename T>
constexpr bool kTabled = std::is_same_v<T, int16_t> || std::is_same_v<T, uint8_t>;

}  // namespace

char* AppendTime(char* at, double t) {
    int exponent = 0;
    return putTime(at, t, exponent);
}

void WriteCsv(AtomicFileWriter& file, const DataSet& s, unsigned threads) {
    const bool logic = s.kind() == SourceKind::Pod || s.kind() == SourceKind::Bit;
    file.write(logic ? "time_s,state\n" : "time_s,volts\n");
    const PreambleBlock& b = s.block;
    std::optional<ValueTexts> table;
    s.raw.visit([&](auto raw) {
        if constexpr (kTabled<typename decltype(raw)::value_type>) table.emplace(raw, b);
    });
    FormatInChunks(
        s.raw.size(), threads,
        [&](size_t begin, size_t end, std::string& text) {
            // A value is copied with its table slot's whole width.
            const size_t need = (end - begin) * kMaxLine + ValueTexts::kWidth;
            if (text.size() < need) text.resize(need);
            char* at = text.data();
            int exponent = 0;
            s.raw.visit([&](auto raw) {
                for (size_t i = begin; i < end; ++i) {
                    at = putTime(at, b.Time(i), exponent);
                    *at++ = ',';
                    if constexpr (kTabled<typename decltype(raw)::value_type>)
                        at = table->put(at, raw[i]);
                    else
                        at = putNumber(at, b.Value(static_cast<double>(raw[i])));
                    *at++ = '\n';
                }
            });
            return static_cast<size_t>(at - text.data());
        },
        [&](std::string_view text) { file.write(text); });
}

void WriteJsonNumbers(AtomicFileWriter& file, const RawSamples& raw, unsigned threads) {
    file.write("[");
    FormatInChunks(
        raw.size(), threads,
        [&](size_t begin, size_t end, std::string& text) {
            if (text.size() < (end - begin) * 34) text.resize((end - begin) * 34);
            char* at = text.data();
            raw.visit([&](auto values) {
                for (size_t i = begin; i < end; ++i) {
                    if (i) *at++ = ',';
                    at = putRaw(at, values[i]);
                }
            });
            return static_cast<size_t>(at - text.data());
        },
        [&](std::string_view text) { file.write(text); });
    file.write("]");
}

}  // namespace cvn::host
