// TCP front of the simulator: listens on one address, serves every client
// on its own thread (the add-in keeps two sessions open to the same scope),
// cuts the stream into messages, runs them on the shared Instrument and
// sends the replies, applying the fault switches on the way.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "apps/halvio-sim/Instrument.h"

namespace cvn::sim {

class Server {
public:
    // Binds and listens at once (port 0 picks a free port); throws
    // std::runtime_error when that fails. Serving starts with start().
    Server(Instrument& instrument, const std::string& bindAddress, uint16_t port);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    uint16_t port() const { return port_; }
    // "127.0.0.1:5025", or "[::1]:5025" for an IPv6 address.
    std::string address() const;

    void start();
    // Closes the listener and every connection and joins all threads.
    // Pending fault delays are cut short.
    void stop();

private:
    struct Client {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop();
    // Serves until the peer leaves, the server stops or a fault ends the
    // connection; true when the connection must end with a reset.
    bool Serve(Client& client);
    // Resets the connection and gives up its descriptor.
    void Abort(Client& client);
    // Sleeps for ms unless the server stops first; false when stopping.
    bool Pause(int ms);
    void ReapFinished();

    Instrument& instrument_;
    std::string host_;
    uint16_t port_ = 0;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;  // guards clients_ and pairs with wake_
    std::condition_variable wake_;
    std::list<std::unique_ptr<Client>> clients_;
};

}  // namespace cvn::sim
