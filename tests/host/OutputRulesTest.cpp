// What the commands do with the names they are given: "-" is standard
// output, a link is written through and stays a link.
#include <QImage>
#include <filesystem>

#include "host/HostFixture.h"
#include "host/qt/GuiApp.h"
#include "sim/launch/SimProcess.h"

namespace cvn::host::test {
namespace {

namespace fs = std::filesystem;

class OutputRulesTest : public HostTest {
protected:
    OutputRulesTest() { EnsureGuiApplication(false); }
    sim::SimProcess sim_{{"--model", "MSOHX5104"}};
};

TEST_F(OutputRulesTest, DashIsStandardOutputForTheScreenAndBlocks) {
    const std::string cwd = fs::current_path();
    fs::current_path(home_.root());
    // The wavecatch program's standard output (standard error dropped).
    const std::string program = "timeout 60 '" + std::string(CVN_WAVECATCH_PATH) + "' ";
    const std::string png =
        shell(program + "screen --address " + sim_.address() + " --out - 2>/dev/null").second;
    const std::string block = shell(program + "scpi --address " + sim_.address() +
                                    " --block-out - ':DISPlay:DATA? BMP, SCReen' 2>/dev/null")
                                  .second;
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
    const std::string real = home_.root() + "/real", links = home_.root() + "/links";
    fs::create_directories(real);
    fs::create_directories(links);
    const char* const names[] = {"a.scp", "m.csv", "s.png", "ch1.csv"};
    for (const char* name : names) fs::create_symlink(real + "/" + name, links + "/" + name);
    profile("Corvane\\Linkara\\Links", "CHAN1", false);
    const std::string at = sim_.address();
    EXPECT_EQ(run({"setup", "save", links + "/a.scp", "--address", at}).status, 0);
    EXPECT_EQ(run({"measure", "--address", at, "--csv", links + "/m.csv"}).status, 0);
    EXPECT_EQ(run({"screen", "--address", at, "--out", links + "/s.png"}).status, 0);
    // The folder already holds ch1.csv (a link), so the capture is told to
    // write into it.
    expectRun(captureArgs(at, "Corvane\\Linkara\\Links", links, {"--points", "100", "--force"}), 0);
    for (const char* name : names) {
        EXPECT_TRUE(fs::is_symlink(links + "/" + name)) << name;
        EXPECT_GT(fs::file_size(real + "/" + name), 10u) << name;
    }
}

}  // namespace
}  // namespace cvn::host::test
