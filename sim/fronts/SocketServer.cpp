// TCP front of the simulator.
#include "sim/fronts/SocketServer.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <vector>

#include "sim/fronts/ByteStream.h"

namespace cvn::sim {
namespace {

// Sends every byte of the given buffers; false when the peer is gone.
bool SendAll(int fd, std::vector<iovec> iov) {
    size_t first = 0;
    while (first < iov.size()) {
        msghdr msg{};
        msg.msg_iov = iov.data() + first;
        msg.msg_iovlen = std::min<size_t>(iov.size() - first, IOV_MAX);
        const ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        size_t left = static_cast<size_t>(n);
        while (first < iov.size() && left >= iov[first].iov_len) {
            left -= iov[first].iov_len;
            ++first;
        }
        if (left > 0) {
            iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
    return true;
}

}  // namespace

// One connection as the serving routine sees it.
class SocketServer::Stream final : public ByteStream {
public:
    Stream(SocketServer& server, int fd) : server_(server), fd_(fd) {}

    size_t receive(char* data, size_t size) override {
        while (!server_.stopping_) {
            const ssize_t n = recv(fd_, data, size, 0);
            if (n < 0 && errno == EINTR) continue;
            return n > 0 ? static_cast<size_t>(n) : 0;
        }
        return 0;
    }
    bool send(const std::vector<std::string_view>& pieces) override {
        std::vector<iovec> iov;
        iov.reserve(pieces.size());
        for (std::string_view piece : pieces)
            iov.push_back(iovec{const_cast<char*>(piece.data()), piece.size()});
        return SendAll(fd_, std::move(iov));
    }
    bool pause(int ms) override { return server_.Pause(ms); }

private:
    SocketServer& server_;
    const int fd_;
};

SocketServer::SocketServer(Instrument& instrument, const std::string& bindAddress, uint16_t port)
    : instrument_(instrument),
      host_(bindAddress),
      listener_(bindAddress, port, [this](TcpListener::Connection& client) {
          if (Serve(client)) Abort(client);
      }) {}

SocketServer::~SocketServer() {
    stop();
}

std::string SocketServer::address() const {
    const bool v6 = host_.find(':') != std::string::npos;
    return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port());
}

void SocketServer::stop() {
    {
        std::lock_guard<std::mutex> lock(pauseMutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    listener_.stop();
}

bool SocketServer::Pause(int ms) {
    if (ms <= 0) return !stopping_;
    std::unique_lock<std::mutex> lock(pauseMutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms),
                           [this] { return stopping_.load(); });
}

bool SocketServer::Serve(TcpListener::Connection& client) {
    Stream stream(*this, client.fd);
    return ServeByteStream(instrument_, stream) == StreamEnd::kReset;
}

void SocketServer::Abort(TcpListener::Connection& client) {
    // Let what was sent reach the peer first, so that the reset lands in the
    // middle of the reply rather than discarding all of it.
    for (int i = 0; i < 200 && !stopping_; ++i) {
        int pending = 0;
        if (ioctl(client.fd, SIOCOUTQ, &pending) != 0 || pending == 0) break;
        Pause(10);
    }
    const linger abort{1, 0};
    setsockopt(client.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(listener_.takeDescriptor(client));  // with a zero linger time: the peer gets a reset
}

}  // namespace cvn::sim
