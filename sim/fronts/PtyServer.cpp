// Serial front of the simulator over a pseudo-terminal.
#include "sim/fronts/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "io/SerialLine.h"
#include "sim/fronts/ByteStream.h"

namespace cvn::sim {
namespace {

using Clock = std::chrono::steady_clock;

// A real line does not wait for a reader: when the client end has not taken
// bytes for this long, the rest of the reply is lost, as it would be on a
// line nobody listens to.
constexpr auto kStallLimit = std::chrono::seconds(2);
// How long a pulled line waits for the client to take what was sent.
constexpr auto kDrainLimit = std::chrono::seconds(2);

[[noreturn]] void Fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyServer::PtyServer(Instrument& instrument, int baud, bool paced, OnPath onPath, std::string link)
    : instrument_(instrument),
      baud_(baud),
      paced_(paced),
      onPath_(std::move(onPath)),
      link_(std::move(link)) {
    if (io::LineSpeed(baud) == B0) {
        throw std::invalid_argument("unsupported baud rate " + std::to_string(baud));
    }
    if (pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) Fail("pipe");
    Adopt(OpenPair());
}

PtyServer::~PtyServer() {
    stop();
    Pair last = Adopt({});
    Close(last);
    if (!link_.empty()) unlink(link_.c_str());
    for (int& fd : wakePipe_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

std::string PtyServer::path() const {
    std::lock_guard<std::mutex> lock(pathMutex_);
    return path_;
}

PtyServer::Pair PtyServer::OpenPair() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) Fail("posix_openpt");
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        const int err = errno;
        close(master);
        errno = err;
        Fail("pseudo-terminal setup");
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const int err = errno;
        close(master);
        errno = err;
        Fail(std::string("open ") + name);
    }
    // The line as the scope's port has it: raw bytes, 8N1, no flow control.
    termios tio{};
    tcgetattr(slave, &tio);
    io::MakeRawLine(tio, io::LineSpeed(baud_));
    if (tcsetattr(slave, TCSANOW, &tio) != 0) {
        const int err = errno;
        close(slave);
        close(master);
        errno = err;
        Fail("tcsetattr");
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return Pair{master, slave, name};
}

PtyServer::Pair PtyServer::Adopt(Pair pair) {
    Pair old{master_, slave_, path()};
    master_ = pair.master;
    slave_ = pair.slave;
    {
        std::lock_guard<std::mutex> lock(pathMutex_);
        path_ = pair.path;
    }
    if (!pair.path.empty()) {
        if (!link_.empty()) {
            // Replaced in one step: the link never dangles or goes missing.
            const std::string fresh = link_ + ".new";
            unlink(fresh.c_str());
            if (symlink(pair.path.c_str(), fresh.c_str()) != 0 ||
                rename(fresh.c_str(), link_.c_str()) != 0) {
                Fail("link " + link_);
            }
        }
        if (onPath_) onPath_(pair.path);
    }
    return old;
}

void PtyServer::Close(Pair& pair) {
    if (pair.master >= 0) close(pair.master);
    if (pair.slave >= 0) close(pair.slave);
    pair = Pair{};
}

void PtyServer::start() {
    thread_ = std::thread([this] { Run(); });
}

void PtyServer::stop() {
    {
        std::lock_guard<std::mutex> lock(pauseMutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (wakePipe_[1] >= 0) {
        [[maybe_unused]] auto n = write(wakePipe_[1], "x", 1);
    }
    if (thread_.joinable()) thread_.join();
}

bool PtyServer::Pause(int ms) {
    if (ms <= 0) return !stopping_;
    std::unique_lock<std::mutex> lock(pauseMutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms),
                           [this] { return stopping_.load(); });
}

void PtyServer::Run() {
    while (!stopping_) {
        if (!Serve() || stopping_) break;
        // The cable was pulled: let the client take what reached it (the
        // line is quiet twice in a row, since bytes pass a buffer of the
        // terminal before they can be counted), then hang up on it and offer
        // a new line.
        const auto until = Clock::now() + kDrainLimit;
        int quiet = 0;
        while (!stopping_ && quiet < 2 && Clock::now() < until) {
            int waiting = 0;
            if (ioctl(slave_, FIONREAD, &waiting) != 0) break;
            quiet = waiting == 0 ? quiet + 1 : 0;
            Pause(20);
        }
        try {
            Pair old = Adopt(OpenPair());
            Close(old);
        } catch (const std::exception&) {
            break;
        }
    }
}

bool PtyServer::Send(const char* data, size_t size) {
    // A paced line delivers baud/10 bytes a second (8N1: ten bits a byte),
    // in slices of about 10 ms.
    const double bytesPerSecond = baud_ / 10.0;
    const size_t slice =
        paced_ ? std::max<size_t>(1, static_cast<size_t>(bytesPerSecond / 100)) : size;
    const auto start = Clock::now();
    size_t sent = 0;
    while (sent < size) {
        if (stopping_) return false;
        const size_t want = std::min(slice, size - sent);
        const ssize_t n = write(master_, data + sent, want);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            if (paced_) {
                const auto due =
                    start +
                    std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(static_cast<double>(sent) / bytesPerSecond));
                std::unique_lock<std::mutex> lock(pauseMutex_);
                if (wake_.wait_until(lock, due, [this] { return stopping_.load(); })) return false;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p[2] = {{master_, POLLOUT, 0}, {wakePipe_[0], POLLIN, 0}};
            const int r = poll(p, 2, static_cast<int>(kStallLimit / std::chrono::milliseconds(1)));
            if (r == 0) return true;  // nobody reads: the rest is lost on the line
            if (p[1].revents != 0) return false;
            continue;
        }
        return true;  // the line is gone; the next read shows it
    }
    return true;
}

bool PtyServer::LineMatches() {
    // The client end's settings, as the client set them: on a real line,
    // bytes sent at another speed or framing reach the scope as noise.
    termios tio{};
    if (tcgetattr(master_, &tio) != 0) return true;
    const bool same = cfgetospeed(&tio) == io::LineSpeed(baud_) && (tio.c_cflag & CSIZE) == CS8 &&
                      (tio.c_cflag & (PARENB | CSTOPB)) == 0;
    if (!same && !mismatchReported_) {
        std::fprintf(stderr,
                     "halvio-sim: the client set its line to other settings than 8N1 at %d "
                     "baud: what it sends is noise to the scope\n",
                     baud_);
    }
    mismatchReported_ = !same;
    return same;
}

// The line as the serving routine sees it.
class PtyServer::Line final : public ByteStream {
public:
    explicit Line(PtyServer& server) : server_(server) {}

    size_t receive(char* data, size_t size) override {
        PtyServer& s = server_;
        while (!s.stopping_) {
            pollfd p[2] = {{s.master_, POLLIN, 0}, {s.wakePipe_[0], POLLIN, 0}};
            const int r = poll(p, 2, -1);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 || p[1].revents != 0) return 0;
            const ssize_t n = read(s.master_, data, size);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                // Only when our own slave end went away; start over on a new pair.
                gone_ = true;
                return 0;
            }
            if (!s.LineMatches()) continue;  // what arrives is noise to the scope
            return static_cast<size_t>(n);
        }
        return 0;
    }
    bool send(const std::vector<std::string_view>& pieces) override {
        for (std::string_view piece : pieces) {
            if (!server_.Send(piece.data(), piece.size())) return false;
        }
        return true;
    }
    bool pause(int ms) override { return server_.Pause(ms); }
    // The line went away under the server.
    bool gone() const { return gone_; }

private:
    PtyServer& server_;
    bool gone_ = false;
};

bool PtyServer::Serve() {
    Line line(*this);
    // Closing and resetting are the same on a serial line: the cable is pulled.
    const StreamEnd end = ServeByteStream(instrument_, line);
    return end != StreamEnd::kEnded || line.gone();
}

}  // namespace cvn::sim
