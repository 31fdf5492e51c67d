// Waveform transfer over the two transports that need no network:
//  - USBTMC through the emulated usbtmc driver, answered by the simulated
//    scope in-process: the same 16 MB "I2BE" record as the socket figure, a
//    sanity figure for the transport's per-transfer work (no target);
//  - serial at 115200 baud through the simulator's pseudo-terminal with
//    --paced, against the line's own limit of 11,520 bytes a second (8N1:
//    ten bits a byte); target at least 0.9 of it.
#include "TransportPaths.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "io/IoError.h"
#include "io/IoSession.h"
#include "io/SerialTransport.h"
#include "io/UsbtmcTransport.h"
#include "sim/fronts/UsbtmcEmulation.h"
#include "sim/instrument/Instrument.h"
#include "sim/launch/SimProcess.h"

namespace {

using Seconds = std::chrono::duration<double>;

constexpr long kUsbPoints = 8'000'000;
constexpr int kBaud = 115200;
constexpr double kLineLimit = kBaud / 10.0;  // bytes a second
constexpr long kSerialPoints = 20'000;       // about 1.7 s a transfer at the limit

double gUsbRate = 0;
double gSerialRate = 0;

void BM_UsbtmcEmulatedEnterWords(benchmark::State& state) {
    try {
        cvn::sim::Instrument scope;
        cvn::sim::UsbtmcEmulation usb(scope);
        usb.setMaxTransfer(static_cast<size_t>(state.range(0)));
        cvn::io::IoSession session(
            "/dev/usbtmc-emulated",
            std::make_unique<cvn::io::UsbtmcTransport>(usb.open(), "/dev/usbtmc-emulated"));
        session.SetTimeout(40000);
        session.Output(":WAVeform:POINts:MODE RAW;:WAVeform:POINts " + std::to_string(kUsbPoints) +
                       ";:WAVeform:SOURce CHAN1;:WAVeform:FORMat WORD");
        // The record is made once; the iterations measure its transfer.
        session.Output(":WAVeform:DATA?");
        session.EnterWords();
        const auto start = std::chrono::steady_clock::now();
        for (auto _ : state) {
            session.Output(":WAVeform:DATA?");
            auto words = session.EnterWords();
            benchmark::DoNotOptimize(words.data());
            if (words.size() != static_cast<size_t>(kUsbPoints)) {
                state.SkipWithError("wrong point count");
                return;
            }
        }
        const double bytes = static_cast<double>(state.iterations()) * kUsbPoints * 2;
        const double rate = bytes / Seconds(std::chrono::steady_clock::now() - start).count();
        state.SetBytesProcessed(static_cast<int64_t>(bytes));
        state.counters["MB/s"] = rate / 1e6;
        if (state.range(0) == 0) gUsbRate = rate;
    } catch (const cvn::io::IoError& e) {
        state.SkipWithError(e.what());
    }
}

void BM_SerialPaced115200(benchmark::State& state) {
    try {
        cvn::sim::SimProcess sim({"--pty", "--baud", std::to_string(kBaud), "--paced"});
        const std::string path = sim.ptyPath();
        cvn::io::IoSession session("ASRL" + path + "::INSTR",
                                   std::make_unique<cvn::io::SerialTransport>(path, kBaud));
        session.SetTimeout(20000);
        session.Output(":WAVeform:POINts:MODE RAW;:WAVeform:POINts " +
                       std::to_string(kSerialPoints) +
                       ";:WAVeform:SOURce CHAN1;:WAVeform:FORMat BYTE");
        double bytes = 0;
        const auto start = std::chrono::steady_clock::now();
        for (auto _ : state) {
            session.Output(":WAVeform:DATA?");
            auto data = session.EnterBytes();
            if (data.size() != static_cast<size_t>(kSerialPoints)) {
                state.SkipWithError("wrong point count");
                return;
            }
            // What crossed the line: header, data and line feed.
            bytes +=
                static_cast<double>(data.size() + 2 + std::to_string(kSerialPoints).size() + 1);
        }
        gSerialRate = bytes / Seconds(std::chrono::steady_clock::now() - start).count();
        state.SetBytesProcessed(static_cast<int64_t>(bytes));
        state.counters["kB/s"] = gSerialRate / 1e3;
        state.counters["of line"] = gSerialRate / kLineLimit;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

// 0: the driver returns as much as each read asks for; 4096: transfers of a
// device that ends each after 4 kB, the most reads the transport would see.
BENCHMARK(BM_UsbtmcEmulatedEnterWords)
    ->Arg(0)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK(BM_SerialPaced115200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

namespace iotransfer {

void PrintTransportFigures(double socketRate) {
    if (gUsbRate > 0) {
        std::printf("USBTMC through the emulated driver %.0f MB/s", gUsbRate / 1e6);
        if (socketRate > 0) std::printf(" beside the socket's %.0f MB/s", socketRate / 1e6);
        std::printf(" (sanity figure, no target)\n");
    }
    if (gSerialRate > 0) {
        std::printf(
            "serial %d baud paced: %.2f kB/s of the line's %.2f kB/s = %.2f "
            "(target >= 0.90)\n",
            kBaud, gSerialRate / 1e3, kLineLimit / 1e3, gSerialRate / kLineLimit);
    }
}

}  // namespace iotransfer
