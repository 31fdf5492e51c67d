// wavecatch record against the simulator: the groups it writes hold what
// the simulator sent for each acquisition, retention keeps only the newest,
// and failures and signals leave every finished acquisition readable.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonObject>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host/formats/Recording.h"
#include "sim/instrument/WaveformData.h"
#include "sim/launch/SimProcess.h"
#include "tests/host/HostFixture.h"

namespace cvn::host::test {
namespace {

namespace fs = std::filesystem;
constexpr const char* kModel = "MSOHX5104";
constexpr int kPhaseStep = 10;

// The raw values the simulator sends for a source after `acquisitions`.
std::vector<double> simulated(long acquisitions, sim::Source source) {
    sim::ScopeState s(sim::ModelInfo::FromTable(kModel));
    s.faults.acquirePhaseStepDeg = kPhaseStep;
    for (long i = 0; i < acquisitions; ++i) s.Acquire();
    s.source = source;
    s.format = source.kind == sim::SourceKind::Pod ? sim::WaveFormat::Byte : sim::WaveFormat::Word;
    sim::WaveformCache cache;
    const std::string block = *cache.Block(s);
    const size_t digits = static_cast<size_t>(block[1] - '0');
    const auto* data = reinterpret_cast<const uint8_t*>(block.data() + 2 + digits);
    const size_t length = block.size() - 2 - digits;
    std::vector<double> values;
    if (s.format == sim::WaveFormat::Byte) return {data, data + length};
    for (size_t i = 0; i + 1 < length; i += 2)
        values.push_back(static_cast<int16_t>(data[i] << 8 | data[i + 1]));
    return values;
}

class RecordTest : public HostTest {
protected:
    Run record(const sim::SimProcess& sim, std::vector<std::string> args) {
        args.insert(args.begin(), {"record", "--address", sim.address()});
        return run(args);
    }
    // A recording that must succeed.
    void recorded(const sim::SimProcess& sim, std::vector<std::string> args) {
        const Run r = record(sim, std::move(args));
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::string path(const std::string& name) const { return tmp_ + "/" + name; }
};

TEST_F(RecordTest, EachGroupHoldsWhatTheSimulatorSentForItsAcquisition) {
    // The scope's own reply forms of the run state, and an acquisition that
    // takes its time, so the wait is really exercised.
    for (const char* form : {"plain", "signed", "crlf"}) {
        SCOPED_TRACE(form);
        sim::SimProcess sim({"--model", kModel, "--acquire-ms", "30", "--acquire-phase-step",
                             std::to_string(kPhaseStep), "--status-form", form});
        const std::string file = path(std::string("r-") + form + ".h5");
        const Run r =
            record(sim, {"--sources", "CHAN1,ch2,POD1", "--count", "5", "--out", file, "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("recorded 5 acquisitions"), std::string::npos) << r.err;
        const std::vector<RecordedAcquisition> groups = ReadRecording(file, true);
        ASSERT_EQ(groups.size(), 5u);
        for (size_t i = 0; i < groups.size(); ++i) {
            const RecordedAcquisition& g = groups[i];
            EXPECT_EQ(g.sequence, i + 1);
            EXPECT_EQ(g.model, kModel);
            if (i > 0) {
                EXPECT_GT(g.triggerTime, groups[i - 1].triggerTime);
            }
            ASSERT_EQ(g.sets.size(), 3u);
            const std::pair<const char*, sim::Source> expected[] = {
                {"CH1", {sim::SourceKind::Channel, 1}},
                {"CH2", {sim::SourceKind::Channel, 2}},
                {"POD1", {sim::SourceKind::Pod, 1}}};
            for (const auto& [name, source] : expected) {
                const auto set = std::find_if(g.sets.begin(), g.sets.end(),
                                              [&](const auto& s) { return s.first == name; });
                ASSERT_NE(set, g.sets.end()) << name;
                EXPECT_EQ(set->second, simulated(static_cast<long>(i + 1), source))
                    << g.group << "/" << name;
            }
        }
        EXPECT_NE(groups[0].sets[0].second, groups[1].sets[0].second);
        // One line per acquisition on stdout.
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5) << r.out;
        EXPECT_NE(r.out.find("{\"sequence\":5,"), std::string::npos) << r.out;
        // show reads the recording back: its acquisitions in order, their points.
        const Run shown = run({"show", file, "--json"});
        ASSERT_EQ(shown.status, 0) << shown.err;
        const QJsonArray listed = json(shown.out).object()["acquisitions"].toArray();
        ASSERT_EQ(listed.size(), 5);
        for (int i = 0; i < 5; ++i) {
            const QJsonObject a = listed[i].toObject();
            EXPECT_EQ(a["group"].toString().toStdString(), AcquisitionName(i + 1));
            EXPECT_EQ(a["trigger_time"].toString().toStdString(), groups[i].triggerTime);
            EXPECT_EQ(a["sources"].toArray()[2].toObject()["points"].toInt(),
                      static_cast<int>(groups[i].sets[2].second.size()));
        }
        EXPECT_NE(run({"show", file}).out.find("5 acquisitions kept, acq-000001 to acq-000005"),
                  std::string::npos);
    }
}

TEST_F(RecordTest, RetentionKeepsTheNewestAndOnlyRemovesItsOwn) {
    sim::SimProcess sim({"--model", kModel});
    // h5: the newest two groups, and a file that stops growing.
    recorded(sim,
             {"--sources", "CHAN1,POD1", "--count", "5", "--keep", "2", "--out", path("k5.h5")});
    recorded(sim,
             {"--sources", "CHAN1,POD1", "--count", "40", "--keep", "2", "--out", path("k40.h5")});
    std::vector<uint64_t> kept;
    for (const RecordedAcquisition& g : ReadRecording(path("k40.h5"), false))
        kept.push_back(g.sequence);
    EXPECT_EQ(kept, (std::vector<uint64_t>{39, 40}));
    EXPECT_LT(fs::file_size(path("k40.h5")), fs::file_size(path("k5.h5")) * 3 / 2);
    // A size limit drops the oldest until the kept ones fit.
    recorded(sim,
             {"--sources", "CHAN1", "--count", "20", "--max-size", "12k", "--out", path("m.h5")});
    const auto limited = ReadRecording(path("m.h5"), false);
    EXPECT_LT(limited.size(), 20u);
    EXPECT_EQ(limited.back().sequence, 20u);
    // sr: one session per acquisition; files of others stay.
    const std::string folder = path("sessions");
    fs::create_directories(folder);
    std::ofstream(folder + "/notes.txt") << "mine";
    std::ofstream(folder + "/acq-9.txt") << "mine too";
    recorded(sim, {"--sources", "CHAN1,POD1", "--count", "5", "--keep", "2", "--format", "sr",
                   "--out", folder});
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename());
    EXPECT_EQ(names,
              (std::set<std::string>{"acq-000004.sr", "acq-000005.sr", "acq-9.txt", "notes.txt"}));
    // An earlier recording is never replaced without --force.
    const Run again = record(sim, {"--count", "1", "--out", path("k5.h5")});
    EXPECT_EQ(again.status, kExitFailed);
    EXPECT_NE(again.err.find("--force"), std::string::npos) << again.err;
    EXPECT_EQ(ReadRecording(path("k5.h5"), false).size(), 2u);
}

TEST_F(RecordTest, FailuresEndWithAClearErrorAndKeepTheFinishedGroups) {
    struct Cell {
        std::vector<std::string> simArgs;
        std::vector<std::string> recordArgs;
        const char* message;
        size_t atLeastKept;
    };
    const Cell cells[] = {
        {{"--never-trigger"}, {"--trigger-timeout", "0.3"}, "did not trigger within 0.3", 0},
        {{"--drop-after", "80"}, {}, "failed", 1},
        {{}, {"--max-size", "1k"}, "more than --max-size allows", 0},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> simArgs = {"--model", kModel};
        simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
        sim::SimProcess sim(simArgs);
        const std::string file = path("f.h5");
        fs::remove(file);
        std::vector<std::string> args = {"--sources", "CHAN1,CHAN2", "--count",
                                         "50",        "--out",       file};
        args.insert(args.end(), c.recordArgs.begin(), c.recordArgs.end());
        const Run r = record(sim, args);
        EXPECT_EQ(r.status, kExitFailed);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("stopped by the failure"), std::string::npos) << r.err;
        // The failure names the first acquisition the file does not hold.
        const auto groups =
            fs::exists(file) ? ReadRecording(file, true) : std::vector<RecordedAcquisition>{};
        EXPECT_NE(r.err.find("acquisition " + std::to_string(groups.size() + 1) + " failed"),
                  std::string::npos)
            << r.err;
        ASSERT_GE(groups.size(), c.atLeastKept);
        EXPECT_LT(groups.size(), 50u);
        for (size_t i = 0; i < groups.size(); ++i) {
            EXPECT_EQ(groups[i].sequence, i + 1);
            EXPECT_EQ(groups[i].sets[0].second.size(), 1000u);
        }
    }
}

TEST_F(RecordTest, SignalEndsAfterTheCurrentAcquisitionWithAValidFile) {
    sim::SimProcess sim({"--model", kModel, "--acquire-ms", "20"});
    const std::string file = path("sig.h5");
    const std::string log = path("sig.out");
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::execl(CVN_WAVECATCH_PATH, "wavecatch", "record", "--address", sim.address().c_str(),
                "--sources", "CHAN1", "--out", file.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(child, 0);
    // Read while it grows, until it holds a few groups (bounded).
    size_t seen = 0;
    for (int i = 0; i < 400 && seen < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        try {
            seen = ReadRecording(file, true).size();
        } catch (const Error&) {
            // Not made yet, or held by the writer for a moment.
        }
    }
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_GE(seen, 3u);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream in(log);
    const std::string output((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(output.find("stopped by a signal"), std::string::npos) << output;
    const auto groups = ReadRecording(file, true);
    ASSERT_GE(groups.size(), seen);
    for (size_t i = 0; i < groups.size(); ++i) EXPECT_EQ(groups[i].sequence, i + 1);
}

TEST(RecordSizes, ByteSizesAsUsersWriteThem) {
    const std::pair<const char*, std::optional<uint64_t>> cells[] = {
        {"500M", 500ull << 20}, {"2G", 2ull << 30},    {"64k", 64ull << 10},  {"1000", 1000},
        {"3MiB", 3ull << 20},   {"10MB", 10ull << 20}, {"0", std::nullopt},   {"", std::nullopt},
        {"5X", std::nullopt},   {"-1M", std::nullopt}, {"1.5G", std::nullopt}};
    for (const auto& [text, bytes] : cells) EXPECT_EQ(ParseByteSize(text), bytes) << text;
}

}  // namespace
}  // namespace cvn::host::test
