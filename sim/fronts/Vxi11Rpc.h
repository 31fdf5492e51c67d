// The ONC RPC layer under the simulator's VXI-11 server and its portmapper:
// call headers, accepted replies, record marking on TCP, and a TCP service
// that serves every connection on its own thread. Arguments and results are
// encoded by XDR routines (rpcgen's or the RPC library's); this file only
// frames them.
#pragma once

#include <rpc/rpc.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sim/fronts/TcpListener.h"

namespace cvn::sim::rpc {

struct Call {
    uint32_t xid = 0;
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t procedure = 0;
    std::string_view args;  // points into the record it was parsed from
};

enum AcceptStat : uint32_t {
    kSuccess = 0,
    kProgUnavail = 1,
    kProgMismatch = 2,
    kProcUnavail = 3,
    kGarbageArgs = 4,
};

// Nothing when the record is not an RPC version 2 call.
std::optional<Call> ParseCall(std::string_view record);

// Decodes the call's arguments into obj (which must start zeroed); the
// caller frees what XDR allocated with xdr_free.
bool DecodeArgs(const Call& call, xdrproc_t proc, void* obj);

// An accepted reply. With kSuccess, proc encodes result (nullptr: no
// result); with kProgMismatch, low and high give the versions served.
// sizeHint is the expected size of the encoded result.
std::string EncodeReply(uint32_t xid, AcceptStat stat, xdrproc_t proc = nullptr,
                        const void* result = nullptr, size_t sizeHint = 0, uint32_t low = 0,
                        uint32_t high = 0);

// Record marking: reads one whole record (all its fragments); false when
// the peer closed, the stream broke, or the record grew past limit.
bool ReadRecord(int fd, std::string& record, size_t limit);
// Sends body as one record; false when the peer is gone.
bool SendRecord(int fd, const std::string& body);

// Listens on one TCP address and serves each connection on its own thread:
// records in, handler, replies out.
class TcpService {
public:
    // Returns false to close the connection (after sending reply, when it
    // is not empty). Runs on the connection's thread.
    using Handler = std::function<bool(uint64_t connection, const Call& call, std::string& reply)>;
    using Closed = std::function<void(uint64_t connection)>;

    // Binds at once (port 0 picks a free port). Throws std::system_error
    // with the errno of the failing call.
    TcpService(const std::string& bindAddress, uint16_t port, Handler handler, Closed closed = {});
    TcpService(const TcpService&) = delete;
    TcpService& operator=(const TcpService&) = delete;

    uint16_t port() const { return listener_.port(); }
    void start() { listener_.start(); }
    // Closes the listener and all connections and joins every thread.
    void stop() { listener_.stop(); }

private:
    void Serve(TcpListener::Connection& c);

    Handler handler_;
    Closed closed_;
    TcpListener listener_;  // last: its threads use the members above
};

}  // namespace cvn::sim::rpc
