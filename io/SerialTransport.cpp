// Serial transport over termios; reads and writes wait in poll() against the
// operation's deadline, never in a blocking read().
#include "io/SerialTransport.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "io/FdWait.h"
#include "io/IoError.h"

namespace cvn::io {
namespace {

speed_t toSpeed(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

}  // namespace

SerialTransport::SerialTransport(const std::string& devicePath, int baud) : path_(devicePath) {
    speed_t speed = toSpeed(baud);
    if (speed == B0) {
        throw IoError(kIoOpenFailed, "Unsupported baud rate " + std::to_string(baud));
    }
    // O_NONBLOCK also keeps open() from waiting for carrier detect.
    fd_.reset(::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd_.valid()) {
        throw IoError(kIoOpenFailed, errnoMessage("Cannot open serial port " + devicePath, errno));
    }
    termios tio{};
    if (::tcgetattr(fd_.get(), &tio) != 0) {
        throw IoError(kIoOpenFailed, errnoMessage(devicePath + " is not a serial port", errno));
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd_.get(), TCSANOW, &tio) != 0) {
        throw IoError(kIoOpenFailed,
                      errnoMessage("Cannot configure serial port " + devicePath, errno));
    }
    // Whatever the line carried before we opened it belongs to nobody.
    ::tcflush(fd_.get(), TCIOFLUSH);
}

void SerialTransport::write(const uint8_t* data, size_t size, Deadline deadline) {
    size_t sent = 0;
    while (sent < size) {
        ssize_t n = ::write(fd_.get(), data + sent, size - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            if (waitFd(fd_.get(), POLLOUT, deadline) == 0) {
                throw IoError(kIoTimeout, "Sending to " + path_ + " timed out after " +
                                              std::to_string(sent) + " of " + std::to_string(size) +
                                              " bytes");
            }
            continue;
        }
        if (errno == EIO || errno == ENXIO) {
            // The line hung up: an adapter unplugged, a pseudo-terminal closed.
            throw IoError(kIoClosed, "Serial port " + path_ + " was closed or unplugged");
        }
        throw IoError(kIoFailure, errnoMessage("Writing to " + path_ + " failed", errno));
    }
}

size_t SerialTransport::read(uint8_t* data, size_t size, Deadline deadline, bool& end) {
    end = false;
    for (;;) {
        short ev = waitFd(fd_.get(), POLLIN, deadline);
        if (ev == 0) throw IoError(kIoTimeout, "No reply on " + path_ + " within the time-out");
        ssize_t n = ::read(fd_.get(), data, size);
        if (n > 0) return static_cast<size_t>(n);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n == 0 || (ev & (POLLHUP | POLLERR)) || errno == EIO) {
            // A USB serial adapter that was unplugged, or a pseudo-terminal
            // whose other end closed, reads as hang-up.
            throw IoError(kIoClosed, "Serial port " + path_ + " was closed or unplugged");
        }
        throw IoError(kIoFailure, errnoMessage("Reading from " + path_ + " failed", errno));
    }
}

}  // namespace cvn::io
