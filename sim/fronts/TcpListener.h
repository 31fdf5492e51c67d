// The simulator's way of taking TCP connections, shared by the SCPI socket
// and the VXI-11 RPC service: one listening socket, each connection served
// on a thread of its own (the add-in keeps two sessions open to the same
// scope), finished threads reaped as new connections come, and a stop that
// closes everything and joins every thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace cvn::sim {

// A socket of the given type bound to a numeric address (port 0 picks a
// free one) and, for a stream, listening. Throws std::system_error with the
// errno of the failing call.
int BindSocket(const std::string& bindAddress, uint16_t port, int type);

class TcpListener {
public:
    struct Connection {
        uint64_t id = 0;
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    // Runs on the connection's thread. When it returns, the peer sees the
    // end at once (the socket is shut down); the descriptor is closed when
    // the thread is reaped, unless serve took it (takeDescriptor).
    using Serve = std::function<void(Connection&)>;

    // Binds and listens at once; serving starts with start().
    TcpListener(const std::string& bindAddress, uint16_t port, Serve serve);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    uint16_t port() const { return port_; }
    bool stopping() const { return stopping_; }
    void start();
    // Closes the listener and every connection and joins all threads.
    void stop();
    // Hands the connection's descriptor to the caller (for a close of its
    // own kind) and leaves -1 in its place.
    int takeDescriptor(Connection& c);

private:
    void AcceptLoop();
    void ReapFinished();

    Serve serve_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    uint64_t nextId_ = 1;
    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;  // guards connections_ and their descriptors
    std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace cvn::sim
