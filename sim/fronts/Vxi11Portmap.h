// How VXI-11 clients find the simulator's core channel. They ask the
// portmapper on port 111 of the instrument's address. Where rpcbind runs,
// the simulator registers with it; where nothing listens on port 111 (and
// the simulator may bind it, usually as root), the simulator answers the
// portmapper's look-up calls itself, for its own program only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "sim/fronts/Vxi11Rpc.h"

namespace cvn::sim {

class Vxi11Portmapper {
public:
    static constexpr uint16_t kPort = 111;

    // Makes the program reachable through port 111 of bindAddress: first
    // by serving the portmapper itself, and when port 111 is taken, by
    // registering with the rpcbind that holds it. Throws std::runtime_error
    // saying why neither works.
    Vxi11Portmapper(const std::string& bindAddress, uint32_t program, uint32_t version,
                    uint16_t tcpPort);
    ~Vxi11Portmapper();
    Vxi11Portmapper(const Vxi11Portmapper&) = delete;
    Vxi11Portmapper& operator=(const Vxi11Portmapper&) = delete;

    // "own portmapper" or "rpcbind", for the start-up line.
    std::string mode() const;
    void start();
    void stop();

private:
    bool Handle(const rpc::Call& call, std::string& reply) const;
    void UdpLoop();

    std::string bind_;
    uint32_t program_;
    uint32_t version_;
    uint16_t tcpPort_;
    bool registered_ = false;  // with rpcbind
    std::unique_ptr<rpc::TcpService> tcp_;
    int udpFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread udpThread_;
    bool stopped_ = false;
};

}  // namespace cvn::sim
