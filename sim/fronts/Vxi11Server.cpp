// VXI-11 front of the simulator.
#include "sim/fronts/Vxi11Server.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "sim/fronts/Vxi11Core.h"

namespace cvn::sim {
namespace {

using Clock = std::chrono::steady_clock;

// Same meaningless answer as the socket server's garbage fault.
constexpr char kGarbage[] = "\x15GARBAGE\xfe\xff,;?#x\n";

// What a client may send in one write. Larger messages still arrive (the
// simulator takes what its parser takes); this is only what it announces.
constexpr unsigned kMaxRecvSize = 1u << 20;
// The most one read hands out; the client asks again for the rest.
constexpr size_t kMaxReadChunk = 4u << 20;

template <typename T>
xdrproc_t Proc(bool_t (*f)(XDR*, T*)) {
    return reinterpret_cast<xdrproc_t>(f);
}

// Arguments decoded by rpcgen's routines, freed again on every path.
template <typename T>
struct Args {
    explicit Args(bool_t (*f)(XDR*, T*)) : proc(Proc(f)) { std::memset(&value, 0, sizeof value); }
    ~Args() { xdr_free(proc, reinterpret_cast<char*>(&value)); }
    bool decode(const rpc::Call& call) { return rpc::DecodeArgs(call, proc, &value); }
    xdrproc_t proc;
    T value;
};

std::string ErrorReply(uint32_t xid, int code) {
    Vxi11Error e{code};
    return rpc::EncodeReply(xid, rpc::kSuccess, Proc(xdr_Vxi11Error), &e, 4);
}

}  // namespace

Vxi11Server::Vxi11Server(Instrument& instrument, const std::string& bindAddress, uint16_t port)
    : instrument_(instrument), bind_(bindAddress) {
    try {
        service_ = std::make_unique<rpc::TcpService>(
            bindAddress, port,
            [this](uint64_t c, const rpc::Call& call, std::string& reply) {
                return Handle(c, call, reply);
            },
            [this](uint64_t c) { Closed(c); });
    } catch (const std::system_error& e) {
        throw std::runtime_error(std::string("cannot listen for VXI-11 clients: ") + e.what());
    }
    portmapper_ = std::make_unique<Vxi11Portmapper>(bindAddress, VXI11_CORE_PROGRAM, VXI11_VERSION,
                                                    service_->port());
}

Vxi11Server::~Vxi11Server() {
    stop();
}

uint16_t Vxi11Server::port() const {
    return service_->port();
}

std::string Vxi11Server::portmapperMode() const {
    return portmapper_->mode();
}

void Vxi11Server::start() {
    service_->start();
    portmapper_->start();
}

void Vxi11Server::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    portmapper_->stop();
    service_->stop();
}

void Vxi11Server::Closed(uint64_t connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = links_.begin(); it != links_.end();) {
        if (it->second.connection == connection) {
            if (lockHolder_ == it->first) lockHolder_ = 0;
            it = links_.erase(it);
        } else {
            ++it;
        }
    }
    received_.erase(connection);
}

bool Vxi11Server::Handle(uint64_t connection, const rpc::Call& call, std::string& reply) {
    if (call.program == VXI11_ABORT_PROGRAM && call.version == VXI11_VERSION) {
        if (call.procedure == 0) {
            reply = rpc::EncodeReply(call.xid, rpc::kSuccess);
        } else if (call.procedure == VXI11_DEVICE_ABORT) {
            Args<int> lid(xdr_int);
            if (!lid.decode(call)) {
                reply = rpc::EncodeReply(call.xid, rpc::kGarbageArgs);
                return true;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = links_.find(lid.value);
            if (it != links_.end()) it->second.aborted = true;
            wake_.notify_all();
            reply = ErrorReply(call.xid, it == links_.end() ? VXI11_ERR_INVALID_LINK : VXI11_OK);
        } else {
            reply = rpc::EncodeReply(call.xid, rpc::kProcUnavail);
        }
        return true;
    }
    if (call.program != VXI11_CORE_PROGRAM) {
        reply = rpc::EncodeReply(call.xid, rpc::kProgUnavail);
        return true;
    }
    if (call.version != VXI11_VERSION) {
        reply = rpc::EncodeReply(call.xid, rpc::kProgMismatch, nullptr, nullptr, 0, VXI11_VERSION,
                                 VXI11_VERSION);
        return true;
    }
    switch (call.procedure) {
        case 0:
            reply = rpc::EncodeReply(call.xid, rpc::kSuccess);
            return true;
        case VXI11_CREATE_LINK:
            return CreateLink(connection, call, reply);
        case VXI11_DEVICE_WRITE:
            return Write(connection, call, reply);
        case VXI11_DEVICE_READ:
            return Read(call, reply);
        case VXI11_DEVICE_READSTB:
        case VXI11_DEVICE_TRIGGER:
        case VXI11_DEVICE_CLEAR:
        case VXI11_DEVICE_REMOTE:
        case VXI11_DEVICE_LOCAL:
            return Generic(call, reply);
        case VXI11_DEVICE_LOCK:
        case VXI11_DEVICE_UNLOCK:
        case VXI11_DESTROY_LINK:
            return SimpleLinkCall(call, reply);
        case 20:  // enable SRQ, create and destroy the interrupt channel
        case 25:
        case 26:
            reply = ErrorReply(call.xid, VXI11_ERR_NOT_SUPPORTED);
            return true;
        default:
            reply = rpc::EncodeReply(call.xid, rpc::kProcUnavail);
            return true;
    }
}

bool Vxi11Server::CreateLink(uint64_t connection, const rpc::Call& call, std::string& reply) {
    Args<Vxi11CreateLinkParms> p(xdr_Vxi11CreateLinkParms);
    if (!p.decode(call)) {
        reply = rpc::EncodeReply(call.xid, rpc::kGarbageArgs);
        return true;
    }
    Vxi11CreateLinkResp r{};
    r.abortPort = service_->port();
    r.maxRecvSize = kMaxRecvSize;
    // The instrument is its own single device, "inst0"; "inst" alone is
    // accepted as some clients shorten it.
    const char* device = p.value.device ? p.value.device : "";
    if (strcasecmp(device, "inst0") != 0 && strcasecmp(device, "inst") != 0) {
        r.error = VXI11_ERR_NOT_ACCESSIBLE;
    } else {
        std::lock_guard<std::mutex> lock(mutex_);
        const int lid = nextLink_++;
        if (p.value.lockDevice && lockHolder_ != 0) {
            r.error = VXI11_ERR_LOCKED;
        } else {
            links_[lid].connection = connection;
            if (p.value.lockDevice) lockHolder_ = lid;
            r.lid = lid;
        }
    }
    reply = rpc::EncodeReply(call.xid, rpc::kSuccess, Proc(xdr_Vxi11CreateLinkResp), &r, 16);
    return true;
}

bool Vxi11Server::RunMessage(uint64_t connection, Link& link, const std::string& message) {
    if (Trim(message).empty()) return true;
    const FaultConfig before = instrument_.Faults();
    const bool simulatorOnly = IsSimulatorMessage(message);
    long& received = received_[connection];
    if (!simulatorOnly && before.dropAfter >= 0 && received >= before.dropAfter) return false;
    if (!simulatorOnly) ++received;

    Response response = instrument_.Execute(message);
    if (response.empty()) return true;
    const FaultConfig f = response.simulator ? FaultConfig{} : instrument_.Faults();
    // A new reply replaces an unread one, as a new query does on the
    // instrument's own output queue.
    link.out.clear();
    link.part = link.offset = 0;
    link.truncated = false;
    link.pending = false;
    if (f.silent) return true;
    link.readyAt = Clock::now() + std::chrono::milliseconds(
                                      f.delayMs + (response.identification ? f.idnDelayMs : 0));
    link.pending = true;
    if (f.garbage) {
        link.out.push_back({std::make_shared<const std::string>(kGarbage), false});
        return true;
    }
    for (auto& part : response.parts) {
        if (f.truncateData && part.block) {
            link.out.push_back(
                {std::make_shared<const std::string>(*part.bytes, 0, part.bytes->size() / 2),
                 true});
            link.truncated = true;
            break;
        }
        link.out.push_back(std::move(part));
    }
    return true;
}

bool Vxi11Server::Write(uint64_t connection, const rpc::Call& call, std::string& reply) {
    Args<Vxi11WriteParms> p(xdr_Vxi11WriteParms);
    if (!p.decode(call)) {
        reply = rpc::EncodeReply(call.xid, rpc::kGarbageArgs);
        return true;
    }
    Vxi11WriteResp r{};
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = links_.find(p.value.lid);
    if (it == links_.end()) {
        r.error = VXI11_ERR_INVALID_LINK;
    } else if (lockHolder_ != 0 && lockHolder_ != p.value.lid) {
        r.error = VXI11_ERR_LOCKED;
    } else {
        Link& link = it->second;
        link.aborted = false;
        link.framer.feed(p.value.data.data_val, p.value.data.data_len);
        if (link.framer.takeOverflow()) {
            instrument_.WithState(
                [](ScopeState& s) { s.PushError(scpi_error::kTooMuchData, "Too much data"); });
        }
        // END ends the message as a line feed would on the socket.
        const bool end = (p.value.flags & VXI11_FLAG_END) != 0;
        const size_t n = p.value.data.data_len;
        if (end && (n == 0 || p.value.data.data_val[n - 1] != '\n')) link.framer.feed("\n", 1);
        while (auto message = link.framer.next()) {
            if (!RunMessage(connection, link, *message)) return false;
        }
        r.size = static_cast<u_int>(n);
    }
    reply = rpc::EncodeReply(call.xid, rpc::kSuccess, Proc(xdr_Vxi11WriteResp), &r, 8);
    return true;
}

bool Vxi11Server::Read(const rpc::Call& call, std::string& reply) {
    Args<Vxi11ReadParms> p(xdr_Vxi11ReadParms);
    if (!p.decode(call)) {
        reply = rpc::EncodeReply(call.xid, rpc::kGarbageArgs);
        return true;
    }
    Vxi11ReadResp r{};
    std::string chunk;
    bool keep = true;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto deadline = Clock::now() + std::chrono::milliseconds(p.value.ioTimeout);
        auto it = links_.find(p.value.lid);
        // Nothing will arrive by itself: a read without a reply due waits for
        // its time-out, as on the instrument; a delayed reply is waited for.
        for (;;) {
            it = links_.find(p.value.lid);
            if (stopping_ || it == links_.end() || it->second.aborted) break;
            const Link& l = it->second;
            const auto until = l.pending ? std::min(deadline, l.readyAt) : deadline;
            if (l.pending && Clock::now() >= l.readyAt) break;
            if (Clock::now() >= deadline) break;
            wake_.wait_until(lock, until);
        }
        if (it == links_.end()) {
            r.error = VXI11_ERR_INVALID_LINK;
        } else if (it->second.aborted) {
            it->second.aborted = false;
            r.error = VXI11_ERR_ABORT;
        } else if (stopping_ || !it->second.pending || Clock::now() < it->second.readyAt) {
            r.error = VXI11_ERR_IO_TIMEOUT;
        } else {
            Link& l = it->second;
            const size_t limit = std::min<size_t>(p.value.requestSize, kMaxReadChunk);
            const bool useTerm = (p.value.flags & VXI11_FLAG_TERMCHRSET) != 0;
            bool hitTerm = false;
            while (chunk.size() < limit && l.part < l.out.size() && !hitTerm) {
                const std::string& bytes = *l.out[l.part].bytes;
                size_t take = std::min(bytes.size() - l.offset, limit - chunk.size());
                if (useTerm) {
                    const void* at = std::memchr(bytes.data() + l.offset, p.value.termChar, take);
                    if (at) {
                        take = static_cast<size_t>(static_cast<const char*>(at) -
                                                   (bytes.data() + l.offset)) +
                               1;
                        hitTerm = true;
                    }
                }
                chunk.append(bytes, l.offset, take);
                l.offset += take;
                if (l.offset == bytes.size()) {
                    ++l.part;
                    l.offset = 0;
                }
            }
            const bool drained = l.part >= l.out.size();
            if (drained && !l.truncated) r.reason |= VXI11_REASON_END;
            if (hitTerm) r.reason |= VXI11_REASON_CHR;
            if (chunk.size() == p.value.requestSize) r.reason |= VXI11_REASON_REQCNT;
            if (drained) {
                // A cut-off block is followed by a dropped connection, as
                // on the socket.
                keep = !l.truncated;
                l.out.clear();
                l.part = l.offset = 0;
                l.pending = false;
            }
        }
    }
    r.data.data_val = chunk.data();
    r.data.data_len = static_cast<u_int>(chunk.size());
    reply =
        rpc::EncodeReply(call.xid, rpc::kSuccess, Proc(xdr_Vxi11ReadResp), &r, chunk.size() + 16);
    return keep;
}

bool Vxi11Server::Generic(const rpc::Call& call, std::string& reply) {
    Args<Vxi11GenericParms> p(xdr_Vxi11GenericParms);
    if (!p.decode(call)) {
        reply = rpc::EncodeReply(call.xid, rpc::kGarbageArgs);
        return true;
    }
    int error = VXI11_OK;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = links_.find(p.value.lid);
        if (it == links_.end()) {
            error = VXI11_ERR_INVALID_LINK;
        } else if (call.procedure == VXI11_DEVICE_CLEAR) {
            // Device clear: input and output are dropped.
            Link& l = it->second;
            l.framer = MessageFramer();
            l.out.clear();
            l.part = l.offset = 0;
            l.pending = l.truncated = false;
        }
    }
    if (call.procedure == VXI11_DEVICE_READSTB) {
        Vxi11ReadStbResp r{};
        r.error = error;
        if (error == VXI11_OK) {
            const std::string text = instrument_.Execute("*STB?").Text();
            r.stb = static_cast<u_char>(std::strtol(text.c_str(), nullptr, 10));
        }
        reply = rpc::EncodeReply(call.xid, rpc::kSuccess, Proc(xdr_Vxi11ReadStbResp), &r, 8);
        return true;
    }
    reply = ErrorReply(call.xid, error);
    return true;
}

bool Vxi11Server::SimpleLinkCall(const rpc::Call& call, std::string& reply) {
    int lid = 0;
    if (call.procedure == VXI11_DEVICE_LOCK) {
        Args<Vxi11LockParms> p(xdr_Vxi11LockParms);
        if (!p.decode(call)) {
            reply = rpc::EncodeReply(call.xid, rpc::kGarbageArgs);
            return true;
        }
        lid = p.value.lid;
    } else {
        Args<int> p(xdr_int);
        if (!p.decode(call)) {
            reply = rpc::EncodeReply(call.xid, rpc::kGarbageArgs);
            return true;
        }
        lid = p.value;
    }
    int error = VXI11_OK;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = links_.find(lid);
        if (it == links_.end()) {
            error = VXI11_ERR_INVALID_LINK;
        } else if (call.procedure == VXI11_DEVICE_LOCK) {
            if (lockHolder_ != 0 && lockHolder_ != lid)
                error = VXI11_ERR_LOCKED;
            else
                lockHolder_ = lid;
        } else if (call.procedure == VXI11_DEVICE_UNLOCK) {
            if (lockHolder_ != lid)
                error = VXI11_ERR_NO_LOCK;
            else
                lockHolder_ = 0;
        } else {
            if (lockHolder_ == lid) lockHolder_ = 0;
            links_.erase(it);
            wake_.notify_all();
        }
    }
    reply = ErrorReply(call.xid, error);
    return true;
}

}  // namespace cvn::sim
