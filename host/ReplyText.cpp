// Bytes to UTF-8, sequence by sequence.
#include "host/ReplyText.h"

#include <cstdio>

namespace cvn::host {

namespace {

// Length of the well-formed UTF-8 sequence at s[i] (overlong forms,
// surrogates and values above U+10FFFF are not), 0 when there is none;
// cp gets its code point.
size_t sequenceAt(std::string_view s, size_t i, char32_t& cp) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = at(i);
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        cp = b & 0x0F;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        cp = b & 0x07;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char c = at(i + k);
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    return length;
}

void appendLatin1(std::string& out, unsigned char b) {
    out += static_cast<char>(0xC0 | (b >> 6));
    out += static_cast<char>(0x80 | (b & 0x3F));
}

// Calls f(code point, its UTF-8 text) for each character of bytes.
template <typename F>
void forEachCharacter(std::string_view bytes, F&& f) {
    std::string latin1;
    for (size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        if (const size_t n = sequenceAt(bytes, i, cp)) {
            f(cp, bytes.substr(i, n));
            i += n;
            continue;
        }
        const auto b = static_cast<unsigned char>(bytes[i++]);
        latin1.clear();
        appendLatin1(latin1, b);
        f(static_cast<char32_t>(b), std::string_view(latin1));
    }
}

}  // namespace

bool IsControlCharacter(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
}

std::string Utf8Text(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    forEachCharacter(bytes, [&](char32_t, std::string_view text) { out += text; });
    return out;
}

std::string TerminalText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    forEachCharacter(bytes, [&](char32_t cp, std::string_view text) {
        if (!IsControlCharacter(cp) || cp == '\t' || cp == '\n') {
            out += text;
            return;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(cp));
        out += escaped;
    });
    return out;
}

}  // namespace cvn::host
