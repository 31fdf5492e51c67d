// One bus behind one small interface. Transports move bytes and nothing
// else: framing (terminators, binary blocks) is done once, above them, in
// IoSession. A transport is owned by exactly one session.
//
// Contract for implementers:
//  - write() sends every byte or throws IoError; it never returns early.
//  - read() blocks until at least one byte is there, the deadline passes
//    (IoError kIoTimeout) or the peer closes (IoError kIoClosed); it returns
//    the number of bytes stored, never 0 unless `end` is set (an empty
//    message of a message-based transport). `end` is set when the transport
//    knows the message is complete (VXI-11 and USBTMC END); byte streams
//    leave it false.
//  - Nothing blocks past the deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace cvn::io {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

class Transport {
public:
    virtual ~Transport() = default;
    virtual void write(const uint8_t* data, size_t size, Deadline deadline) = 0;
    virtual size_t read(uint8_t* data, size_t size, Deadline deadline, bool& end) = 0;
    // Called before a new command is written, so message-based transports can
    // drop what is left of an old reply. Byte streams may ignore it.
    virtual void beginMessage() {}
    // True for transports whose reads carry a message end (END flag).
    virtual bool messageBased() const { return false; }
    // True when the peer is known to have closed or reset the link, found
    // out without sending or waiting. Transports that cannot tell say false.
    virtual bool closedByPeer() const { return false; }
    // Replaces the link with a fresh one to the same peer, so that nothing
    // still on its way over the old one (a reply that outlasted its
    // time-out) can reach a later read. False when the bus has no such thing
    // as a connection of one's own (a serial line); throws IoError when the
    // peer cannot be reached again before the deadline.
    virtual bool reconnect(Deadline) { return false; }
};

}  // namespace cvn::io
