// Raw TCP socket to an instrument's SCPI port (usually 5025). A byte stream:
// no message ends, so framing relies on terminators and block headers.
#pragma once

#include <cstdint>
#include <string>

#include "io/Transport.h"
#include "io/UniqueFd.h"

namespace cvn::io {

class TcpSocketTransport : public Transport {
public:
    // Resolves host (name, IPv4 or IPv6) and connects to the first address
    // that answers before the deadline. Throws IoError kIoOpenFailed when
    // none does.
    TcpSocketTransport(const std::string& host, uint16_t port, Deadline deadline);

    void write(const uint8_t* data, size_t size, Deadline deadline) override;
    size_t read(uint8_t* data, size_t size, Deadline deadline, bool& end) override;
    bool closedByPeer() const override;
    bool reconnect(Deadline deadline) override;

private:
    static UniqueFd connectTo(const std::string& host, uint16_t port, const std::string& peer,
                              Deadline deadline);

    std::string host_;
    uint16_t port_;
    UniqueFd fd_;
    std::string peer_;  // "host:port" for messages
};

}  // namespace cvn::io
