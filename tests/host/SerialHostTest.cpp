// wavecatch over a serial line: capture, scope and doctor against the
// simulator on a pseudo-terminal (ASRL/dev/pts/N::INSTR), as they would run
// against a scope on an RS-232 cable. Only the simulator's own pty is opened.
#include <QImage>
#include <filesystem>

#include "host/Capture.h"
#include "host/HostFixture.h"
#include "host/qt/GuiApp.h"
#include "io/IoSession.h"
#include "sim/launch/SimProcess.h"
#include "support/SettingsStore.h"

namespace cvn::host::test {
namespace {

constexpr const char* kKey = "Corvane\\Linkara\\WavecatchSerialTest";

class SerialHostTest : public HostTest {
protected:
    SerialHostTest() : sim_({"--pty", "--model", "MSOHX5104"}) {
        EnsureGuiApplication(false);
        address_ = "ASRL" + sim_.ptyPath() + "::INSTR";
    }
    sim::SimProcess sim_;
    std::string address_;
};

TEST_F(SerialHostTest, CaptureWritesChannelPodAndScreenOverTheLine) {
    const std::string key = SettingsKeyFor(std::string(kKey));
    SaveSetting(key, "Settings", "ActiveChannels", "CHAN1,POD1");
    SaveSetting(key, "Settings", "Screen", "1");
    const std::string dir = home_.root() + "/serial";
    const Run r = run({"capture", "--module", kModulePath, "--address", address_, "--registry-key",
                       kKey, "--points", "1000", "--out", dir, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"dataType\":96"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"source\":\"POD1\",\"code\":8"), std::string::npos) << r.out;
    for (const char* name : {"ch1.csv", "pod1.csv", "raw.json"})
        EXPECT_TRUE(std::filesystem::exists(dir + "/" + name)) << name;
    EXPECT_FALSE(QImage(QString::fromStdString(dir + "/screen.bmp")).isNull());
}

TEST_F(SerialHostTest, ScopeAndDoctorOverTheLine) {
    const std::string m = "--module=" + kModulePath;
    Run r = run({"scope", m, "--address", address_, "idn"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("channels:     4"), std::string::npos) << r.out;
    const std::string image = home_.root() + "/screen.bmp";
    r = run({"scope", m, "--address", address_, "bitmap", "--out", image});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(QImage(QString::fromStdString(image)).isNull());

    r = run({"doctor", "--module", kModulePath, "--address", address_});
    for (const std::string& check :
         {std::string("address format: serial port"), "device: " + sim_.ptyPath(),
          std::string("identification: "), std::string("model: MSOHX5104 is supported")}) {
        EXPECT_NE(r.out.find("OK    " + check), std::string::npos) << check << "\n" << r.out;
    }
}

TEST_F(SerialHostTest, APulledCableFailsTheCaptureCleanly) {
    // The line goes in the middle of the first block: the capture comes
    // back (no hang) with no data, after the add-in's error box, as over LAN.
    {
        auto side = io::IoManager().Open(sim_.address());
        side->Output(":SIMulator:FAULt:CUT ON");
        side->Output(":SIMulator:LOG:COUNt?");
        side->EnterText();
    }
    const std::string key = SettingsKeyFor(std::string(kKey));
    SaveSetting(key, "Settings", "ActiveChannels", "CHAN1");
    SaveSetting(key, "Settings", "Screen", "0");
    const std::string dir = home_.root() + "/cut";
    const Run r = run({"capture", "--module", kModulePath, "--address", address_, "--registry-key",
                       kKey, "--points", "1000", "--out", dir});
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_NE(r.err.find("wavecatch: CH1: transfer failed"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir));
}

}  // namespace
}  // namespace cvn::host::test
