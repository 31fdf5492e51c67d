// The calls the usbtmc transport makes on its device node, as the kernel's
// usbtmc driver offers them: read(), write() and the USBTMC_IOCTL_* requests,
// each returning what the system call returns (-1 with errno set on
// failure). The transport never touches the descriptor otherwise, so a test
// or benchmark can put an emulation of the driver in its place.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

namespace cvn::io {

class UsbtmcPort {
public:
    virtual ~UsbtmcPort() = default;
    virtual ssize_t read(void* data, size_t size) = 0;
    virtual ssize_t write(const void* data, size_t size) = 0;
    virtual int ioctl(unsigned long request, void* arg) = 0;
};

// Makes the port for a device path, or throws IoError(kIoOpenFailed).
using UsbtmcPortFactory = std::function<std::unique_ptr<UsbtmcPort>(const std::string& path)>;

// Opens the device node itself (O_RDWR), or asks the factory installed by
// SetUsbtmcPortFactory. Throws IoError(kIoOpenFailed).
std::unique_ptr<UsbtmcPort> OpenUsbtmcPort(const std::string& path);

// Puts a factory in front of every usbtmc path the I/O library opens, from
// now on and in every thread; an empty one restores the device nodes. Tests
// and benchmarks install their emulation here so that no real instrument is
// ever opened.
void SetUsbtmcPortFactory(UsbtmcPortFactory factory);

}  // namespace cvn::io
