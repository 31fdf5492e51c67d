// The device node behind the usbtmc transport, or the factory that stands
// in for it.
#include "io/UsbtmcPort.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "io/FdWait.h"
#include "io/IoError.h"
#include "io/UniqueFd.h"

namespace cvn::io {
namespace {

class DeviceNode : public UsbtmcPort {
public:
    explicit DeviceNode(int fd) : fd_(fd) {}
    ssize_t read(void* data, size_t size) override { return ::read(fd_.get(), data, size); }
    ssize_t write(const void* data, size_t size) override { return ::write(fd_.get(), data, size); }
    int ioctl(unsigned long request, void* arg) override {
        return ::ioctl(fd_.get(), request, arg);
    }

private:
    UniqueFd fd_;
};

std::mutex& factoryMutex() {
    static std::mutex m;
    return m;
}

UsbtmcPortFactory& factory() {
    static UsbtmcPortFactory f;
    return f;
}

}  // namespace

std::unique_ptr<UsbtmcPort> OpenUsbtmcPort(const std::string& path) {
    UsbtmcPortFactory make;
    {
        std::lock_guard<std::mutex> lock(factoryMutex());
        make = factory();
    }
    if (make) return make(path);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        std::string hint = err == EACCES ? " (no permission: a udev rule must grant access)" : "";
        throw IoError(kIoOpenFailed,
                      errnoMessage("Cannot open USB instrument " + path, err) + hint);
    }
    return std::make_unique<DeviceNode>(fd);
}

void SetUsbtmcPortFactory(UsbtmcPortFactory f) {
    std::lock_guard<std::mutex> lock(factoryMutex());
    factory() = std::move(f);
}

}  // namespace cvn::io
