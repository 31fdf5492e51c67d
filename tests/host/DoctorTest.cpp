// wavecatch doctor against the simulator: every check passes for a sound
// set-up, and each broken link in the chain is named with its fix while the
// checks that depend on it are skipped.
#include <fstream>

#include "host/HostFixture.h"
#include "sim/launch/SimProcess.h"
#include "support/AppKey.h"

namespace cvn::host::test {
namespace {

class DoctorTest : public HostTest {
protected:
    // The report for `extra`: its status, and every line of `lines` in it.
    void expectDoctor(const std::vector<std::string>& extra, int status,
                      const std::vector<std::string>& lines) {
        std::vector<std::string> args = {"doctor", "--module", kModulePath};
        args.insert(args.end(), extra.begin(), extra.end());
        const Run r = run(args);
        EXPECT_EQ(r.status, status) << r.out;
        for (const std::string& line : lines)
            EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
};

TEST_F(DoctorTest, SoundSetUpPassesEveryCheckInOrder) {
    ASSERT_EQ(run({"register", "--module", kModulePath}).status, 0);
    sim::SimProcess sim({"--model", "MSOHX5104"});
    const Run r = run({"doctor", "--module", kModulePath, "--address", sim.address()});
    EXPECT_EQ(r.status, 0) << r.out;
    // The checks come in the order a capture depends on them.
    size_t last = 0;
    for (const char* check :
         {"module: ", "registration: ", "settings: ", "error log: ", "address: ",
          "address format: raw SCPI socket",
          "host: ", "connection: ", "identification: ", "model: MSOHX5104 is supported"}) {
        const size_t at = r.out.find(std::string("OK    ") + check, last);
        EXPECT_NE(at, std::string::npos) << check << "\n" << r.out;
        if (at != std::string::npos) last = at;
    }
    EXPECT_NE(r.out.find("all checks passed", last), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("version 0."), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST_F(DoctorTest, EachBrokenLinkIsNamedAndWhatNeedsItSkipped) {
    std::string gone;
    {
        sim::SimProcess stopped;
        gone = stopped.address();
    }
    sim::SimProcess other({"--model", "ZZ9000"});
    const std::string node = home_.root() + "/usbtmc9";
    { std::ofstream(node) << ""; }
    std::filesystem::permissions(node, std::filesystem::perms::owner_read);
    const std::string settings = SettingsFilePath(kDefaultAppKey);
    // Nothing registered in this home, no address stored yet; later cells
    // store a line the store does not understand, then damage the file.
    const struct Cell {
        std::vector<std::string> args;
        std::vector<std::string> lines;
    } cells[] = {
        {{"--address", gone},
         {"OK    host: 127.0.0.1 resolves",
          "FAIL  connection: ", "      fix: check that the scope is on",
          "SKIP  identification: needs a connection", "SKIP  model: needs a connection"}},
        {{"--address", other.address()},
         {"OK    identification: ", "FAIL  model: ZZ9000 is not a supported model",
          "override file"}},
        {{},
         {"OK    module: ", "FAIL  registration: cvnWCHalv.IWavecatch is not registered",
          "run 'wavecatch register --module", "(not created yet)",
          "FAIL  address: no instrument address is stored", "SKIP  connection: needs an address"}},
        {{},
         {"OK    address: not an address (stored)",
          "FAIL  address format: ", "SKIP  connection: needs a valid address"}},
        {{"--address", "host.invalid:5025"},
         {"OK    settings: " + settings +
              " parses; lines it does not understand are kept as they are and skipped: 3",
          "FAIL  host: host.invalid does not resolve"}},
        {{"--address", "ASRL" + home_.root() + "/ttyNONE::INSTR"},
         {"FAIL  device: " + home_.root() + "/ttyNONE does not exist"}},
        // Root may write anything.
        {{"--address", node}, {::geteuid() != 0 ? "may not be read and written" : "FAIL"}},
    };
    int n = 0;
    for (const Cell& c : cells) {
        SCOPED_TRACE(n);
        if (n == 3)
            SaveSetting(kDefaultAppKey, kSettingsSection, "Corvane Halvio Series",
                        "not an address");
        if (n++ == 4) std::ofstream(settings, std::ios::app) << "[broken\n";
        expectDoctor(c.args, kExitFailed, c.lines);
    }
}

}  // namespace
}  // namespace cvn::host::test
