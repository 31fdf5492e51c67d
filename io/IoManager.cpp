// IoManager: the one place that turns an address into a transport.
#include <algorithm>
#include <memory>

#include "io/Address.h"
#include "io/IoError.h"
#include "io/IoSession.h"
#include "io/SerialTransport.h"
#include "io/TcpSocketTransport.h"
#include "io/UsbtmcTransport.h"
#include "io/Vxi11Transport.h"

namespace cvn::io {

IoSessionPtr IoManager::Open(std::string_view address, int timeoutMs) {
    Address a = parseAddress(address);
    Deadline deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::unique_ptr<Transport> transport;
    switch (a.bus) {
        case Bus::Socket:
            transport = std::make_unique<TcpSocketTransport>(a.host, a.port, deadline);
            break;
        case Bus::Vxi11:
            transport = std::make_unique<Vxi11Transport>(a.host, a.deviceName, deadline);
            break;
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
