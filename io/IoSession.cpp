// IoSession: message framing above the transports. Text replies end at a
// terminator or message end; binary replies are IEEE 488.2 blocks read
// straight into their destination. All reads of one operation share one
// deadline.
#include "io/IoSession.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "io/ByteOrder.h"
#include "io/IoError.h"
#include "io/ReplyConvert.h"

namespace cvn::io {
namespace {

// Buffered reads ask the transport for at least this much at a time.
constexpr size_t kChunkBytes = 64 * 1024;
// Block data arrives through a buffer of this size, small enough to stay
// in the cache between the read and the copy into the destination.
constexpr size_t kStageBytes = 128 * 1024;
// How long a finished block waits for the line feed that usually follows.
// Instruments send it right after the data; one that does not must not cost
// a whole time-out.
constexpr auto kTerminatorGrace = std::chrono::milliseconds(50);

bool isBlank(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

// Bytes as they would read in a log line: printable text as is, the rest
// escaped, long runs cut.
std::string showBytes(const uint8_t* p, size_t n) {
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

[[noreturn]] void rethrowWith(const IoError& e, const std::string& context) {
    throw IoError(e.code(), context + ": " + e.description());
}

}  // namespace

// Reports a block's progress to the session's callback: at most once per
// step while data arrives, and once when the data is complete. Only built
// when a callback is set, so an unset one costs a null test per read.
struct IoSession::ProgressMeter {
    const BlockProgress& callback;
    size_t total;        // declared data bytes, 0 when unknown
    size_t skipped = 0;  // bytes of the read that come before the data
    size_t nextReport = kProgressStepBytes;

    void advanced(size_t bytesRead) {
        const size_t received = bytesRead > skipped ? bytesRead - skipped : 0;
        if (received < nextReport || (total != 0 && received >= total)) return;
        nextReport = (received / kProgressStepBytes + 1) * kProgressStepBytes;
        callback(received, total);
    }
    void finished(size_t received) { callback(received, total); }
};

// Bytes received but not yet handed out, kept between operations so that
// nothing a byte stream delivered early is lost. The message END of a
// message-based transport can only sit at the tail of what is buffered,
// because nothing is read past it until it has been consumed.
class IoSession::Reader {
public:
    explicit Reader(Transport& transport) : transport_(transport) {}

    size_t buffered() const { return end_ - begin_; }
    const uint8_t* data() const { return buf_.data() + begin_; }
    // True when everything up to a message END has been consumed.
    bool atMessageEnd() const { return begin_ == end_ && ended_; }

    void consume(size_t n) {
        begin_ += n;
        if (begin_ == end_) begin_ = end_ = 0;
    }
    void discardBuffered() { consume(buffered()); }

    // An END already consumed by the previous operation does not end this one.
    void startOperation() {
        if (begin_ == end_) ended_ = false;
    }

    // One more transport read into the buffer. Must not be called while the
    // buffered bytes run to a message END.
    void fill(Deadline deadline) {
        checkDeadline(deadline);
        if (begin_ == end_) {
            begin_ = end_ = 0;
            ended_ = false;
        }
        if (buf_.size() - end_ < kChunkBytes) {
            if (begin_ > 0) {
                std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
                end_ -= begin_;
                begin_ = 0;
            }
            if (buf_.size() - end_ < kChunkBytes) {
                buf_.resize(std::max(buf_.size() * 2, end_ + kChunkBytes));
            }
        }
        bool end = false;
        end_ += transport_.read(buf_.data() + end_, buf_.size() - end_, deadline, end);
        ended_ = end;
    }

    // Makes at least n bytes available; false when the message ends first.
    bool ensure(size_t n, Deadline deadline) {
        while (buffered() < n) {
            if (ended_) return false;
            fill(deadline);
        }
        return true;
    }

    // Bytes up to and including the first `term` (any byte value, or -1 for
    // none), up to a message END, or `limit` bytes, whichever comes first.
    // Only bytes that arrived since the last look are searched. Returns the
    // length of the unit at the front of the buffer, not yet consumed.
    size_t scanUntil(int term, size_t limit, Deadline deadline) {
        size_t scanned = 0;
        for (;;) {
            size_t avail = std::min(buffered(), limit);
            if (term >= 0 && scanned < avail) {
                const void* hit = std::memchr(data() + scanned, term, avail - scanned);
                if (hit) return static_cast<size_t>(static_cast<const uint8_t*>(hit) - data()) + 1;
            }
            scanned = avail;
            if (avail >= limit || ended_) return avail;
            fill(deadline);
        }
    }

    // Exactly n bytes into the sink: first what is buffered, then what the
    // transport delivers. Bytes are read straight into the sink. Words that
    // need swapping are read into a staging buffer small enough to stay in
    // the cache and swapped on their way into the sink, so the swap needs
    // no pass of its own over the sink's memory (measured faster than
    // reading into the sink and swapping there). A word cut between two
    // reads waits for its second byte. `got` counts what arrived, so a
    // failure can say how far it came.
    template <typename Sink>
    void readExact(Sink& sink, size_t n, Deadline deadline, size_t& got, ProgressMeter* meter) {
        sink.grow(n);
        uint8_t* out = sink.data();
        got = 0;
        size_t stored = 0;  // bytes in the sink (whole words when swapping)
        bool held = false;  // the first byte of a word is waiting in `first`
        uint8_t first = 0;
        auto deliver = [&](const uint8_t* from, size_t count) {
            if constexpr (Sink::kSwapsWords) {
                if (count > 0 && held) {
                    out[stored] = from[0];
                    out[stored + 1] = first;
                    stored += 2;
                    ++from;
                    --count;
                    held = false;
                }
                const size_t even = count & ~size_t{1};
                bigEndianWordsToHostCopy(from, out + stored, even);
                stored += even;
                if (count > even) {
                    first = from[even];
                    held = true;
                }
            } else {
                if (count > 0) std::memcpy(out + stored, from, count);
                stored += count;
            }
            got = stored + (held ? 1 : 0);
        };

        const size_t buffered = std::min(this->buffered(), n);
        deliver(data(), buffered);
        consume(buffered);
        if constexpr (Sink::kSwapsWords) {
            if (got < n && stage_.empty()) stage_.resize(kStageBytes);
        }
        while (got < n) {
            if (ended_) throw IoError(kIoMalformed, "the message ended early");
            checkDeadline(deadline);
            bool end = false;
            if constexpr (Sink::kSwapsWords) {
                const size_t arrived =
                    transport_.read(stage_.data(), std::min(n - got, stage_.size()), deadline, end);
                deliver(stage_.data(), arrived);
            } else {
                got += transport_.read(out + got, n - got, deadline, end);
            }
            ended_ = end;
            if (meter) meter->advanced(got);
        }
        if (held) out[stored] = first;  // an odd count; the caller rejects it
    }

private:
    // Transports that find data waiting never wait, so a steady trickle
    // would outlast the deadline without this check.
    static void checkDeadline(Deadline deadline) {
        if (Clock::now() >= deadline) throw IoError(kIoTimeout, "time-out");
    }

    Transport& transport_;
    std::vector<uint8_t> buf_;
    std::vector<uint8_t> stage_;
    size_t begin_ = 0;
    size_t end_ = 0;
    bool ended_ = false;
};

IoSession::IoSession(std::string address, std::unique_ptr<Transport> transport)
    : address_(std::move(address)), transport_(std::move(transport)) {
    if (!transport_) throw IoError(kIoNoSession, "No connection for " + address_);
    reader_ = std::make_unique<Reader>(*transport_);
}

IoSession::~IoSession() = default;

Deadline IoSession::deadline() const {
    return Clock::now() + std::chrono::milliseconds(timeoutMs_);
}

void IoSession::SetTimeout(int milliseconds) {
    timeoutMs_ = std::max(milliseconds, 0);
}

void IoSession::SetTermChar(int value) {
    termChar_ = value < 0 ? -1 : (value & 0xff);
}

void IoSession::SetWriteTermChar(int value) {
    writeTermChar_ = value < 0 ? -1 : (value & 0xff);
}

void IoSession::Output(std::string_view command) {
    std::string message(command);
    if (writeTermChar_ >= 0) message.push_back(static_cast<char>(writeTermChar_));
    WriteBytes(reinterpret_cast<const uint8_t*>(message.data()), message.size());
}

void IoSession::WriteBytes(const uint8_t* data, size_t count) {
    if (stale_) drainStale();
    transport_->beginMessage();
    try {
        transport_->write(data, count, deadline());
    } catch (const IoError& e) {
        faulted_ = true;
        rethrowWith(e, "Sending to " + address_);
    }
}

// After a read failed, the rest of that reply may still be on its way (a
// scope that answered late, a block cut short by the time-out). Left alone
// it would answer the next query, so everything that arrives before the line
// has been quiet for a moment is thrown away before the next command.
void IoSession::drainStale() {
    stale_ = false;
    reader_->discardBuffered();
    constexpr auto kQuiet = std::chrono::milliseconds(20);
    constexpr size_t kMaxDrained = kMaxBlockBytes;
    std::vector<uint8_t> scratch(kChunkBytes);
    size_t drained = 0;
    try {
        while (drained < kMaxDrained) {
            bool end = false;
            drained += transport_->read(scratch.data(), scratch.size(), Clock::now() + kQuiet, end);
        }
    } catch (const IoError&) {
        // Quiet (or closed: the write that follows reports that).
    }
}

std::string IoSession::EnterText() {
    Deadline d = deadline();
    reader_->startOperation();
    // With no terminator set, a byte stream still needs an end: text replies
    // end with a line feed. Message-based transports end at END.
    int term = termChar_;
    if (term < 0 && !transport_->messageBased()) term = '\n';
    try {
        size_t n = reader_->scanUntil(term, kMaxBlockBytes, d);
        if (n >= kMaxBlockBytes) {
            reader_->discardBuffered();
            throw IoError(kIoMalformed,
                          "text reply longer than " + std::to_string(kMaxBlockBytes) + " bytes");
        }
        std::string text(reinterpret_cast<const char*>(reader_->data()), n);
        reader_->consume(n);
        return text;
    } catch (const IoError& e) {
        stale_ = faulted_ = true;
        std::string context = "Reading a reply from " + address_;
        if (reader_->buffered() > 0) {
            context += " (" + std::to_string(reader_->buffered()) +
                       " bytes received without terminator: " +
                       showBytes(reader_->data(), reader_->buffered()) + ")";
        }
        if (e.code() == kIoTimeout) {
            throw IoError(kIoTimeout, context + ": no complete reply within " +
                                          std::to_string(timeoutMs_) + " ms");
        }
        rethrowWith(e, context);
    }
}

std::vector<std::string> IoSession::EnterTextArray() {
    return splitFields(EnterText());
}

size_t IoSession::EnterNumbers(std::span<double> target) {
    std::string reply = EnterText();
    std::vector<std::string> fields = splitFields(reply);
    size_t filled = std::min(fields.size(), target.size());
    for (size_t i = 0; i < filled; ++i) {
        auto v = toNumber(fields[i]);
        if (!v) {
            throw IoError(
                kIoMalformed,
                "Reply from " + address_ + ": field " + std::to_string(i + 1) + " '" + fields[i] +
                    "' is not a number (reply: " +
                    showBytes(reinterpret_cast<const uint8_t*>(reply.data()), reply.size()) + ")");
        }
        target[i] = *v;
    }
    return filled;
}

// Where a block's data goes: a vector reserved for the declared size and
// grown to it before the data is read. Growing a DataVector leaves the new
// elements unset, so the read is the only pass that writes them.
template <typename T>
class BlockSink {
public:
    static constexpr bool kSwapsWords = false;
    explicit BlockSink(DataVector<T>& out) : out_(out) {}
    void reserve(size_t bytes) {
        declared_ = bytes;
        out_.clear();
        out_.reserve(elements(bytes));
    }
    size_t declaredBytes() const { return declared_; }
    void grow(size_t bytes) {
        if (elements(bytes) > out_.size()) out_.resize(elements(bytes));
    }
    uint8_t* data() { return reinterpret_cast<uint8_t*>(out_.data()); }
    void arrived(size_t) {}

private:
    static size_t elements(size_t bytes) { return (bytes + sizeof(T) - 1) / sizeof(T); }
    DataVector<T>& out_;
    size_t declared_ = 0;
};

// A caller's buffer that is already large enough.
struct RawSink {
    static constexpr bool kSwapsWords = false;
    uint8_t* buffer;
    void grow(size_t) {}
    uint8_t* data() { return buffer; }
    void arrived(size_t) {}
};

// 16-bit big-endian words in host order. A definite block is swapped on
// its way in (Reader::readExactSwapped); an indefinite one, copied whole
// from the buffer, is swapped in place here.
class WordSink : public BlockSink<int16_t> {
public:
    static constexpr bool kSwapsWords = true;
    using BlockSink::BlockSink;
    void arrived(size_t bytes) {
        size_t upTo = bytes & ~size_t{1};
        bigEndianWordsToHost(data() + swapped_, upTo - swapped_);
        swapped_ = upTo;
    }

private:
    size_t swapped_ = 0;
};

// Reads one IEEE 488.2 block: '#', a digit count n, n length digits, the
// data, and for "#0" data up to the final line feed or message END. The
// sink is told the data size once (reserve) before any of it is stored.
template <typename Sink>
void IoSession::readBlock(Sink& sink) {
    Deadline d = deadline();
    Reader& r = *reader_;
    r.startOperation();
    const std::string what = "Reading a binary block from " + address_;

    auto malformed = [&](const std::string& why) {
        std::string seen = r.buffered() ? showBytes(r.data(), r.buffered()) : "nothing";
        // What is left is the rest of an unexpected reply; keeping it would
        // only spoil the next read.
        r.discardBuffered();
        throw IoError(kIoMalformed, what + ": " + why + " (received " + seen + ")");
    };
    auto need = [&](size_t n) {
        try {
            if (!r.ensure(n, d)) malformed("the reply ended inside the block header");
        } catch (const IoError& e) {
            if (e.code() == kIoMalformed) throw;
            std::string seen = r.buffered() ? ", received " + showBytes(r.data(), r.buffered())
                                            : ", nothing received";
            if (e.code() == kIoTimeout) {
                throw IoError(kIoTimeout, what + ": no block header within " +
                                              std::to_string(timeoutMs_) + " ms" + seen);
            }
            rethrowWith(e, what + seen);
        }
    };

    // Leading blanks and line ends (left from an earlier reply or sent
    // before the block by some instruments) are not part of it.
    for (;;) {
        need(1);
        if (!isBlank(r.data()[0])) break;
        r.consume(1);
    }
    if (r.data()[0] != '#') malformed("a block must start with '#'");
    need(2);
    uint8_t digitCount = r.data()[1];
    if (!isDigit(digitCount)) malformed("the digit count after '#' is not a digit");
    const size_t lengthDigits = digitCount - '0';

    if (lengthDigits == 0) {
        // Indefinite form: the data runs to the line feed (byte stream) or
        // to the message END.
        r.consume(2);
        int term = transport_->messageBased() ? -1 : '\n';
        size_t n = 0;
        try {
            n = r.scanUntil(term, kMaxBlockBytes + 2, d);
        } catch (const IoError& e) {
            rethrowWith(e, what + " (indefinite length, " + std::to_string(r.buffered()) +
                               " bytes received)");
        }
        if (n > kMaxBlockBytes + 1) {
            r.discardBuffered();
            throw IoError(kIoBlockTooLarge, what + ": block longer than " +
                                                std::to_string(kMaxBlockBytes) + " bytes");
        }
        size_t size = n;
        if (size > 0 && r.data()[size - 1] == '\n') --size;  // the terminator
        sink.reserve(size);
        sink.grow(size);
        if (size > 0) std::memcpy(sink.data(), r.data(), size);
        sink.arrived(size);
        r.consume(n);
        if (progress_) ProgressMeter{progress_, 0}.finished(size);
        return;
    }

    need(2 + lengthDigits);
    size_t length = 0;
    for (size_t i = 0; i < lengthDigits; ++i) {
        uint8_t c = r.data()[2 + i];
        if (!isDigit(c)) malformed("the block length is not a number");
        length = length * 10 + (c - '0');
    }
    r.consume(2 + lengthDigits);
    if (length > kMaxBlockBytes) {
        throw IoError(kIoBlockTooLarge, what + ": the block declares " + std::to_string(length) +
                                            " bytes; at most " + std::to_string(kMaxBlockBytes) +
                                            " are accepted");
    }

    sink.reserve(length);
    size_t got = 0;
    std::optional<ProgressMeter> meter;
    if (progress_) meter.emplace(ProgressMeter{progress_, length});
    try {
        r.readExact(sink, length, d, got, meter ? &*meter : nullptr);
    } catch (const IoError& e) {
        std::string progress =
            std::to_string(got) + " of " + std::to_string(length) + " data bytes arrived";
        if (e.code() == kIoTimeout) {
            throw IoError(kIoTimeout, what + ": block incomplete after " +
                                          std::to_string(timeoutMs_) + " ms, " + progress);
        }
        if (e.code() == kIoClosed) {
            throw IoError(kIoClosed,
                          what + ": the connection closed inside the block, " + progress);
        }
        if (e.code() == kIoMalformed) {
            throw IoError(kIoMalformed, what + ": the reply ended inside the block, " + progress);
        }
        rethrowWith(e, what + ", " + progress);
    }
    if (meter) meter->finished(length);
    consumeBlockTerminator(d);
}

// The line feed (or CR LF) after a definite block belongs to the block's
// reply; left unread it would answer the next text read.
void IoSession::consumeBlockTerminator(Deadline d) {
    Reader& r = *reader_;
    if (r.atMessageEnd()) return;
    Deadline grace = std::min(d, Clock::now() + kTerminatorGrace);
    try {
        if (!r.ensure(1, grace)) return;
        if (r.data()[0] == '\r') {
            if (!r.ensure(2, grace)) return;
            if (r.data()[1] == '\n') r.consume(2);
        } else if (r.data()[0] == '\n') {
            r.consume(1);
        }
    } catch (const IoError&) {
        // The block itself is complete; a missing terminator or a connection
        // that closed after the data shows on the next operation.
    }
}

DataVector<uint8_t> IoSession::EnterBytes() {
    DataVector<uint8_t> out;
    BlockSink<uint8_t> sink(out);
    try {
        readBlock(sink);
    } catch (...) {
        stale_ = faulted_ = true;
        throw;
    }
    return out;
}

DataVector<int16_t> IoSession::EnterWords() {
    DataVector<int16_t> out;
    WordSink sink(out);
    try {
        readBlock(sink);
    } catch (...) {
        stale_ = faulted_ = true;
        throw;
    }
    // An odd count shows only after the header; the block was still read
    // whole, so the next reply starts where it should.
    size_t bytes = sink.declaredBytes();
    if (bytes % 2 != 0) {
        throw IoError(kIoMalformed, "Reading 16-bit data from " + address_ + ": the block has " +
                                        std::to_string(bytes) + " bytes, an odd count");
    }
    return out;
}

size_t IoSession::ReadBytes(uint8_t* data, size_t capacity) {
    if (capacity == 0) return 0;
    Deadline d = deadline();
    Reader& r = *reader_;
    r.startOperation();
    try {
        if (termChar_ < 0 && !transport_->messageBased()) {
            size_t n = readWholeReply(data, capacity, d);
            if (n > 0) return n;
        }
        // With no terminator on a byte stream and no block at the front, a
        // line feed is the only end there is.
        int term = termChar_;
        if (term < 0 && !transport_->messageBased()) term = '\n';
        size_t n = r.scanUntil(term, capacity, d);
        std::memcpy(data, r.data(), n);
        r.consume(n);
        return n;
    } catch (const IoError& e) {
        stale_ = faulted_ = true;
        if (e.code() == kIoTimeout) {
            throw IoError(kIoTimeout, "Reading from " + address_ + ": no complete reply within " +
                                          std::to_string(timeoutMs_) + " ms");
        }
        rethrowWith(e, "Reading from " + address_);
    } catch (...) {
        stale_ = faulted_ = true;
        throw;
    }
}

// A byte stream has no message end, so a raw read with no terminator can
// only know where the reply stops when it is a definite binary block: then
// the header, the data and the line feed after it are returned whole.
// Returns 0 when the reply does not start with a definite block header.
size_t IoSession::readWholeReply(uint8_t* data, size_t capacity, Deadline d) {
    Reader& r = *reader_;
    // Byte by byte, so a short reply that is no block is not kept waiting.
    if (!r.ensure(1, d) || r.data()[0] != '#') return 0;
    if (!r.ensure(2, d) || !isDigit(r.data()[1]) || r.data()[1] == '0') return 0;
    size_t digits = r.data()[1] - '0';
    if (!r.ensure(2 + digits, d)) return 0;
    size_t length = 0;
    for (size_t i = 0; i < digits; ++i) {
        uint8_t c = r.data()[2 + i];
        if (!isDigit(c)) return 0;
        length = length * 10 + (c - '0');
    }
    size_t total = std::min(2 + digits + length, capacity);
    size_t got = 0;
    RawSink sink{data};
    const size_t header = 2 + digits;
    const size_t dataBytes = total > header ? total - header : 0;
    std::optional<ProgressMeter> meter;
    if (progress_) meter.emplace(ProgressMeter{progress_, dataBytes, header});
    r.readExact(sink, total, d, got, meter ? &*meter : nullptr);
    if (meter) meter->finished(dataBytes);
    if (total < capacity) {
        Deadline grace = std::min(d, Clock::now() + kTerminatorGrace);
        try {
            if (r.ensure(1, grace) && r.data()[0] == '\n') {
                data[total++] = '\n';
                r.consume(1);
            }
        } catch (const IoError&) {
            // No terminator after the data: the reply is complete without it.
        }
    }
    return total;
}

}  // namespace cvn::io
