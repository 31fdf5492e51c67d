// usbtmc transport, following the driver's user-space contract:
//  - read() and write() block inside the driver for the whole transfer and
//    end with ETIMEDOUT after the driver's own time-out, so each operation
//    hands its remaining time to USBTMC_IOCTL_SET_TIMEOUT instead of polling;
//  - one write() is one message (EOM on its last transfer, switched on with
//    USBTMC_IOCTL_EOM_ENABLE);
//  - a read() returns fewer bytes than asked when the device ended its
//    transfer, which is not always the end of its message, and exactly as
//    many when the message ends on the read boundary: only the EOM bit that
//    USBTMC_IOCTL_MSG_IN_ATTR reports tells. Drivers without that ioctl fall
//    back to "a short read is the end";
//  - the driver's term-char stop is switched off (USBTMC_IOCTL_CONFIG_TERMCHAR):
//    the session finds terminators itself, and binary blocks hold line feeds;
//  - after a transfer that timed out, USBTMC_IOCTL_ABORT_BULK_IN (or _OUT)
//    makes the device drop the rest, so its next reply is the next query's;
//    USBTMC_IOCTL_CLEAR when the abort itself fails;
//  - ENODEV or ESHUTDOWN: the instrument was unplugged.
#include "io/UsbtmcTransport.h"

#include <linux/usb/tmc.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "io/FdWait.h"
#include "io/IoError.h"

namespace cvn::io {
namespace {

namespace fs = std::filesystem;

// The driver refuses time-outs below this many milliseconds.
constexpr int kDriverMinTimeoutMs = 100;

std::string readSysfsLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    return line;
}

std::string hex4(uint16_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", v);
    return buf;
}

}  // namespace

UsbtmcTransport::UsbtmcTransport(const std::string& devicePath)
    : UsbtmcTransport(OpenUsbtmcPort(devicePath), devicePath) {}

UsbtmcTransport::UsbtmcTransport(std::unique_ptr<UsbtmcPort> port, std::string devicePath)
    : port_(std::move(port)), path_(std::move(devicePath)) {
    if (!port_) throw IoError(kIoOpenFailed, "No USB instrument at " + path_);
    configure();
}

void UsbtmcTransport::configure() {
    // Each of these may be missing on an old driver, which then behaves as
    // asked anyway (EOM always set, no term char, no automatic abort).
    __u8 eom = 1;
    port_->ioctl(USBTMC_IOCTL_EOM_ENABLE, &eom);
    usbtmc_termchar term{'\n', 0};
    port_->ioctl(USBTMC_IOCTL_CONFIG_TERMCHAR, &term);
    // Aborts are ours to make, once, where we know a transfer broke.
    __u8 autoAbort = 0;
    port_->ioctl(USBTMC_IOCTL_AUTO_ABORT, &autoAbort);
}

std::string UsbtmcTransport::findDevice(uint16_t vendorId, uint16_t productId,
                                        const std::string& serialNumber) {
    std::error_code ec;
    for (const char* classDir : {"/sys/class/usbmisc", "/sys/class/usb"}) {
        for (const auto& entry : fs::directory_iterator(classDir, ec)) {
            std::string name = entry.path().filename().string();
            if (name.rfind("usbtmc", 0) != 0) continue;
            // device/ is the USB interface; its parent holds the ids.
            fs::path usbDevice = fs::canonical(entry.path() / "device" / "..", ec);
            if (ec) continue;
            if (readSysfsLine(usbDevice / "idVendor") != hex4(vendorId) ||
                readSysfsLine(usbDevice / "idProduct") != hex4(productId)) {
                continue;
            }
            if (!serialNumber.empty() && readSysfsLine(usbDevice / "serial") != serialNumber) {
                continue;
            }
            return "/dev/" + name;
        }
    }
    throw IoError(kIoOpenFailed,
                  "No USB instrument with vendor id 0x" + hex4(vendorId) + ", product id 0x" +
                      hex4(productId) +
                      (serialNumber.empty() ? "" : ", serial number " + serialNumber) +
                      " is attached (or the usbtmc driver is not loaded)");
}

void UsbtmcTransport::setDriverTimeout(Deadline deadline) {
    int ms = remainingMs(deadline);
    if (ms <= 0) throw IoError(kIoTimeout, "USB instrument " + path_ + " did not answer in time");
    __u32 driverMs = static_cast<__u32>(std::max(ms, kDriverMinTimeoutMs));
    // Older drivers lack the ioctl and keep their fixed time-out; still bounded.
    port_->ioctl(USBTMC_IOCTL_SET_TIMEOUT, &driverMs);
}

bool UsbtmcTransport::messageEnded(size_t got, size_t asked) {
    if (haveMsgInAttr_) {
        __u8 attr = 0;
        if (port_->ioctl(USBTMC_IOCTL_MSG_IN_ATTR, &attr) == 0) return (attr & 1) != 0;
        // Unplugged right after the transfer: not an end; the next read
        // reports the disconnection.
        if (errno == ENODEV || errno == ESHUTDOWN) return false;
        if (errno == ENOTTY || errno == EINVAL) haveMsgInAttr_ = false;
    }
    return got < asked;
}

void UsbtmcTransport::abortTransfer(unsigned long abortRequest) {
    if (port_->ioctl(abortRequest, nullptr) == 0) return;
    if (errno == ENODEV || errno == ESHUTDOWN) return;
    port_->ioctl(USBTMC_IOCTL_CLEAR, nullptr);
}

void UsbtmcTransport::fail(int err, const std::string& what) {
    if (err == ENODEV || err == ESHUTDOWN) {
        throw IoError(kIoClosed, "USB instrument " + path_ + " was disconnected");
    }
    throw IoError(kIoFailure, errnoMessage(what + " " + path_ + " failed", err));
}

void UsbtmcTransport::write(const uint8_t* data, size_t size, Deadline deadline) {
    // The whole buffer in one call: the driver sends one write() as one
    // message, so a second call would be a second message.
    for (;;) {
        setDriverTimeout(deadline);
        ssize_t n = port_->write(data, size);
        if (n >= 0 && static_cast<size_t>(n) == size) return;
        const int err = n < 0 ? errno : EIO;
        if (n < 0 && err == EINTR) continue;
        if (err == ETIMEDOUT) {
            abortTransfer(USBTMC_IOCTL_ABORT_BULK_OUT);
            throw IoError(kIoTimeout, "Sending to " + path_ + " timed out");
        }
        if (n >= 0) {
            abortTransfer(USBTMC_IOCTL_ABORT_BULK_OUT);
            throw IoError(kIoFailure, "Writing to " + path_ + " stopped after " +
                                          std::to_string(n) + " of " + std::to_string(size) +
                                          " bytes");
        }
        fail(err, "Writing to");
    }
}

size_t UsbtmcTransport::read(uint8_t* data, size_t size, Deadline deadline, bool& end) {
    for (;;) {
        setDriverTimeout(deadline);
        ssize_t n = port_->read(data, size);
        if (n >= 0) {
            end = messageEnded(static_cast<size_t>(n), size);
            if (n == 0 && !end) continue;  // a transfer without data: ask again
            return static_cast<size_t>(n);
        }
        const int err = errno;
        if (err == EINTR) continue;
        if (err == ETIMEDOUT) {
            // The device may still hold the rest of its message; left there
            // it would answer the next query.
            abortTransfer(USBTMC_IOCTL_ABORT_BULK_IN);
            throw IoError(kIoTimeout, "No reply from " + path_ + " within the time-out");
        }
        fail(err, "Reading from");
    }
}

}  // namespace cvn::io
