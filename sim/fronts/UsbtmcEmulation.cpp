// The simulated scope behind an emulated usbtmc device node.
#include "sim/fronts/UsbtmcEmulation.h"

#include <linux/usb/tmc.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace cvn::sim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kNone = static_cast<size_t>(-1);

// As over TCP: bytes that mean nothing, ending in a line feed.
constexpr char kGarbage[] = "\x15GARBAGE\xfe\xff,;?#x\n";

// The driver's own default time-out and its lower limit.
constexpr unsigned kDefaultTimeoutMs = 5000;
constexpr unsigned kMinTimeoutMs = 100;

// One reply: pieces shared with the instrument's waveform cache.
struct Reply {
    struct Piece {
        std::shared_ptr<const std::string> bytes;
        size_t offset;
        size_t length;
    };
    std::vector<Piece> pieces;
    size_t size = 0;
    size_t pos = 0;
    size_t stallAt = kNone;
    size_t unplugAt = kNone;
    Clock::time_point readyAt;
    // The bytes from lateFrom on follow lateMs after the ones before it.
    size_t lateFrom = kNone;
    int lateMs = 0;
    Clock::time_point lateAt = Clock::time_point::max();

    void add(std::shared_ptr<const std::string> bytes, size_t offset, size_t length) {
        size += length;
        pieces.push_back({std::move(bytes), offset, length});
    }
    // Copies `n` bytes from pos on.
    void copy(uint8_t* to, size_t n) {
        size_t skip = pos;
        for (const auto& p : pieces) {
            if (n == 0) break;
            if (skip >= p.length) {
                skip -= p.length;
                continue;
            }
            const size_t take = std::min(p.length - skip, n);
            std::memcpy(to, p.bytes->data() + p.offset + skip, take);
            to += take;
            n -= take;
            skip = 0;
        }
    }
    uint8_t at(size_t i) const {
        for (const auto& p : pieces) {
            if (i < p.length) return static_cast<uint8_t>((*p.bytes)[p.offset + i]);
            i -= p.length;
        }
        return 0;
    }
    // When the next byte may go, or max() while the device holds it back.
    Clock::time_point nextByteAt() const {
        if (pos >= stallAt) return Clock::time_point::max();
        if (pos == lateFrom) return lateAt;
        return readyAt;
    }
};

}  // namespace

struct UsbtmcEmulation::Device {
    explicit Device(Instrument& i) : instrument(i) {}

    Instrument& instrument;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Reply> replies;
    std::string input;  // a message written without EOM so far
    bool unplugged = false;
    long received = 0;
    size_t maxTransfer = 0;
    size_t stallNext = kNone;
    bool oldDriver = false;
    std::atomic<int> aborts{0};

    void Unplug() {
        unplugged = true;
        changed.notify_all();
    }

    // Runs one message as the scope would and queues what it answers.
    void Run(std::string message) {
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
            message.pop_back();
        if (Trim(message).empty()) return;
        const FaultConfig before = instrument.Faults();
        const bool simulatorOnly = IsSimulatorMessage(message);
        if (!simulatorOnly && before.dropAfter >= 0 && received >= before.dropAfter) {
            Unplug();
            return;
        }
        if (!simulatorOnly) ++received;
        const Response response = instrument.Execute(message);
        if (response.empty()) return;
        const FaultConfig f = response.simulator ? FaultConfig{} : instrument.Faults();
        if (f.silent) return;
        Reply reply;
        reply.readyAt =
            Clock::now() +
            std::chrono::milliseconds(f.delayMs + (response.identification ? f.idnDelayMs : 0));
        if (f.garbage) {
            static const auto garbage =
                std::make_shared<const std::string>(kGarbage, sizeof kGarbage - 1);
            reply.add(garbage, 0, garbage->size());
        } else {
            static const auto indefinite = std::make_shared<const std::string>("#0");
            bool hasBlock = false;
            bool pulled = false;
            for (const auto& part : response.parts) {
                const std::string& bytes = *part.bytes;
                if (f.truncateData && part.block) {
                    reply.add(part.bytes, 0, bytes.size() / 2);
                    reply.unplugAt = reply.size;
                    pulled = true;
                    break;
                }
                hasBlock = hasBlock || part.block;
                if (part.block && f.indefiniteBlocks && bytes.size() >= 2) {
                    const size_t skip =
                        std::min(bytes.size(), 2 + static_cast<size_t>(bytes[1] - '0'));
                    reply.add(indefinite, 0, 2);
                    reply.add(part.bytes, skip, bytes.size() - skip);
                } else {
                    if (hasBlock && !part.block && f.lateTerminatorMs > 0 && bytes == "\n" &&
                        &part == &response.parts.back()) {
                        reply.lateFrom = reply.size;
                        reply.lateMs = f.lateTerminatorMs;
                    }
                    reply.add(part.bytes, 0, bytes.size());
                }
                if (part.after != AfterSend::Continue) {
                    reply.unplugAt = reply.size;
                    pulled = true;
                    break;
                }
            }
            if (pulled) reply.lateFrom = kNone;
        }
        reply.stallAt = stallNext;
        stallNext = kNone;
        replies.push_back(std::move(reply));
        changed.notify_all();
    }
};

namespace {

class Port : public io::UsbtmcPort {
public:
    explicit Port(std::shared_ptr<UsbtmcEmulation::Device> device) : device_(std::move(device)) {}

    ssize_t write(const void* data, size_t size) override {
        auto& d = *device_;
        std::unique_lock<std::mutex> lock(d.mutex);
        if (d.unplugged) return fail(ENODEV);
        d.input.append(static_cast<const char*>(data), size);
        if (eom_) d.Run(std::exchange(d.input, {}));
        return static_cast<ssize_t>(size);
    }

    ssize_t read(void* data, size_t size) override {
        auto& d = *device_;
        std::unique_lock<std::mutex> lock(d.mutex);
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
        for (;;) {
            if (d.unplugged) return fail(ENODEV);
            const auto now = Clock::now();
            const auto next =
                d.replies.empty() ? Clock::time_point::max() : d.replies.front().nextByteAt();
            if (next <= now) break;
            if (now >= deadline) return fail(ETIMEDOUT);
            d.changed.wait_until(lock, std::min(deadline, next));
        }
        Reply& r = d.replies.front();
        size_t n = std::min({size, r.size - r.pos, r.stallAt - r.pos, r.unplugAt - r.pos});
        if (r.pos < r.lateFrom) n = std::min(n, r.lateFrom - r.pos);
        if (d.maxTransfer > 0) n = std::min(n, d.maxTransfer);
        uint8_t attr = 0;
        if (termEnabled_) {
            for (size_t i = 0; i < n; ++i) {
                if (r.at(r.pos + i) == termChar_) {
                    n = i + 1;
                    attr |= 2;
                    break;
                }
            }
        }
        r.copy(static_cast<uint8_t*>(data), n);
        r.pos += n;
        if (r.pos == r.lateFrom) r.lateAt = Clock::now() + std::chrono::milliseconds(r.lateMs);
        if (r.pos == r.unplugAt) {
            // The cable goes before the message could end: no EOM.
            d.Unplug();
            d.replies.pop_front();
        } else if (r.pos == r.size) {
            attr |= 1;
            d.replies.pop_front();
        }
        lastAttr_ = attr;
        return static_cast<ssize_t>(n);
    }

    int ioctl(unsigned long request, void* arg) override {
        auto& d = *device_;
        std::lock_guard<std::mutex> lock(d.mutex);
        if (d.unplugged) return fail(ENODEV);
        switch (request) {
            case USBTMC_IOCTL_SET_TIMEOUT: {
                const __u32 ms = *static_cast<__u32*>(arg);
                if (ms < kMinTimeoutMs) return fail(EINVAL);
                timeoutMs_ = ms;
                return 0;
            }
            case USBTMC_IOCTL_GET_TIMEOUT:
                *static_cast<__u32*>(arg) = timeoutMs_;
                return 0;
            case USBTMC_IOCTL_EOM_ENABLE: {
                const __u8 v = *static_cast<__u8*>(arg);
                if (v > 1) return fail(EINVAL);
                eom_ = v == 1;
                return 0;
            }
            case USBTMC_IOCTL_CONFIG_TERMCHAR: {
                const auto* t = static_cast<usbtmc_termchar*>(arg);
                if (t->term_char_enabled > 1) return fail(EINVAL);
                termChar_ = t->term_char;
                termEnabled_ = t->term_char_enabled == 1;
                return 0;
            }
            case USBTMC_IOCTL_AUTO_ABORT:
                return 0;  // aborts are counted where they happen anyway
            case USBTMC_IOCTL_MSG_IN_ATTR:
                if (d.oldDriver) return fail(ENOTTY);
                *static_cast<__u8*>(arg) = lastAttr_;
                return 0;
            case USBTMC_IOCTL_ABORT_BULK_IN:
                ++d.aborts;
                if (!d.replies.empty()) d.replies.pop_front();
                return 0;
            case USBTMC_IOCTL_ABORT_BULK_OUT:
                ++d.aborts;
                d.input.clear();
                return 0;
            case USBTMC_IOCTL_CLEAR:
                ++d.aborts;
                d.replies.clear();
                d.input.clear();
                return 0;
            default:
                return fail(ENOTTY);
        }
    }

private:
    static int fail(int err) {
        errno = err;
        return -1;
    }

    std::shared_ptr<UsbtmcEmulation::Device> device_;
    unsigned timeoutMs_ = kDefaultTimeoutMs;
    bool eom_ = true;
    uint8_t termChar_ = '\n';
    bool termEnabled_ = false;
    uint8_t lastAttr_ = 0;
};

}  // namespace

UsbtmcEmulation::UsbtmcEmulation(Instrument& instrument)
    : instrument_(instrument), device_(std::make_shared<Device>(instrument)) {}

UsbtmcEmulation::~UsbtmcEmulation() = default;

std::unique_ptr<io::UsbtmcPort> UsbtmcEmulation::open() {
    std::lock_guard<std::mutex> lock(mutex_);
    bool gone = false;
    {
        std::lock_guard<std::mutex> deviceLock(device_->mutex);
        gone = device_->unplugged;
    }
    if (gone) {
        // Plugged in again: a fresh device with the same settings.
        auto fresh = std::make_shared<Device>(instrument_);
        std::lock_guard<std::mutex> deviceLock(device_->mutex);
        fresh->maxTransfer = device_->maxTransfer;
        fresh->oldDriver = device_->oldDriver;
        device_ = fresh;
    }
    return std::make_unique<Port>(device_);
}

void UsbtmcEmulation::setMaxTransfer(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::lock_guard<std::mutex> deviceLock(device_->mutex);
    device_->maxTransfer = bytes;
}

void UsbtmcEmulation::stallNextReplyAfter(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::lock_guard<std::mutex> deviceLock(device_->mutex);
    device_->stallNext = bytes;
}

void UsbtmcEmulation::unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::lock_guard<std::mutex> deviceLock(device_->mutex);
    device_->Unplug();
}

void UsbtmcEmulation::setOldDriver(bool old) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::lock_guard<std::mutex> deviceLock(device_->mutex);
    device_->oldDriver = old;
}

int UsbtmcEmulation::aborts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return device_->aborts.load();
}

}  // namespace cvn::sim
