// Serial port (RS-232 or a USB serial adapter) in raw mode. A byte stream
// like a socket: replies end at the line feed the session looks for.
#pragma once

#include <string>

#include "io/Transport.h"
#include "io/UniqueFd.h"

namespace cvn::io {

class SerialTransport : public Transport {
public:
    // Opens the tty at 9600 baud, 8 data bits, no parity, 1 stop bit, no
    // flow control. Throws IoError kIoOpenFailed when the port cannot be
    // opened or configured.
    explicit SerialTransport(const std::string& devicePath, int baud = 9600);

    void write(const uint8_t* data, size_t size, Deadline deadline) override;
    size_t read(uint8_t* data, size_t size, Deadline deadline, bool& end) override;
    // Drops what the line delivered since the last read: a serial scope
    // speaks only when asked, so bytes waiting before a command are the late
    // rest of an answer to someone else (the line is shared by every session
    // that opened the port).
    void beginMessage() override;
    // A hung-up line: an adapter unplugged, a pseudo-terminal closed.
    bool closedByPeer() const override;

private:
    UniqueFd fd_;
    std::string path_;
};

}  // namespace cvn::io
