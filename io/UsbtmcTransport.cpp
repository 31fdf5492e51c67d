// usbtmc transport. The driver's read() and write() block inside the kernel
// for one USB transfer and only wake for asynchronous requests in poll(), so
// each operation hands its remaining time to the driver's own time-out
// instead of polling.
#include "io/UsbtmcTransport.h"

#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <sys/ioctl.h>
#include <unistd.h>

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

UsbtmcTransport::UsbtmcTransport(const std::string& devicePath) : path_(devicePath) {
    fd_.reset(::open(devicePath.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd_.valid()) {
        int err = errno;
        std::string hint = err == EACCES ? " (no permission: a udev rule must grant access)" : "";
        throw IoError(kIoOpenFailed,
                      errnoMessage("Cannot open USB instrument " + devicePath, err) + hint);
    }
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
    ::ioctl(fd_.get(), USBTMC_IOCTL_SET_TIMEOUT, &driverMs);
}

void UsbtmcTransport::write(const uint8_t* data, size_t size, Deadline deadline) {
    size_t sent = 0;
    // The driver sends one write() as one message with END on its last
    // transfer, so the whole buffer goes in one call; the loop only covers
    // an interrupted call.
    while (sent < size) {
        setDriverTimeout(deadline);
        ssize_t n = ::write(fd_.get(), data + sent, size - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == ETIMEDOUT) {
            throw IoError(kIoTimeout, "Sending to " + path_ + " timed out");
        }
        if (n < 0 && (errno == ENODEV || errno == ESHUTDOWN)) {
            throw IoError(kIoClosed, "USB instrument " + path_ + " was disconnected");
        }
        throw IoError(kIoFailure, errnoMessage("Writing to " + path_ + " failed", errno));
    }
}

size_t UsbtmcTransport::read(uint8_t* data, size_t size, Deadline deadline, bool& end) {
    for (;;) {
        setDriverTimeout(deadline);
        ssize_t n = ::read(fd_.get(), data, size);
        if (n > 0) {
            // The driver stops a read early only at the message end.
            end = static_cast<size_t>(n) < size;
            return static_cast<size_t>(n);
        }
        if (n == 0) {
            // An empty message: nothing to store, but the message is over.
            if (Clock::now() >= deadline) {
                throw IoError(kIoTimeout, "No reply from " + path_ + " within the time-out");
            }
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == ETIMEDOUT) {
            throw IoError(kIoTimeout, "No reply from " + path_ + " within the time-out");
        }
        if (errno == ENODEV || errno == ESHUTDOWN) {
            throw IoError(kIoClosed, "USB instrument " + path_ + " was disconnected");
        }
        throw IoError(kIoFailure, errnoMessage("Reading from " + path_ + " failed", errno));
    }
}

}  // namespace cvn::io
