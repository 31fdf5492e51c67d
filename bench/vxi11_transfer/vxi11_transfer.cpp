// Waveform transfer, 1M and 8M points as 16-bit words, from one simulator
// over VXI-11 ("TCPIP::127.0.0.1::INSTR", through liblxi) and over the raw
// SCPI socket, side by side. Prints MB/s per case and the ratio at the end.
//
// The simulator serves VXI-11 on 127.0.0.1 with its portmapper on port 111
// (root, or a running rpcbind); without that the program says why and
// stops. Traffic stays on the loopback interface.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "io/IoError.h"
#include "io/IoSession.h"
#include "sim/launch/SimProcess.h"

namespace {

std::unique_ptr<cvn::sim::SimProcess> gSim;
std::map<std::string, double> gRates;  // "<bus>/<points>" -> best MB/s

cvn::io::IoSessionPtr OpenPrepared(const std::string& address, long points) {
    auto s = cvn::io::IoManager().Open(address);
    s->SetTimeout(120000);
    s->Output(":WAVeform:POINts:MODE RAW;:WAVeform:POINts " + std::to_string(points) +
              ";:WAVEFORM:BYTEORDER MSBFIRST;:WAVeform:FORMat WORD;:WAVeform:SOURce CHAN1");
    s->Output("*OPC?");
    s->EnterText();
    // The first transfer also fills the simulator's waveform cache.
    s->Output(":WAVeform:DATA?");
    s->EnterWords();
    return s;
}

void Transfer(benchmark::State& state, const std::string& bus) {
    const long points = state.range(0);
    const std::string address = bus == "vxi11" ? "TCPIP::127.0.0.1::INSTR" : gSim->address();
    cvn::io::IoSessionPtr session;
    try {
        session = OpenPrepared(address, points);
    } catch (const cvn::io::IoError& e) {
        state.SkipWithError(e.description().c_str());
        return;
    }
    size_t bytes = 0;
    for (auto _ : state) {
        session->Output(":WAVeform:DATA?");
        auto words = session->EnterWords();
        if (words.size() != static_cast<size_t>(points)) {
            state.SkipWithError("short transfer");
            return;
        }
        bytes += words.size() * 2;
        benchmark::DoNotOptimize(words.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MBps"] =
        benchmark::Counter(static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsRate);
}

void BM_Vxi11(benchmark::State& state) {
    Transfer(state, "vxi11");
}
void BM_Socket(benchmark::State& state) {
    Transfer(state, "socket");
}

BENCHMARK(BM_Vxi11)->Arg(1'000'000)->Arg(8'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Socket)->Arg(1'000'000)->Arg(8'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps the rate of every run so the summary can compare the two buses.
class Summary : public benchmark::ConsoleReporter {
public:
    Summary() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            auto it = r.counters.find("MBps");
            if (it == r.counters.end() || r.error_occurred) continue;
            const std::string name = r.benchmark_name();
            const size_t from = name.find('/') + 1;
            const std::string key =
                (name.find("Vxi11") != std::string::npos ? "vxi11/" : "socket/") +
                name.substr(from, name.find('/', from) - from);
            gRates[key] = std::max(gRates[key], it->second.value);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    try {
        gSim = std::make_unique<cvn::sim::SimProcess>(std::vector<std::string>{"--vxi11"});
    } catch (const std::exception& e) {
        std::fprintf(stderr,
                     "vxi11_transfer: cannot start the simulator with VXI-11 (%s); it needs "
                     "port 111 on 127.0.0.1 (root) or a running rpcbind\n",
                     e.what());
        return 1;
    }
    Summary reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* points : {"1000000", "8000000"}) {
        const double v = gRates["vxi11/" + std::string(points)];
        const double s = gRates["socket/" + std::string(points)];
        if (v > 0 && s > 0) {
            std::printf("%s points WORD: VXI-11 %.1f MB/s, socket %.1f MB/s, ratio %.2f\n", points,
                        v, s, v / s);
        }
    }
    gSim.reset();
    benchmark::Shutdown();
    return 0;
}
