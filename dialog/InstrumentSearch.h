// What the discovery control searches and how it asks: the candidate
// addresses on USB (usbtmc), serial ports and the LAN hosts the user typed,
// and the "*IDN?" probes, run in parallel on worker threads with short
// time-outs. No toolkit here; the control turns results into rows.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace cvn {

// The host entries typed by the user: separated by commas, semicolons,
// blanks or line ends.
std::vector<std::string> SplitHostList(std::string_view text);

// Addresses to ask for one typed entry: a full address (any "::" form, a
// device path, "host:port") as it stands; a bare host name both on the
// SCPI socket port and over VXI-11.
std::vector<std::string> LanAddresses(const std::string& entry);

// usbtmc instruments below root ("/" normally): by vendor and product id
// and serial number where sysfs tells them, else by device node.
std::vector<std::string> UsbAddresses(const std::string& root);

// Serial ports below root: ttyS*, ttyUSB* and ttyACM* in /dev. When the
// environment variable CVN_SERIAL_PORTS is set, its paths (separated by
// commas or blanks) are asked instead, and none when it is empty: a port
// with another name, or tests that must never open the machine's ports.
std::vector<std::string> SerialAddresses(const std::string& root);

struct ProbeResult {
    std::string address;
    bool answered = false;
    std::vector<std::string> idn;  // the identification's fields, trimmed
    std::string reply;             // the identification as received
    std::string error;             // why it did not answer
};

// Opens the address and asks "*IDN?". Never throws.
ProbeResult Probe(const std::string& address, int openTimeoutMs, int replyTimeoutMs);

// Probes a list of addresses on a few worker threads. Callbacks run on the
// workers; none runs after cancel() has returned. The destructor cancels
// and waits for the workers, which takes at most one probe's time-outs.
class ProbeRun {
public:
    using OnResult = std::function<void(const ProbeResult&)>;
    using OnDone = std::function<void()>;

    static constexpr int kOpenTimeoutMs = 1500;
    static constexpr int kReplyTimeoutMs = 500;

    ProbeRun(std::vector<std::string> addresses, OnResult onResult, OnDone onDone,
             size_t parallel = 8);
    ~ProbeRun();
    ProbeRun(const ProbeRun&) = delete;
    ProbeRun& operator=(const ProbeRun&) = delete;

    size_t total() const { return addresses_.size(); }
    void cancel();
    // True once every worker has stopped.
    bool finished() const { return active_ == 0; }

private:
    void Work();

    std::vector<std::string> addresses_;
    OnResult onResult_;
    OnDone onDone_;
    std::atomic<size_t> next_{0};
    std::atomic<size_t> active_{0};
    std::mutex callbackMutex_;  // held while a callback runs; cancel waits for it
    bool cancelled_ = false;    // guarded by callbackMutex_
    std::vector<std::thread> workers_;
};

}  // namespace cvn
