#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "io/IoSession.h"
#include "scope/CScope.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "sim/launch/SimProcess.h"
#include "support/ErrorHandler.h"
#include "support/ModuleInfo.h"
#include "support/ScriptedUi.h"
#include "tests/io/TransportChecks.h"
#include "tests/support/TempHome.h"

namespace cvn {
namespace {

// Writes the override file beside the test binary and removes it afterwards.
class OverrideFile {
public:
    explicit OverrideFile(const std::string& content) {
        std::ofstream(ModelOverridePath(), std::ios::binary) << content;
    }
    ~OverrideFile() { std::filesystem::remove(ModelOverridePath()); }
};

TEST(ModelTable, BuiltInListsHaveTheDocumentedShape) {
    std::filesystem::remove(ModelOverridePath());
    LoadModelTable();
    ASSERT_EQ(gModels.size(), 67u);
    int pods = 0;
    for (size_t i = 0; i < gModels.size(); ++i) {
        const auto& id = gModels[i];
        pods += ModelHasPods(id);
        // Only the newest family (the last 30) needs streaming switched off.
        EXPECT_EQ(FamilyFragmentCount(id) > 0, i >= 37) << id;
        const int expected =
            (i + 1 == 6 || i + 1 == 8 || i + 1 == 10 || i + 1 == 11 || i + 1 == 14 || i + 1 == 15)
                ? 2
                : 4;
        EXPECT_EQ(ChannelCountOf(id, gModelList, gChannelList), expected) << id;
    }
    EXPECT_EQ(pods, 10);
}

TEST(ModelTable, SupportIsFoundAnywhereInTheReplyIgnoringCase) {
    std::filesystem::remove(ModelOverridePath());
    LoadModelTable();
    EXPECT_TRUE(IsSupportedModel("CORVANE,MSOHX5104,CVN00000001,1.0\n"));
    EXPECT_TRUE(IsSupportedModel("corvane,hx7pro1004,x,y"));
    EXPECT_FALSE(IsSupportedModel("OTHER,ZZ9000,1,1"));
    EXPECT_FALSE(ChannelCountOf("NOPE", gModelList, gChannelList).has_value());
    EXPECT_EQ(ChannelCountOf("hv1012", gModelList, gChannelList), 2);
    EXPECT_TRUE(ModelHasPods("hvs3014d"));
    EXPECT_TRUE(ModelHasPods("msoX"));
    EXPECT_FALSE(ModelHasPods("HXMSO1"));
}

TEST(ModelTable, OverrideFileReplacesBothLists) {
    {
        OverrideFile file("[Corvane Halvio Series]\nModel=AB12,CD34\nChannels=2\n");
        LoadModelTable();
        EXPECT_EQ(gModelList, "AB12,CD34");
        EXPECT_TRUE(IsSupportedModel("X,ab12,Y"));
        EXPECT_FALSE(IsSupportedModel("X,HV1014,Y"));
        // A channel list shorter than the model list gives no count.
        EXPECT_EQ(ChannelCountOf("AB12", gModelList, gChannelList), 2);
        EXPECT_FALSE(ChannelCountOf("CD34", gModelList, gChannelList).has_value());
    }
    {
        // An empty entry is contained in every text: everything is supported.
        OverrideFile file("[corvane halvio series]\nmodel=AB12,,CD34\n");
        LoadModelTable();
        EXPECT_TRUE(IsSupportedModel("anything at all"));
    }
    {
        OverrideFile file("[Corvane Halvio Series]\nModel=" + std::string(600, 'Q') + "\n");
        LoadModelTable();
        EXPECT_EQ(gModelList.size(), 499u);
    }
    LoadModelTable();
    EXPECT_EQ(gModels.size(), 67u);
}

class ModelTableScopeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_ = ScriptedUi::install();
        gErrorHandler = std::make_shared<CErrorHandler>(home_.root() + "/log");
        gSession.reset();
        gScope.reset();
    }
    void TearDown() override {
        gSession.reset();
        gScope.reset();
        ScriptedUi::uninstall();
        std::filesystem::remove_all(ModelOverridePath());
    }
    test::TempHome home_;
    std::shared_ptr<ScriptedUi> ui_;
};

TEST_F(ModelTableScopeTest, AnOverrideWithoutModelsSupportsNoScopeAtAll) {
    sim::SimProcess sim({"--model", "HV1014"});
    const std::vector<std::string> contents = {
        "",
        "[Corvane Halvio Series]\nChannels=4,4\n",
        "[Another Series]\nModel=HV1014\nChannels=4\n",
        "[Corvane Halvio Series]\nModel=\n",
        "folder",
    };
    for (const std::string& content : contents) {
        SCOPED_TRACE(content);
        std::filesystem::remove_all(ModelOverridePath());
        if (content == "folder")
            std::filesystem::create_directory(ModelOverridePath());
        else
            std::ofstream(ModelOverridePath(), std::ios::binary) << content;
        LoadModelTable();
        EXPECT_EQ(gModelList, "");
        EXPECT_TRUE(gModels.empty());
        EXPECT_FALSE(IsSupportedModel("CORVANE,HV1014,CVN1,1.0\n"));
        EXPECT_FALSE(IsSupportedModel(""));

        ui_->reset();
        std::string model;
        bool connected = false;
        EXPECT_FALSE(isConnected(sim.address(), false, model, connected));
        EXPECT_FALSE(gSession);
        ASSERT_EQ(ui_->boxes().size(), 1u);
        EXPECT_EQ(ui_->boxes()[0].text, "Incorrect model.\r\n\r\n");
    }
}

TEST_F(ModelTableScopeTest, DisplayStatesFollowAChannelCountAboveFour) {
    OverrideFile file("[Corvane Halvio Series]\nModel=HVX8\nChannels=8\n");
    LoadModelTable();
    sim::SimProcess sim({"--idn", "CORVANE,HVX8,CVN1,1.0"});
    CScope scope;
    ASSERT_TRUE(scope.Connect(sim.address()));
    ASSERT_EQ(scope.ChannelCount(), 8);
    auto log = [&] {
        scope.session()->SetTimeout(2000);
        scope.session()->Output("*OPC?");
        scope.session()->EnterText();
        const std::string sent = io::test::SimLog(sim.address());
        io::test::Side(sim.address(), ":SIMulator:LOG:CLEar");
        return sent;
    };
    log();
    // The simulator has four channels and does not answer for the others.
    scope.session()->SetTimeout(200);
    scope.SaveChanState();
    std::string sent = log();
    for (int i = 1; i <= 8; ++i)
        EXPECT_NE(sent.find(":CHAN" + std::to_string(i) + ":DISP?"), std::string::npos) << sent;
    scope.RestoreChanState();
    sent = log();
    EXPECT_NE(sent.find(":CHAN1:DISP 1\n"), std::string::npos) << sent;
    EXPECT_NE(sent.find(":CHAN8:DISP "), std::string::npos) << sent;
}

}  // namespace
}  // namespace cvn
