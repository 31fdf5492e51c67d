// Buffered reading for IoSession: the bytes a transport delivered but no
// operation has handed out yet, and the loops that read block data straight
// into its destination. Internal to the I/O library.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "io/ByteOrder.h"
#include "io/IoError.h"
#include "io/IoSession.h"
#include "io/Transport.h"

namespace cvn::io {

// Buffered reads ask the transport for at least this much at a time.
inline constexpr size_t kChunkBytes = 64 * 1024;
// Block data arrives through a buffer of this size, small enough to stay
// in the cache between the read and the copy into the destination.
inline constexpr size_t kStageBytes = 128 * 1024;
// The most the buffer ever holds: a reply of the size cap and one read. A
// reply that never ends (no terminator, a "#0" stream) stops at the cap,
// so memory stays within it for any reply.
inline constexpr size_t kMaxBuffered = IoSession::kMaxBlockBytes + kChunkBytes;

// Reports a block's progress to the session's callback: at most once per
// step while data arrives (received below total, or total 0 while unknown),
// and once when the data is complete. Only built
// when a callback is set, so an unset one costs a null test per read.
struct ProgressMeter {
    const BlockProgress& callback;
    size_t total;        // declared data bytes, 0 when unknown
    size_t skipped = 0;  // bytes of the read that come before the data
    size_t nextReport = IoSession::kProgressStepBytes;

    void advanced(size_t bytesRead) {
        const size_t received = bytesRead > skipped ? bytesRead - skipped : 0;
        if (received < nextReport || (total != 0 && received >= total)) return;
        nextReport = (received / IoSession::kProgressStepBytes + 1) * IoSession::kProgressStepBytes;
        callback(received, total);
    }
    // The end: the size is known now, also for a block that declared none,
    // so the end is told by received == total.
    void finished(size_t received) { callback(received, received); }
};

// Bytes received but not yet handed out, kept between operations so that
// nothing a byte stream delivered early is lost. The message END of a
// message-based transport can only sit at the tail of what is buffered,
// because nothing is read past it until it has been consumed.
class ReplyReader {
public:
    explicit ReplyReader(Transport& transport) : transport_(transport) {}

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
            if (buf_.size() - end_ < kChunkBytes && buf_.size() < kMaxBuffered) {
                // Doubling, but straight to the cap once doubling again
                // would pass it: a last step from just below the cap would
                // hold the old buffer and its copy at once.
                size_t grown = std::max(buf_.size() * 2, end_ + kChunkBytes);
                if (grown > kMaxBuffered / 2) grown = kMaxBuffered;
                buf_.resize(grown);
            }
            if (end_ == buf_.size()) {
                throw IoError(
                    kIoBlockTooLarge,
                    "a reply longer than " + std::to_string(IoSession::kMaxBlockBytes) + " bytes");
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

    // The data of an indefinite block on a byte stream, which has no message
    // end: it runs to a line feed after which the line stays quiet for
    // `quiet`. A line feed inside the data is followed at once by more data,
    // so it never ends the block early. The data goes straight into the
    // sink, grown as it comes, at most `limit` bytes including the final
    // line feed. Returns the data size without that line feed.
    template <typename Sink>
    size_t readToQuietLineFeed(Sink& sink, size_t limit, Deadline deadline, Clock::duration quiet,
                               ProgressMeter* meter) {
        size_t got = 0;
        size_t room = 0;
        auto makeRoom = [&] { growIndefinite(sink, got, room, limit); };
        takeBuffered(sink, got, room, limit);
        for (;;) {
            makeRoom();
            const bool maybeEnd = got > 0 && sink.data()[got - 1] == '\n';
            bool end = false;
            try {
                if (maybeEnd) {
                    const Deadline until = std::min(deadline, Clock::now() + quiet);
                    got += transport_.read(sink.data() + got, room - got, until, end);
                } else {
                    checkDeadline(deadline);
                    got += transport_.read(sink.data() + got, room - got, deadline, end);
                }
            } catch (const IoError& e) {
                // A line feed and then silence (or the peer closing) is the end.
                if (maybeEnd && (e.code() == kIoTimeout || e.code() == kIoClosed)) return got - 1;
                throw;
            }
            if (meter) meter->advanced(got);
        }
    }

    // The data of an indefinite block on a message-based bus: up to the
    // message END, straight into the sink, at most `limit` bytes. Returns
    // its size, with a final line feed still in it.
    template <typename Sink>
    size_t readToMessageEnd(Sink& sink, size_t limit, Deadline deadline, ProgressMeter* meter) {
        size_t got = 0;
        size_t room = 0;
        const bool endBuffered = ended_;
        takeBuffered(sink, got, room, limit);
        if (endBuffered) return got;
        for (;;) {
            growIndefinite(sink, got, room, limit);
            checkDeadline(deadline);
            bool end = false;
            got += transport_.read(sink.data() + got, room - got, deadline, end);
            if (meter) meter->advanced(got);
            if (end) {
                ended_ = true;
                return got;
            }
        }
    }

private:
    // An indefinite block's sink grows by doubling as its data comes, up to
    // `limit` bytes; at the limit the block is refused.
    template <typename Sink>
    static void growIndefinite(Sink& sink, size_t got, size_t& room, size_t limit) {
        if (got < room) return;
        if (got >= limit) {
            throw IoError(kIoBlockTooLarge, "the indefinite block is longer than " +
                                                std::to_string(limit - 1) + " bytes");
        }
        room = std::min(limit, std::max(kChunkBytes, room * 2));
        sink.grow(room);
    }
    template <typename Sink>
    void takeBuffered(Sink& sink, size_t& got, size_t& room, size_t limit) {
        while (buffered() > 0) {
            growIndefinite(sink, got, room, limit);
            const size_t n = std::min(buffered(), room - got);
            std::memcpy(sink.data() + got, data(), n);
            consume(n);
            got += n;
        }
    }

    // Transports that find data waiting never wait, so a steady trickle
    // would outlast the deadline without this check.
    static void checkDeadline(Deadline deadline) {
        if (Clock::now() >= deadline) throw IoError(kIoTimeout, "time-out");
    }

    Transport& transport_;
    DataVector<uint8_t> buf_;  // bytes beyond end_ are never read, so never zeroed
    std::vector<uint8_t> stage_;
    size_t begin_ = 0;
    size_t end_ = 0;
    bool ended_ = false;
};

}  // namespace cvn::io
