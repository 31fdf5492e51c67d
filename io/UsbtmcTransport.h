// USB instruments through the kernel's usbtmc driver (/dev/usbtmcN). The
// driver frames messages itself, so reads report the message end.
#pragma once

#include <cstdint>
#include <string>

#include "io/Transport.h"
#include "io/UniqueFd.h"

namespace cvn::io {

class UsbtmcTransport : public Transport {
public:
    // Opens a usbtmc device node. Throws IoError kIoOpenFailed.
    explicit UsbtmcTransport(const std::string& devicePath);

    // The /dev/usbtmcN node of the instrument with these ids (and serial
    // number, unless empty), found through sysfs. Throws IoError
    // kIoOpenFailed when no such instrument is attached.
    static std::string findDevice(uint16_t vendorId, uint16_t productId,
                                  const std::string& serialNumber);

    void write(const uint8_t* data, size_t size, Deadline deadline) override;
    size_t read(uint8_t* data, size_t size, Deadline deadline, bool& end) override;
    bool messageBased() const override { return true; }

private:
    void setDriverTimeout(Deadline deadline);

    UniqueFd fd_;
    std::string path_;
};

}  // namespace cvn::io
