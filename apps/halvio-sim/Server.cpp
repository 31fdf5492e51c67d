// TCP front of the simulator.
#include "apps/halvio-sim/Server.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace cvn::sim {
namespace {

// Not a reply in any format the client could expect: no block header, no
// number, bytes outside ASCII, but a line feed so a client reading text
// still gets an answer instead of waiting for its time-out.
constexpr char kGarbage[] = "\x15GARBAGE\xfe\xff,;?#x\n";

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

iovec Slice(const std::string& s, size_t size) {
    return iovec{const_cast<char*>(s.data()), size};
}

}  // namespace

Server::Server(Instrument& instrument, const std::string& bindAddress, uint16_t port)
    : instrument_(instrument),
      host_(bindAddress),
      listener_(bindAddress, port, [this](TcpListener::Connection& client) {
          if (Serve(client)) Abort(client);
      }) {}

Server::~Server() {
    stop();
}

std::string Server::address() const {
    const bool v6 = host_.find(':') != std::string::npos;
    return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port());
}

void Server::stop() {
    {
        std::lock_guard<std::mutex> lock(pauseMutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    listener_.stop();
}

bool Server::Pause(int ms) {
    if (ms <= 0) return !stopping_;
    std::unique_lock<std::mutex> lock(pauseMutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms),
                           [this] { return stopping_.load(); });
}

bool Server::Serve(TcpListener::Connection& client) {
    const int fd = client.fd;
    MessageFramer framer;
    long received = 0;
    std::vector<char> buf(1 << 16);
    while (!stopping_) {
        const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        framer.feed(buf.data(), static_cast<size_t>(n));
        if (framer.takeOverflow()) {
            instrument_.WithState(
                [](ScopeState& s) { s.PushError(scpi_error::kTooMuchData, "Too much data"); });
        }
        while (auto message = framer.next()) {
            if (Trim(*message).empty()) continue;
            const FaultConfig before = instrument_.Faults();
            // The message after the last allowed one is neither run nor
            // answered: the connection just goes away.
            const bool simulatorOnly = IsSimulatorMessage(*message);
            if (!simulatorOnly && before.dropAfter >= 0 && received >= before.dropAfter)
                return false;
            if (!simulatorOnly) ++received;

            const Response response = instrument_.Execute(*message);
            if (response.empty()) continue;
            const FaultConfig f = response.simulator ? FaultConfig{} : instrument_.Faults();
            if (response.identification && !Pause(f.idnDelayMs)) return false;
            if (!Pause(f.delayMs)) return false;
            if (f.silent) continue;
            if (f.garbage) {
                if (!SendAll(fd, {iovec{const_cast<char*>(kGarbage), sizeof kGarbage - 1}}))
                    return false;
                continue;
            }
            std::vector<iovec> iov;
            bool truncated = false;
            bool hasBlock = false;
            AfterSend after = AfterSend::Continue;
            for (const auto& part : response.parts) {
                if (f.truncateData && part.block) {
                    iov.push_back(Slice(*part.bytes, part.bytes->size() / 2));
                    truncated = true;
                    break;
                }
                hasBlock = hasBlock || part.block;
                if (part.block && f.indefiniteBlocks) {
                    // "#0" and the data: the header's length digits left out.
                    const std::string& b = *part.bytes;
                    const size_t skip = b.size() >= 2 ? 2 + static_cast<size_t>(b[1] - '0') : 0;
                    iov.push_back(iovec{const_cast<char*>("#0"), 2});
                    iov.push_back(iovec{const_cast<char*>(b.data()) + std::min(skip, b.size()),
                                        b.size() - std::min(skip, b.size())});
                } else {
                    iov.push_back(Slice(*part.bytes, part.bytes->size()));
                }
                after = part.after;
                if (after != AfterSend::Continue) break;
            }
            // The terminator that ends a block reply (the last part, a lone
            // line feed) follows the block late.
            std::vector<iovec> late;
            if (hasBlock && f.lateTerminatorMs > 0 && after == AfterSend::Continue && !truncated &&
                !response.parts.empty() && !response.parts.back().block &&
                *response.parts.back().bytes == "\n") {
                late.push_back(iov.back());
                iov.pop_back();
            }
            if (!SendAll(fd, std::move(iov)) || truncated || after == AfterSend::Close)
                return false;
            if (!late.empty() && (!Pause(f.lateTerminatorMs) || !SendAll(fd, std::move(late))))
                return false;
            if (after == AfterSend::Reset) return true;
        }
    }
    return false;
}

void Server::Abort(TcpListener::Connection& client) {
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
