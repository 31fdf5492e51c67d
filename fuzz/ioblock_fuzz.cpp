// Drives an I/O session over a scripted byte stream: binary blocks, text
// replies, number fields and raw reads in an order the input picks, with the
// stream cut into pieces of sizes the input picks. Every operation must end
// with a result or an IoError, and whatever it returns must be bytes that
// were sent, in the order they were sent.
//
// Input: flags, an operation count and that many operation bytes, a cut
// count and that many cut bytes (see ScriptedTransport), then the stream.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "fuzz/ScriptedTransport.h"
#include "io/IoError.h"
#include "io/IoSession.h"

namespace {

enum Flag : uint8_t {
    kMessageBased = 1,
    kNoTermChar = 2,
    kCloseAtEnd = 4,
    kShortTimeout = 8,
};

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::vector<uint8_t> bytes(size_t n) {
        std::vector<uint8_t> out;
        while (n-- > 0 && pos_ < size_) out.push_back(data_[pos_++]);
        return out;
    }
    std::string rest() {
        std::string out(reinterpret_cast<const char*>(data_) + pos_, size_ - pos_);
        pos_ = size_;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// What the session hands out must appear in the stream at or after the end
// of what it handed out before: nothing invented, nothing handed out twice,
// nothing out of order.
class OrderCheck {
public:
    explicit OrderCheck(const std::string& stream) : stream_(stream) {}
    void saw(std::string_view piece) {
        if (piece.empty()) return;
        const size_t at = stream_.find(piece, cursor_);
        FUZZ_CHECK(at != std::string::npos);
        cursor_ = at + piece.size();
    }

private:
    const std::string& stream_;
    size_t cursor_ = 0;
};

std::string asText(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string wordsAsSent(const std::vector<int16_t>& words) {
    std::string out;
    out.reserve(words.size() * 2);
    for (int16_t w : words) {
        const auto u = static_cast<uint16_t>(w);
        out.push_back(static_cast<char>(u >> 8));
        out.push_back(static_cast<char>(u & 0xff));
    }
    return out;
}

void runOperation(cvn::io::IoSession& session, uint8_t op, OrderCheck& order) {
    const unsigned arg = op >> 3;
    switch (op & 7) {
        case 0:
            order.saw(asText(session.EnterBytes()));
            break;
        case 1:
            order.saw(wordsAsSent(session.EnterWords()));
            break;
        case 2:
            order.saw(session.EnterText());
            break;
        case 3: {
            std::array<double, 31> numbers{};
            const size_t filled = session.EnterNumbers(std::span<double>(numbers.data(), arg));
            FUZZ_CHECK(filled <= arg);
            break;
        }
        case 4: {
            const auto fields = session.EnterTextArray();
            FUZZ_CHECK(!fields.empty());
            std::string joined;
            for (size_t i = 0; i < fields.size(); ++i) joined += (i ? "," : "") + fields[i];
            order.saw(joined);
            break;
        }
        case 5: {
            const size_t capacity = arg == 31 ? 65536 : arg * 8 + 1;
            std::vector<uint8_t> buffer(capacity);
            const size_t n = session.ReadBytes(buffer.data(), capacity);
            FUZZ_CHECK(n <= capacity);
            buffer.resize(n);
            order.saw(asText(buffer));
            break;
        }
        case 6:
            session.Output("*IDN?");
            break;
        default: {
            static constexpr int kTerms[4] = {-1, '\n', ';', 0};
            session.SetTermChar(kTerms[arg & 3]);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t flags = in.byte();
    const std::vector<uint8_t> ops = in.bytes(in.byte() & 15);
    std::vector<uint8_t> cuts = in.bytes(in.byte() & 15);
    const std::string stream = in.rest();

    auto transport = std::make_unique<cvn::fuzz::ScriptedTransport>(
        stream, std::move(cuts), (flags & kMessageBased) != 0, (flags & kCloseAtEnd) != 0);
    cvn::io::IoSession session("FUZZ::STREAM", std::move(transport));
    // The transport never waits, so a long time-out costs nothing; a short
    // one also lets the session's own deadline checks fire.
    session.SetTimeout((flags & kShortTimeout) ? 1 : 10000);
    session.SetTermChar((flags & kNoTermChar) ? -1 : '\n');

    OrderCheck order(stream);
    for (uint8_t op : ops) {
        try {
            runOperation(session, op, order);
        } catch (const cvn::io::IoError& e) {
            FUZZ_CHECK(!e.description().empty());
        }
    }
    return 0;
}
