// Waveform transfer against the simulator process, in one run, for 1k,
// 100k, 1M and 8M points, words (channel 1) and bytes (pod 1):
//   retrieval - ReadSourceWaveform over gSession, exactly what a retrieval
//               does (identification, transfer settings, preamble, block),
//               against the same exchange line for line over a blocking
//               socket: one send() per command, replies read with recv()
//               into buffers allocated once. Every round trip of the
//               protocol is on both sides, so the ratio shows what the
//               add-in adds, not what the protocol costs;
//   query     - the data query alone over gSession (the I/O library)
//               against the same query over the blocking socket;
//   pyvisa    - the data query through Debian's pyvisa-py
//               (pyvisa_transfer.py beside this file, /usr/bin/python3).
// With CVN_BENCH_PROGRESS=1 gSession has a block progress callback set.
// Ours and the plain socket run in turn within each iteration. At the end
// it prints MB/s per case, the ratios, and the peak memory of one 8M-point
// word transfer, measured in a child process. Targets from 1M points up:
// retrieval >= 0.9 x plain and >= 10 x pyvisa; peak memory <= 3 x the
// 16 MB payload. The query ratio is shown for the I/O library alone; for
// words it includes the byte swap the plain socket skips, about a tenth
// of a 1M-point transfer over loopback (io_transfer checks the library
// against the plain loop on its own).
//
// All traffic stays on 127.0.0.1; every loop is bounded by the benchmark
// library's iteration control.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/IoSession.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "sim/launch/SimProcess.h"
#include "support/ErrorHandler.h"
#include "support/ScriptedUi.h"
#include "waveform/WaveformTransfer.h"

#ifndef PYVISA_SCRIPT
#define PYVISA_SCRIPT "pyvisa_transfer.py"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kSizes[] = {1'000, 100'000, 1'000'000, 8'000'000};
constexpr long kPayloadTarget = 8'000'000 * 2;

struct Case {
    long points;
    bool word;
    long payload() const { return points * (word ? 2 : 1); }
    std::string name() const {
        const std::string n = points >= 1'000'000 ? std::to_string(points / 1'000'000) + "M"
                                                  : std::to_string(points / 1000) + "k";
        return n + (word ? "/WORD" : "/BYTE");
    }
};

std::unique_ptr<cvn::sim::SimProcess> gSim;
// Totals over all repetitions of a case: a run on a shared machine can
// land on an unlucky placement of threads, so the ratio printed at the end
// is the median of every iteration of every repetition.
struct Result {
    double bytes = 0;
    double oursSeconds = 0;
    double plainSeconds = 0;
    std::vector<double> ratios;  // ours/plain per iteration
    double ours() const { return oursSeconds > 0 ? bytes / oursSeconds / 1e6 : 0; }  // MB/s
    double plain() const { return plainSeconds > 0 ? bytes / plainSeconds / 1e6 : 0; }
    double ratio() const {
        if (ratios.empty()) return 0;
        std::vector<double> sorted = ratios;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};
std::map<std::string, Result> gResults;  // "retrieval 8M/WORD", "query 8M/WORD"

// Sets up the shared simulator state for a case on any session.
std::string SetupCommands(const Case& c) {
    return ":WAVeform:POINts:MODE RAW;:WAVeform:POINts " + std::to_string(c.points) +
           ";:WAVEFORM:BYTEORDER MSBFIRST;:WAVeform:FORMat " + (c.word ? "WORD" : "BYTE") +
           ";:WAVeform:SOURce " + (c.word ? "CHAN1" : "POD1");
}

class PlainSocket {
public:
    explicit PlainSocket(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("cannot connect to the simulator");
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~PlainSocket() { ::close(fd_); }

    void Send(const std::string& text) {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) throw std::runtime_error("send failed");
            done += static_cast<size_t>(n);
        }
    }
    void Receive(uint8_t* into, size_t count) {
        size_t got = 0;
        while (got < count) {
            const ssize_t n = ::recv(fd_, into + got, count - got, 0);
            if (n <= 0) throw std::runtime_error("connection ended");
            got += static_cast<size_t>(n);
        }
    }
    // One reply line. The simulator sends nothing unasked, so whatever a
    // recv() returns belongs to this reply.
    std::string Line() {
        std::string line;
        char chunk[4096];
        while (line.empty() || line.back() != '\n') {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) throw std::runtime_error("connection ended");
            line.append(chunk, static_cast<size_t>(n));
        }
        return line;
    }
    // One block into `buffer` (payload and its line feed); gives the payload size.
    size_t Block(std::vector<uint8_t>& buffer) {
        Send(":WAVeform:DATA?\n");
        uint8_t head[2];
        Receive(head, 2);
        if (head[0] != '#' || head[1] < '1' || head[1] > '9')
            throw std::runtime_error("no block header");
        char digits[10] = {};
        Receive(reinterpret_cast<uint8_t*>(digits), static_cast<size_t>(head[1] - '0'));
        const size_t length = std::strtoul(digits, nullptr, 10);
        if (buffer.size() < length + 1) buffer.resize(length + 1);
        Receive(buffer.data(), length + 1);
        return length;
    }

private:
    int fd_ = -1;
};

// The lines ReadSourceWaveform sends for a case on the benchmark's model,
// in its order, and which of them are answered.
struct Exchange {
    std::vector<std::string> lines;
    std::vector<bool> answered;
};

Exchange RetrievalExchange(const Case& c, int streamingCommands) {
    Exchange e;
    auto add = [&](const std::string& line, bool answered) {
        e.lines.push_back(line + "\n");
        e.answered.push_back(answered);
    };
    add("*IDN?", true);
    for (int i = 0; i < streamingCommands; ++i) add("WAVeform:STReaming OFF", false);
    add(":WAVEFORM:VIEW MAIN", false);
    add(":System:Header OFF", false);
    add(":System:LONGform OFF", false);
    if (c.word) {
        add(":WAVeform:FORMat WORD", false);
        add(":WAVEFORM:BYTEORDER MSBFIRST", false);
    } else {
        add(":WAVEFORM:BYTEORDER MSBFIRST", false);
        add(":WAVeform:FORMat BYTE", false);
    }
    add(std::string(":WAVeform:SOURce ") + (c.word ? "CHAN1" : "POD1"), false);
    add(":WAVeform:PREamble?", true);
    return e;
}

int gStreamingCommands = 0;

// One of our transfers: the whole retrieval, or the data query alone over
// gSession. Returns the number of points received.
size_t OursOnce(const Case& c, bool wholeRetrieval, cvn::RawData& data) {
    if (wholeRetrieval) {
        cvn::PreambleBlock pre{};
        bool cancel = false;
        cvn::ReadSourceWaveform(cvn::gSession, data, pre, c.word ? "CHAN1" : "POD1", cancel);
        return cancel ? 0 : cvn::RawDataSize(data);
    }
    cvn::gSession->Output(":WAVeform:DATA?");
    if (c.word) {
        data = cvn::gSession->EnterWords();
    } else {
        data = cvn::gSession->EnterBytes();
    }
    return cvn::RawDataSize(data);
}

// Ours and the plain socket in turn within every iteration, so that the
// load of a shared machine hits both alike; the ratio reported is the
// median of the per-iteration ratios, the rates come from the totals.
void BM_Paired(benchmark::State& state, Case c, bool wholeRetrieval) {
    try {
        cvn::gSession->Output(SetupCommands(c));
        PlainSocket socket(gSim->port());
        socket.Send(SetupCommands(c) + "\n*OPC?\n");
        socket.Line();
        const Exchange exchange = RetrievalExchange(c, gStreamingCommands);
        std::vector<uint8_t> buffer(static_cast<size_t>(c.payload()) + 1);
        cvn::RawData data;
        double oursSeconds = 0;
        double plainSeconds = 0;
        std::vector<double> ratios;
        auto plainOnce = [&] {
            if (wholeRetrieval) {
                for (size_t i = 0; i < exchange.lines.size(); ++i) {
                    socket.Send(exchange.lines[i]);
                    if (exchange.answered[i]) benchmark::DoNotOptimize(socket.Line());
                }
            }
            const size_t got = socket.Block(buffer);
            benchmark::DoNotOptimize(buffer.data());
            return got;
        };
        bool plainFirst = true;
        for (auto _ : state) {
            // Whichever runs second finds the caches full of the other's
            // data; taking turns keeps that from favouring either.
            size_t plainGot = 0;
            size_t oursGot = 0;
            double plainTime = 0;
            double oursTime = 0;
            for (int turn = 0; turn < 2; ++turn) {
                const auto start = Clock::now();
                if ((turn == 0) == plainFirst) {
                    plainGot = plainOnce();
                    plainTime = std::chrono::duration<double>(Clock::now() - start).count();
                } else {
                    oursGot = OursOnce(c, wholeRetrieval, data);
                    oursTime = std::chrono::duration<double>(Clock::now() - start).count();
                }
            }
            plainFirst = !plainFirst;
            if (plainGot != static_cast<size_t>(c.payload()) ||
                oursGot != static_cast<size_t>(c.points)) {
                state.SkipWithError("short block");
                return;
            }
            plainSeconds += plainTime;
            oursSeconds += oursTime;
            ratios.push_back(plainTime / oursTime);
        }
        const double bytes = static_cast<double>(state.iterations()) * c.payload();
        Result& r = gResults[(wholeRetrieval ? "retrieval " : "query ") + c.name()];
        r.bytes += bytes;
        r.oursSeconds += oursSeconds;
        r.plainSeconds += plainSeconds;
        r.ratios.insert(r.ratios.end(), ratios.begin(), ratios.end());
        std::sort(ratios.begin(), ratios.end());
        state.counters["ours MB/s"] = bytes / oursSeconds / 1e6;
        state.counters["plain MB/s"] = bytes / plainSeconds / 1e6;
        state.counters["ours/plain"] = ratios[ratios.size() / 2];
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

// Runs the pyvisa-py script for one case; nothing when it fails.
double PyvisaRate(const Case& c) {
    const std::string command =
        "/usr/bin/python3 '" + std::string(PYVISA_SCRIPT) + "' --port " +
        std::to_string(gSim->port()) + " --points " + std::to_string(c.points) + " --format " +
        (c.word ? "word" : "byte") + " --repeat " + (c.points >= 1'000'000 ? "3" : "10");
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return 0;
    char line[512];
    double rate = 0;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        if (const char* at = std::strstr(line, "MBps=")) rate = std::atof(at + 5);
    }
    if (::pclose(pipe) != 0) return 0;
    return rate;
}

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    }
    return -1;
}

// Child process: one 8M-point word transfer, with the resident memory
// before and the high-water mark after.
int MemoryProbe(const std::string& address) {
    std::string model;
    bool connected = false;
    if (!cvn::isConnected(address, false, model, connected)) return 1;
    cvn::gSession->Output(SetupCommands(Case{8'000'000, true}));
    cvn::PreambleBlock pre{};
    cvn::RawData data;
    bool cancel = false;
    const long before = StatusKb("VmRSS:");
    cvn::ReadSourceWaveform(cvn::gSession, data, pre, "CHAN1", cancel);
    const long after = StatusKb("VmHWM:");
    std::printf("probe points=%zu rss_before_kb=%ld hwm_after_kb=%ld\n", cvn::RawDataSize(data),
                before, after);
    return cancel ? 1 : 0;
}

// Starts this program again as the memory probe and reads its report.
bool MeasureMemory(const char* self, long& beforeKb, long& peakKb) {
    const std::string command = "'" + std::string(self) + "' --memory-probe " + gSim->address();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    char line[512];
    bool ok = false;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        long points = 0;
        if (std::sscanf(line, "probe points=%ld rss_before_kb=%ld hwm_after_kb=%ld", &points,
                        &beforeKb, &peakKb) == 3)
            ok = points == 8'000'000;
    }
    return ::pclose(pipe) == 0 && ok;
}

// The add-in's services without any window, and settings in a scratch
// folder, so that the benchmark leaves nothing behind.
std::filesystem::path PrepareEnvironment() {
    const auto home = std::filesystem::temp_directory_path() /
                      ("cvn-waveform-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    cvn::LoadModelTable();
    cvn::ScriptedUi::install();
    cvn::gErrorHandler = std::make_shared<cvn::CErrorHandler>((home / "log").string());
    return home;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path home = PrepareEnvironment();
    if (argc == 3 && std::string(argv[1]) == "--memory-probe") {
        const int rc = MemoryProbe(argv[2]);
        std::filesystem::remove_all(home);
        return rc;
    }

    gSim = std::make_unique<cvn::sim::SimProcess>(std::vector<std::string>{"--model", "MSOHX5104"});
    std::string model;
    bool connected = false;
    if (!cvn::isConnected(gSim->address(), false, model, connected)) {
        std::fprintf(stderr, "waveform_transfer: no simulator at %s\n", gSim->address().c_str());
        return 1;
    }

    gStreamingCommands = cvn::FamilyFragmentCount(model);
    // CVN_BENCH_PROGRESS=1 times the transfers with a block progress
    // callback set (one that does nothing), to show it costs nothing.
    if (const char* p = std::getenv("CVN_BENCH_PROGRESS"); p && std::string(p) == "1") {
        size_t calls = 0;
        cvn::gSession->SetBlockProgress(
            [calls](size_t, size_t) mutable { benchmark::DoNotOptimize(++calls); });
    }

    std::vector<Case> cases;
    for (long points : kSizes) {
        for (bool word : {true, false}) cases.push_back(Case{points, word});
    }
    // The simulator builds each block once and then serves it from memory;
    // build them all before anything is timed.
    {
        PlainSocket warm(gSim->port());
        std::vector<uint8_t> buffer;
        for (const Case& c : cases) {
            warm.Send(SetupCommands(c) + "\n");
            warm.Block(buffer);
        }
    }
    for (const Case& c : cases) {
        for (bool whole : {true, false}) {
            benchmark::RegisterBenchmark(((whole ? "retrieval/" : "query/") + c.name()).c_str(),
                                         BM_Paired, c, whole)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Repetitions(5);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf(
        "\nMB/s (10^6 bytes of payload per second). retrieval: ReadSourceWaveform against the "
        "same exchange\nover a plain socket; query: the data query alone over gSession against "
        "the plain socket.\nRatios are medians of ours/plain taken in the same iteration, over 3 "
        "repetitions.\n");
    std::printf("%-10s %10s %10s %8s %10s %10s %8s %9s %12s\n", "case", "retrieval", "plain",
                "ratio", "query", "plain", "ratio", "pyvisa", "ours/pyvisa");
    bool targetsMet = true;
    for (const Case& c : cases) {
        const Result& whole = gResults["retrieval " + c.name()];
        const Result& query = gResults["query " + c.name()];
        const double pyvisa = PyvisaRate(c);
        const double vsPyvisa = pyvisa > 0 ? whole.ours() / pyvisa : 0;
        std::printf("%-10s %10.1f %10.1f %8.2f %10.1f %10.1f %8.2f %9.1f %12.1f\n",
                    c.name().c_str(), whole.ours(), whole.plain(), whole.ratio(), query.ours(),
                    query.plain(), query.ratio(), pyvisa, vsPyvisa);
        if (c.points >= 1'000'000 && (whole.ratio() < 0.9 || vsPyvisa < 10)) targetsMet = false;
        std::fflush(stdout);
    }
    long beforeKb = 0, peakKb = 0;
    if (MeasureMemory(argv[0], beforeKb, peakKb)) {
        const double growthMb = (peakKb - beforeKb) / 1024.0;
        const double payloadMb = kPayloadTarget / 1024.0 / 1024.0;
        std::printf(
            "\n8M-point WORD transfer: resident %.1f MiB before, peak %.1f MiB, growth "
            "%.1f MiB = %.2f x the %.1f MiB payload (target <= 3)\n",
            beforeKb / 1024.0, peakKb / 1024.0, growthMb, growthMb / payloadMb, payloadMb);
        if (growthMb > 3 * payloadMb) targetsMet = false;
    } else {
        std::printf("\n8M-point WORD transfer: memory probe failed\n");
        targetsMet = false;
    }
    std::printf(
        "targets (from 1M points, retrieval: >= 0.9 x plain, >= 10 x pyvisa; memory <= 3 x): "
        "%s\n",
        targetsMet ? "met" : "NOT met");

    cvn::gSession.reset();
    gSim.reset();
    std::filesystem::remove_all(home);
    return 0;
}
