// IoSession's binary replies: IEEE 488.2 blocks, definite and indefinite,
// read straight into their destination, and raw whole replies.
#include <algorithm>
#include <cstring>

#include "io/BlockSink.h"
#include "io/ByteOrder.h"
#include "io/IoError.h"
#include "io/IoSession.h"
#include "io/ReplyConvert.h"
#include "io/ReplyReader.h"
#include "io/SessionDetail.h"

namespace cvn::io {

using namespace detail;

// Reads one IEEE 488.2 block: '#', a digit count n, n length digits, the
// data, and for "#0" data up to the final line feed or message END. The
// sink is told the data size once (reserve) before any of it is stored.
template <typename Sink>
void IoSession::readBlock(Sink& sink) {
    Deadline d = deadline();
    ReplyReader& r = *reader_;
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

    try {
        startRead(d);
    } catch (const IoError& e) {
        if (e.code() == kIoTimeout) {
            throw IoError(kIoTimeout, what + ": no block header within " +
                                          std::to_string(timeoutMs_) + " ms, nothing received");
        }
        rethrowWith(e, what);
    }
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
        r.consume(2);
        readIndefinite(sink, d);
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
        if (e.code() == kIoTimeout) restBytes_ = length - std::min(got, length);
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

// The data of a "#0" block, whose size nobody announced. A message-based
// bus ends it with the message END; a byte stream with a line feed after
// which the line stays quiet, never at a line feed inside the data.
template <typename Sink>
void IoSession::readIndefinite(Sink& sink, Deadline d) {
    ReplyReader& r = *reader_;
    const std::string what = "Reading an indefinite-length block from " + address_;
    sink.reserve(0);
    std::optional<ProgressMeter> meter;
    if (progress_) meter.emplace(ProgressMeter{progress_, 0});
    size_t size = 0;
    if (transport_->messageBased()) {
        try {
            size = r.readToMessageEnd(sink, kMaxBlockBytes + 1, d, meter ? &*meter : nullptr);
        } catch (const IoError& e) {
            rethrowWith(e, what);
        }
        if (size > 0 && sink.data()[size - 1] == '\n') --size;  // the terminator
        if (size > kMaxBlockBytes) {
            throw IoError(kIoBlockTooLarge,
                          what + ": longer than " + std::to_string(kMaxBlockBytes) + " bytes");
        }
    } else {
        try {
            size = r.readToQuietLineFeed(sink, kMaxBlockBytes + 1, d, kIndefiniteQuiet,
                                         meter ? &*meter : nullptr);
        } catch (const IoError& e) {
            restToLineFeed_ = e.code() == kIoTimeout;
            if (e.code() == kIoTimeout) {
                throw IoError(kIoTimeout, what + ": no final line feed within " +
                                              std::to_string(timeoutMs_) + " ms");
            }
            rethrowWith(e, what);
        }
    }
    sink.setSize(size);
    sink.arrived(size);
    if (meter) meter->finished(size);
}

// The line feed (or CR LF) after a definite block belongs to the block's
// reply; left unread it would answer the next text read. Most instruments
// send it with the data; one that sends it late has it dropped by the next
// read instead of waiting here for it.
void IoSession::consumeBlockTerminator(Deadline d) {
    ReplyReader& r = *reader_;
    if (r.atMessageEnd()) return;
    Deadline grace = std::min(d, Clock::now() + kTerminatorGrace);
    lateTerminator_ = true;
    try {
        if (!r.ensure(1, grace)) {
            lateTerminator_ = false;
            return;
        }
        if (r.data()[0] == '\r') {
            if (!r.ensure(2, grace)) return;
            if (r.data()[1] == '\n') r.consume(2);
            lateTerminator_ = false;
        } else if (r.data()[0] == '\n') {
            r.consume(1);
            lateTerminator_ = false;
        } else {
            lateTerminator_ = false;  // no terminator: the next reply is here
        }
    } catch (const IoError&) {
        // The block itself is complete; a terminator still on its way is
        // dropped by the next read, a closed connection shows there too.
    }
}

// A block read whose failure is noted for the session, whatever it was.
template <typename Sink>
void IoSession::readBlockNoted(Sink& sink) {
    try {
        readBlock(sink);
    } catch (const IoError& e) {
        noteReadFailure(e.code());
        throw;
    } catch (...) {
        noteReadFailure(0);
        throw;
    }
}

DataVector<uint8_t> IoSession::EnterBytes() {
    DataVector<uint8_t> out;
    BlockSink<uint8_t> sink(out);
    readBlockNoted(sink);
    return out;
}

DataVector<int16_t> IoSession::EnterWords() {
    DataVector<int16_t> out;
    WordSink sink(out);
    readBlockNoted(sink);
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
    ReplyReader& r = *reader_;
    try {
        startRead(d);
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
        if (progress_ && transport_->messageBased()) reportRawBlock(data, n);
        return n;
    } catch (const IoError& e) {
        noteReadFailure(e.code());
        if (e.code() == kIoTimeout) {
            throw IoError(kIoTimeout, "Reading from " + address_ + ": no complete reply within " +
                                          std::to_string(timeoutMs_) + " ms");
        }
        rethrowWith(e, "Reading from " + address_);
    } catch (...) {
        noteReadFailure(0);
        throw;
    }
}

// A raw read on a message-based bus arrives whole through the buffer; when
// it holds a block, its data is reported once, complete.
void IoSession::reportRawBlock(const uint8_t* data, size_t n) {
    if (n < 2 || data[0] != '#' || !isDigit(data[1])) return;
    const size_t digits = data[1] - '0';
    if (digits == 0) {
        size_t size = n - 2;
        if (size > 0 && data[n - 1] == '\n') --size;
        progress_(size, size);
        return;
    }
    if (n < 2 + digits) return;
    size_t length = 0;
    for (size_t i = 0; i < digits; ++i) {
        if (!isDigit(data[2 + i])) return;
        length = length * 10 + (data[2 + i] - '0');
    }
    progress_(std::min(length, n - 2 - digits), length);
}

// A byte stream has no message end, so a raw read with no terminator can
// only know where the reply stops when it is a binary block: then the
// header, the data and the line feed after it are returned whole (a "#0"
// block up to its final line feed). Returns 0 when the reply does not start
// with a block header.
size_t IoSession::readWholeReply(uint8_t* data, size_t capacity, Deadline d) {
    ReplyReader& r = *reader_;
    // Byte by byte, so a short reply that is no block is not kept waiting.
    if (!r.ensure(1, d) || r.data()[0] != '#') return 0;
    if (!r.ensure(2, d) || !isDigit(r.data()[1])) return 0;
    size_t digits = r.data()[1] - '0';
    if (digits == 0) {
        if (capacity < 3) return 0;
        r.consume(2);
        data[0] = '#';
        data[1] = '0';
        RawSink sink{data + 2};
        std::optional<ProgressMeter> meter;
        if (progress_) meter.emplace(ProgressMeter{progress_, 0});
        size_t size = r.readToQuietLineFeed(sink, capacity - 2, d, kIndefiniteQuiet,
                                            meter ? &*meter : nullptr);
        if (meter) meter->finished(size);
        return 2 + size + 1;  // the line feed is in place after the data
    }
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
    if (total < 2 + digits + length) {
        // The caller's buffer ended inside the block: what is left of it is
        // dropped before the next command, so that reply is not this one's.
        stale_ = true;
        restBytes_ = 2 + digits + length - total;
        return total;
    }
    // The terminator (LF or CR LF) is part of the raw reply when there is
    // room for it; it is consumed either way.
    Deadline grace = std::min(d, Clock::now() + kTerminatorGrace);
    lateTerminator_ = true;
    try {
        if (!r.ensure(1, grace)) {
            lateTerminator_ = false;
            return total;
        }
        if (r.data()[0] == '\r' && !r.ensure(2, grace)) return total;
        size_t termLen = 0;
        if (r.data()[0] == '\n') {
            termLen = 1;
        } else if (r.data()[0] == '\r' && r.data()[1] == '\n') {
            termLen = 2;
        }
        lateTerminator_ = false;
        for (size_t i = 0; i < termLen && total < capacity; ++i) data[total++] = r.data()[i];
        r.consume(termLen);
    } catch (const IoError&) {
        // No terminator yet: the next read drops it when it comes.
    }
    return total;
}

}  // namespace cvn::io
