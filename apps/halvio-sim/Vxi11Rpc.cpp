// ONC RPC framing for the simulator's VXI-11 server and portmapper.
#include "apps/halvio-sim/Vxi11Rpc.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace cvn::sim::rpc {
namespace {

constexpr uint32_t kRpcVersion = 2;
constexpr uint32_t kMsgCall = 0;
constexpr uint32_t kMsgReply = 1;
constexpr uint32_t kMsgAccepted = 0;
constexpr uint32_t kLastFragment = 0x80000000u;

uint32_t Word(std::string_view s, size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, s.data() + at, 4);
    return ntohl(v);
}

void PutWord(std::string& out, uint32_t v) {
    v = htonl(v);
    out.append(reinterpret_cast<const char*>(&v), 4);
}

bool ReadAll(int fd, char* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = recv(fd, data + got, size - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

std::system_error SystemError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

}  // namespace

std::optional<Call> ParseCall(std::string_view r) {
    // xid, type, rpc version, program, version, procedure, then the
    // credentials and the verifier (flavour and length-prefixed body).
    if (r.size() < 6 * 4) return std::nullopt;
    Call c;
    c.xid = Word(r, 0);
    if (Word(r, 4) != kMsgCall || Word(r, 8) != kRpcVersion) return std::nullopt;
    c.program = Word(r, 12);
    c.version = Word(r, 16);
    c.procedure = Word(r, 20);
    size_t at = 24;
    for (int auth = 0; auth < 2; ++auth) {
        if (r.size() < at + 8) return std::nullopt;
        const uint32_t length = Word(r, at + 4);
        if (length > 400) return std::nullopt;  // the largest body RPC allows
        at += 8 + ((length + 3) & ~3u);
        if (at > r.size()) return std::nullopt;
    }
    c.args = r.substr(at);
    return c;
}

bool DecodeArgs(const Call& call, xdrproc_t proc, void* obj) {
    XDR xdrs;
    xdrmem_create(&xdrs, const_cast<char*>(call.args.data()), static_cast<u_int>(call.args.size()),
                  XDR_DECODE);
    const bool ok = proc(&xdrs, obj) != 0;
    xdr_destroy(&xdrs);
    return ok;
}

std::string EncodeReply(uint32_t xid, AcceptStat stat, xdrproc_t proc, const void* result,
                        size_t sizeHint, uint32_t low, uint32_t high) {
    std::string out;
    PutWord(out, xid);
    PutWord(out, kMsgReply);
    PutWord(out, kMsgAccepted);
    PutWord(out, 0);  // verifier: no authentication
    PutWord(out, 0);
    PutWord(out, stat);
    if (stat == kProgMismatch) {
        PutWord(out, low);
        PutWord(out, high);
    }
    if (stat != kSuccess || proc == nullptr) return out;
    const size_t header = out.size();
    out.resize(header + sizeHint + 64);
    XDR xdrs;
    xdrmem_create(&xdrs, out.data() + header, static_cast<u_int>(out.size() - header), XDR_ENCODE);
    if (!proc(&xdrs, const_cast<void*>(result))) {
        xdr_destroy(&xdrs);
        out.resize(header - 4);
        PutWord(out, kGarbageArgs);  // cannot happen with a right size hint
        return out;
    }
    out.resize(header + xdr_getpos(&xdrs));
    xdr_destroy(&xdrs);
    return out;
}

bool ReadRecord(int fd, std::string& record, size_t limit) {
    record.clear();
    for (;;) {
        uint32_t mark = 0;
        if (!ReadAll(fd, reinterpret_cast<char*>(&mark), 4)) return false;
        mark = ntohl(mark);
        const size_t length = mark & ~kLastFragment;
        if (record.size() + length > limit) return false;
        const size_t at = record.size();
        record.resize(at + length);
        if (!ReadAll(fd, record.data() + at, length)) return false;
        if (mark & kLastFragment) return true;
    }
}

bool SendRecord(int fd, const std::string& body) {
    std::string mark;
    PutWord(mark, kLastFragment | static_cast<uint32_t>(body.size()));
    iovec iov[2] = {{mark.data(), 4}, {const_cast<char*>(body.data()), body.size()}};
    size_t first = 0;
    while (first < 2) {
        msghdr msg{};
        msg.msg_iov = iov + first;
        msg.msg_iovlen = 2 - first;
        const ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        size_t left = static_cast<size_t>(n);
        while (first < 2 && left >= iov[first].iov_len) {
            left -= iov[first].iov_len;
            ++first;
        }
        if (first < 2) {
            iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
    return true;
}

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
        const auto err = SystemError("cannot bind " + bindAddress + " port " + service);
        close(fd);
        throw err;
    }
    return fd;
}

TcpService::TcpService(const std::string& bindAddress, uint16_t port, Handler handler,
                       Closed closed)
    : handler_(std::move(handler)), closed_(std::move(closed)) {
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

TcpService::~TcpService() {
    stop();
    for (int& fd : wakePipe_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

void TcpService::start() {
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void TcpService::stop() {
    if (stopping_.exchange(true)) return;
    const char byte = 1;
    [[maybe_unused]] auto w = write(wakePipe_[1], &byte, 1);
    if (acceptThread_.joinable()) acceptThread_.join();
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
    std::list<std::unique_ptr<Connection>> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& c : connections_) shutdown(c->fd, SHUT_RDWR);
        all.swap(connections_);
    }
    for (auto& c : all) {
        c->thread.join();
        close(c->fd);
    }
}

void TcpService::ReapFinished() {
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
        close(c->fd);
    }
}

void TcpService::AcceptLoop() {
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
            Serve(ref);
            if (closed_) closed_(ref.id);
            shutdown(ref.fd, SHUT_RDWR);
            ref.done = true;
        });
    }
}

void TcpService::Serve(Connection& c) {
    // A little above the largest message the instrument takes, plus the
    // RPC and XDR framing around it.
    constexpr size_t kMaxRecord = (64u << 20) + 4096;
    std::string record;
    std::string reply;
    while (!stopping_ && ReadRecord(c.fd, record, kMaxRecord)) {
        const auto call = ParseCall(record);
        if (!call) return;
        reply.clear();
        const bool keep = handler_(c.id, *call, reply);
        if (!reply.empty() && !SendRecord(c.fd, reply)) return;
        if (!keep) return;
    }
}

}  // namespace cvn::sim::rpc
