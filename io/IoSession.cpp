// IoSession: message framing above the transports. Text replies end at a
// terminator or message end; binary replies are IEEE 488.2 blocks read
// straight into their destination. All reads of one operation share one
// deadline.
#include "io/IoSession.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "io/BlockSink.h"
#include "io/ByteOrder.h"
#include "io/IoError.h"
#include "io/ReplyConvert.h"
#include "io/ReplyReader.h"
#include "io/SessionDetail.h"

namespace cvn::io {

using namespace detail;

IoSession::IoSession(std::string address, std::unique_ptr<Transport> transport)
    : address_(std::move(address)), transport_(std::move(transport)) {
    if (!transport_) throw IoError(kIoNoSession, "No connection for " + address_);
    reader_ = std::make_unique<ReplyReader>(*transport_);
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
    try {
        if (stale_) drainStale();
        transport_->beginMessage();
        transport_->write(data, count, deadline());
    } catch (const IoError& e) {
        noteFailure(e.code());
        rethrowWith(e, "Sending to " + address_);
    }
}

bool Reusable(const IoSessionPtr& session, const std::string& address) {
    return session && session->Address() == address && !session->Broken();
}

bool IoSession::Broken() const {
    return linkBroken_ || outOfStep_ || stale_ || transport_->closedByPeer();
}

void IoSession::noteFailure(int code) {
    faulted_ = true;
    // A link that could not be made again (kIoOpenFailed) is gone as well.
    if (code == kIoClosed || code == kIoFailure || code == kIoNoSession || code == kIoOpenFailed)
        linkBroken_ = true;
}

void IoSession::noteReadFailure(int code) {
    stale_ = true;
    readTimedOut_ = code == kIoTimeout;
    noteFailure(code);
}

// Every read starts here: an END consumed by the previous read does not end
// this one, and a terminator that followed the previous block too late to be
// read with it is dropped, so this reply starts at its own first byte.
void IoSession::startRead(Deadline d) {
    reader_->startOperation();
    if (!lateTerminator_) return;
    lateTerminator_ = false;
    ReplyReader& r = *reader_;
    if (!r.ensure(1, d)) return;
    if (r.data()[0] == '\n') {
        r.consume(1);
    } else if (r.data()[0] == '\r') {
        if (r.ensure(2, d) && r.data()[1] == '\n') r.consume(2);
    }
    r.startOperation();  // the terminator may have carried the message END
}

// After a read failed, the rest of that reply may still be on its way (a
// scope that answered late, a block cut short by the time-out). Left alone
// it would answer the next query, so it is thrown away before the next
// command. When the rest is known (the bytes a definite block still owes,
// or an indefinite block's final line feed) it is waited for within the
// time-out, as long as it keeps coming (a gap of kRestGap ends the wait).
// When it is not known after a time-out (a reply that had not come, or
// stopped short), no wait can tell whether more is coming: a :DIGitize that
// outlasts the time-out answers whenever the scope is done. Then the link
// is replaced, so that reply goes to a connection nobody reads. A bus
// without connections of its own (a serial line) drops what arrives before
// the line has been quiet for a moment instead, and a rest that does not
// come there leaves the session out of step for good, so Broken() tells
// callers to replace it.
void IoSession::drainStale() {
    stale_ = false;
    const bool timedOut = std::exchange(readTimedOut_, false);
    if (restBytes_ > 0 || restToLineFeed_) {
        if (drainKnownRest()) return;
        restBytes_ = 0;
        restToLineFeed_ = false;
        if (!freshLink()) outOfStep_ = true;
        return;
    }
    lateTerminator_ = false;
    if (timedOut && freshLink()) return;
    ReplyReader& r = *reader_;
    r.discardBuffered();
    std::vector<uint8_t> scratch(kChunkBytes);
    bool end = false;
    constexpr auto kQuiet = std::chrono::milliseconds(20);
    size_t drained = 0;
    try {
        while (drained < kMaxBlockBytes) {
            drained += transport_->read(scratch.data(), scratch.size(), Clock::now() + kQuiet, end);
        }
    } catch (const IoError&) {
        // Quiet (or closed: the write that follows reports that).
    }
}

// A new link in place of the old one, with nothing of the old one kept.
// Throws when the peer cannot be reached again.
bool IoSession::freshLink() {
    if (!transport_->reconnect(deadline())) return false;
    reader_->discardBuffered();
    lateTerminator_ = false;
    restBytes_ = 0;
    restToLineFeed_ = false;
    outOfStep_ = false;
    return true;
}

// Waits for the known rest of a failed block and drops it; false when it
// did not come.
bool IoSession::drainKnownRest() {
    ReplyReader& r = *reader_;
    std::vector<uint8_t> scratch(kChunkBytes);
    bool end = false;
    try {
        if (restBytes_ > 0) {
            const Deadline d = deadline();
            size_t left = restBytes_;
            const size_t buffered = std::min(left, r.buffered());
            r.consume(buffered);
            left -= buffered;
            while (left > 0) {
                const Deadline until = std::min(d, Clock::now() + kRestGap);
                left -=
                    transport_->read(scratch.data(), std::min(left, scratch.size()), until, end);
            }
            restBytes_ = 0;
            lateTerminator_ = true;  // the block's own terminator follows
            return true;
        }
        lateTerminator_ = false;
        restToLineFeed_ = false;
        const Deadline d = deadline();
        bool lineFeedLast = r.buffered() > 0 && r.data()[r.buffered() - 1] == '\n';
        r.discardBuffered();
        for (;;) {
            const Deadline until =
                std::min(d, Clock::now() + (lineFeedLast ? Clock::duration(kIndefiniteQuiet)
                                                         : Clock::duration(kRestGap)));
            size_t n = 0;
            try {
                n = transport_->read(scratch.data(), scratch.size(), until, end);
            } catch (const IoError&) {
                if (lineFeedLast) return true;
                throw;
            }
            lineFeedLast = scratch[n - 1] == '\n';
        }
    } catch (const IoError&) {
        return false;
    }
}

std::string IoSession::EnterText() {
    Deadline d = deadline();
    // With no terminator set, a byte stream still needs an end: text replies
    // end with a line feed. Message-based transports end at END.
    int term = termChar_;
    if (term < 0 && !transport_->messageBased()) term = '\n';
    try {
        startRead(d);
        size_t n = reader_->scanUntil(term, kMaxBlockBytes, d);
        if (n >= kMaxBlockBytes) {
            reader_->discardBuffered();
            throw IoError(kIoBlockTooLarge,
                          "text reply longer than " + std::to_string(kMaxBlockBytes) + " bytes");
        }
        std::string text(reinterpret_cast<const char*>(reader_->data()), n);
        reader_->consume(n);
        return text;
    } catch (const IoError& e) {
        noteReadFailure(e.code());
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

}  // namespace cvn::io
