// CSV and JSON text of data sets, formatted in chunks.
#include "apps/host/CaptureText.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "apps/host/ChunkFormatter.h"

namespace cvn::host {
namespace {

// Twelve digits resolve a sample of a million-point record anywhere on the
// time axis, without the binary noise of a round-trip form (0.00499000...05).
// Written as printf's "%.12g" would, several times faster.
char* putTime(char* at, double t) {
    return std::to_chars(at, at + 32, t, std::chars_format::general, 12).ptr;
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

}  // namespace

void WriteCsv(AtomicFileWriter& file, const DataSet& s, unsigned threads) {
    const bool logic = s.kind() == SourceKind::Pod || s.kind() == SourceKind::Bit;
    file.write(logic ? "time_s,state\n" : "time_s,volts\n");
    const PreambleBlock& b = s.block;
    FormatInChunks(
        s.raw.size(), threads,
        [&](size_t begin, size_t end, std::string& text) {
            text.resize((end - begin) * kMaxLine);
            char* at = text.data();
            s.raw.visit([&](auto raw) {
                for (size_t i = begin; i < end; ++i) {
                    at = putTime(at, b.Time(i));
                    *at++ = ',';
                    at = putNumber(at, b.Value(static_cast<double>(raw[i])));
                    *at++ = '\n';
                }
            });
            text.resize(static_cast<size_t>(at - text.data()));
        },
        [&](const std::string& text) { file.write(text); });
}

void WriteJsonNumbers(AtomicFileWriter& file, const RawSamples& raw, unsigned threads) {
    file.write("[");
    FormatInChunks(
        raw.size(), threads,
        [&](size_t begin, size_t end, std::string& text) {
            text.resize((end - begin) * 34);
            char* at = text.data();
            raw.visit([&](auto values) {
                for (size_t i = begin; i < end; ++i) {
                    if (i) *at++ = ',';
                    at = putRaw(at, values[i]);
                }
            });
            text.resize(static_cast<size_t>(at - text.data()));
        },
        [&](const std::string& text) { file.write(text); });
    file.write("]");
}

}  // namespace cvn::host
