// Instrument address texts as users type them, parsed into what a transport
// needs. See the README for the accepted forms.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cvn::io {

enum class Bus { Socket, Vxi11, Usbtmc, Serial, Gpib };

struct Address {
    Bus bus = Bus::Socket;
    std::string host;        // Socket, Vxi11
    uint16_t port = 5025;    // Socket
    std::string deviceName;  // Vxi11: "inst0" unless given
    std::string devicePath;  // Usbtmc, Serial: /dev/... (resolved later for USB ids)
    uint16_t vendorId = 0;   // Usbtmc by ids
    uint16_t productId = 0;
    std::string serialNumber;  // Usbtmc by ids; empty means any
    int board = 0;             // TCPIP[n], USB[n], GPIB[n]
    int gpibPrimary = -1;      // Gpib
};

// Throws IoError(kIoBadAddress) with a message that shows the accepted forms.
Address parseAddress(std::string_view text);

}  // namespace cvn::io
