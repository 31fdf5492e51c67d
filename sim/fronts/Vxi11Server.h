// VXI-11 front of the simulator: the core channel (links, write, read,
// status byte, clear, lock) and the abort channel on one TCP port, every
// connection on its own thread. A write with END is one program message,
// run on the same Instrument as the socket server's, with the same fault
// switches; its reply is handed out by reads up to END.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "sim/fronts/Vxi11Portmap.h"
#include "sim/fronts/Vxi11Rpc.h"
#include "sim/instrument/Instrument.h"
#include "sim/instrument/ScpiParser.h"

namespace cvn::sim {

class Vxi11Server {
public:
    // Binds the channel (port 0 picks a free port) and makes it known on
    // port 111 (see Vxi11Portmapper). Throws std::runtime_error saying what
    // failed.
    Vxi11Server(Instrument& instrument, const std::string& bindAddress, uint16_t port);
    ~Vxi11Server();
    Vxi11Server(const Vxi11Server&) = delete;
    Vxi11Server& operator=(const Vxi11Server&) = delete;

    uint16_t port() const;
    // "own portmapper" or "rpcbind".
    std::string portmapperMode() const;
    void start();
    // Ends waiting reads, closes every connection and joins all threads.
    void stop();

private:
    struct Link {
        uint64_t connection = 0;
        MessageFramer framer;
        std::vector<Response::Part> out;  // the reply not yet read
        size_t part = 0;                  // where reading goes on
        size_t offset = 0;
        bool pending = false;    // a reply is due (maybe after a delay)
        bool truncated = false;  // the reply stops short; the link then drops
        std::chrono::steady_clock::time_point readyAt;
        bool aborted = false;
    };

    bool Handle(uint64_t connection, const rpc::Call& call, std::string& reply);
    void Closed(uint64_t connection);

    bool CreateLink(uint64_t connection, const rpc::Call& call, std::string& reply);
    bool Write(uint64_t connection, const rpc::Call& call, std::string& reply);
    bool Read(const rpc::Call& call, std::string& reply);
    bool Generic(const rpc::Call& call, std::string& reply);
    bool SimpleLinkCall(const rpc::Call& call, std::string& reply);
    // Runs one message for the link and queues its reply; false when the
    // connection must drop (the fault switch that drops after N messages).
    bool RunMessage(uint64_t connection, Link& link, const std::string& message);

    Instrument& instrument_;
    std::string bind_;
    std::unique_ptr<rpc::TcpService> service_;
    std::unique_ptr<Vxi11Portmapper> portmapper_;
    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    bool stopping_ = false;
    std::map<int, Link> links_;
    std::map<uint64_t, long> received_;  // messages run per connection
    int nextLink_ = 1;
    int lockHolder_ = 0;  // link that holds the device lock, 0 for none
};

}  // namespace cvn::sim
