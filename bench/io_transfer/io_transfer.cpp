// Waveform block transfer over loopback: IoSession against a plain blocking
// recv() loop, both reading the same 16 MB "I2BE" reply (8,000,000 points);
// then the USBTMC and serial paths (TransportPaths.cpp).
//
// The peer is an in-process server thread that answers ":WAVeform:DATA?"
// from a prepared buffer, so the figures measure the client side only and
// do not depend on how fast any simulator produces data. The ratio
// IoSession / plain is printed at the end; it should stay at 0.9 or above.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TransportPaths.h"
#include "io/IoError.h"
#include "io/IoSession.h"

namespace {

constexpr size_t kPoints = 8'000'000;
constexpr size_t kDataBytes = kPoints * 2;
constexpr const char* kQuery = ":WAVeform:DATA?";

// Answers every ":WAVeform:DATA?" line with "#8" + 16000000 bytes + "\n".
// Sends only in reply to a query, so it stops when the client does.
class BlockServer {
public:
    BlockServer() {
        reply_ = "#8" + std::to_string(kDataBytes);
        size_t header = reply_.size();
        reply_.resize(header + kDataBytes + 1);
        uint32_t x = 12345;
        for (size_t i = header; i < header + kDataBytes; ++i) {
            x = x * 1103515245u + 12345u;  // any bytes, line feeds included
            reply_[i] = static_cast<char>(x >> 24);
        }
        reply_.back() = '\n';

        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
            ::listen(listen_, 4) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            std::perror("io_transfer: cannot listen on 127.0.0.1");
            std::exit(1);
        }
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }

    ~BlockServer() {
        ::shutdown(listen_, SHUT_RDWR);
        acceptor_.join();
        for (auto& t : clients_) t.join();
        ::close(listen_);
    }

    uint16_t port() const { return port_; }
    size_t replySize() const { return reply_.size(); }

private:
    void acceptLoop() {
        for (;;) {
            int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) return;
            clients_.emplace_back([this, fd] { serve(fd); });
        }
    }

    void serve(int fd) {
        std::string line;
        char buf[256];
        for (;;) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] != '\n') {
                    line += buf[i];
                    continue;
                }
                if (line == kQuery && !sendAll(fd)) {
                    ::close(fd);
                    return;
                }
                line.clear();
            }
        }
        ::close(fd);
    }

    bool sendAll(int fd) {
        size_t sent = 0;
        while (sent < reply_.size()) {
            ssize_t n = ::send(fd, reply_.data() + sent, reply_.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    std::string reply_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> clients_;
};

BlockServer* gServer = nullptr;
double gRatio = 0;        // median IoSession/plain rate of the paired runs
double gSessionRate = 0;  // bytes per second, from the separate runs
double gPlainRate = 0;

using Seconds = std::chrono::duration<double>;

// The floor: a blocking socket and one buffer sized for the whole reply,
// filled by recv() until the known reply size has arrived. No parsing, no
// byte swap.
class PlainClient {
public:
    PlainClient() : buffer_(gServer->replySize()) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(gServer->port());
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~PlainClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    bool transfer() {
        static const std::string query = std::string(kQuery) + "\n";
        ::send(fd_, query.data(), query.size(), MSG_NOSIGNAL);
        size_t got = 0;
        while (got < buffer_.size()) {
            ssize_t n = ::recv(fd_, buffer_.data() + got, buffer_.size() - got, 0);
            if (n <= 0) return false;
            got += static_cast<size_t>(n);
        }
        benchmark::DoNotOptimize(buffer_.data());
        return true;
    }

private:
    int fd_ = -1;
    std::vector<uint8_t> buffer_;
};

// What the add-in does: query, then "I2BE" into a fresh vector of points.
class SessionClient {
public:
    SessionClient() {
        session_ = cvn::io::IoManager().Open("127.0.0.1:" + std::to_string(gServer->port()));
        session_->SetTimeout(40000);
    }
    bool transferBytes() {
        session_->Output(kQuery);
        auto bytes = session_->EnterBytes();
        benchmark::DoNotOptimize(bytes.data());
        return bytes.size() == kDataBytes;
    }
    bool transfer() {
        session_->Output(kQuery);
        auto words = session_->EnterWords();
        benchmark::DoNotOptimize(words.data());
        return words.size() == kPoints;
    }

private:
    cvn::io::IoSessionPtr session_;
};

void reportRate(benchmark::State& state, Seconds elapsed, double& rate) {
    double bytes = static_cast<double>(state.iterations()) * kDataBytes;
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    rate = bytes / elapsed.count();
    state.counters["MB/s"] = rate / 1e6;
}

void BM_IoSessionEnterWords(benchmark::State& state) {
    try {
        SessionClient client;
        auto start = std::chrono::steady_clock::now();
        for (auto _ : state) {
            if (!client.transfer()) {
                state.SkipWithError("wrong point count");
                return;
            }
        }
        reportRate(state, std::chrono::steady_clock::now() - start, gSessionRate);
    } catch (const cvn::io::IoError& e) {
        state.SkipWithError(e.what());
    }
}

// The same block as "I1" bytes: the framing cost without the byte swap.
void BM_IoSessionEnterBytes(benchmark::State& state) {
    try {
        SessionClient client;
        double unused = 0;
        auto start = std::chrono::steady_clock::now();
        for (auto _ : state) {
            if (!client.transferBytes()) {
                state.SkipWithError("wrong byte count");
                return;
            }
        }
        reportRate(state, std::chrono::steady_clock::now() - start, unused);
    } catch (const cvn::io::IoError& e) {
        state.SkipWithError(e.what());
    }
}

void BM_PlainRecvLoop(benchmark::State& state) {
    PlainClient client;
    if (!client.ok()) {
        state.SkipWithError("connect failed");
        return;
    }
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!client.transfer()) {
            state.SkipWithError("recv failed");
            return;
        }
    }
    reportRate(state, std::chrono::steady_clock::now() - start, gPlainRate);
}

// Both clients in turn within each iteration, so that changes in machine
// load hit both alike; the ratio is the median of the per-iteration ratios.
void BM_PairedRatio(benchmark::State& state) {
    try {
        PlainClient plain;
        SessionClient session;
        std::vector<double> ratios;
        for (auto _ : state) {
            auto t0 = std::chrono::steady_clock::now();
            bool ok = plain.transfer();
            auto t1 = std::chrono::steady_clock::now();
            ok = session.transfer() && ok;
            auto t2 = std::chrono::steady_clock::now();
            if (!ok) {
                state.SkipWithError("transfer failed");
                return;
            }
            ratios.push_back(Seconds(t1 - t0) / Seconds(t2 - t1));
        }
        std::sort(ratios.begin(), ratios.end());
        gRatio = ratios[ratios.size() / 2];
        state.counters["IoSession/plain"] = gRatio;
    } catch (const cvn::io::IoError& e) {
        state.SkipWithError(e.what());
    }
}

BENCHMARK(BM_PlainRecvLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_IoSessionEnterWords)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_IoSessionEnterBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_PairedRatio)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    BlockServer server;
    gServer = &server;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gSessionRate > 0 && gPlainRate > 0) {
        std::printf("IoSession %.0f MB/s, plain recv() %.0f MB/s (separate runs, ratio %.2f)\n",
                    gSessionRate / 1e6, gPlainRate / 1e6, gSessionRate / gPlainRate);
    }
    if (gRatio > 0) {
        std::printf("IoSession/plain, paired median: %.2f (target >= 0.90)\n", gRatio);
    }
    iotransfer::PrintTransportFigures(gSessionRate);
    gServer = nullptr;
    return 0;
}
