#include "automation/Guid.h"

#include <cstdio>
#include <stdexcept>

namespace cvn::automation {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads exactly 'digits' hex digits starting at pos.
std::optional<uint64_t> readHex(std::string_view text, size_t pos, size_t digits) {
    uint64_t value = 0;
    for (size_t i = 0; i < digits; ++i) {
        int v = hexValue(text[pos + i]);
        if (v < 0) return std::nullopt;
        value = (value << 4) | static_cast<uint64_t>(v);
    }
    return value;
}

}  // namespace

std::optional<Guid> Guid::parse(std::string_view text) {
    if (text.size() == 38) {
        if (text.front() != '{' || text.back() != '}') return std::nullopt;
        text = text.substr(1, 36);
    }
    if (text.size() != 36) return std::nullopt;
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
        return std::nullopt;
    }
    auto d1 = readHex(text, 0, 8);
    auto d2 = readHex(text, 9, 4);
    auto d3 = readHex(text, 14, 4);
    auto d4a = readHex(text, 19, 4);
    auto d4b = readHex(text, 24, 12);
    if (!d1 || !d2 || !d3 || !d4a || !d4b) return std::nullopt;

    Guid g;
    g.data1 = static_cast<uint32_t>(*d1);
    g.data2 = static_cast<uint16_t>(*d2);
    g.data3 = static_cast<uint16_t>(*d3);
    g.data4[0] = static_cast<uint8_t>(*d4a >> 8);
    g.data4[1] = static_cast<uint8_t>(*d4a);
    for (int i = 0; i < 6; ++i) {
        g.data4[2 + i] = static_cast<uint8_t>(*d4b >> (8 * (5 - i)));
    }
    return g;
}

Guid Guid::fromString(std::string_view text) {
    auto g = parse(text);
    if (!g) throw std::invalid_argument("malformed GUID: " + std::string(text));
    return *g;
}

std::string Guid::toString() const {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(data1), static_cast<unsigned>(data2),
                  static_cast<unsigned>(data3), data4[0], data4[1], data4[2], data4[3], data4[4],
                  data4[5], data4[6], data4[7]);
    return buf;
}

size_t GuidHash::operator()(const Guid& g) const noexcept {
    // FNV-1a over the 16 bytes in field order; platform byte order does not
    // matter because the hash never leaves the process.
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            h ^= (v >> (8 * i)) & 0xff;
            h *= 1099511628211ull;
        }
    };
    mix(g.data1, 4);
    mix(g.data2, 2);
    mix(g.data3, 2);
    for (uint8_t b : g.data4) mix(b, 1);
    return static_cast<size_t>(h);
}

}  // namespace cvn::automation
