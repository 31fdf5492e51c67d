// Whole silent captures against the simulator: the add-in's result codes,
// the data sets the host cuts and scales, and the files it writes.
#include <QImage>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "host/Capture.h"
#include "host/HostFixture.h"
#include "host/formats/SaveCapture.h"
#include "host/qt/GuiApp.h"
#include "io/IoSession.h"
#include "sim/launch/SimProcess.h"
#include "support/AtomicFile.h"
#include "support/SettingsStore.h"

namespace cvn::host::test {
namespace {

constexpr const char* kKey = "Corvane\\Linkara\\WavecatchTest";

class CaptureTest : public HostTest {
protected:
    CaptureTest() : sim_({"--model", "MSOHX5104"}) { EnsureGuiApplication(false); }

    // Stores the capture profile the add-in's dialog would have stored.
    void profile(const std::string& sources, bool screen, bool splitFirstPod = false) {
        const std::string key = SettingsKeyFor(std::string(kKey));
        SaveSetting(key, "Settings", "ActiveChannels", sources);
        SaveSetting(key, "Settings", "Screen", screen ? "1" : "0");
        SaveSetting(key, "Settings", "D0D7", splitFirstPod ? "1" : "0");
    }

    CaptureResult capture() {
        CaptureRequest req;
        req.modulePath = kModulePath;
        req.address = sim_.address();
        req.registryKey = kKey;
        req.points = "1000";
        return RunCapture(req);
    }

    // Columns of a CSV file written by the host, header skipped.
    static std::vector<std::pair<double, double>> readCsv(const std::string& path) {
        std::ifstream in(path);
        std::string line;
        std::getline(in, line);
        std::vector<std::pair<double, double>> rows;
        while (std::getline(in, line)) {
            const size_t comma = line.find(',');
            rows.emplace_back(std::stod(line.substr(0, comma)), std::stod(line.substr(comma + 1)));
        }
        return rows;
    }

    sim::SimProcess sim_;
};

std::vector<int32_t> codesOf(const CaptureResult& r) {
    std::vector<int32_t> codes;
    for (const DataSet& s : r.sets) codes.push_back(s.block.sourceCode);
    return codes;
}

TEST_F(CaptureTest, OneChannelGivesOneScaledDataSet) {
    profile("CHAN1", false);
    const CaptureResult r = capture();
    EXPECT_FALSE(r.cancel);
    EXPECT_EQ(r.dataType, 8);
    EXPECT_EQ(r.actionType, 4);
    EXPECT_EQ(r.model, "MSOHX5104");
    EXPECT_EQ(r.xyDescription, "sec,Volt,sec,ch1");
    ASSERT_EQ(r.preamble.size(), 11u);
    ASSERT_EQ(codesOf(r), std::vector<int32_t>{1});
    EXPECT_TRUE(r.warning.empty()) << r.warning;
    EXPECT_EQ(r.sets[0].raw.size(), static_cast<size_t>(r.sets[0].block.points));

    const std::string dir = home_.root() + "/one";
    const WrittenFiles files = WriteCapture(r, dir);
    EXPECT_FALSE(std::filesystem::exists(dir + "/screen.bmp"));
    const auto rows = readCsv(dir + "/ch1.csv");
    ASSERT_EQ(rows.size(), r.sets[0].raw.size());
    // The simulator's channel 1 is a 1.2 V sine: the scaled values must
    // swing about zero with that amplitude, on a steadily rising time axis.
    double lo = 1e9, hi = -1e9, mean = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        lo = std::min(lo, rows[i].second);
        hi = std::max(hi, rows[i].second);
        mean += rows[i].second / static_cast<double>(rows.size());
        if (i) {
            EXPECT_NEAR(rows[i].first - rows[i - 1].first, r.sets[0].block.xIncrement, 1e-12);
        }
    }
    EXPECT_NEAR(hi, 1.2, 0.1);
    EXPECT_NEAR(lo, -1.2, 0.1);
    EXPECT_NEAR(mean, 0.0, 0.1);
    EXPECT_DOUBLE_EQ(rows[0].first, r.sets[0].block.Time(0));
}

TEST_F(CaptureTest, FirstPodSplitIntoBits) {
    profile("CHAN1", false, true);
    const CaptureResult r = capture();
    EXPECT_FALSE(r.cancel);
    EXPECT_EQ(r.dataType, 64);
    EXPECT_EQ(codesOf(r), (std::vector<int32_t>{1, 100, 101, 102, 103, 104, 105, 106, 107}));
    EXPECT_NE(r.xyDescription.find("sec,byte,sec,D7"), std::string::npos) << r.xyDescription;
    // Every bit set is as long as the pod's data and holds only 0 and 1;
    // the bits of a counting pattern toggle less often the higher they are.
    size_t previousToggles = SIZE_MAX;
    for (size_t b = 1; b < r.sets.size(); ++b) {
        const DataSet& s = r.sets[b];
        ASSERT_EQ(s.raw.size(), r.sets[0].raw.size());
        size_t toggles = 0;
        for (size_t i = 0; i < s.raw.size(); ++i) {
            ASSERT_TRUE(s.raw[i] == 0 || s.raw[i] == 1) << s.name << " " << s.raw[i];
            if (i && s.raw[i] != s.raw[i - 1]) ++toggles;
        }
        EXPECT_GT(toggles, 0u) << s.name;
        EXPECT_LE(toggles, previousToggles) << s.name;
        previousToggles = toggles;
    }
}

TEST_F(CaptureTest, CaptureCommandWritesDataImageAndPlot) {
    profile("CHAN1,CHAN2,POD1", true);
    const std::string dir = home_.root() + "/several";
    const Run r = run({"capture", "--module", kModulePath, "--address", sim_.address(),
                       "--registry-key", kKey, "--points", "1000", "--out", dir, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"dataType\":96"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"actionType\":5"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"source\":\"POD1\",\"code\":8"), std::string::npos) << r.out;
    for (const char* name : {"ch1.csv", "ch2.csv", "pod1.csv", "raw.json"})
        EXPECT_TRUE(std::filesystem::exists(dir + "/" + name)) << name;

    QImage screen(QString::fromStdString(dir + "/screen.bmp"));
    EXPECT_FALSE(screen.isNull());
    QImage plot(QString::fromStdString(dir + "/plot.png"));
    ASSERT_FALSE(plot.isNull());
    EXPECT_GT(plot.width(), 600);
    // No temporary files are left beside the results.
    for (const auto& e : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();

    // Channel 2 is a 0.8 V sine: different data, scaled by its own block.
    const auto rows = readCsv(dir + "/ch2.csv");
    ASSERT_FALSE(rows.empty());
    double hi = -1e9;
    for (const auto& row : rows) hi = std::max(hi, row.second);
    EXPECT_NEAR(hi, 0.8, 0.1);
}

// A source whose transfer fails gets the data of the read before it from
// the add-in; the host names it, writes it nowhere and exits 1. The cells
// aim the simulator's faults at one source.
TEST_F(CaptureTest, AFailedSourceIsNamedAndWrittenNowhere) {
    struct Cell {
        const char* faults;  // simulator commands
        const char* sources;
        bool bits;
        std::vector<std::string> good, failed;
    };
    const Cell cells[] = {
        // The preamble read fails: the set repeats CH1's block and data, so
        // the lengths add up; only the missing transfer tells.
        {":SIM:FAUL:SOUR CHAN2;:SIM:FAUL:BADP ON",
         "CHAN1,CHAN2,POD1",
         false,
         {"ch1", "pod1"},
         {"CH2"}},
        // The pod would hold channel 2's words.
        {":SIM:FAUL:SOUR POD1;:SIM:FAUL:BADP ON",
         "CHAN1,CHAN2,POD1",
         false,
         {"ch1", "ch2"},
         {"POD1"}},
        // Cut in the middle of its block: the link is gone for the pod too.
        {":SIM:FAUL:SOUR CHAN2;:SIM:FAUL:CUT ON",
         "CHAN1,CHAN2,POD1",
         false,
         {"ch1"},
         {"CH2", "POD1"}},
        // A pod delivered only as bits: every bit names the pod's failure.
        {":SIM:FAUL:SOUR POD1;:SIM:FAUL:BADP ON",
         "CHAN1",
         true,
         {"ch1"},
         {"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7"}},
        // Every transfer fails: no file at all, not even the folder.
        {":SIM:FAUL:BADP ON", "CHAN1,CHAN2", false, {}, {"CH1", "CH2"}},
    };
    int n = 0;
    for (const Cell& c : cells) {
        sim::SimProcess sim({"--model", "MSOHX5104"});
        {
            auto side = io::IoManager().Open(sim.address());
            side->Output(c.faults);
            side->Output(":SIMulator:LOG:COUNt?");
            side->EnterText();
        }
        profile(c.sources, false, c.bits);
        const std::string dir = home_.root() + "/failed" + std::to_string(n++);
        const Run r = run({"capture", "--module", kModulePath, "--address", sim.address(),
                           "--registry-key", kKey, "--points", "1000", "--out", dir, "--json"});
        SCOPED_TRACE(c.faults + std::string(" ") + c.sources + "\n" + r.err);
        EXPECT_EQ(r.status, kExitFailed);
        for (const std::string& name : c.failed) {
            const std::string why = c.bits
                                        ? "transfer of POD1 failed (Error retreiving scope data.)"
                                        : "transfer failed (Error retreiving scope data.)";
            EXPECT_NE(r.err.find("wavecatch: " + name + ": " + why + "\n"), std::string::npos)
                << name;
            EXPECT_NE(r.out.find("{\"source\":\"" + name + "\""), std::string::npos) << name;
        }
        std::vector<std::string> written;
        for (const std::string& f : CaptureFilesIn(dir))
            if (f.ends_with(".csv")) written.push_back(f.substr(0, f.size() - 4));
        EXPECT_EQ(written, c.good);
        EXPECT_EQ(std::filesystem::exists(dir), !c.good.empty());
        if (c.good.empty()) continue;
        // raw.json holds the good sets alone, each with its own preamble.
        const std::string json = ReadWholeFile(dir + "/raw.json");
        const size_t failedAt = json.find("\"failed\":[");
        ASSERT_NE(failedAt, std::string::npos);
        for (const std::string& name : c.failed)
            EXPECT_EQ(json.substr(0, failedAt).find("\"source\":\"" + name + "\""),
                      std::string::npos)
                << name;
    }
}

// A scope that sends every block one point short of its preamble: each set
// is cut where its own block ended, never with the next source's samples.
TEST_F(CaptureTest, ShortBlocksAreCutWhereTheyEnded) {
    sim::SimProcess sim({"--model", "MSOHX5104", "--short-data"});
    profile("CHAN1,CHAN2,POD1", false);
    CaptureRequest req;
    req.modulePath = kModulePath;
    req.address = sim.address();
    req.registryKey = kKey;
    req.points = "1000";
    const CaptureResult r = RunCapture(req);
    ASSERT_EQ(codesOf(r), (std::vector<int32_t>{1, 2, 8}));
    EXPECT_TRUE(r.failed.empty());
    for (const DataSet& s : r.sets) {
        EXPECT_EQ(s.raw.size(), 999u) << s.name;
        EXPECT_NE(r.warning.find(s.name + ": 999 points came, the preamble announces 1000"),
                  std::string::npos)
            << r.warning;
    }
    // Channel 2 ends as a 0.8 V sine, not in pod bytes read as volts.
    double hi = 0;
    for (size_t i = 0; i < r.sets[1].raw.size(); ++i)
        hi = std::max(hi, std::fabs(r.sets[1].Value(i)));
    EXPECT_LT(hi, 0.9);
    for (size_t i = 0; i < r.sets[2].raw.size(); ++i)
        ASSERT_TRUE(r.sets[2].raw[i] >= 0 && r.sets[2].raw[i] <= 255) << i;
}

// An earlier capture's folder: refused before anything is fetched; with
// --force a failing capture replaces nothing and names what it kept.
TEST_F(CaptureTest, AFailedCaptureNeverReplacesGoodFiles) {
    profile("CHAN1,CHAN2", false);
    const std::string dir = home_.root() + "/earlier";
    const std::vector<std::string> base = {
        "capture",  "--module", kModulePath, "--address", sim_.address(), "--registry-key", kKey,
        "--points", "1000",     "--out",     dir};
    ASSERT_EQ(run(base).status, 0);
    const std::string ch2 = ReadWholeFile(dir + "/ch2.csv");

    Run r = run(base);
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_NE(r.err.find("holds files of an earlier capture (ch1.csv, ch2.csv, plot.png, "
                         "raw.json)"),
              std::string::npos)
        << r.err;

    {
        auto side = io::IoManager().Open(sim_.address());
        side->Output(":SIM:FAUL:SOUR CHAN2;:SIM:FAUL:BADP ON");
        side->Output(":SIMulator:LOG:COUNt?");
        side->EnterText();
    }
    std::vector<std::string> forced = base;
    forced.push_back("--force");
    r = run(forced);
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_NE(r.out.find("kept:         " + dir + "/ch2.csv"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(dir + "/ch2.csv is from an earlier capture"), std::string::npos) << r.err;
    EXPECT_EQ(ReadWholeFile(dir + "/ch2.csv"), ch2);
    EXPECT_NE(ReadWholeFile(dir + "/ch1.csv"), "time_s,volts\n");
}

TEST_F(CaptureTest, ScopeCommandDrivesTheScopeObject) {
    const std::string m = "--module=" + kModulePath;
    auto scope = [&](std::vector<std::string> action) {
        std::vector<std::string> args = {"scope", m, "--address", sim_.address()};
        args.insert(args.end(), action.begin(), action.end());
        return run(args);
    };
    Run r = scope({"idn"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("channels:     4"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("digital pods: yes"), std::string::npos) << r.out;

    // Each command is its own connection, and the simulator serves each
    // connection on its own thread: a change shows on a later connection
    // once the simulator has read it, so the reading side asks again.
    auto eventually = [&](std::vector<std::string> action, const std::string& expected) {
        std::string last;
        for (int attempt = 0; attempt < 200 && last != expected; ++attempt)
            last = scope(action).out;
        return last;
    };
    EXPECT_EQ(scope({"disp", "CHAN3"}).out, "off\n");
    EXPECT_EQ(scope({"chan", "3", "on"}).status, 0);
    EXPECT_EQ(eventually({"disp", "CHAN3"}, "on\n"), "on\n");
    EXPECT_EQ(scope({"stop"}).status, 0);
    EXPECT_EQ(eventually({"running"}, "stopped\n"), "stopped\n");

    const std::string image = home_.root() + "/screen.bmp";
    r = scope({"bitmap", "--invert", "--out", image});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, image + "\n");
    EXPECT_FALSE(QImage(QString::fromStdString(image)).isNull());

    EXPECT_EQ(scope({"chan", "three", "on"}).status, kExitUsage);
    EXPECT_EQ(run({"scope", m, "--address", "127.0.0.1:1", "idn"}).status, kExitFailed);
}

TEST_F(CaptureTest, NoInstrumentEndsInCancel) {
    profile("CHAN1", false);
    sim_.stop();
    const Run r = run({"capture", "--module", kModulePath, "--address", sim_.address(),
                       "--registry-key", kKey, "--out", home_.root() + "/none"});
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_NE(r.err.find("Cancel"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(home_.root() + "/none"));
}

// The add-in leaves its screen image in the temporary folder for the host;
// it goes with the result, also when the capture fails after it arrived.
TEST_F(CaptureTest, TemporaryImageGoesWithTheResult) {
    profile("CHAN1", true);
    const auto images = [&] {
        size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(tmp_))
            n += e.path().extension() == ".bmp";
        return n;
    };
    sim::SimProcess cut({"--model", "MSOHX5104", "--cut-data"});
    std::ofstream(home_.root() + "/blocker") << "x";
    const std::vector<std::pair<std::string, std::string>> cells = {
        {sim_.address(), home_.root() + "/blocker/out"},  // the files cannot be written
        {cut.address(), home_.root() + "/cut"},           // the transfer failed, the image came
    };
    for (const auto& [address, out] : cells) {
        const Run r = run({"capture", "--module", kModulePath, "--address", address,
                           "--registry-key", kKey, "--points", "1000", "--out", out});
        EXPECT_EQ(images(), 0u) << out << "\n" << r.err;
    }

    // Kept while a copy of the result is.
    std::optional<CaptureResult> copy;
    {
        const CaptureResult r = capture();
        ASSERT_TRUE(r.actionType & 1);
        copy = r;
    }
    ASSERT_TRUE(copy->imageFile);
    EXPECT_TRUE(std::filesystem::exists(copy->bmpPath));
    copy.reset();
    EXPECT_EQ(images(), 0u);
}

TEST_F(CaptureTest, DemoRunsAgainstItsOwnSimulator) {
    const std::string dir = home_.root() + "/demo";
    const Run r = run({"demo", "--module", kModulePath, "--out", dir});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("data type:    96"), std::string::npos) << r.out;
    for (const char* name :
         {"ch1.csv", "ch2.csv", "ch3.csv", "ch4.csv", "pod1.csv", "plot.png", "screen.bmp"})
        EXPECT_TRUE(std::filesystem::exists(dir + "/" + name)) << name;
    // The temporary settings key is cleared again.
    EXPECT_EQ(GetSetting("Corvane\\Linkara\\WavecatchDemo\\Corvane Halvio Series", "Settings",
                         "ActiveChannels", "gone"),
              "gone");
}

TEST_F(CaptureTest, FilesWrittenAreNamedWithTheirFullPaths) {
    // A relative --out, as a user types it: the lines still name full paths.
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(home_.root());
    const Run r = run({"demo", "--module", kModulePath, "--out", "relative"});
    std::filesystem::current_path(before);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    int named = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("wrote:", 0) != 0 && line.rfind("folder:", 0) != 0) continue;
        const std::filesystem::path path = line.substr(line.find_first_not_of(' ', 7));
        EXPECT_TRUE(path.is_absolute()) << line;
        EXPECT_TRUE(std::filesystem::exists(path)) << line;
        ++named;
    }
    EXPECT_GE(named, 8) << r.out;
}

}  // namespace
}  // namespace cvn::host::test

namespace cvn::host::test {

// Every format read back by a reader that is not ours: h5py for HDF5,
// sigrok-cli for the session file and the value change dump. The checker
// compares raw samples, scaling, rate and channel names with raw.json, and
// the session archive's entries with the layout sigrok's reader needs.
TEST_F(CaptureTest, FormatsReadBackByTheirOwnReaders) {
    auto captureAndCheck = [&](const char* sources, const std::string& dir) {
        profile(sources, false);
        const Run r =
            run({"capture", "--module", kModulePath, "--address", sim_.address(), "--registry-key",
                 kKey, "--points", "1000", "--out", dir, "--format", "json,h5,sr,vcd"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir + "/ch1.csv"));
        for (const auto& e : std::filesystem::directory_iterator(dir))
            EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
        const std::string command =
            std::string("/usr/bin/python3 ") + CVN_FORMAT_CHECKER + " '" + dir + "' 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buf[512];
        while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
        EXPECT_EQ(::pclose(pipe), 0) << sources << ": " << out;
    };
    const std::string dir = home_.root() + "/formats";
    captureAndCheck("CHAN1,CHAN2,POD1", dir);
    for (const char* name : {"raw.json", "capture.h5", "capture.sr", "capture.vcd"})
        EXPECT_TRUE(std::filesystem::exists(dir + "/" + name)) << name;
    // Analog channels alone: no vcd (it holds logic lines only), a session
    // file all the same.
    const std::string analog = home_.root() + "/analog";
    captureAndCheck("CHAN1", analog);
    EXPECT_TRUE(std::filesystem::exists(analog + "/capture.sr"));
    EXPECT_FALSE(std::filesystem::exists(analog + "/capture.vcd"));

    // A list with an unknown name is refused before anything is fetched.
    const Run bad = run({"capture", "--module", kModulePath, "--format", "csv,xls"});
    EXPECT_EQ(bad.status, 2) << bad.err;
    EXPECT_NE(bad.err.find("--format"), std::string::npos) << bad.err;
}

// At 50 s a division, 100 points are 0.2 samples a second. sigrok files
// state whole hertz: they are left out, each with its reason on stderr, the
// capture exits 1, the other files are written and nothing half-made stays.
TEST_F(CaptureTest, SigrokFilesAreLeftOutBelowOneHertz) {
    profile("CHAN1,POD1", false);
    ASSERT_EQ(run({"scpi", "--address", sim_.address(), ":TIMebase:SCALe 50;:WAVeform:POINts 100"})
                  .status,
              0);
    const std::string dir = home_.root() + "/slow";
    const Run r =
        run({"capture", "--module", kModulePath, "--address", sim_.address(), "--registry-key",
             kKey, "--points", "100", "--out", dir, "--format", "csv,sr,vcd"});
    EXPECT_EQ(r.status, 1) << r.err;
    for (const char* name : {"capture.sr", "capture.vcd"})
        EXPECT_NE(r.err.find(std::string("wavecatch: ") + name +
                             " not written: the sample rate 0.2 Hz is below 1 Hz"),
                  std::string::npos)
            << r.err;
    std::set<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        files.insert(e.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"ch1.csv", "plot.png", "pod1.csv"}));

    // An earlier session file in the folder is not this capture's: named as kept.
    WriteFileAtomically(dir + "/capture.sr", "earlier");
    const Run again =
        run({"capture", "--module", kModulePath, "--address", sim_.address(), "--registry-key",
             kKey, "--points", "100", "--out", dir, "--format", "csv,sr", "--force"});
    EXPECT_NE(again.err.find("capture.sr is from an earlier capture"), std::string::npos)
        << again.err;
}

}  // namespace cvn::host::test

namespace cvn::host::test {
namespace {

// Output of a shell command with its exit status.
std::pair<int, std::string> Shell(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, ""};
    std::string out;
    char buf[512];
    while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    return {::pclose(pipe), out};
}

// A simulator pod set to the UART pattern carries 8N1 frames of its text on
// D0 at a tenth of the sample rate: decoded from the raw bytes here, and by
// sigrok's own UART decoder from the session file, as PulseView would.
TEST_F(CaptureTest, UartPodDecodesToItsText) {
    sim::SimProcess uart({"--model", "MSOHX5104", "--pod1", "uart:10"});
    profile("POD1", false);
    CaptureRequest req;
    req.modulePath = kModulePath;
    req.address = uart.address();
    req.registryKey = kKey;
    req.points = "1000";
    const CaptureResult r = RunCapture(req);
    ASSERT_EQ(r.sets.size(), 1u);
    const DataSet& pod = r.sets[0];
    ASSERT_GE(pod.raw.size(), 1000u);

    // A receiver's view: wait for a falling edge, then sample each bit in
    // its middle, LSB first, and check the stop bit.
    const std::string expected = "Halvio\r\n";
    auto bit0 = [&](size_t i) { return static_cast<unsigned>(pod.raw[i]) & 1u; };
    std::string text;
    for (size_t i = 1; i + 95 < pod.raw.size() && text.size() < expected.size();) {
        if (bit0(i - 1) == 1 && bit0(i) == 0) {
            unsigned byte = 0;
            for (size_t b = 0; b < 8; ++b) byte |= bit0(i + 15 + 10 * b) << b;
            EXPECT_EQ(bit0(i + 95), 1u) << "stop bit at " << i;
            text += static_cast<char>(byte);
            i += 100;
        } else {
            ++i;
        }
    }
    EXPECT_EQ(text, expected);
    // The other lines stay low.
    for (size_t i = 0; i < pod.raw.size(); ++i)
        ASSERT_EQ(static_cast<unsigned>(pod.raw[i]) & 0xFEu, 0u) << i;

    const std::string dir = home_.root() + "/uart";
    SaveFormats(r, dir, *ParseFormats("sr"));
    const long baud = std::lround(1.0 / (pod.block.xIncrement * 10));
    const auto [status, out] = Shell("sigrok-cli -i '" + dir +
                                     "/capture.sr' -P uart:rx=D0:baudrate=" + std::to_string(baud) +
                                     " -A uart=rx-data 2>&1");
    ASSERT_EQ(status, 0) << out;
    // One line per byte, its value in hex: "uart-1: 48".
    std::string decoded;
    for (size_t at = 0; (at = out.find("uart-1: ", at)) != std::string::npos; at += 8)
        decoded += static_cast<char>(std::stoi(out.substr(at + 8, 2), nullptr, 16));
    EXPECT_NE(decoded.find(expected), std::string::npos) << out;
}

}  // namespace
}  // namespace cvn::host::test
