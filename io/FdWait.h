// Waiting on a descriptor against an operation's deadline, shared by the
// transports that sit on a file descriptor (socket, tty, usbtmc node).
#pragma once

#include <string>

#include "io/Transport.h"

namespace cvn::io {

// Milliseconds left until the deadline, rounded up so a poll never wakes
// just before it; 0 once the deadline has passed.
int remainingMs(Deadline deadline);

// Polls fd for events until the deadline. Returns the revents seen, or 0
// when the deadline passed first. EINTR is retried; other poll errors throw
// IoError(kIoFailure).
short waitFd(int fd, short events, Deadline deadline);

// "what: strerror(err)" for messages built from errno.
std::string errnoMessage(const std::string& what, int err);

}  // namespace cvn::io
