// A whole four-channel capture as a user makes it: the built host program
// `wavecatch capture` run as a child process against one simulator, with a
// settings key that lists CHAN1..CHAN4 (all shown on the scope) and the
// screen image, and a numeric point count, so no question is asked. Beside
// it, taking turns within every round, the same job written the way a user
// writes it with Debian's pyvisa-py and NumPy (pyvisa_peer.py: the four
// transfers, scaling with the preamble, numpy.savetxt, the screen image).
//
// Prints per output format the best wall time, the wall time without the
// driver's fixed 1 s settle wait, and the peak memory (ru_maxrss from
// wait4) above the program's own baseline (the same capture without
// waveform data), with the targets:
//   1M points, CSV: (capture - 1 s) at least 10x faster than the peer;
//   8M points: peak at most 2x the raw payload above the baseline; wall
//   minus 1 s at most 3 s with CSV and 0.5 s with h5 or sr.
//
//   4 x 1M points, h5 with extras (--extras): the extras (the scope's
//   identification, setup, measurements and image) cost at most 0.1 s
//   beyond the same capture with --no-extras.
//
//   capture_bench [--points N] [--repeat N] [--format LIST]... [--peer|--no-peer]
//                 [--extras]
//
// --extras adds, for each LIST with h5, the same capture with --no-extras.
// Default: 1M points, CSV, with the peer; above 1M points csv, h5 and sr
// without the peer (add --peer: it takes minutes there). Traffic stays on
// 127.0.0.1. Settings, output and temporary files go to a private home
// that is removed at the end.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/IoSession.h"
#include "sim/launch/SimProcess.h"
#include "support/AppKey.h"
#include "support/SettingsStore.h"

#ifndef WAVECATCH_PATH
#define WAVECATCH_PATH "wavecatch"
#endif
#ifndef ADDIN_MODULE_PATH
#define ADDIN_MODULE_PATH "libcvnWCHalv.so"
#endif
#ifndef PYVISA_PEER
#define PYVISA_PEER "pyvisa_peer.py"
#endif

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kRegistryKey = "Bench\\Capture";

struct ChildRun {
    double seconds = 0;
    long maxRssKiB = 0;
    int status = -1;
};

// Runs argv with stdout and stderr to logPath; times it and takes its peak
// memory from wait4.
ChildRun Spawn(const std::vector<std::string>& args, const std::string& logPath) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    ChildRun run;
    const auto start = Clock::now();
    pid_t pid = -1;
    const int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) throw std::runtime_error("cannot start " + args[0]);
    rusage usage{};
    while (wait4(pid, &run.status, 0, &usage) < 0) {
        if (errno != EINTR) throw std::runtime_error("wait4 failed");
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.maxRssKiB = usage.ru_maxrss;
    return run;
}

std::string Query(const std::string& address, const std::string& commands,
                  const std::string& query) {
    auto s = cvn::io::IoManager().Open(address);
    if (!commands.empty()) s->Output(commands);
    s->Output(query);
    return s->EnterText();
}

long Option(int argc, char** argv, const std::string& name, long def) {
    for (int i = 1; i + 1 < argc; ++i)
        if (argv[i] == name) return std::strtol(argv[i + 1], nullptr, 10);
    return def;
}

bool Flag(int argc, char** argv, const std::string& name) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] == name) return true;
    return false;
}

std::vector<std::string> Formats(int argc, char** argv, long points) {
    std::vector<std::string> formats;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--format") formats.push_back(argv[i + 1]);
    if (formats.empty()) {
        formats.push_back("csv");
        if (points > 1000000) {
            formats.push_back("h5");
            formats.push_back("sr");
        }
    }
    return formats;
}

constexpr double kSettleSeconds = 1.0;

struct Best {
    double seconds = 0;
    long peakKiB = 0;
    int runs = 0;
    void add(const ChildRun& r) {
        if (runs++ == 0 || r.seconds < seconds) seconds = r.seconds;
        peakKiB = std::max(peakKiB, r.maxRssKiB);
    }
};

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

void Fail(const std::string& what, const fs::path& log) {
    std::cerr << "capture_bench: " << what << "; its output:\n" << std::ifstream(log).rdbuf();
    throw std::runtime_error(what);
}

// Marks a format list run with --no-extras.
constexpr const char* kNoExtras = " --no-extras";

int Run(const fs::path& home, long points, long repeat, const std::vector<std::string>& formats,
        bool peer) {
    cvn::sim::SimProcess sim;
    const std::string address = sim.address();
    // The simulator sends min(requested, what its record offers) points;
    // beyond 1M the record of the maximum points mode.
    const std::string got =
        Query(address,
              ":CHAN1:DISP ON;:CHAN2:DISP ON;:CHAN3:DISP ON;:CHAN4:DISP ON;:WAVeform:POINts:MODE " +
                  std::string(points > 1000000 ? "MAXimum" : "NORMal") + ";:WAVeform:POINts " +
                  std::to_string(points),
              ":WAVeform:POINts?");
    if (std::stol(got) != points) {
        std::cerr << "capture_bench: the simulator offers " << got << " points, not " << points
                  << "\n";
        return 1;
    }

    // The capture's key, and the baseline's: the same program and image
    // without waveform data.
    const std::string baselineKey = std::string(kRegistryKey) + "Baseline";
    for (const auto& [k, waveform] :
         {std::pair{std::string(kRegistryKey), "1"}, std::pair{baselineKey, "0"}}) {
        const std::pair<const char*, std::string> settings[] = {
            {"Corvane Halvio Series", address},
            {"ActiveChannels", "CHAN1,CHAN2,CHAN3,CHAN4"},
            {"Number Points", std::to_string(points)},
            {"Screen", "1"},
            {"InvertColor", "0"},
            {"Waveform", waveform},
            {"MakeNewAcquisition", "0"},
            {"D0D7", "0"},
            {"D8D15", "0"}};
        for (const auto& [name, value] : settings)
            cvn::SaveSetting(k + "\\Corvane Halvio Series", cvn::kSettingsSection, name, value);
    }

    auto capture = [&](const std::string& key, std::string format) {
        const fs::path out = home / "out";
        const fs::path log = home / "capture.log";
        std::vector<std::string> args = {
            WAVECATCH_PATH, "capture",         "--registry-key", key,
            "--module",     ADDIN_MODULE_PATH, "--out",          out.string()};
        if (const size_t at = format.find(kNoExtras); at != std::string::npos) {
            format.erase(at);
            args.emplace_back("--no-extras");
        }
        args.insert(args.end(), {"--format", format});
        const ChildRun run = Spawn(args, log.string());
        if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0)
            Fail("the capture (" + format + ") failed", log);
        fs::remove_all(out);
        return run;
    };
    auto peerRun = [&]() {
        const fs::path out = home / "peer";
        const fs::path log = home / "peer.log";
        const ChildRun run =
            Spawn({"/usr/bin/python3", PYVISA_PEER, "--port", std::to_string(sim.port()),
                   "--points", std::to_string(points), "--out", out.string()},
                  log.string());
        if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0)
            Fail("the pyvisa-py peer failed", log);
        fs::remove_all(out);
        return run;
    };

    Best baseline;
    std::vector<Best> ours(formats.size());
    Best theirs;
    for (long i = 0; i < repeat; ++i) {
        // Turns alternate who goes first, so neither always meets a warm
        // or a cold cache.
        if (peer && i % 2 == 1) theirs.add(peerRun());
        for (size_t f = 0; f < formats.size(); ++f) ours[f].add(capture(kRegistryKey, formats[f]));
        if (peer && i % 2 == 0) theirs.add(peerRun());
        baseline.add(capture(baselineKey, "json"));
    }

    const double payloadMiB = 4.0 * points * 2 / 1048576.0;
    std::printf(
        "4 channels x %ld points (%.1f MiB of words) + screen image, best of %ld, load %s\n",
        points, payloadMiB, repeat, LoadAverage().c_str());
    std::printf("%-44s %8s %9s %10s %16s\n", "", "wall s", "- 1 s", "peak MiB", "above baseline");
    for (size_t f = 0; f < formats.size(); ++f) {
        const double above = (ours[f].peakKiB - baseline.peakKiB) / 1024.0;
        std::printf("%-44s %8.3f %9.3f %10.1f %9.1f (%.2fx)\n",
                    ("wavecatch capture --format " + formats[f]).c_str(), ours[f].seconds,
                    ours[f].seconds - kSettleSeconds, ours[f].peakKiB / 1024.0, above,
                    above / payloadMiB);
    }
    std::printf("%-44s %8.3f %9s %10.1f\n", "baseline (image and plot only)", baseline.seconds, "",
                baseline.peakKiB / 1024.0);
    if (peer)
        std::printf("%-44s %8.3f %9s %10.1f\n", "pyvisa-py + NumPy + savetxt peer", theirs.seconds,
                    "", theirs.peakKiB / 1024.0);

    std::printf("targets:\n");
    for (size_t f = 0; f < formats.size(); ++f) {
        const double work = ours[f].seconds - kSettleSeconds;
        const double above = (ours[f].peakKiB - baseline.peakKiB) / 1024.0;
        const bool csv = formats[f].find("csv") != std::string::npos;
        for (size_t g = 0; g < formats.size(); ++g)
            if (formats[g] == formats[f] + kNoExtras) {
                const double cost = ours[f].seconds - ours[g].seconds;
                std::printf("  %s: extras cost %.3f s (<= 0.1 s): %s\n", formats[f].c_str(), cost,
                            cost <= 0.1 ? "met" : "NOT met");
            }
        if (peer && csv && points <= 1000000) {
            const double ratio = theirs.seconds / work;
            std::printf("  %s: peer / (capture - 1 s) = %.1f (>= 10): %s\n", formats[f].c_str(),
                        ratio, ratio >= 10 ? "met" : "NOT met");
        }
        if (points > 1000000) {
            const double limit = csv ? 3.0 : 0.5;
            std::printf("  %s: capture - 1 s = %.2f s (<= %.1f s): %s\n", formats[f].c_str(), work,
                        limit, work <= limit ? "met" : "NOT met");
            std::printf("  %s: peak above baseline = %.2fx the payload (<= 2x): %s\n",
                        formats[f].c_str(), above / payloadMiB,
                        above <= 2 * payloadMiB ? "met" : "NOT met");
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const long points = Option(argc, argv, "--points", 1000000);
    const long repeat = Option(argc, argv, "--repeat", 3);
    if (points < 100 || repeat < 1) {
        std::cerr << "usage: capture_bench [--points N] [--repeat N] [--format LIST]... "
                     "[--peer|--no-peer] [--extras]\n";
        return 2;
    }
    std::vector<std::string> formats = Formats(argc, argv, points);
    if (Flag(argc, argv, "--extras"))
        for (size_t f = 0, n = formats.size(); f < n; ++f)
            if (formats[f].find("h5") != std::string::npos)
                formats.push_back(formats[f] + kNoExtras);
    const bool peer =
        Flag(argc, argv, "--peer") || (points <= 1000000 && !Flag(argc, argv, "--no-peer"));
    std::string home = (fs::temp_directory_path() / "cvn-capture-XXXXXX").string();
    if (::mkdtemp(home.data()) == nullptr) return 2;
    for (const char* var :
         {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"})
        ::setenv(var, home.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int result = 1;
    try {
        result = Run(home, points, repeat, formats, peer);
    } catch (const std::exception& e) {
        std::cerr << "capture_bench: " << e.what() << "\n";
    }
    std::error_code ignored;
    fs::remove_all(home, ignored);
    return result;
}
