// wavecatch doctor against the simulator: every check passes for a sound
// set-up, and each broken link in the chain is named with its fix while the
// checks that depend on it are skipped.
#include <fstream>

#include "host/HostFixture.h"
#include "sim/launch/SimProcess.h"
#include "support/AppKey.h"
#include "support/SettingsStore.h"

namespace cvn::host::test {
namespace {

class DoctorTest : public HostTest {
protected:
    Run doctor(const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"doctor", "--module", kModulePath};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args);
    }

    static bool has(const Run& r, const std::string& line) {
        return r.out.find(line) != std::string::npos;
    }
};

TEST_F(DoctorTest, SoundSetUpPassesEveryCheck) {
    ASSERT_EQ(run({"register", "--module", kModulePath}).status, 0);
    sim::SimProcess sim({"--model", "MSOHX5104"});
    const Run r = doctor({"--address", sim.address()});
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char* check : {"module: ", "registration: ", "settings: ", "error log: ",
                              "address: ", "address format: raw SCPI socket", "host: ",
                              "connection: ", "identification: ", "model: MSOHX5104 is supported"})
        EXPECT_TRUE(has(r, std::string("OK    ") + check)) << check << "\n" << r.out;
    EXPECT_TRUE(has(r, "version 0.")) << r.out;
    EXPECT_FALSE(has(r, "FAIL")) << r.out;
    EXPECT_TRUE(has(r, "all checks passed")) << r.out;
    // The checks come in the order a capture depends on them.
    EXPECT_LT(r.out.find("module: "), r.out.find("registration: "));
    EXPECT_LT(r.out.find("settings: "), r.out.find("error log: "));
    EXPECT_LT(r.out.find("connection: "), r.out.find("identification: "));
    EXPECT_LT(r.out.find("identification: "), r.out.find("model: "));
}

TEST_F(DoctorTest, StoppedSimulatorAndWrongModelAreReported) {
    std::string address;
    {
        sim::SimProcess gone;
        address = gone.address();
    }
    Run r = doctor({"--address", address});
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_TRUE(has(r, "OK    host: 127.0.0.1 resolves")) << r.out;
    EXPECT_TRUE(has(r, "FAIL  connection: ")) << r.out;
    EXPECT_TRUE(has(r, "      fix: check that the scope is on")) << r.out;
    EXPECT_TRUE(has(r, "SKIP  identification: needs a connection")) << r.out;
    EXPECT_TRUE(has(r, "SKIP  model: needs a connection")) << r.out;

    sim::SimProcess other({"--model", "ZZ9000"});
    r = doctor({"--address", other.address()});
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_TRUE(has(r, "OK    identification: ")) << r.out;
    EXPECT_TRUE(has(r, "FAIL  model: ZZ9000 is not a supported model")) << r.out;
    EXPECT_TRUE(has(r, "override file")) << r.out;
}

TEST_F(DoctorTest, MissingRegistrationDamagedSettingsAndBadAddresses) {
    // Nothing registered in this home, no address stored yet.
    Run r = doctor({});
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_TRUE(has(r, "OK    module: ")) << r.out;
    EXPECT_TRUE(has(r, "FAIL  registration: cvnWCHalv.IWavecatch is not registered")) << r.out;
    EXPECT_TRUE(has(r, "run 'wavecatch register --module")) << r.out;
    EXPECT_TRUE(has(r, "(not created yet)")) << r.out;
    EXPECT_TRUE(has(r, "FAIL  address: no instrument address is stored")) << r.out;
    EXPECT_TRUE(has(r, "SKIP  connection: needs an address")) << r.out;

    // A line the store does not understand is named; the address stored
    // before is used.
    SaveSetting(kDefaultAppKey, kSettingsSection, "Corvane Halvio Series", "not an address");
    r = doctor({});
    EXPECT_TRUE(has(r, "OK    address: not an address (stored)")) << r.out;
    EXPECT_TRUE(has(r, "FAIL  address format: ")) << r.out;
    EXPECT_TRUE(has(r, "SKIP  connection: needs a valid address")) << r.out;
    { std::ofstream(SettingsFilePath(kDefaultAppKey), std::ios::app) << "[broken\n"; }
    r = doctor({"--address", "host.invalid:5025"});
    EXPECT_TRUE(has(r, "OK    settings: " + SettingsFilePath(kDefaultAppKey) +
                           " parses; lines it does not understand are kept as they are and "
                           "skipped: 3"))
        << r.out;
    EXPECT_TRUE(has(r, "FAIL  host: host.invalid does not resolve")) << r.out;

    // Device nodes: a missing one, and one this user may not write.
    r = doctor({"--address", "ASRL" + home_.root() + "/ttyNONE::INSTR"});
    EXPECT_TRUE(has(r, "FAIL  device: " + home_.root() + "/ttyNONE does not exist")) << r.out;
    const std::string node = home_.root() + "/usbtmc9";
    { std::ofstream(node) << ""; }
    std::filesystem::permissions(node, std::filesystem::perms::owner_read);
    r = doctor({"--address", node});
    if (::geteuid() != 0) {  // root may write anything
        EXPECT_TRUE(has(r, "may not be read and written")) << r.out;
    }
    EXPECT_EQ(r.status, kExitFailed);
}

}  // namespace
}  // namespace cvn::host::test
