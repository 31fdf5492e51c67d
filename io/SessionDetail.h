// What the two halves of IoSession share: the waits that end a reply and
// the way bytes are shown in messages. Internal to io/.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "io/IoError.h"

namespace cvn::io::detail {

// How long a finished block waits for the line feed that usually follows.
// Instruments send it right after the data; one that does not must not cost
// a whole time-out. A terminator later than this is still taken as the
// block's: the next read drops it (see drainStale).
constexpr auto kTerminatorGrace = std::chrono::milliseconds(50);
// An indefinite block on a byte stream ends at a line feed after which
// nothing more arrives for this long. Data that happens to hold a line feed
// usually keeps coming right behind it, but not always: a lost TCP segment
// is sent again after at least 200 ms on Linux (the minimum retransmission
// time-out), 600 ms when the retransmission is lost too, and a busy scope
// may pause between its buffers. A second outlasts both, and costs only
// that second once at the end of a block the scope gave no size for. The
// wait never runs past the operation's deadline.
constexpr auto kIndefiniteQuiet = std::chrono::milliseconds(1000);
// The rest of a failed block is waited for while it keeps coming; a pause
// this long means it is not coming (a dead link, a scope that lied).
constexpr auto kRestGap = std::chrono::milliseconds(500);

inline bool isBlank(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
inline bool isDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

// Bytes as they would read in a log line: printable text as is, the rest
// escaped, long runs cut.
inline std::string showBytes(const uint8_t* p, size_t n) {
    constexpr size_t kShown = 40;
    std::string out = "'";
    for (size_t i = 0; i < std::min(n, kShown); ++i) {
        uint8_t c = p[i];
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            static const char* kHex = "0123456789abcdef";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    out += n > kShown ? "'..." : "'";
    return out;
}

[[noreturn]] inline void rethrowWith(const IoError& e, const std::string& context) {
    throw IoError(e.code(), context + ": " + e.description());
}

}  // namespace cvn::io::detail
