// One open connection to an instrument, with the operations the add-in
// relies on. Sessions are shared: the connection closes when the last
// shared_ptr to it goes away.
//
// Every operation either completes or throws IoError; a read that does not
// finish within Timeout() fails with kIoTimeout (one deadline per
// operation, not per chunk). Nothing is retried.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/Transport.h"
#include "support/DataVector.h"

namespace cvn::io {

class ReplyReader;

// Progress of a binary block's data: bytes received so far and the
// declared data size (0 for an indefinite "#0" block until its end, when
// its size is known). The last report of a block, and only that one, has
// received == total.
using BlockProgress = std::function<void(std::size_t received, std::size_t total)>;

class IoSession {
public:
    IoSession(std::string address, std::unique_ptr<Transport> transport);
    ~IoSession();
    IoSession(const IoSession&) = delete;
    IoSession& operator=(const IoSession&) = delete;

    // Sends one command as one message, followed by the write terminator
    // (line feed unless WriteTermChar is -1).
    void Output(std::string_view command);

    // "K" into a text: the whole reply up to and including its terminator.
    std::string EnterText();
    // "K" into a text array: the reply's comma-separated fields.
    std::vector<std::string> EnterTextArray();
    // "K" into a number array: fills target from its first element with the
    // reply's fields converted to numbers; returns how many were filled.
    // Fields beyond target.size() are read and ignored; a field that is not
    // a number fails with kIoMalformed.
    size_t EnterNumbers(std::span<double> target);
    // "I1": the data of an IEEE 488.2 binary block, bytes 0..255.
    DataVector<uint8_t> EnterBytes();
    // "I2BE": the data of a binary block as 16-bit signed integers sent most
    // significant byte first. An odd byte count fails with kIoMalformed.
    DataVector<int16_t> EnterWords();

    // Raw read of whatever the instrument sends, at most capacity bytes,
    // ending at the terminator (when TermChar is set), the message end, or
    // when capacity is reached. Returns the number of bytes stored.
    // On a byte stream with TermChar -1 there is no message end: a reply
    // that starts with a definite binary block is read whole (header, data
    // and the line feed after it); anything else ends at a line feed.
    size_t ReadBytes(uint8_t* data, size_t capacity);
    // Sends the first count bytes as one message, adding nothing.
    void WriteBytes(const uint8_t* data, size_t count);

    // True once any operation has failed. Such a session may be out of step
    // with the instrument (a late reply, a dead link); callers that can
    // simply connect again should do so instead of reusing it.
    bool Faulted() const { return faulted_; }
    // True when this session should be replaced rather than reused: its
    // link was closed, reset or failed, or a read failed and no command has
    // been sent since, so a late rest of that reply may still be on its way
    // and answer the next query.
    // Asks the transport, without sending anything, whether the peer has
    // closed the link since the last operation.
    bool Broken() const;

    // Called while the data of a binary block is read (EnterBytes,
    // EnterWords, ReadBytes of a block): after transport reads that add
    // data, at most once per kProgressStepBytes, and once at the end with
    // received == total. Never called for text replies. An exception thrown
    // by the callback fails the operation (the session resynchronises before
    // its next command). An empty function removes the callback.
    void SetBlockProgress(BlockProgress callback) { progress_ = std::move(callback); }
    static constexpr size_t kProgressStepBytes = size_t{1} << 20;

    int Timeout() const { return timeoutMs_; }
    void SetTimeout(int milliseconds);
    int TermChar() const { return termChar_; }
    void SetTermChar(int value);  // -1: none; otherwise a byte value
    int WriteTermChar() const { return writeTermChar_; }
    void SetWriteTermChar(int value);
    const std::string& Address() const { return address_; }

    // Largest binary block accepted; a header that declares more fails with
    // kIoBlockTooLarge before anything is allocated.
    static constexpr size_t kMaxBlockBytes = size_t{512} << 20;

private:
    Deadline deadline() const;
    template <typename Sink>
    void readBlock(Sink& sink);
    template <typename Sink>
    void readBlockNoted(Sink& sink);
    template <typename Sink>
    void readIndefinite(Sink& sink, Deadline deadline);
    void startRead(Deadline deadline);
    void reportRawBlock(const uint8_t* data, size_t n);
    void noteFailure(int code);
    void noteReadFailure(int code);
    void consumeBlockTerminator(Deadline deadline);
    size_t readWholeReply(uint8_t* data, size_t capacity, Deadline deadline);
    void drainStale();
    bool drainKnownRest();
    bool freshLink();

    std::string address_;
    std::unique_ptr<Transport> transport_;
    std::unique_ptr<ReplyReader> reader_;
    BlockProgress progress_;
    int timeoutMs_ = 10000;
    int termChar_ = 10;
    int writeTermChar_ = 10;
    bool stale_ = false;           // a read failed: leftovers of its reply may follow
    bool readTimedOut_ = false;    // ...because it timed out
    bool lateTerminator_ = false;  // a block's terminator has not arrived yet
    size_t restBytes_ = 0;         // bytes a cut definite block still owes
    bool restToLineFeed_ = false;  // a cut indefinite block still owes its end
    bool outOfStep_ = false;       // the rest of a failed reply never came
    bool linkBroken_ = false;      // the transport reported the link closed or failed
    bool faulted_ = false;         // some operation failed at some time
};

using IoSessionPtr = std::shared_ptr<IoSession>;

// The one rule for keeping a session: it is reused for the same address
// unless Broken(); anything else (none, another address, a broken or out
// of step link) calls for a new one.
bool Reusable(const IoSessionPtr& session, const std::string& address);

class IoManager {
public:
    // Opens a session for the address (see Address.h for the forms), or
    // throws IoError. The connection is made within timeoutMs.
    IoSessionPtr Open(std::string_view address, int timeoutMs = 5000);
};

}  // namespace cvn::io
