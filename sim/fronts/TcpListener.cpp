#include "sim/fronts/TcpListener.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace cvn::sim {
namespace {

std::system_error SystemError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

}  // namespace

int BindSocket(const std::string& bindAddress, uint16_t port, int type) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(bindAddress.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
        throw std::system_error(EINVAL, std::generic_category(),
                                "not a numeric address: " + bindAddress);
    }
    const int fd = socket(found->ai_family, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        freeaddrinfo(found);
        throw SystemError("socket");
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const int bound = bind(fd, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (bound != 0 || (type == SOCK_STREAM && listen(fd, 16) != 0)) {
        const auto err = SystemError("cannot listen on " + bindAddress + " port " + service);
        close(fd);
        throw err;
    }
    return fd;
}

TcpListener::TcpListener(const std::string& bindAddress, uint16_t port, Serve serve)
    : serve_(std::move(serve)) {
    listenFd_ = BindSocket(bindAddress, port, SOCK_STREAM);
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

TcpListener::~TcpListener() {
    stop();
    for (int& fd : wakePipe_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

void TcpListener::start() {
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void TcpListener::stop() {
    if (stopping_.exchange(true)) {
        if (acceptThread_.joinable()) acceptThread_.join();
        return;
    }
    const char byte = 1;
    [[maybe_unused]] auto w = write(wakePipe_[1], &byte, 1);
    if (acceptThread_.joinable()) acceptThread_.join();
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
    std::list<std::unique_ptr<Connection>> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Unblocks recv and send in the connection threads.
        for (auto& c : connections_)
            if (c->fd >= 0) shutdown(c->fd, SHUT_RDWR);
        all.swap(connections_);
    }
    for (auto& c : all) {
        c->thread.join();
        if (c->fd >= 0) close(c->fd);
    }
}

int TcpListener::takeDescriptor(Connection& c) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(c.fd, -1);
}

void TcpListener::ReapFinished() {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->done) {
                finished.push_back(std::move(*it));
                it = connections_.erase(it);
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

void TcpListener::AcceptLoop() {
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
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->id = nextId_++;
        Connection& ref = *c;
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            close(fd);
            break;
        }
        connections_.push_back(std::move(c));
        ref.thread = std::thread([this, &ref] {
            serve_(ref);
            {
                std::lock_guard<std::mutex> guard(mutex_);
                if (ref.fd >= 0) shutdown(ref.fd, SHUT_RDWR);
            }
            ref.done = true;
        });
    }
}

}  // namespace cvn::sim
