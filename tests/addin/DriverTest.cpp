// GetDataFromInstrument end to end against the simulator, through dispatch
// as a host calls it. Prompts are answered by the scripted UI double and the
// driver's one-second waits go to its fake clock.
#include <gtest/gtest.h>

#include <QImage>

#include "addin/IWavecatch.h"
#include "automation/Dispatch.h"
#include "dialog/FWCdlgHalv.h"
#include "scope/Connection.h"
#include "sim/launch/SimProcess.h"
#include "support/AppKey.h"
#include "support/ScriptedUi.h"
#include "support/SettingsStore.h"
#include "tests/io/TransportChecks.h"

namespace cvn {
namespace {

using automation::Variant;

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_ = ScriptedUi::install();
        addin_ = automation::makeRef<IWavecatch>();
        static int run = 0;
        // A fresh settings key per test, as a host with its own key would use.
        automation::letProperty(*addin_, "RegistryKey", "Test\\Driver" + std::to_string(++run));
        gSession.reset();
    }
    void TearDown() override {
        FWCdlgHalv::modalHook = nullptr;
        gSession.reset();
        ScriptedUi::uninstall();
    }

    void setting(const std::string& key, const std::string& value) {
        SaveSetting(SettingsAppKey(), kSettingsSection, key, value);
    }
    Variant get(const char* name) { return automation::getProperty(*addin_, name); }
    void capture() {
        automation::invokeByName(*addin_, "GetDataFromInstrument", automation::InvokeKind::Method);
    }
    // Source codes (index 10) of every preamble block, in order.
    std::vector<int> codes() {
        std::vector<int> out;
        const Variant preamble = get("Preamble");
        const auto& p = preamble.array();
        for (int32_t i = 10; i <= p.upperBound(); i += 11) out.push_back(p.get(i).toLong());
        return out;
    }

    std::shared_ptr<ScriptedUi> ui_;
    automation::Ref<IWavecatch> addin_;
};

TEST_F(DriverTest, SilentCaptureWithStoredDefaults) {
    sim::SimProcess sim({"--model", "HV1014"});
    io::test::Side(sim.address(), ":RUN;:CHAN1:DISP ON");
    setting("Corvane Halvio Series", sim.address());
    capture();
    EXPECT_FALSE(get("Cancel").toBool());
    // Channel 1 and the screen image: one data set plus a picture.
    EXPECT_EQ(get("DataType").toLong(), 40);
    EXPECT_EQ(get("ActionType").toLong(), 5);
    EXPECT_EQ(get("XYDescription").toString(), "sec,Volt,sec,ch1");
    EXPECT_EQ(codes(), std::vector<int>{1});
    const Variant preamble = get("Preamble");
    const Variant y = get("YData");
    EXPECT_EQ(static_cast<double>(y.array().count()), preamble.array().get(2).toDouble());
    EXPECT_EQ(get("ModifiedMenuName").toString(), "HV1014");
    QImage image(QString::fromStdString(get("BMPfilePath").toString()));
    EXPECT_FALSE(image.isNull());
    // The scope is left stopped, and the driver waited once for it to settle.
    EXPECT_EQ(io::test::Ask(sim.address(), ":OPER?"), "0\n");
    EXPECT_EQ(ui_->totalWait(), std::chrono::milliseconds(1000));
    EXPECT_TRUE(ui_->boxes().empty());
}

TEST_F(DriverTest, SourcesThatAreNotDisplayedKeepTheirDescriptionOnly) {
    sim::SimProcess sim({"--model", "HV1014"});
    io::test::Side(sim.address(), ":CHAN1:DISP OFF;:CHAN2:DISP ON");
    setting("Corvane Halvio Series", sim.address());
    setting("ActiveChannels", "CHAN1,CHAN2");
    setting("Screen", "0");
    automation::letProperty(*addin_, "numberPoints", "1000");
    capture();
    EXPECT_EQ(get("DataType").toLong(), 8);
    EXPECT_EQ(get("ActionType").toLong(), 4);
    EXPECT_EQ(codes(), std::vector<int>{2});
    EXPECT_EQ(get("XYDescription").toString(), "sec,Volt,sec,ch1,sec,Volt,sec,ch2");

    // The loop ends at an empty entry, after its description.
    setting("ActiveChannels", "CHAN2,,CHAN3");
    capture();
    EXPECT_EQ(get("XYDescription").toString(), "sec,Volt,sec,ch2,sec,Volt,sec,ch1");
    EXPECT_EQ(codes(), std::vector<int>{2});
}

TEST_F(DriverTest, PodBitsAreSplitFromThePodBytes) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    io::test::Side(sim.address(), ":CHAN1:DISP ON;:POD1:DISP ON;:POD2:DISP ON");
    setting("Corvane Halvio Series", sim.address());
    setting("Screen", "0");
    setting("D0D7", "1");
    automation::letProperty(*addin_, "numberPoints", "500");
    capture();
    // The first pod is delivered only as its eight bits.
    EXPECT_EQ(get("DataType").toLong(), 64);
    EXPECT_EQ(codes(), (std::vector<int>{1, 100, 101, 102, 103, 104, 105, 106, 107}));
    std::string expected = "sec,Volt,sec,ch1,sec,byte,sec,Pod1";
    for (int bit = 0; bit < 8; ++bit) expected += ",sec,byte,sec,D" + std::to_string(bit);
    EXPECT_EQ(get("XYDescription").toString(), expected);

    // With the pod listed, its bytes come first and every bit set matches them.
    setting("ActiveChannels", "POD2");
    setting("D0D7", "0");
    setting("D8D15", "True");
    capture();
    EXPECT_EQ(codes(), (std::vector<int>{16, 200, 201, 202, 203, 204, 205, 206, 207}));
    const Variant yData = get("YData");
    const auto& y = yData.array();
    const int32_t n = static_cast<int32_t>(y.count() / 9);
    for (int bit = 0; bit < 8; ++bit)
        for (int32_t j = 0; j < n; j += 37)
            ASSERT_EQ(y.get((bit + 1) * n + j).toLong(), (y.get(j).toLong() >> bit) & 1);
    EXPECT_NE(get("XYDescription").toString().find(",sec,byte,sec,D15"), std::string::npos);
}

TEST_F(DriverTest, NoScopeAsksFourTimesThenGivesUp) {
    std::string gone;
    {
        sim::SimProcess sim;
        gone = sim.address();
    }
    setting("Corvane Halvio Series", gone);
    capture();
    ASSERT_EQ(ui_->boxes().size(), 4u);
    EXPECT_EQ(ui_->boxes()[0].text, "No connection, please try again.");
    EXPECT_EQ(ui_->boxes()[0].caption, "Corvane Wavecatch");
    EXPECT_EQ(ui_->boxes()[0].buttons, MsgButtons::OKCancel);
    EXPECT_TRUE(get("Cancel").toBool());
    EXPECT_EQ(get("DataType").toLong(), 0);

    ui_->reset();
    ui_->queueAnswer(MsgResult::Cancel);
    capture();
    EXPECT_EQ(ui_->boxes().size(), 1u);
    EXPECT_TRUE(get("Cancel").toBool());
}

TEST_F(DriverTest, RetryFindsTheScopeThenAFailedTransferIsReported) {
    // A scope that drops its connection in the middle of the transfer.
    sim::SimProcess sim({"--model", "HV1014", "--drop-after", "6"});
    std::string gone;
    {
        sim::SimProcess first;
        gone = first.address();
    }
    setting("Corvane Halvio Series", gone);
    setting("Screen", "0");
    automation::letProperty(*addin_, "numberPoints", "1000");
    // The user plugs the cable back in and presses OK: the address now in
    // the settings is read on the next pass.
    ui_->onMessageBox = [&](const MessageBoxRequest& box) {
        if (box.text.rfind("No connection, please", 0) == 0)
            setting("Corvane Halvio Series", sim.address());
        return MsgResult::OK;
    };
    capture();
    ASSERT_EQ(ui_->boxes().size(), 2u);
    EXPECT_EQ(ui_->boxes()[1].text, "Error retreiving scope data.\r\n\r\n");
    // A failed transfer does not cancel: the block is there, with no data.
    EXPECT_FALSE(get("Cancel").toBool());
    EXPECT_EQ(codes(), std::vector<int>{1});
}

TEST_F(DriverTest, CancelledDialogFetchesNothing) {
    sim::SimProcess sim({"--model", "HV1014"});
    setting("Corvane Halvio Series", sim.address());
    automation::letProperty(*addin_, "showDialog", true);
    FWCdlgHalv::modalHook = [](FWCdlgHalv& dialog) { dialog.cmdCancel_Click(); };
    capture();
    EXPECT_TRUE(get("Cancel").toBool());
    EXPECT_EQ(get("DataType").toLong(), 0);
    EXPECT_EQ(get("ActionType").toLong(), 0);
    EXPECT_TRUE(ui_->boxes().empty());
}

}  // namespace
}  // namespace cvn
