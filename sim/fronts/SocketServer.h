// TCP front of the simulator: takes connections on one address (each on a
// thread of its own) and serves each as a byte stream (ServeByteStream), a
// fault that ends the stream ending the connection.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "sim/fronts/TcpListener.h"
#include "sim/instrument/Instrument.h"

namespace cvn::sim {

class SocketServer {
public:
    // Binds and listens at once (port 0 picks a free port); throws
    // std::system_error when that fails. Serving starts with start().
    SocketServer(Instrument& instrument, const std::string& bindAddress, uint16_t port);
    ~SocketServer();
    SocketServer(const SocketServer&) = delete;
    SocketServer& operator=(const SocketServer&) = delete;

    uint16_t port() const { return listener_.port(); }
    // "127.0.0.1:5025", or "[::1]:5025" for an IPv6 address.
    std::string address() const;

    void start() { listener_.start(); }
    // Closes the listener and every connection and joins all threads.
    // Pending fault delays are cut short.
    void stop();

private:
    class Stream;  // a connection as the serving routine sees it

    // Serves until the peer leaves, the server stops or a fault ends the
    // connection; true when the connection must end with a reset.
    bool Serve(TcpListener::Connection& client);
    // Resets the connection and gives up its descriptor.
    void Abort(TcpListener::Connection& client);
    // Sleeps for ms unless the server stops first; false when stopping.
    bool Pause(int ms);

    Instrument& instrument_;
    std::string host_;
    std::atomic<bool> stopping_{false};
    std::mutex pauseMutex_;  // pairs with wake_
    std::condition_variable wake_;
    TcpListener listener_;  // last: its threads use the members above
};

}  // namespace cvn::sim
