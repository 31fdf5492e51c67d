// TCP front of the simulator.
#include "apps/halvio-sim/Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace cvn::sim {
namespace {

// Not a reply in any format the client could expect: no block header, no
// number, bytes outside ASCII, but a line feed so a client reading text
// still gets an answer instead of waiting for its time-out.
constexpr char kGarbage[] = "\x15GARBAGE\xfe\xff,;?#x\n";

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

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
    : instrument_(instrument), host_(bindAddress) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(bindAddress.c_str(), service.c_str(), &hints, &found) != 0 ||
        found == nullptr) {
        throw std::runtime_error("not a numeric address: " + bindAddress);
    }
    listenFd_ = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        freeaddrinfo(found);
        throw SystemError("socket");
    }
    const int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const int bound = bind(listenFd_, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (bound != 0 || listen(listenFd_, 16) != 0) {
        const auto err = SystemError("cannot listen on " + bindAddress + " port " + service);
        close(listenFd_);
        throw err;
    }
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&local), &len);
    port_ = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
    if (pipe2(wakePipe_, O_CLOEXEC) != 0) {
        const auto err = SystemError("pipe");
        close(listenFd_);
        throw err;
    }
}

Server::~Server() {
    stop();
    for (int& fd : wakePipe_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

std::string Server::address() const {
    const bool v6 = host_.find(':') != std::string::npos;
    return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

void Server::start() {
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void Server::stop() {
    if (stopping_.exchange(true)) {
        if (acceptThread_.joinable()) acceptThread_.join();
        return;
    }
    const char byte = 1;
    [[maybe_unused]] auto w = write(wakePipe_[1], &byte, 1);
    if (acceptThread_.joinable()) acceptThread_.join();
    if (listenFd_ >= 0) {
        close(listenFd_);
        listenFd_ = -1;
    }
    std::list<std::unique_ptr<Client>> clients;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Unblocks recv and send in the client threads.
        for (auto& c : clients_) shutdown(c->fd, SHUT_RDWR);
        clients.swap(clients_);
    }
    wake_.notify_all();
    for (auto& c : clients) {
        c->thread.join();
        if (c->fd >= 0) close(c->fd);
    }
}

void Server::ReapFinished() {
    std::list<std::unique_ptr<Client>> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = clients_.begin(); it != clients_.end();) {
            if ((*it)->done) {
                finished.push_back(std::move(*it));
                it = clients_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : finished) {
        c->thread.join();
        if (c->fd >= 0) close(c->fd);
    }
}

void Server::AcceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        const int r = poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents != 0) break;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ReapFinished();
        auto client = std::make_unique<Client>();
        client->fd = fd;
        Client& ref = *client;
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            close(fd);
            break;
        }
        clients_.push_back(std::move(client));
        ref.thread = std::thread([this, &ref] {
            if (Serve(ref)) {
                Abort(ref);
            } else {
                // The peer sees the end at once; the descriptor itself is
                // closed when the thread is reaped.
                shutdown(ref.fd, SHUT_RDWR);
            }
            ref.done = true;
        });
    }
}

bool Server::Pause(int ms) {
    if (ms <= 0) return !stopping_;
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms),
                           [this] { return stopping_.load(); });
}

bool Server::Serve(Client& client) {
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
            AfterSend after = AfterSend::Continue;
            for (const auto& part : response.parts) {
                if (f.truncateData && part.block) {
                    iov.push_back(Slice(*part.bytes, part.bytes->size() / 2));
                    truncated = true;
                    break;
                }
                iov.push_back(Slice(*part.bytes, part.bytes->size()));
                after = part.after;
                if (after != AfterSend::Continue) break;
            }
            if (!SendAll(fd, std::move(iov)) || truncated || after == AfterSend::Close)
                return false;
            if (after == AfterSend::Reset) return true;
        }
    }
    return false;
}

void Server::Abort(Client& client) {
    // Let what was sent reach the peer first, so that the reset lands in the
    // middle of the reply rather than discarding all of it.
    for (int i = 0; i < 200 && !stopping_; ++i) {
        int pending = 0;
        if (ioctl(client.fd, SIOCOUTQ, &pending) != 0 || pending == 0) break;
        Pause(10);
    }
    const linger abort{1, 0};
    setsockopt(client.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(fd, client.fd);
    }
    close(fd);  // with a zero linger time: the peer gets a reset
}

}  // namespace cvn::sim
