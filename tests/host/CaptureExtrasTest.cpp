// capture.h5 as a complete record: its extras equal what the bench commands
// give for the same stopped acquisition, its setup goes back as the .scp
// file's does, show summarises it, and files that are not ours are refused.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "host/Capture.h"
#include "host/HostFixture.h"
#include "host/bench/Scpi.h"
#include "host/qt/GuiApp.h"
#include "io/IoSession.h"
#include "sim/launch/SimProcess.h"
#include "support/AppKey.h"
#include "support/AtomicFile.h"
#include "support/SettingsStore.h"

namespace cvn::host::test {
namespace {

constexpr const char* kKey = "Corvane\\Linkara\\WavecatchExtras";

class CaptureExtrasTest : public HostTest {
protected:
    CaptureExtrasTest() : sim_({"--model", "MSOHX5104", "--chan1", "sine:2.5kHz:2Vpp"}) {
        EnsureGuiApplication(false);
        const std::string key = SettingsKeyFor(std::string(kKey));
        for (const auto& [name, value] : {std::pair{"ActiveChannels", "CHAN1,CHAN2"},
                                          {"Screen", "1"},
                                          {"InvertColor", "0"},
                                          {"Waveform", "1"},
                                          {"MakeNewAcquisition", "0"}})
            SaveSetting(key, kSettingsSection, name, value);
    }

    Run capture(const std::string& dir, const std::string& formats, bool extras = true) {
        std::vector<std::string> extra = {"--format", formats};
        if (!extras) extra.push_back("--no-extras");
        return run(captureArgs(sim_.address(), kKey, dir, extra));
    }
    Run bench(std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"--address", sim_.address()});
        return run(args);
    }
    std::string log() {
        auto s = io::IoManager().Open(sim_.address());
        return ScpiQuery(*s, ":SIMulator:LOG?").data;
    }
    void clearLog() { io::IoManager().Open(sim_.address())->Output(":SIMulator:LOG:CLEar"); }
    // The setup message the simulator received since the log was cleared
    // ("" none): it may still be reading the command's own connection.
    std::string setupSent() {
        for (int i = 0; i < 100; ++i) {
            const std::string l = log();
            const size_t at = l.find("Syst:Set");
            if (at != std::string::npos) return l.substr(at, l.find("\n:SIMulator", at) - at);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return {};
    }
    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = home_.root() + "/" + name;
        WriteFileAtomically(path, bytes);
        return path;
    }

    sim::SimProcess sim_;
};

TEST_F(CaptureExtrasTest, ExtrasAreWhatTheBenchCommandsGiveAndTheSetupGoesBack) {
    const std::string dir = home_.root() + "/c", h5 = dir + "/capture.h5";
    const Run c = capture(dir, "h5");
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.err.find("without"), std::string::npos) << c.err;
    const std::string scp = home_.root() + "/s.scp", bmp = home_.root() + "/x.bmp";
    ASSERT_EQ(bench({"setup", "save", scp}).status, 0);
    const Run m = bench({"measure", "--json"});
    ASSERT_EQ(m.status, 0) << m.err;
    ASSERT_EQ(bench({"screen", "--out", bmp}).status, 0);
    const auto [status, out] = shell("/usr/bin/python3 " CVN_EXTRAS_CHECKER " '" + h5 + "' '" +
                                     scp + "' '" + write("m.json", m.out) + "' '" + bmp + "' 2>&1");
    EXPECT_EQ(status, 0) << out;

    const Run shown = run({"show", h5});
    ASSERT_EQ(shown.status, 0) << shown.err;
    for (const char* part : {"scope:       CORVANE,MSOHX5104,", "CH1           1000 points  ",
                             "CH2", "Freqeuncy    +2.50000kHz", "setup:       "})
        EXPECT_NE(shown.out.find(part), std::string::npos) << part << "\n" << shown.out;
    const QJsonObject o = json(run({"show", h5, "--json"}).out).object();
    EXPECT_EQ(o["sources"].toArray()[0].toObject()["points"].toInt(), 1000);
    EXPECT_EQ(o["extras"].toObject()["measurements"].toObject()["rows"].toArray().size(), 24);

    // The same block reaches the scope from the capture as from the file.
    clearLog();
    ASSERT_EQ(bench({"setup", "restore", scp}).status, 0);
    const std::string fromFile = setupSent();
    clearLog();
    const Run from = bench({"setup", "restore", "--from", h5});
    ASSERT_EQ(from.status, 0) << from.err;
    EXPECT_FALSE(fromFile.empty());
    EXPECT_EQ(setupSent(), fromFile);
}

// The extras cost a capture only when it writes h5 and wants them.
TEST_F(CaptureExtrasTest, OnlyAnH5CaptureWithExtrasAsksTheScopeMore) {
    const struct {
        const char* formats;
        bool extras;
        bool asked;
    } cells[] = {{"h5", true, true}, {"h5", false, false}, {"json", true, false}};
    for (const auto& cell : cells) {
        const std::string dir = home_.root() + "/" + cell.formats + std::to_string(cell.extras);
        clearLog();
        ASSERT_EQ(capture(dir, cell.formats, cell.extras).status, 0) << cell.formats;
        EXPECT_EQ(log().find(":SYSTem:SETup?") != std::string::npos, cell.asked)
            << cell.formats << " " << cell.extras;
    }
    const std::string bare = home_.root() + "/h50/capture.h5";
    const Run shown = run({"show", bare, "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_TRUE(json(shown.out).object()["extras"].isNull()) << shown.out;
    clearLog();
    expectRun({"setup", "--address", sim_.address(), "restore", "--from", bare}, kExitFailed,
              "holds no setup");
    EXPECT_EQ(log().find("Syst:Set"), std::string::npos);
}

TEST_F(CaptureExtrasTest, FilesThatAreNotCapturesAreRefused) {
    const std::string dir = home_.root() + "/good";
    ASSERT_EQ(capture(dir, "h5").status, 0);
    const std::string good = ReadWholeFile(dir + "/capture.h5");
    const std::string foreign = home_.root() + "/foreign.h5";
    ASSERT_EQ(std::system(("/usr/bin/python3 -c \"import h5py; h5py.File('" + foreign +
                           "', 'w').create_dataset('x', data=[1])\"")
                              .c_str()),
              0);
    const struct {
        std::string path;
        const char* why;
    } cells[] = {
        {write("text.h5", "model,dataType\n1,2\n"), "not an HDF5 file"},
        {write("cut.h5", good.substr(0, good.size() / 2)), "damaged or cut short"},
        {foreign, "no attribute model"},
        {home_.root() + "/absent.h5", "no such file"},
    };
    clearLog();
    for (const auto& cell : cells) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"show", cell.path},
              {"setup", "--address", sim_.address(), "restore", "--from", cell.path}}) {
            const Run r = run(args);
            EXPECT_EQ(r.status, kExitFailed) << cell.path;
            EXPECT_NE(r.err.find(cell.why), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("HDF5-DIAG"), std::string::npos) << r.err;
        }
    }
    // A capture whose setup is damaged gets the .scp file's refusal, under
    // the capture's name.
    const std::string damaged = write("damaged.h5", good);
    ASSERT_EQ(std::system(("/usr/bin/python3 -c \"import h5py, numpy; f = h5py.File('" + damaged +
                           "', 'r+'); del f['extras/setup_scp']; "
                           "f['extras/setup_scp'] = numpy.frombuffer(b'3|scp|1|x', 'u1')\"")
                              .c_str()),
              0);
    const Run r = bench({"setup", "restore", "--from", damaged});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Not a compatible file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(damaged), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(".scp"), std::string::npos) << r.err;
    EXPECT_EQ(log().find("Syst:Set"), std::string::npos);
}

}  // namespace
}  // namespace cvn::host::test
