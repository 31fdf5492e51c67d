// LAN instruments over VXI-11 ("TCPIP::host::INSTR"), through liblxi. The
// portmapper on the instrument's port 111 tells liblxi where the core
// channel listens; every write is one message with END, and reads hand out
// a message up to its END.
//
// liblxi reports neither why a read stopped nor why a call failed, so:
//  - a read that stops short of the buffer size reached the message END; a
//    read that fills the buffer exactly is taken as "more may follow" and
//    the session's own framing (terminator, block length) ends the reply;
//  - a call that fails at (or just before) its time-out is a time-out; one
//    that fails early means the instrument closed the link or refused the
//    request.
#pragma once

#include <string>
#include <vector>

#include "io/Transport.h"

namespace cvn::io {

class Vxi11Transport : public Transport {
public:
    // Finds the core channel through the host's portmapper and creates a
    // link to deviceName ("inst0" when empty). Throws IoError kIoOpenFailed
    // when no VXI-11 instrument answers before the deadline.
    Vxi11Transport(const std::string& host, const std::string& deviceName, Deadline deadline);
    ~Vxi11Transport() override;
    Vxi11Transport(const Vxi11Transport&) = delete;
    Vxi11Transport& operator=(const Vxi11Transport&) = delete;

    void write(const uint8_t* data, size_t size, Deadline deadline) override;
    size_t read(uint8_t* data, size_t size, Deadline deadline, bool& end) override;
    bool messageBased() const override { return true; }

    enum class Discovery { Vxi11Broadcast, Mdns };
    // Asks the local networks which instruments are there: a VXI-11
    // portmapper broadcast on every IPv4 interface, or an mDNS query. Only
    // for a search the user asked for: it sends beyond this computer.
    // Returns address texts ("TCPIP::a.b.c.d::INSTR", or the socket form
    // for instruments that announce a raw SCPI port). Blocks for about
    // timeoutMs per interface; one discovery runs at a time.
    static std::vector<std::string> discover(Discovery how, int timeoutMs);

private:
    [[noreturn]] void fail(const std::string& what, Clock::time_point start, int timeoutMs,
                           Deadline deadline);

    int device_ = -1;
    std::string peer_;  // "host (inst0)" for messages
};

}  // namespace cvn::io
