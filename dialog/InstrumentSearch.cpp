// Candidate addresses and "*IDN?" probes for the discovery control.
#include "dialog/InstrumentSearch.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "io/IoError.h"
#include "io/IoSession.h"
#include "io/ReplyConvert.h"

namespace cvn {
namespace {

namespace fs = std::filesystem;

std::string Trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return std::string(s);
}

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return Trimmed(line);
}

// Names in dir that start with one of the prefixes, sorted so that the
// list reads ttyS0, ttyS1, ... rather than in directory order.
std::vector<std::string> Entries(const fs::path& dir,
                                 std::initializer_list<std::string_view> prefixes) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        std::string name = e.path().filename().string();
        for (auto p : prefixes) {
            if (name.size() > p.size() && name.compare(0, p.size(), p) == 0) {
                names.push_back(name);
                break;
            }
        }
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

fs::path Under(const std::string& root, const char* path) {
    return fs::path(root.empty() ? "/" : root) / (path + 1);
}

}  // namespace

std::vector<std::string> SplitHostList(std::string_view text) {
    std::vector<std::string> out;
    std::string current;
    for (char c : text) {
        if (c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!current.empty()) out.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) out.push_back(current);
    return out;
}

std::vector<std::string> LanAddresses(const std::string& entry) {
    if (entry.empty()) return {};
    if (entry.find(':') != std::string::npos || entry.front() == '/' || entry.front() == '[') {
        return {entry};
    }
    return {entry + ":5025", "TCPIP::" + entry + "::INSTR"};
}

std::vector<std::string> UsbAddresses(const std::string& root) {
    std::vector<std::string> out;
    std::set<std::string> nodes;
    for (const char* classDir : {"/sys/class/usbmisc", "/sys/class/usb"}) {
        const fs::path dir = Under(root, classDir);
        for (const auto& name : Entries(dir, {"usbtmc"})) {
            if (!nodes.insert(name).second) continue;
            std::error_code ec;
            const fs::path device = fs::canonical(dir / name / "device" / "..", ec);
            const std::string vendor = ec ? "" : ReadLine(device / "idVendor");
            const std::string product = ec ? "" : ReadLine(device / "idProduct");
            if (vendor.empty() || product.empty()) {
                out.push_back("/dev/" + name);
                continue;
            }
            std::string address = "USB0::0x" + vendor + "::0x" + product;
            const std::string serial = ReadLine(device / "serial");
            if (!serial.empty()) address += "::" + serial;
            out.push_back(address + "::INSTR");
        }
    }
    // Nodes without a sysfs entry (other drivers, containers).
    for (const auto& name : Entries(Under(root, "/dev"), {"usbtmc"})) {
        if (nodes.insert(name).second) out.push_back("/dev/" + name);
    }
    return out;
}

std::vector<std::string> SerialAddresses(const std::string& root) {
    std::vector<std::string> out;
    if (const char* listed = std::getenv("CVN_SERIAL_PORTS"); listed != nullptr) {
        for (const auto& path : SplitHostList(listed)) out.push_back("ASRL" + path + "::INSTR");
        return out;
    }
    for (const auto& name : Entries(Under(root, "/dev"), {"ttyS", "ttyUSB", "ttyACM"})) {
        out.push_back("ASRL/dev/" + name + "::INSTR");
    }
    return out;
}

ProbeResult Probe(const std::string& address, int openTimeoutMs, int replyTimeoutMs) {
    ProbeResult r;
    r.address = address;
    try {
        auto session = io::IoManager().Open(address, openTimeoutMs);
        session->SetTimeout(replyTimeoutMs);
        session->Output("*IDN?");
        r.reply = session->EnterText();
        for (auto& field : io::splitFields(r.reply)) r.idn.push_back(Trimmed(field));
        r.answered = !r.idn.empty() && !r.idn[0].empty();
        if (!r.answered) r.error = "empty identification";
    } catch (const io::IoError& e) {
        r.error = e.description();
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    return r;
}

ProbeRun::ProbeRun(std::vector<std::string> addresses, OnResult onResult, OnDone onDone,
                   size_t parallel)
    : addresses_(std::move(addresses)), onResult_(std::move(onResult)), onDone_(std::move(onDone)) {
    const size_t n = std::max<size_t>(1, std::min(parallel, addresses_.size()));
    active_ = n;
    for (size_t i = 0; i < n; ++i) workers_.emplace_back([this] { Work(); });
}

ProbeRun::~ProbeRun() {
    cancel();
    for (auto& t : workers_) t.join();
}

void ProbeRun::cancel() {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    cancelled_ = true;
}

void ProbeRun::Work() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(callbackMutex_);
            if (cancelled_) break;
        }
        const size_t i = next_++;
        if (i >= addresses_.size()) break;
        ProbeResult r = Probe(addresses_[i], kOpenTimeoutMs, kReplyTimeoutMs);
        std::lock_guard<std::mutex> lock(callbackMutex_);
        if (cancelled_) break;
        if (onResult_) onResult_(r);
    }
    // The last worker out reports the end.
    if (--active_ == 0) {
        std::lock_guard<std::mutex> lock(callbackMutex_);
        if (!cancelled_ && onDone_) onDone_();
    }
}

}  // namespace cvn
