// ONC RPC framing for the simulator's VXI-11 server and portmapper.
#include "sim/fronts/Vxi11Rpc.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

TcpService::TcpService(const std::string& bindAddress, uint16_t port, Handler handler,
                       Closed closed)
    : handler_(std::move(handler)),
      closed_(std::move(closed)),
      listener_(bindAddress, port, [this](TcpListener::Connection& c) {
          Serve(c);
          if (closed_) closed_(c.id);
      }) {}

void TcpService::Serve(TcpListener::Connection& c) {
    // A little above the largest message the instrument takes, plus the
    // RPC and XDR framing around it.
    constexpr size_t kMaxRecord = (64u << 20) + 4096;
    std::string record;
    std::string reply;
    while (!listener_.stopping() && ReadRecord(c.fd, record, kMaxRecord)) {
        const auto call = ParseCall(record);
        if (!call) return;
        reply.clear();
        const bool keep = handler_(c.id, *call, reply);
        if (!reply.empty() && !SendRecord(c.fd, reply)) return;
        if (!keep) return;
    }
}

}  // namespace cvn::sim::rpc
