// Deadline-bound poll() shared by the descriptor-based transports.
#include "io/FdWait.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

#include "io/IoError.h"

namespace cvn::io {

int remainingMs(Deadline deadline) {
    auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms);
}

short waitFd(int fd, short events, Deadline deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int rc = ::poll(&p, 1, remainingMs(deadline));
        if (rc > 0) return p.revents;
        if (rc == 0) {
            // poll may wake a little early on coarse clocks; only a passed
            // deadline counts as a time-out.
            if (Clock::now() >= deadline) return 0;
            continue;
        }
        if (errno == EINTR) continue;
        throw IoError(kIoFailure, errnoMessage("poll failed", errno));
    }
}

std::string errnoMessage(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

}  // namespace cvn::io
