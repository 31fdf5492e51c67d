// Drives an I/O session over a scripted byte stream: binary blocks, text
// replies, number fields and raw reads in an order the input picks, with the
// stream cut into pieces of sizes the input picks. Every operation must end
// with a result or an IoError, and whatever it returns must be bytes that
// were sent, in the order they were sent.
//
// Input: flags, an operation count and that many operation bytes, a cut
// count and that many cut bytes (see ScriptedTransport), then the stream.
// With kSoundBlock set the stream is instead the data of a well-formed block
// that must come out unchanged however it is cut.
#include <algorithm>
#include <array>
#include <chrono>
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
    kSoundBlock = 16,  // the stream is the data of a well-formed block
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

std::string asText(std::span<const uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string wordsAsSent(std::span<const int16_t> words) {
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
            order.saw(cvn::fuzz::joinFields(fields));
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

// A sound block, however it is cut, must come out exactly as sent and leave
// the session at the start of the next reply. The stream is the block's data;
// flags pick how it is read (bits 0-1), a CR LF after it (bit 2) and zeros
// padding the length (bits 5-6).
void checkSoundBlock(const std::string& payload, std::vector<uint8_t> cuts, uint8_t flags) {
    const unsigned mode = flags & 3;
    const bool crlf = (flags & 4) != 0 && mode != 2;
    const std::string digits = std::string((flags >> 5) & 3, '0') + std::to_string(payload.size());
    const std::string block = "#" + std::to_string(digits.size()) + digits + payload;
    const std::string blanks = mode == 3 ? " \r\n\t" : "";
    const std::string stream = blanks + block + (crlf ? "\r\n" : "\n") + "NEXT\n";
    for (uint8_t& cut : cuts) cut &= 0x7f;  // a byte stream: no message ends

    cvn::io::IoSession session("FUZZ::BLOCK", std::make_unique<cvn::fuzz::ScriptedTransport>(
                                                  stream, std::move(cuts), false, true));
    // The line feed after a block is only waited for briefly; a run that
    // stalls longer than that (a loaded machine) may leave it out of a raw
    // read's result.
    const auto started = std::chrono::steady_clock::now();
    const auto stalled = [&] {
        return std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(40);
    };
    switch (mode) {
        case 1:
            if (payload.size() % 2 == 0) {
                FUZZ_CHECK(wordsAsSent(session.EnterWords()) == payload);
            } else {
                try {
                    (void)session.EnterWords();
                    FUZZ_CHECK(false);
                } catch (const cvn::io::IoError& e) {
                    FUZZ_CHECK(e.code() == cvn::io::kIoMalformed);
                }
            }
            break;
        case 2: {
            session.SetTermChar(-1);
            std::vector<uint8_t> whole(stream.size() + 1);
            const size_t n = session.ReadBytes(whole.data(), whole.size());
            const std::string got(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
            FUZZ_CHECK(got == block + "\n" || (got == block && stalled()));
            session.SetTermChar('\n');
            break;
        }
        default:
            FUZZ_CHECK(asText(session.EnterBytes()) == payload);
            break;
    }
    // A terminator too late for the block itself is dropped by the next
    // read: the next reply is whole either way.
    FUZZ_CHECK(session.EnterText() == "NEXT\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t flags = in.byte();
    const std::vector<uint8_t> ops = in.bytes(in.byte() & 15);
    std::vector<uint8_t> cuts = in.bytes(in.byte() & 15);
    const std::string stream = in.rest();
    if (flags & kSoundBlock) {
        checkSoundBlock(stream, std::move(cuts), flags);
        return 0;
    }

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
