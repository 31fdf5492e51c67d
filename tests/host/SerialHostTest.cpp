// wavecatch over a serial line: capture, scope and doctor against the
// simulator on a pseudo-terminal (ASRL/dev/pts/N::INSTR), as they would run
// against a scope on an RS-232 cable. Only the simulator's own pty is opened.
#include <QImage>
#include <filesystem>

#include "host/HostFixture.h"
#include "host/qt/GuiApp.h"
#include "sim/launch/SimProcess.h"

namespace cvn::host::test {
namespace {

constexpr const char* kKey = "Corvane\\Linkara\\WavecatchSerialTest";

class SerialHostTest : public HostTest {
protected:
    SerialHostTest() { EnsureGuiApplication(false); }
    sim::SimProcess sim_{{"--pty", "--model", "MSOHX5104"}};
    std::string address_ = "ASRL" + sim_.ptyPath() + "::INSTR";
};

TEST_F(SerialHostTest, CaptureScopeAndDoctorOverTheLine) {
    profile(kKey, "CHAN1,POD1", true);
    const std::string dir = home_.root() + "/serial";
    Run r = run(captureArgs(address_, kKey, dir, {"--json"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"source\":\"POD1\",\"code\":8"), std::string::npos) << r.out;
    for (const char* name : {"ch1.csv", "pod1.csv", "raw.json"})
        EXPECT_TRUE(std::filesystem::exists(dir + "/" + name)) << name;
    EXPECT_FALSE(QImage(QString::fromStdString(dir + "/screen.bmp")).isNull());

    const std::string m = "--module=" + kModulePath;
    expectRun({"scope", m, "--address", address_, "idn"}, 0, "channels:     4");
    r = run({"doctor", "--module", kModulePath, "--address", address_});
    for (const std::string& check :
         {std::string("address format: serial port"), "device: " + sim_.ptyPath(),
          std::string("identification: "), std::string("model: MSOHX5104 is supported")})
        EXPECT_NE(r.out.find("OK    " + check), std::string::npos) << check << "\n" << r.out;
}

TEST_F(SerialHostTest, APulledCableFailsTheCaptureCleanly) {
    // The line goes in the middle of the first block: the capture comes
    // back (no hang) with no data, after the add-in's error box, as over LAN.
    tellSim(sim_.address(), ":SIMulator:FAULt:CUT ON");
    profile(kKey, "CHAN1", false);
    const std::string dir = home_.root() + "/cut";
    expectRun(captureArgs(address_, kKey, dir), kExitFailed, "wavecatch: CH1: transfer failed");
    EXPECT_FALSE(std::filesystem::exists(dir));
}

}  // namespace
}  // namespace cvn::host::test
