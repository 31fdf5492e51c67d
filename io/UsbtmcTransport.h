// USB instruments through the kernel's usbtmc driver (/dev/usbtmcN). The
// driver frames messages itself: one write() is one message with EOM on its
// last transfer, and each read() reports through USBTMC_IOCTL_MSG_IN_ATTR
// whether the device marked the end of its message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "io/Transport.h"
#include "io/UsbtmcPort.h"

namespace cvn::io {

class UsbtmcTransport : public Transport {
public:
    // Opens a usbtmc device node (or what the installed port factory gives
    // for its path). Throws IoError kIoOpenFailed.
    explicit UsbtmcTransport(const std::string& devicePath);
    // Uses a port already open; `devicePath` names it in messages.
    UsbtmcTransport(std::unique_ptr<UsbtmcPort> port, std::string devicePath);

    // The /dev/usbtmcN node of the instrument with these ids (and serial
    // number, unless empty), found through sysfs. Throws IoError
    // kIoOpenFailed when no such instrument is attached.
    static std::string findDevice(uint16_t vendorId, uint16_t productId,
                                  const std::string& serialNumber);

    void write(const uint8_t* data, size_t size, Deadline deadline) override;
    // May return 0 with `end` set: the device sent an empty message.
    size_t read(uint8_t* data, size_t size, Deadline deadline, bool& end) override;
    bool messageBased() const override { return true; }

private:
    void configure();
    void setDriverTimeout(Deadline deadline);
    bool messageEnded(size_t got, size_t asked);
    // Brings the device back in step after a transfer that failed half way.
    void abortTransfer(unsigned long abortRequest);
    [[noreturn]] void fail(int err, const std::string& what);

    std::unique_ptr<UsbtmcPort> port_;
    std::string path_;
    bool haveMsgInAttr_ = true;  // until the driver says it lacks the ioctl
};

}  // namespace cvn::io
