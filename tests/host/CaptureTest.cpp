// Whole silent captures against the simulator: the add-in's result codes,
// the data sets the host cuts and scales, and the files it writes.
#include <QImage>
#include <cmath>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "host/Capture.h"
#include "host/HostFixture.h"
#include "host/formats/SaveCapture.h"
#include "host/qt/GuiApp.h"
#include "sim/launch/SimProcess.h"
#include "support/AtomicFile.h"

namespace cvn::host::test {
namespace {

namespace fs = std::filesystem;
constexpr const char* kKey = "Corvane\\Linkara\\WavecatchTest";

class CaptureTest : public HostTest {
protected:
    CaptureTest() { EnsureGuiApplication(false); }

    CaptureResult capture(const std::string& address) {
        CaptureRequest req;
        req.modulePath = kModulePath;
        req.address = address;
        req.registryKey = kKey;
        req.points = "1000";
        return RunCapture(req);
    }
    Run captureCommand(const std::string& dir, std::vector<std::string> extra = {}) {
        return run(captureArgs(sim_.address(), kKey, dir, std::move(extra)));
    }
    // The second column of a CSV file written by the host, header skipped,
    // and whether its first column steps by `dt`.
    static std::vector<double> csvValues(const std::string& path, double dt = 0) {
        std::istringstream in(ReadWholeFile(path));
        std::string line;
        std::getline(in, line);
        std::vector<double> values;
        for (double t, last = NAN; std::getline(in, line); last = t) {
            t = std::stod(line);
            values.push_back(std::stod(line.substr(line.find(',') + 1)));
            if (dt && !std::isnan(last)) {
                EXPECT_NEAR(t - last, dt, 1e-12);
            }
        }
        return values;
    }
    static std::set<std::string> filesIn(const std::string& dir) {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
        return names;
    }

    sim::SimProcess sim_{{"--model", "MSOHX5104"}};
};

std::vector<int32_t> codesOf(const CaptureResult& r) {
    std::vector<int32_t> codes;
    for (const DataSet& s : r.sets) codes.push_back(s.block.sourceCode);
    return codes;
}

TEST_F(CaptureTest, OneChannelGivesOneScaledDataSet) {
    profile(kKey, "CHAN1", false);
    const CaptureResult r = capture(sim_.address());
    EXPECT_FALSE(r.cancel);
    EXPECT_EQ(r.dataType, 8);
    EXPECT_EQ(r.actionType, 4);
    EXPECT_EQ(r.model, "MSOHX5104");
    EXPECT_EQ(r.xyDescription, "sec,Volt,sec,ch1");
    ASSERT_EQ(r.preamble.size(), 11u);
    ASSERT_EQ(codesOf(r), std::vector<int32_t>{1});
    EXPECT_TRUE(r.warning.empty()) << r.warning;

    const std::string dir = home_.root() + "/one";
    WriteCapture(r, dir);
    EXPECT_FALSE(fs::exists(dir + "/screen.bmp"));
    // The simulator's channel 1 is a 1.2 V sine: the scaled values swing
    // about zero with that amplitude, on a steadily rising time axis.
    const auto values = csvValues(dir + "/ch1.csv", r.sets[0].block.xIncrement);
    ASSERT_EQ(values.size(), static_cast<size_t>(r.sets[0].block.points));
    double mean = 0;
    for (double v : values) mean += v / static_cast<double>(values.size());
    EXPECT_NEAR(*std::max_element(values.begin(), values.end()), 1.2, 0.1);
    EXPECT_NEAR(*std::min_element(values.begin(), values.end()), -1.2, 0.1);
    EXPECT_NEAR(mean, 0.0, 0.1);
    EXPECT_DOUBLE_EQ(std::stod(ReadWholeFile(dir + "/ch1.csv").substr(13)),
                     r.sets[0].block.Time(0));
}

TEST_F(CaptureTest, FirstPodSplitIntoBits) {
    profile(kKey, "CHAN1", false, true);
    const CaptureResult r = capture(sim_.address());
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
    profile(kKey, "CHAN1,CHAN2,POD1", true);
    const std::string dir = home_.root() + "/several";
    const Run r = captureCommand(dir, {"--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* part :
         {"\"dataType\":96", "\"actionType\":5", "\"source\":\"POD1\",\"code\":8"})
        EXPECT_NE(r.out.find(part), std::string::npos) << r.out;
    // No temporary files are left beside the results.
    EXPECT_EQ(filesIn(dir), (std::set<std::string>{"ch1.csv", "ch2.csv", "plot.png", "pod1.csv",
                                                   "raw.json", "screen.bmp"}));
    EXPECT_FALSE(QImage(QString::fromStdString(dir + "/screen.bmp")).isNull());
    EXPECT_GT(QImage(QString::fromStdString(dir + "/plot.png")).width(), 600);
    // Channel 2 is a 0.8 V sine: different data, scaled by its own block.
    const auto ch2 = csvValues(dir + "/ch2.csv");
    EXPECT_NEAR(*std::max_element(ch2.begin(), ch2.end()), 0.8, 0.1);
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
    } const cells[] = {
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
        tellSim(sim.address(), c.faults);
        profile(kKey, c.sources, false, c.bits);
        const std::string dir = home_.root() + "/failed" + std::to_string(n++);
        const Run r = run(captureArgs(sim.address(), kKey, dir, {"--json"}));
        SCOPED_TRACE(c.faults + std::string(" ") + c.sources + "\n" + r.err);
        EXPECT_EQ(r.status, kExitFailed);
        const std::string why = c.bits ? "transfer of POD1 failed (Error retreiving scope data.)"
                                       : "transfer failed (Error retreiving scope data.)";
        for (const std::string& name : c.failed) {
            EXPECT_NE(r.err.find("wavecatch: " + name + ": " + why + "\n"), std::string::npos);
            EXPECT_NE(r.out.find("{\"source\":\"" + name + "\""), std::string::npos) << name;
        }
        std::vector<std::string> written;
        for (const std::string& f : CaptureFilesIn(dir))
            if (f.ends_with(".csv")) written.push_back(f.substr(0, f.size() - 4));
        EXPECT_EQ(written, c.good);
        EXPECT_EQ(fs::exists(dir), !c.good.empty());
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
    profile(kKey, "CHAN1,CHAN2,POD1", false);
    const CaptureResult r = capture(sim.address());
    ASSERT_EQ(codesOf(r), (std::vector<int32_t>{1, 2, 8}));
    EXPECT_TRUE(r.failed.empty());
    for (const DataSet& s : r.sets) {
        EXPECT_EQ(s.raw.size(), 999u) << s.name;
        EXPECT_NE(r.warning.find(s.name + ": 999 points came, the preamble announces 1000"),
                  std::string::npos)
            << r.warning;
    }
    // Channel 2 ends as a 0.8 V sine, not in pod bytes read as volts.
    for (size_t i = 0; i < r.sets[1].raw.size(); ++i)
        ASSERT_LT(std::fabs(r.sets[1].Value(i)), 0.9) << i;
    for (size_t i = 0; i < r.sets[2].raw.size(); ++i)
        ASSERT_TRUE(r.sets[2].raw[i] >= 0 && r.sets[2].raw[i] <= 255) << i;
}

// An earlier capture's folder: refused before anything is fetched; with
// --force a failing capture replaces nothing and names what it kept.
TEST_F(CaptureTest, AFailedCaptureNeverReplacesGoodFiles) {
    profile(kKey, "CHAN1,CHAN2", false);
    const std::string dir = home_.root() + "/earlier";
    ASSERT_EQ(captureCommand(dir).status, 0);
    const std::string ch2 = ReadWholeFile(dir + "/ch2.csv");
    Run r = captureCommand(dir);
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_NE(r.err.find("holds files of an earlier capture (ch1.csv, ch2.csv, plot.png, "
                         "raw.json)"),
              std::string::npos)
        << r.err;

    tellSim(sim_.address(), ":SIM:FAUL:SOUR CHAN2;:SIM:FAUL:BADP ON");
    r = captureCommand(dir, {"--force"});
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
    const Run r = scope({"idn"});
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
    EXPECT_EQ(scope({"bitmap", "--invert", "--out", image}).out, image + "\n");
    EXPECT_FALSE(QImage(QString::fromStdString(image)).isNull());
    EXPECT_EQ(scope({"chan", "three", "on"}).status, kExitUsage);
}

// The add-in leaves its screen image in the temporary folder for the host;
// it goes with the result, also when the capture fails after it arrived.
TEST_F(CaptureTest, TemporaryImageGoesWithTheResult) {
    profile(kKey, "CHAN1", true);
    const auto images = [&] {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(tmp_)) n += e.path().extension() == ".bmp";
        return n;
    };
    sim::SimProcess cut({"--model", "MSOHX5104", "--cut-data"});
    WriteFileAtomically(home_.root() + "/blocker", "x");
    for (const auto& [address, out] : {
             std::pair{sim_.address(), home_.root() + "/blocker/out"},  // cannot be written
             std::pair{cut.address(),
                       home_.root() + "/cut"},  // the transfer failed, the image came
         }) {
        const Run r = run(captureArgs(address, kKey, out));
        EXPECT_EQ(images(), 0u) << out << "\n" << r.err;
    }
    // Kept while a copy of the result is.
    std::optional<CaptureResult> copy;
    {
        const CaptureResult r = capture(sim_.address());
        ASSERT_TRUE(r.actionType & 1);
        copy = r;
    }
    ASSERT_TRUE(copy->imageFile);
    EXPECT_TRUE(fs::exists(copy->bmpPath));
    copy.reset();
    EXPECT_EQ(images(), 0u);
}

// A relative --out, as a user types it: the demo's own simulator gives
// every kind of file, and the lines name them with their full paths.
TEST_F(CaptureTest, DemoWritesEveryFileAndNamesItsFullPath) {
    const auto before = fs::current_path();
    fs::current_path(home_.root());
    const Run r = run({"demo", "--module", kModulePath, "--out", "demo"});
    fs::current_path(before);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("data type:    96"), std::string::npos) << r.out;
    for (const char* name :
         {"ch1.csv", "ch2.csv", "ch3.csv", "ch4.csv", "pod1.csv", "plot.png", "screen.bmp"})
        EXPECT_TRUE(fs::exists(home_.root() + "/demo/" + name)) << name;
    std::istringstream lines(r.out);
    int named = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("wrote:", 0) != 0 && line.rfind("folder:", 0) != 0) continue;
        const fs::path path = line.substr(line.find_first_not_of(' ', 7));
        EXPECT_TRUE(path.is_absolute() && fs::exists(path)) << line;
        ++named;
    }
    EXPECT_GE(named, 8) << r.out;
    // The temporary settings key is cleared again.
    EXPECT_EQ(GetSetting("Corvane\\Linkara\\WavecatchDemo\\Corvane Halvio Series", "Settings",
                         "ActiveChannels", "gone"),
              "gone");
}

// Every format read back by a reader that is not ours: h5py for HDF5,
// sigrok-cli for the session file and the value change dump. The checker
// compares raw samples, scaling, rate and channel names with raw.json, and
// the session archive's entries with the layout sigrok's reader needs.
TEST_F(CaptureTest, FormatsReadBackByTheirOwnReaders) {
    const struct {
        const char* sources;
        std::set<std::string> files;  // analog channels alone: no vcd
    } cells[] = {
        {"CHAN1,CHAN2,POD1", {"raw.json", "capture.h5", "capture.sr", "capture.vcd", "plot.png"}},
        {"CHAN1", {"raw.json", "capture.h5", "capture.sr", "plot.png"}},
    };
    for (const auto& c : cells) {
        profile(kKey, c.sources, false);
        const std::string dir = home_.root() + "/formats" + std::to_string(c.files.size());
        const Run r = captureCommand(dir, {"--format", "json,h5,sr,vcd"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(filesIn(dir), c.files) << c.sources;
        const auto [status, out] =
            shell(std::string("/usr/bin/python3 ") + CVN_FORMAT_CHECKER + " '" + dir + "' 2>&1");
        EXPECT_EQ(status, 0) << c.sources << ": " << out;
    }
}

// At 50 s a division, 100 points are 0.2 samples a second. sigrok files
// state whole hertz: they are left out with their reason, the capture exits
// 1, the other files are written; an earlier session file is named as kept.
TEST_F(CaptureTest, SigrokFilesAreLeftOutBelowOneHertz) {
    profile(kKey, "CHAN1,POD1", false);
    tellSim(sim_.address(), ":TIMebase:SCALe 50;:WAVeform:POINts 100");
    const std::string dir = home_.root() + "/slow";
    const Run r = captureCommand(dir, {"--points", "100", "--format", "csv,sr,vcd"});
    EXPECT_EQ(r.status, kExitFailed) << r.err;
    for (const char* name : {"capture.sr", "capture.vcd"})
        EXPECT_NE(r.err.find(std::string("wavecatch: ") + name +
                             " not written: the sample rate 0.2 Hz is below 1 Hz"),
                  std::string::npos)
            << r.err;
    EXPECT_EQ(filesIn(dir), (std::set<std::string>{"ch1.csv", "plot.png", "pod1.csv"}));
    WriteFileAtomically(dir + "/capture.sr", "earlier");
    const Run again = captureCommand(dir, {"--points", "100", "--format", "csv,sr", "--force"});
    EXPECT_NE(again.err.find("capture.sr is from an earlier capture"), std::string::npos)
        << again.err;
}

// A simulator pod set to the UART pattern carries 8N1 frames of its text on
// D0 at a tenth of the sample rate: sigrok's own UART decoder reads it from
// the session file, as PulseView would.
TEST_F(CaptureTest, UartPodDecodesToItsText) {
    sim::SimProcess uart({"--model", "MSOHX5104", "--pod1", "uart:10"});
    profile(kKey, "POD1", false);
    const CaptureResult r = capture(uart.address());
    ASSERT_EQ(r.sets.size(), 1u);
    // The other lines stay low.
    for (size_t i = 0; i < r.sets[0].raw.size(); ++i)
        ASSERT_EQ(static_cast<unsigned>(r.sets[0].raw[i]) & 0xFEu, 0u) << i;
    const std::string dir = home_.root() + "/uart";
    SaveFormats(r, dir, *ParseFormats("sr"));
    const long baud = std::lround(1.0 / (r.sets[0].block.xIncrement * 10));
    const auto [status, out] = shell("sigrok-cli -i '" + dir +
                                     "/capture.sr' -P uart:rx=D0:baudrate=" + std::to_string(baud) +
                                     " -A uart=rx-data 2>&1");
    ASSERT_EQ(status, 0) << out;
    // One line per byte, its value in hex: "uart-1: 48".
    std::string decoded;
    for (size_t at = 0; (at = out.find("uart-1: ", at)) != std::string::npos; at += 8)
        decoded += static_cast<char>(std::stoi(out.substr(at + 8, 2), nullptr, 16));
    EXPECT_NE(decoded.find("Halvio\r\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace cvn::host::test
