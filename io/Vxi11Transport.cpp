// VXI-11 transport on liblxi. liblxi takes its time-outs in milliseconds
// per call; each call gets what is left of the operation's deadline.
#include "io/Vxi11Transport.h"

#include <lxi.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <mutex>
#include <set>

#include "io/FdWait.h"
#include "io/IoError.h"
#include "io/TcpSocketTransport.h"

namespace cvn::io {
namespace {

// liblxi keeps its sessions in one table that lxi_init() clears, so it may
// run only once per process.
void initLxiOnce() {
    static std::once_flag once;
    std::call_once(once, [] { lxi_init(); });
}

// liblxi turns the connect time-out into an absolute time without carrying
// milliseconds over into seconds, which can give an invalid time and an
// immediate failure. Whole seconds avoid that.
int connectTimeoutMs(Deadline deadline) {
    int ms = remainingMs(deadline);
    if (ms <= 0) return 0;
    int seconds = (ms + 999) / 1000;
    return seconds > INT_MAX / 1000 ? INT_MAX / 1000 * 1000 : seconds * 1000;
}

// The RPC library writes to its socket without MSG_NOSIGNAL, so a link the
// instrument has dropped raises SIGPIPE, which would end the host program.
// The signal is blocked on this thread for the call, and one raised by the
// call is taken off the thread again before the mask is restored.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~SigpipeGuard() {
        if (!wasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                timespec zero{0, 0};
                sigtimedwait(&pipe_, nullptr, &zero);
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
    bool wasPending_ = false;
};

// The largest single liblxi call (its lengths are int).
constexpr size_t kMaxCallBytes = size_t{1} << 30;

}  // namespace

Vxi11Transport::Vxi11Transport(const std::string& host, const std::string& deviceName,
                               Deadline deadline) {
    const std::string name = deviceName.empty() ? "inst0" : deviceName;
    peer_ = host + " (" + name + ")";
    initLxiOnce();
    // The portmapper is asked first with a plain connect. Besides a quick,
    // clear error, this keeps the RPC library away from its own failure
    // path for a host whose portmapper it has met before, which frees an
    // address twice in the version Debian ships.
    try {
        TcpSocketTransport portmapper(host, 111, deadline);
    } catch (const IoError& e) {
        throw IoError(kIoOpenFailed, "No VXI-11 instrument at " + peer_ +
                                         ": its portmapper (port 111) does not answer (" +
                                         e.description() + ")");
    }
    int timeout = connectTimeoutMs(deadline);
    if (timeout <= 0) {
        throw IoError(kIoOpenFailed,
                      "No time left to connect to the VXI-11 instrument at " + peer_);
    }
    SigpipeGuard guard;
    device_ = lxi_connect(host.c_str(), 0, name.c_str(), timeout, VXI11);
    if (device_ < 0) {
        throw IoError(kIoOpenFailed,
                      "No VXI-11 instrument answers at " + peer_ +
                          " (no portmapper on port 111, no VXI-11 server registered with it, "
                          "no device of that name, or no answer within " +
                          std::to_string(timeout) + " ms)");
    }
}

Vxi11Transport::~Vxi11Transport() {
    if (device_ < 0) return;
    SigpipeGuard guard;
    lxi_disconnect(device_);
}

void Vxi11Transport::fail(const std::string& what, Clock::time_point start, int timeoutMs,
                          Deadline deadline) {
    // The instrument ends a read that found nothing with a time-out error of
    // its own, which may come a moment before our deadline.
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    if (Clock::now() >= deadline || elapsed.count() * 10 >= timeoutMs * 9LL) {
        throw IoError(kIoTimeout,
                      what + " " + peer_ + " timed out after " + std::to_string(timeoutMs) + " ms");
    }
    throw IoError(kIoClosed, what + " " + peer_ +
                                 " failed: the instrument closed the VXI-11 link or refused the "
                                 "request");
}

void Vxi11Transport::write(const uint8_t* data, size_t size, Deadline deadline) {
    if (size > kMaxCallBytes) {
        throw IoError(kIoFailure, "A message of " + std::to_string(size) +
                                      " bytes is too long for one VXI-11 write to " + peer_);
    }
    int timeout = remainingMs(deadline);
    if (timeout <= 0) throw IoError(kIoTimeout, "Sending to " + peer_ + " timed out");
    Clock::time_point start = Clock::now();
    SigpipeGuard guard;
    int sent =
        lxi_send(device_, reinterpret_cast<const char*>(data), static_cast<int>(size), timeout);
    if (sent < 0) fail("Sending to", start, timeout, deadline);
    // The device reports how much it took; a short count means it refused
    // the rest (liblxi does not pass the device's error code on).
    if (static_cast<size_t>(sent) != size) {
        if (Clock::now() >= deadline) {
            throw IoError(kIoTimeout, "Sending to " + peer_ + " timed out after " +
                                          std::to_string(sent) + " of " + std::to_string(size) +
                                          " bytes");
        }
        throw IoError(kIoFailure, "The VXI-11 instrument at " + peer_ + " accepted " +
                                      std::to_string(sent) + " of " + std::to_string(size) +
                                      " bytes (a wrong device name, a lock held by another "
                                      "client, or an error of the instrument)");
    }
}

size_t Vxi11Transport::read(uint8_t* data, size_t size, Deadline deadline, bool& end) {
    end = false;
    if (size == 0) return 0;
    size_t want = std::min(size, kMaxCallBytes);
    int timeout = remainingMs(deadline);
    if (timeout <= 0) throw IoError(kIoTimeout, "No reply from " + peer_ + " within the time-out");
    Clock::time_point start = Clock::now();
    SigpipeGuard guard;
    int got = lxi_receive(device_, reinterpret_cast<char*>(data), static_cast<int>(want), timeout);
    if (got <= 0) fail("Reading from", start, timeout, deadline);
    end = static_cast<size_t>(got) < want;
    return static_cast<size_t>(got);
}

namespace {

// liblxi's callbacks carry no user pointer, so the results of the one
// discovery that may run at a time are collected here.
std::mutex gDiscoveryMutex;
std::set<std::string>* gFound = nullptr;

void onDevice(const char* address, const char*) {
    if (gFound && address) gFound->insert(std::string("TCPIP::") + address + "::INSTR");
}

void onService(const char* address, const char*, const char* service, int port) {
    if (!gFound || !address || !service) return;
    std::string type(service);
    for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (type.find("scpi-raw") != std::string::npos && port > 0) {
        gFound->insert(std::string("TCPIP::") + address + "::" + std::to_string(port) + "::SOCKET");
    } else if (type.find("vxi") != std::string::npos || type.find("lxi") != std::string::npos) {
        gFound->insert(std::string("TCPIP::") + address + "::INSTR");
    }
}

}  // namespace

std::vector<std::string> Vxi11Transport::discover(Discovery how, int timeoutMs) {
    std::lock_guard<std::mutex> lock(gDiscoveryMutex);
    std::set<std::string> found;
    gFound = &found;
    lxi_info_t info{};
    info.device = onDevice;
    info.service = onService;
    lxi_discover(&info, std::max(timeoutMs, 1),
                 how == Discovery::Mdns ? DISCOVER_MDNS : DISCOVER_VXI11);
    gFound = nullptr;
    return {found.begin(), found.end()};
}

}  // namespace cvn::io
