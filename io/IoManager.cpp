// IoManager: the one place that turns an address into a transport.
#include <algorithm>
#include <memory>

#include "io/Address.h"
#include "io/IoError.h"
#include "io/IoSession.h"
#include "io/SerialTransport.h"
#include "io/TcpSocketTransport.h"
#include "io/UsbtmcTransport.h"

namespace cvn::io {

IoSessionPtr IoManager::Open(std::string_view address, int timeoutMs) {
    Address a = parseAddress(address);
    Deadline deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::unique_ptr<Transport> transport;
    switch (a.bus) {
        case Bus::Socket:
            transport = std::make_unique<TcpSocketTransport>(a.host, a.port, deadline);
            break;
        case Bus::Vxi11: {
            std::string host = a.host.find(':') != std::string::npos ? "[" + a.host + "]" : a.host;
            throw IoError(kIoNotSupported,
                          "VXI-11 instrument addresses (" + std::string(address) +
                              ") are not supported yet; use the raw socket port instead: " + host +
                              ":5025 or TCPIP::" + host + "::5025::SOCKET");
        }
        case Bus::Gpib:
            throw IoError(kIoNotSupported, "GPIB is not supported on this system (address " +
                                               std::string(address) +
                                               "); connect the instrument by LAN, USB or serial");
        case Bus::Usbtmc: {
            std::string path = a.devicePath.empty() ? UsbtmcTransport::findDevice(
                                                          a.vendorId, a.productId, a.serialNumber)
                                                    : a.devicePath;
            transport = std::make_unique<UsbtmcTransport>(path);
            break;
        }
        case Bus::Serial:
            transport = std::make_unique<SerialTransport>(a.devicePath);
            break;
    }
    return std::make_shared<IoSession>(std::string(address), std::move(transport));
}

}  // namespace cvn::io
