// What the commands do with the names they are given: "-" is standard
// output, a link is written through and stays a link.
#include <stdio.h>

#include <QImage>
#include <filesystem>

#include "host/Capture.h"
#include "host/HostFixture.h"
#include "host/qt/GuiApp.h"
#include "sim/launch/SimProcess.h"
#include "support/SettingsStore.h"

namespace cvn::host::test {
namespace {

namespace fs = std::filesystem;

class OutputRulesTest : public HostTest {
protected:
    OutputRulesTest() { EnsureGuiApplication(false); }

    // The wavecatch program's standard output (standard error dropped).
    static std::string program(const std::string& args) {
        const std::string command =
            "timeout 60 '" + std::string(CVN_WAVECATCH_PATH) + "' " + args + " 2>/dev/null";
        std::string out;
        FILE* p = ::popen(command.c_str(), "r");
        char buf[65536];
        for (size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        if (p) ::pclose(p);
        return out;
    }

    sim::SimProcess sim_{{"--model", "MSOHX5104"}};
};

TEST_F(OutputRulesTest, DashIsStandardOutputForTheScreenAndBlocks) {
    const std::string cwd = fs::current_path();
    fs::current_path(home_.root());
    const std::string png = program("screen --address " + sim_.address() + " --out -");
    const std::string block =
        program("scpi --address " + sim_.address() + " --block-out - ':DISPlay:DATA? BMP, SCReen'");
    fs::current_path(cwd);
    QImage image;
    EXPECT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(png.data()),
                                   static_cast<int>(png.size()), "PNG"))
        << png.substr(0, 80);
    EXPECT_GT(image.width(), 100);
    EXPECT_EQ(block.rfind("BM", 0), 0u) << block.substr(0, 80);
    EXPECT_FALSE(fs::exists(home_.root() + "/-"));
}

TEST_F(OutputRulesTest, SavedFilesGoThroughLinksAndTheLinksStay) {
    const std::string real = home_.root() + "/real";
    const std::string links = home_.root() + "/links";
    fs::create_directories(real);
    fs::create_directories(links);
    for (const char* name : {"a.scp", "m.csv", "s.png", "ch1.csv"})
        fs::create_symlink(real + "/" + name, links + "/" + name);
    SaveSetting(SettingsKeyFor(std::string("Corvane\\Linkara\\Links")), "Settings",
                "ActiveChannels", "CHAN1");
    SaveSetting(SettingsKeyFor(std::string("Corvane\\Linkara\\Links")), "Settings", "Screen", "0");

    const std::string at = sim_.address();
    EXPECT_EQ(run({"setup", "save", links + "/a.scp", "--address", at}).status, 0);
    EXPECT_EQ(run({"measure", "--address", at, "--csv", links + "/m.csv"}).status, 0);
    EXPECT_EQ(run({"screen", "--address", at, "--out", links + "/s.png"}).status, 0);
    // The folder already holds ch1.csv (a link), so the capture is told to
    // write into it.
    const Run c = run({"capture", "--module", kModulePath, "--address", at, "--registry-key",
                       "Corvane\\Linkara\\Links", "--points", "100", "--out", links, "--force"});
    EXPECT_EQ(c.status, 0) << c.err;
    for (const char* name : {"a.scp", "m.csv", "s.png", "ch1.csv"}) {
        EXPECT_TRUE(fs::is_symlink(links + "/" + name)) << name;
        EXPECT_GT(fs::file_size(real + "/" + name), 10u) << name;
    }
}

}  // namespace
}  // namespace cvn::host::test
