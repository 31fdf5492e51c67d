// The connection check and the waveform transfer against the simulator,
// checking the exact bytes the add-in sends and what the user is shown.
#include "support/AppKey.h"
#include "support/SettingsStore.h"
#include "tests/waveform/WaveformTestSupport.h"
#include "waveform/AcquisitionSetup.h"

namespace cvn {
namespace {

using TransferTest = test::AcquisitionFixture;

TEST_F(TransferTest, ConnectionCheckAcceptsOnlySupportedModels) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    std::string model;
    bool connected = false;
    ASSERT_TRUE(isConnected(sim.address(), true, model, connected));
    EXPECT_TRUE(connected);
    EXPECT_EQ(model, "MSOHX5104");
    EXPECT_EQ(gSession->Timeout(), 10000);  // the 500 ms identification limit is undone
    EXPECT_EQ(GetSetting(SettingsAppKey(), "Settings", "Corvane Halvio Series"), sim.address());
    const auto first = gSession;
    ASSERT_TRUE(isConnected(sim.address(), true, model, connected));
    EXPECT_EQ(gSession, first);  // same address: the session is reused

    sim::SimProcess other({"--model", "ZZ9000"});
    EXPECT_FALSE(isConnected(other.address(), false, model, connected));
    EXPECT_FALSE(gSession);
    ASSERT_EQ(ui_->boxes().size(), 1u);  // shown even without showMessages
    EXPECT_EQ(ui_->boxes()[0].text, "Incorrect model.\r\n\r\n");

    sim::SimProcess slow({"--idn-delay-ms", "900"});
    EXPECT_FALSE(isConnected(slow.address(), true, model, connected));
    ASSERT_EQ(ui_->boxes().size(), 2u);
    EXPECT_EQ(ui_->boxes()[1].text, "No connection.\r\n\r\n");
    EXPECT_EQ(gSession->Timeout(), 10000);
}

TEST_F(TransferTest, ChannelAndPodTransfersSendTheExactCommands) {
    sim::SimProcess sim({"--model", "HX7100104"});
    Connect(sim);
    gSession->Output(":CHAN3:DISP ON");

    ClearLog(sim);
    Read r = ReadSource("CHAN3");
    EXPECT_FALSE(r.cancel);
    EXPECT_EQ(r.pre[10], 3);
    auto* words = std::get_if<cvn::DataVector<int16_t>>(&r.data);
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(static_cast<double>(words->size()), r.pre[2]);
    EXPECT_EQ(gSession->Timeout(), 10000);
    const std::string sent = Log(sim);
    // The streaming switch goes out once: this model is of the newest family.
    EXPECT_NE(
        sent.find("*IDN?\nWAVeform:STReaming OFF\n:WAVEFORM:VIEW MAIN\n:System:Header OFF\n"
                  ":System:LONGform OFF\n:WAVeform:FORMat WORD\n:WAVEFORM:BYTEORDER MSBFIRST\n"
                  ":WAVeform:SOURce  Channel3\n:WAVeform:PREamble?\n:WAVeform:DATA?"),
        std::string::npos)
        << sent;

    ClearLog(sim);
    r = ReadSource("POD2");
    EXPECT_EQ(r.pre[10], 16);
    ASSERT_NE(std::get_if<cvn::DataVector<uint8_t>>(&r.data), nullptr);
    EXPECT_NE(Log(sim).find(":WAVEFORM:BYTEORDER MSBFIRST\n:WAVeform:FORMat BYTE\n"
                            ":WAVeform:SOURce  POD2\n"),
              std::string::npos);
    EXPECT_TRUE(ui_->boxes().empty());
}

TEST_F(TransferTest, APreambleWithFieldsOfItsOwnAfterTheTenthIsRead) {
    sim::SimProcess sim({"--preamble-extra", "CHANNEL1"});
    Connect(sim);
    for (std::string extra : {"", "\"\"", "\"+1.5,MAIN\""}) {
        SCOPED_TRACE(extra);
        if (!extra.empty()) Control(sim, ":SIMulator:FAULt:PREXtra " + extra);
        PreambleBlock block{};
        block.fill(-7);
        RawData data;
        bool cancel = false;
        ReadSourceWaveform(gSession, data, block, "CHAN1", cancel);
        EXPECT_FALSE(cancel);
        EXPECT_TRUE(ui_->boxes().empty());
        EXPECT_EQ(static_cast<double>(RawDataSize(data)), block[2]);
        EXPECT_EQ(block[10], 1);
        for (size_t i = 0; i < 10; ++i) EXPECT_NE(block[i], -7) << i;
    }
}

// A long block reports its progress to the UI services while it arrives:
// in order, named by its source, ending at its total; afterwards the
// session's other replies report nothing.
TEST_F(TransferTest, BlockProgressReachesTheUiInOrderAndEndsAtTheTotal) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    Connect(sim);
    gSession->Output(":WAVeform:POINts 1000000");
    for (const char* source : {"CHAN1", "POD1"}) {
        const Read r = ReadSource(source);
        ASSERT_FALSE(r.cancel);
        const size_t bytes = RawDataSize(r.data) * (std::string(source) == "CHAN1" ? 2 : 1);
        ASSERT_EQ(RawDataSize(r.data), 1000000u);
        std::vector<ScriptedUi::Progress> mine;
        for (const auto& p : ui_->progress())
            if (p.total == bytes) mine.push_back(p);
        ASSERT_FALSE(mine.empty()) << source;
        for (size_t i = 0; i < mine.size(); ++i) {
            EXPECT_NE(mine[i].source.find(source[0] == 'C' ? "1" : "POD1"), std::string::npos)
                << mine[i].source;
            if (i) {
                EXPECT_GT(mine[i].received, mine[i - 1].received);
            }
        }
        EXPECT_EQ(mine.back().received, bytes);
    }
    const size_t reports = ui_->progress().size();
    EXPECT_EQ(ui_->progress().front().total, 2000000u);  // nothing before the first block
    gSession->Output(":WAVeform:PREamble?");
    gSession->EnterText();
    EXPECT_EQ(ui_->progress().size(), reports);
}

TEST_F(TransferTest, FailedTransferIsReportedAndKeepsEarlierData) {
    sim::SimProcess sim({"--model", "HV1014", "--drop-after", "10"});
    Connect(sim);                                                  // 2 messages
    Read r = ReadSource("CHAN1", cvn::DataVector<int16_t>{7, 7});  // DATA? is dropped
    EXPECT_FALSE(r.cancel);  // a failed transfer does not cancel the retrieval
    EXPECT_EQ(r.pre[10], 1);
    EXPECT_EQ(std::get<cvn::DataVector<int16_t>>(r.data), (cvn::DataVector<int16_t>{7, 7}));
    EXPECT_EQ(gSession->Timeout(), 10000);
    ASSERT_EQ(ui_->boxes().size(), 1u);
    EXPECT_EQ(ui_->boxes()[0].text, "Error retreiving scope data.\r\n\r\n");
    EXPECT_EQ(ui_->boxes()[0].caption, "Wavecatch for Corvane Halvio");

    // Without a session the wrapper itself fails and cancels.
    gSession.reset();
    EXPECT_TRUE(ReadSource("CHAN1").cancel);
}

TEST_F(TransferTest, MaximumPointsCheckAsksAndCorrects) {
    sim::SimProcess sim;
    Connect(sim);
    bool cancel = false;
    CheckMaxPointsSetup(cancel);  // power-on: main view, no averaging
    EXPECT_TRUE(ui_->boxes().empty());

    gSession->Output(":ACQuire:AVERage ON;:ACQuire:COUNt 16");
    ui_->queueAnswer(MsgResult::Cancel);
    CheckMaxPointsSetup(cancel);
    EXPECT_TRUE(cancel);
    ASSERT_EQ(ui_->boxes().size(), 1u);
    EXPECT_EQ(ui_->boxes()[0].caption, "Corvane Wavecatch");
    EXPECT_EQ(ui_->boxes()[0].buttons, MsgButtons::YesNoCancel);

    ClearLog(sim);
    ui_->queueAnswer(MsgResult::Yes);
    cancel = false;
    CheckMaxPointsSetup(cancel);
    EXPECT_FALSE(cancel);
    EXPECT_NE(Log(sim).find("TIMebase:VIEW Main\n:ACQuire:AVERAGE OFF\n:DIGITIZE"),
              std::string::npos);
    CheckMaxPointsSetup(cancel);  // corrected: no more questions
    EXPECT_EQ(ui_->boxes().size(), 2u);
}

}  // namespace
}  // namespace cvn
