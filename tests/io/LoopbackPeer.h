// A small server on 127.0.0.1 with a port chosen by the system, for tests
// that need a peer whose every byte and every pause they control.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

namespace cvn::test {

// `serve` runs on the peer's own thread with each accepted socket and the
// first command line read from it; the socket is closed after it returns.
// At most `connections` connections are served (a bound, not a wait).
class LoopbackPeer {
public:
    using Serve = std::function<void(int fd, const std::string& command)>;

    explicit LoopbackPeer(Serve serve, int connections = 1) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
            ::listen(listen_, 4) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ADD_FAILURE() << "cannot listen on 127.0.0.1";
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this, serve = std::move(serve), connections] {
            for (int i = 0; i < connections; ++i) {
                const int fd = ::accept(listen_, nullptr, nullptr);
                if (fd < 0) return;
                std::string command;
                char c;
                while (::recv(fd, &c, 1, 0) == 1 && c != '\n') command += c;
                serve(fd, command);
                ::close(fd);
            }
        });
    }
    ~LoopbackPeer() {
        ::shutdown(listen_, SHUT_RDWR);  // wakes accept() if nobody connected
        thread_.join();
        ::close(listen_);
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace cvn::test
