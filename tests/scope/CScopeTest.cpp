// CScope against the simulator over a real loopback connection.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "io/IoError.h"
#include "io/IoSession.h"
#include "scope/CScope.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "sim/launch/SimProcess.h"
#include "support/ErrorHandler.h"
#include "support/ModuleInfo.h"
#include "support/ScriptedUi.h"
#include "tests/io/TransportChecks.h"

namespace cvn {
namespace {

using io::test::Ask;
using io::test::Side;

// The file starts as a screen image does.
void ExpectBitmap(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[2] = {};
    in.read(magic, 2);
    EXPECT_EQ(std::string(magic, 2), "BM") << path;
}

class CScopeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove(ModelOverridePath());
        LoadModelTable();
        ui_ = std::make_shared<ScriptedUi>();
        setUiServices(ui_);
        gErrorHandler = std::make_shared<CErrorHandler>();
    }
    void TearDown() override { setUiServices(nullptr); }

    // How often "*IDN?" reached the simulator since its log was cleared.
    static int identifications(const sim::SimProcess& sim) {
        const std::string log = io::test::SimLog(sim.address());
        int n = 0;
        for (size_t at = log.find("*IDN?"); at != std::string::npos; at = log.find("*IDN?", at + 1))
            ++n;
        return n;
    }

    std::shared_ptr<ScriptedUi> ui_;
};

TEST_F(CScopeTest, ConnectIdentifiesModelChannelsAndPods) {
    sim::SimProcess mso({"--model", "MSOHX5104"});
    CScope scope;
    ASSERT_TRUE(scope.Connect(mso.address()));
    EXPECT_EQ(scope.model(), "MSOHX5104");
    EXPECT_TRUE(scope.IsMSO());
    EXPECT_EQ(scope.ChannelCount(), 4);

    sim::SimProcess twoChannel({"--model", "HV1012"});
    ASSERT_TRUE(scope.Connect(twoChannel.address()));
    EXPECT_EQ(scope.model(), "HV1012");
    EXPECT_FALSE(scope.IsMSO());
    EXPECT_EQ(scope.ChannelCount(), 2);

    // Nobody listens on a stopped simulator's port: Connect says false and
    // keeps the facts of the last scope it identified.
    const std::string gone = twoChannel.address();
    twoChannel.stop();
    CScope other;
    EXPECT_FALSE(other.Connect(gone));
    EXPECT_EQ(other.address(), gone);
    EXPECT_EQ(other.ChannelCount(), 0);
}

TEST_F(CScopeTest, DisplayRunControlAndSavedStates) {
    sim::SimProcess sim({"--model", "MSOHV3014"});
    CScope scope;
    ASSERT_TRUE(scope.Connect(sim.address()));

    scope.ChanDisp(2, true);
    scope.ChanDisp(1, false);
    scope.Output(":POD1:DISP OFF");
    scope.ChanDisp(4, true);  // the last channel
    scope.ChanDisp(5, true);  // beyond the channel count: nothing is sent
    EXPECT_TRUE(scope.IsChanDisp("CHAN2"));
    EXPECT_TRUE(scope.IsChanDisp("CHAN4"));
    EXPECT_FALSE(scope.IsChanDisp("CHAN1"));
    // A scope does not answer a query it does not know: that is a "no".
    scope.session()->SetTimeout(300);
    EXPECT_FALSE(scope.IsChanDisp("NOSUCH"));
    scope.session()->SetTimeout(10000);
    EXPECT_TRUE(scope.IsAnyOneDisp());

    scope.SaveChanState();
    for (int16_t c = 1; c <= 4; ++c) scope.ChanDisp(c, false);
    scope.Output(":POD1:DISP ON");
    EXPECT_TRUE(scope.IsAnyOneDisp());  // the pod counts on an MSO model
    scope.RestoreChanState();
    // A query on the same session first: the simulator serves each
    // connection on its own, so the other connection could overtake.
    scope.session()->Output("*OPC?");
    scope.session()->EnterText();
    EXPECT_EQ(Ask(sim.address(), ":CHAN2:DISP?"), "1\n");
    EXPECT_EQ(Ask(sim.address(), ":CHAN1:DISP?"), "0\n");
    EXPECT_EQ(Ask(sim.address(), ":POD1:DISP?"), "0\n");

    scope.Output(":RUN");
    EXPECT_TRUE(scope.IsRunning());
    scope.SetStopMode(true);  // running: stopped, and remembered
    EXPECT_FALSE(scope.IsRunning());
    scope.SetStopMode(false);
    EXPECT_TRUE(scope.IsRunning());
    scope.StopRunning();
    EXPECT_FALSE(scope.IsRunning());
    scope.RunSingle();
    EXPECT_TRUE(ui_->boxes().empty());
}

TEST_F(CScopeTest, ADroppedConnectionGivesAClearError) {
    sim::SimProcess dropping({"--drop-after", "1"});
    CScope scope;
    ASSERT_TRUE(scope.Connect(dropping.address()));  // message 1
    EXPECT_FALSE(scope.IsRunning());                 // message 2: dropped before the reply
    const io::IoError e = io::test::errorOf([&] {
        scope.Output(":RUN");
        scope.session()->EnterText();
    });
    EXPECT_TRUE(e.code() == io::kIoClosed || e.code() == io::kIoFailure) << e.what();
    EXPECT_FALSE(e.description().empty());

    // SetStopMode never throws; without a session its failure shows nothing.
    CScope unconnected;
    unconnected.SetStopMode(true);
    EXPECT_TRUE(ui_->boxes().empty());
}

TEST_F(CScopeTest, ScreenImageIsWrittenUnchangedToANewFile) {
    sim::SimProcess sim;
    CScope scope;
    ASSERT_TRUE(scope.Connect(sim.address()));
    std::string first, second;
    bool error = false;
    scope.GetBitMap(first, error, false);
    scope.GetBitMap(second, error, true);
    ASSERT_FALSE(error);
    EXPECT_NE(first, second);
    for (const auto& path : {first, second}) {
        ExpectBitmap(path);
        // Only its owner may read what the scope showed.
        EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        std::filesystem::remove(path);
    }
    EXPECT_EQ(scope.session()->Timeout(), 10000);
}

TEST_F(CScopeTest, TheConnectionCheckAsksOnceAndReplacesOnlyBrokenSessions) {
    sim::SimProcess sim({"--model", "HV1014"});
    std::string model;
    bool connected = false;
    gSession.reset();
    gScope.reset();
    ASSERT_TRUE(isConnected(sim.address(), true, model, connected));
    const auto scopeSession = scope().session();
    const auto session = gSession;
    scopeSession->SetTimeout(300);

    // A scope that stops answering: each session asks once, no reopening.
    Side(sim.address(), ":SIMulator:LOG:CLEar;:SIMulator:FAULt:SILent ON");
    EXPECT_FALSE(isConnected(sim.address(), true, model, connected));
    EXPECT_EQ(identifications(sim), 2);
    ASSERT_EQ(ui_->boxes().size(), 1u);
    EXPECT_EQ(ui_->boxes()[0].text, "No connection.\r\n\r\n");
    EXPECT_EQ(scope().session(), scopeSession);
    EXPECT_EQ(gSession, session);
    EXPECT_TRUE(gSession->Broken());  // its reply may still come

    // Back again: the sessions that failed are replaced, once each.
    Side(sim.address(), ":SIMulator:FAULt:SILent OFF;:SIMulator:LOG:CLEar");
    ASSERT_TRUE(isConnected(sim.address(), true, model, connected));
    EXPECT_EQ(model, "HV1014");
    EXPECT_NE(gSession, session);
    EXPECT_NE(scope().session(), scopeSession);
    // One question from gScope, one check and one for the model field.
    EXPECT_EQ(identifications(sim), 3);
    const auto healthy = gSession;
    ASSERT_TRUE(isConnected(sim.address(), true, model, connected));
    EXPECT_EQ(gSession, healthy);  // a working session is kept

    // A slow first identification is "not connected", asked once; its late
    // reply does not answer the next check.
    Side(sim.address(), ":SIMulator:LOG:CLEar;:SIMulator:FAULt:IDNDelay 700");
    scope().session()->SetTimeout(1500);
    EXPECT_FALSE(isConnected(sim.address(), true, model, connected));
    EXPECT_EQ(identifications(sim), 2);
    Side(sim.address(), ":SIMulator:FAULt:IDNDelay 0");
    ASSERT_TRUE(isConnected(sim.address(), true, model, connected));
    EXPECT_EQ(model, "HV1014");
    gSession->Output(":CHAN1:DISP?");
    EXPECT_EQ(gSession->EnterText(), "1\n");
}

TEST_F(CScopeTest, ANewAddressStartsWithTheDefaultTimeoutAndAFailedOpenKeepsTheOldSession) {
    sim::SimProcess first;
    sim::SimProcess second;
    std::string refused;
    {
        sim::SimProcess gone;
        refused = gone.address();
    }
    std::string model;
    bool connected = false;
    gSession.reset();
    gScope.reset();
    ASSERT_TRUE(isConnected(first.address(), false, model, connected));
    const int fresh = gSession->Timeout();
    gSession->SetTimeout(1234);
    scope().session()->SetTimeout(1234);
    ASSERT_TRUE(isConnected(second.address(), false, model, connected));
    EXPECT_EQ(gSession->Timeout(), fresh);
    EXPECT_EQ(scope().session()->Timeout(), fresh);

    const auto session = gSession;
    const auto manager = gIoManager;
    EXPECT_FALSE(isConnected(refused, false, model, connected));
    EXPECT_EQ(gSession, session);
    EXPECT_EQ(gIoManager, manager);
    gSession->Output("*OPC?");
    EXPECT_EQ(gSession->EnterText(), "1\n");
}

TEST_F(CScopeTest, AStalePartFileDoesNotBlockTheFallbackImagePath) {
    // No temporary folder: the image goes to the fixed fallback beside the
    // module, where a crashed run left its part file.
    const std::string fallback = ModuleFolder() + "~cvnWC.tmp";
    std::filesystem::remove(fallback);
    std::ofstream(fallback + ".part") << "left over";
    const char* tmp = std::getenv("TMPDIR");
    const std::string saved = tmp ? tmp : "";
    ::setenv("TMPDIR", "/nonexistent-cvn-folder", 1);

    sim::SimProcess sim;
    CScope scope;
    ASSERT_TRUE(scope.Connect(sim.address()));
    std::string path;
    bool error = false;
    scope.GetBitMap(path, error, false);
    if (saved.empty())
        ::unsetenv("TMPDIR");
    else
        ::setenv("TMPDIR", saved.c_str(), 1);
    EXPECT_EQ(path, fallback);
    EXPECT_FALSE(error);
    ExpectBitmap(fallback);
    std::filesystem::remove(fallback);
    std::filesystem::remove(fallback + ".part");
}

}  // namespace
}  // namespace cvn
