// The recorder's cost over the transfers it makes. Against the simulator on
// 127.0.0.1, four channels of 1M points (words), 50 acquisitions into one
// HDF5 file, the way `wavecatch record` runs: each iteration times one
// acquisition (arm, wait for the run bit, four transfers, handed to the
// writer, which first finishes the write before); then 50 times the four
// transfers alone (ReadSourceWaveform over the same session, as
// waveform_transfer times them). Reports the medians, their ratio (target
// <= 1.1), the resident memory at acquisitions 10 and 50 (target: at most
// 5 % growth), and, for a second run with keep 5 that waits for each write,
// the most groups the file held after any acquisition (target <= 5). The
// ratio is taken with the file in /dev/shm, where it is the recorder's own
// cost; the same run into the temporary folder on disk is shown beside it.
//
// Every loop is bounded by the acquisition count.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/bench/Recorder.h"
#include "host/formats/Recording.h"
#include "io/IoSession.h"
#include "scope/Connection.h"
#include "sim/launch/SimProcess.h"
#include "support/ErrorHandler.h"
#include "support/ScriptedUi.h"
#include "waveform/WaveformTransfer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kAcquisitions = 50;
const char* const kSources[] = {"CHAN1", "CHAN2", "CHAN3", "CHAN4"};

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Figures {
    double acquisition = 0, transfers = 0;
    long rss10 = 0, rss50 = 0;
    size_t mostKept = 0;
};

// The four transfers alone, as waveform_transfer times them.
double transfersAlone() {
    const auto start = Clock::now();
    for (const char* source : kSources) {
        cvn::RawData data;
        cvn::PreambleBlock block{};
        bool cancel = false;
        cvn::ReadSourceWaveform(cvn::gSession, data, block, source, cancel);
        if (cancel || cvn::RawDataSize(data) != 1'000'000)
            throw std::runtime_error("short transfer");
    }
    return seconds(start);
}

// As `wavecatch record` runs: each acquisition fetched, then handed to the
// writer, whose write overlaps the next acquisition's transfers. With
// `checkKept` every write is waited for and the file's groups counted.
Figures runOnce(const std::string& address, const std::string& file, size_t keep, bool checkKept) {
    cvn::host::RecordRequest request;
    request.target.address = address;
    request.sources.assign(std::begin(kSources), std::end(kSources));
    cvn::host::Retention retention;
    retention.keep = keep;
    cvn::host::RecordFile out(cvn::host::RecordFormat::H5, file, retention, true);
    cvn::host::Recorder recorder(request);
    Figures f;
    std::vector<double> whole, alone;
    {
        cvn::host::RecordWriter writer(out);
        for (int i = 1; i <= kAcquisitions; ++i) {
            const auto start = Clock::now();
            auto a = recorder.Next();
            if (!a) throw std::runtime_error("no acquisition");
            writer.submit(a->sequence, a->triggerTime, std::move(a->result));
            whole.push_back(seconds(start));
            if (checkKept) {
                writer.finish();
                f.mostKept = std::max(f.mostKept, cvn::host::ReadRecording(file, false).size());
            }
            if (i == 10) f.rss10 = residentKb();
            if (i == kAcquisitions) f.rss50 = residentKb();
        }
        writer.finish();
    }
    for (int i = 1; i <= kAcquisitions; ++i) alone.push_back(transfersAlone());
    f.acquisition = median(whole);
    f.transfers = median(alone);
    return f;
}

}  // namespace

int main() {
    const auto home =
        std::filesystem::temp_directory_path() / ("cvn-record-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    cvn::ScriptedUi::install();
    cvn::gErrorHandler = std::make_shared<cvn::CErrorHandler>((home / "log").string());
    int rc = 0;
    try {
        cvn::sim::SimProcess sim({"--model", "MSOHX5104"});
        {
            // All four channels shown, 1M points a transfer.
            cvn::io::IoManager manager;
            auto session = manager.Open(sim.address(), 5000);
            session->Output(
                ":CHAN3:DISP 1;:CHAN4:DISP 1;:WAVeform:POINts:MODE RAW;:WAVeform:POINts 1000000");
            session->Output("*OPC?");
            session->EnterText();
        }
        // In memory the figures are the recorder's own; on disk, once the
        // page cache holds writes back, they are the disk's pace as well
        // (the loopback delivers data faster than most disks take it).
        const std::filesystem::path shm = "/dev/shm";
        const bool haveShm = std::filesystem::is_directory(shm) && ::access("/dev/shm", W_OK) == 0;
        const auto memory = shm / ("cvn-record-bench-" + std::to_string(::getpid()) + ".h5");
        const Figures inMemory =
            haveShm ? runOnce(sim.address(), memory.string(), 0, false) : Figures{};
        std::filesystem::remove(memory);
        const Figures onDisk = runOnce(sim.address(), (home / "all.h5").string(), 0, false);
        const Figures kept = runOnce(sim.address(), (home / "keep5.h5").string(), 5, true);
        const Figures& main = haveShm ? inMemory : onDisk;
        const double ratio = main.acquisition / main.transfers;
        const double growth = 100.0 * (main.rss50 - main.rss10) / main.rss10;
        std::printf("4 x 1M points, %d acquisitions into h5 (medians)\n", kAcquisitions);
        auto line = [](const char* where, const Figures& f) {
            std::printf("  %-22s acquisition %6.1f ms, four transfers alone %6.1f ms, ratio %.3f\n",
                        where, f.acquisition * 1e3, f.transfers * 1e3, f.acquisition / f.transfers);
        };
        if (haveShm) line("into /dev/shm:", inMemory);
        line(("into " + home.string() + ":").c_str(), onDisk);
        std::printf("  ratio %s %.3f (target <= 1.1)\n", haveShm ? "in memory" : "on disk", ratio);
        std::printf("  resident at 10: %.1f MiB, at 50: %.1f MiB, growth %.1f %% (target <= 5)\n",
                    main.rss10 / 1024.0, main.rss50 / 1024.0, growth);
        std::printf("  keep 5: at most %zu groups in the file (target <= 5)\n", kept.mostKept);
        const bool met = ratio <= 1.1 && growth <= 5 && kept.mostKept <= 5;
        std::printf("targets: %s\n", met ? "met" : "NOT met");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "record_bench: %s\n", e.what());
        rc = 1;
    }
    std::filesystem::remove_all(home);
    return rc;
}
