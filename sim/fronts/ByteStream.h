// SCPI over a byte stream, served the same way on every front that carries
// one (a TCP connection, the serial line): messages cut from the stream, run
// on the shared Instrument, the replies sent back with the fault switches
// applied. A fault added to ServeByteStream works on every such front.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "sim/instrument/Instrument.h"

namespace cvn::sim {

// One client's stream as a front carries it. Called from the one thread
// that serves the stream.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Waits for bytes from the client and returns how many arrived; 0 when
    // the stream has ended (the client left, the line went away, serving
    // stops).
    virtual size_t receive(char* data, size_t size) = 0;
    // Sends the pieces in order as one stretch of the reply; false when the
    // stream is to be dropped.
    virtual bool send(const std::vector<std::string_view>& pieces) = 0;
    // Sleeps for ms (a fault's delay) unless serving stops first; false
    // when stopping.
    virtual bool pause(int ms) = 0;
};

// How serving a stream ended.
enum class StreamEnd {
    kEnded,  // receive, send or pause said the stream is over
    kClose,  // a fault ends the stream: it goes away as after an orderly close
    kReset,  // a fault ends the stream with an abort
};

// Serves `stream` until it ends or a fault ends it.
StreamEnd ServeByteStream(Instrument& instrument, ByteStream& stream);

}  // namespace cvn::sim
