// TCP socket transport: non-blocking socket, every wait bounded by poll()
// against the operation's deadline.
#include "io/TcpSocketTransport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>

#include "io/FdWait.h"
#include "io/IoError.h"

namespace cvn::io {
namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* ai) const { ::freeaddrinfo(ai); }
};

// Returns 0 when connected, otherwise the errno of the failure (ETIMEDOUT
// when the deadline passed).
int connectOne(const UniqueFd& fd, const addrinfo& ai, Deadline deadline) {
    if (::connect(fd.get(), ai.ai_addr, ai.ai_addrlen) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return errno;
    short ev = waitFd(fd.get(), POLLOUT, deadline);
    if (ev == 0) return ETIMEDOUT;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

}  // namespace

TcpSocketTransport::TcpSocketTransport(const std::string& host, uint16_t port, Deadline deadline)
    : host_(host),
      port_(port),
      peer_((host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
            std::to_string(port)) {
    fd_ = connectTo(host_, port_, peer_, deadline);
}

// The old socket goes first: an instrument that serves one client at a
// time takes the new one only once the old one is closed.
bool TcpSocketTransport::reconnect(Deadline deadline) {
    fd_.reset();
    fd_ = connectTo(host_, port_, peer_, deadline);
    return true;
}

UniqueFd TcpSocketTransport::connectTo(const std::string& host, uint16_t port,
                                       const std::string& peer, Deadline deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo* raw = nullptr;
    std::string service = std::to_string(port);
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &raw);
    if (rc == EAI_ADDRFAMILY || rc == EAI_NONAME) {
        // AI_ADDRCONFIG hides ::1 on hosts without a global IPv6 address.
        hints.ai_flags = AI_NUMERICSERV;
        rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &raw);
    }
    if (rc != 0) {
        throw IoError(kIoOpenFailed,
                      "Cannot resolve instrument host '" + host + "': " + ::gai_strerror(rc));
    }
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);

    int lastErr = 0;
    for (addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
        UniqueFd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                             ai->ai_protocol));
        if (!fd.valid()) {
            lastErr = errno;
            continue;
        }
        lastErr = connectOne(fd, *ai, deadline);
        if (lastErr == 0) {
            // Commands are small and each one waits for its reply: do not let
            // Nagle hold them back.
            int one = 1;
            ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        if (lastErr == ETIMEDOUT) break;
    }
    throw IoError(kIoOpenFailed,
                  lastErr == ETIMEDOUT
                      ? "No answer from instrument at " + peer + " (time-out)"
                      : errnoMessage("Cannot connect to instrument at " + peer, lastErr));
}

void TcpSocketTransport::write(const uint8_t* data, size_t size, Deadline deadline) {
    size_t sent = 0;
    while (sent < size) {
        ssize_t n = ::send(fd_.get(), data + sent, size - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (waitFd(fd_.get(), POLLOUT, deadline) == 0) {
                throw IoError(kIoTimeout, "Sending to " + peer_ + " timed out after " +
                                              std::to_string(sent) + " of " + std::to_string(size) +
                                              " bytes");
            }
            continue;
        }
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) {
            throw IoError(kIoClosed, "The instrument at " + peer_ + " closed the connection");
        }
        throw IoError(kIoFailure, errnoMessage("Sending to " + peer_ + " failed", errno));
    }
}

size_t TcpSocketTransport::read(uint8_t* data, size_t size, Deadline deadline, bool& end) {
    end = false;
    for (;;) {
        // Try the receive first: with data waiting (the usual case inside a
        // large block) this saves a poll() per chunk.
        ssize_t n = ::recv(fd_.get(), data, size, 0);
        if (n > 0) return static_cast<size_t>(n);
        if (n == 0) {
            throw IoError(kIoClosed, "The instrument at " + peer_ + " closed the connection");
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (waitFd(fd_.get(), POLLIN, deadline) == 0) {
                throw IoError(kIoTimeout, "No reply from " + peer_ + " within the time-out");
            }
            continue;
        }
        if (errno == ECONNRESET) {
            throw IoError(kIoClosed, "The instrument at " + peer_ + " reset the connection");
        }
        throw IoError(kIoFailure, errnoMessage("Receiving from " + peer_ + " failed", errno));
    }
}

bool TcpSocketTransport::closedByPeer() const {
    pollfd p{fd_.get(), POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLHUP | POLLERR)) return true;
    if (!(p.revents & POLLRDHUP)) return false;
    // The peer sent its FIN; bytes it sent before are still readable and
    // belong to an unread reply, but no new reply can follow.
    return true;
}

}  // namespace cvn::io
