// The simulator's portmapper: GETPORT (portmapper version 2) and GETADDR
// (rpcbind versions 3 and 4) for the one program it serves, on TCP and UDP.
#include "sim/fronts/Vxi11Portmap.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/pmap_clnt.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace cvn::sim {
namespace {

constexpr uint32_t kPortmapProgram = 100000;
constexpr uint32_t kProcNull = 0;
constexpr uint32_t kProcSet = 1;
constexpr uint32_t kProcUnset = 2;
constexpr uint32_t kProcGetport = 3;  // version 2; GETADDR in versions 3 and 4
constexpr uint32_t kProcDump = 4;
constexpr uint32_t kProcGetversaddr = 9;  // version 4
constexpr uint32_t kTcp = 6;

struct GetportArgs {
    u_int program;
    u_int version;
    u_int protocol;
    u_int port;
};

bool_t XdrGetportArgs(XDR* xdrs, GetportArgs* a) {
    return xdr_u_int(xdrs, &a->program) && xdr_u_int(xdrs, &a->version) &&
           xdr_u_int(xdrs, &a->protocol) && xdr_u_int(xdrs, &a->port);
}

// rpcbind's look-up argument: program, version, network id, address, owner.
struct RpcbArgs {
    u_int program;
    u_int version;
    char* netid;
    char* address;
    char* owner;
};

bool_t XdrRpcbArgs(XDR* xdrs, RpcbArgs* a) {
    return xdr_u_int(xdrs, &a->program) && xdr_u_int(xdrs, &a->version) &&
           xdr_string(xdrs, &a->netid, 256) && xdr_string(xdrs, &a->address, 256) &&
           xdr_string(xdrs, &a->owner, 256);
}

// One entry of a DUMP reply followed by the end of the list.
struct DumpList {
    GetportArgs entry;
};

bool_t XdrDumpList(XDR* xdrs, DumpList* d) {
    bool_t more = TRUE, last = FALSE;
    return xdr_bool(xdrs, &more) && XdrGetportArgs(xdrs, &d->entry) && xdr_bool(xdrs, &last);
}

// "h1.h2.h3.h4.p1.p2" (or the IPv6 form with the same two port fields).
std::string UniversalAddress(const std::string& host, uint16_t port) {
    return host + "." + std::to_string(port >> 8) + "." + std::to_string(port & 0xff);
}

}  // namespace

Vxi11Portmapper::Vxi11Portmapper(const std::string& bindAddress, uint32_t program, uint32_t version,
                                 uint16_t tcpPort)
    : bind_(bindAddress), program_(program), version_(version), tcpPort_(tcpPort) {
    try {
        tcp_ = std::make_unique<rpc::TcpService>(
            bindAddress, kPort, [this](uint64_t, const rpc::Call& call, std::string& reply) {
                return Handle(call, reply);
            });
        udpFd_ = BindSocket(bindAddress, kPort, SOCK_DGRAM);
        if (pipe2(wakePipe_, O_CLOEXEC) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe");
        }
        return;
    } catch (const std::system_error& e) {
        tcp_.reset();
        if (udpFd_ >= 0) close(udpFd_);
        udpFd_ = -1;
        if (e.code().value() != EADDRINUSE) {
            throw std::runtime_error(
                "cannot serve the portmapper on " + bindAddress + " port 111 (" + e.what() +
                (e.code().value() == EACCES ? "; binding port 111 needs root" : "") + ")");
        }
    }
    // Port 111 is taken: by rpcbind, with luck.
    if (!pmap_set(program, version, IPPROTO_TCP, tcpPort)) {
        throw std::runtime_error(
            "port 111 of " + bindAddress +
            " is taken by something that is not an rpcbind accepting registrations; "
            "VXI-11 clients could not find the simulator");
    }
    registered_ = true;
}

Vxi11Portmapper::~Vxi11Portmapper() {
    stop();
    if (udpFd_ >= 0) close(udpFd_);
    for (int fd : wakePipe_) {
        if (fd >= 0) close(fd);
    }
}

std::string Vxi11Portmapper::mode() const {
    return registered_ ? "rpcbind" : "own portmapper";
}

void Vxi11Portmapper::start() {
    if (registered_) return;
    tcp_->start();
    udpThread_ = std::thread([this] { UdpLoop(); });
}

void Vxi11Portmapper::stop() {
    if (stopped_) return;
    stopped_ = true;
    if (registered_) {
        pmap_unset(program_, version_);
        return;
    }
    if (tcp_) tcp_->stop();
    if (udpThread_.joinable()) {
        const char byte = 1;
        [[maybe_unused]] auto w = write(wakePipe_[1], &byte, 1);
        udpThread_.join();
    }
}

bool Vxi11Portmapper::Handle(const rpc::Call& call, std::string& reply) const {
    using namespace rpc;
    if (call.program != kPortmapProgram) {
        reply = EncodeReply(call.xid, kProgUnavail);
        return true;
    }
    if (call.version < 2 || call.version > 4) {
        reply = EncodeReply(call.xid, kProgMismatch, nullptr, nullptr, 0, 2, 4);
        return true;
    }
    if (call.procedure == kProcNull) {
        reply = EncodeReply(call.xid, kSuccess);
        return true;
    }
    if (call.version == 2) {
        if (call.procedure == kProcGetport) {
            GetportArgs a{};
            if (!DecodeArgs(call, reinterpret_cast<xdrproc_t>(XdrGetportArgs), &a)) {
                reply = EncodeReply(call.xid, kGarbageArgs);
                return true;
            }
            u_int port = (a.program == program_ && a.version == version_ && a.protocol == kTcp)
                             ? tcpPort_
                             : 0;
            reply =
                EncodeReply(call.xid, kSuccess, reinterpret_cast<xdrproc_t>(xdr_u_int), &port, 4);
        } else if (call.procedure == kProcSet || call.procedure == kProcUnset) {
            bool_t refused = FALSE;  // registrations are not kept here
            reply =
                EncodeReply(call.xid, kSuccess, reinterpret_cast<xdrproc_t>(xdr_bool), &refused, 4);
        } else if (call.procedure == kProcDump) {
            DumpList d{{program_, version_, kTcp, tcpPort_}};
            reply =
                EncodeReply(call.xid, kSuccess, reinterpret_cast<xdrproc_t>(XdrDumpList), &d, 32);
        } else {
            reply = EncodeReply(call.xid, kProcUnavail);
        }
        return true;
    }
    if (call.procedure == kProcGetport ||
        (call.version == 4 && call.procedure == kProcGetversaddr)) {
        RpcbArgs a{};
        if (!DecodeArgs(call, reinterpret_cast<xdrproc_t>(XdrRpcbArgs), &a)) {
            xdr_free(reinterpret_cast<xdrproc_t>(XdrRpcbArgs), reinterpret_cast<char*>(&a));
            reply = EncodeReply(call.xid, kGarbageArgs);
            return true;
        }
        std::string address;
        if (a.program == program_ && a.version == version_ && a.netid &&
            std::strcmp(a.netid, "tcp") == 0) {
            address = UniversalAddress(bind_, tcpPort_);
        }
        xdr_free(reinterpret_cast<xdrproc_t>(XdrRpcbArgs), reinterpret_cast<char*>(&a));
        char* text = address.data();
        reply = EncodeReply(call.xid, kSuccess, reinterpret_cast<xdrproc_t>(xdr_wrapstring), &text,
                            address.size() + 8);
        return true;
    }
    reply = EncodeReply(call.xid, kProcUnavail);
    return true;
}

void Vxi11Portmapper::UdpLoop() {
    std::string datagram(64 * 1024, '\0');
    for (;;) {
        pollfd fds[2] = {{udpFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        const int r = poll(fds, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || fds[1].revents != 0) return;
        sockaddr_storage from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = recvfrom(udpFd_, datagram.data(), datagram.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n <= 0) continue;
        const auto call = rpc::ParseCall(std::string_view(datagram.data(), static_cast<size_t>(n)));
        if (!call) continue;
        std::string reply;
        Handle(*call, reply);
        // Answers go back only to the one who asked.
        sendto(udpFd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    }
}

}  // namespace cvn::sim
