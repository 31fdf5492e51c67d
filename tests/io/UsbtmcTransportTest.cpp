// The usbtmc transport against an emulation of the kernel driver's
// user-space behaviour, answered by the simulated scope: replies cut into
// transfers of every awkward size, messages that end exactly on a read
// boundary, a 16 MB block, a time-out in the middle of a message, a late
// reply, an unplugged device, and a driver too old to report EOM. Each ends
// in the right data or a clear IoError, and the session stays in step.
// No device node is opened: the emulation stands in for every usbtmc path.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/IoError.h"
#include "io/IoSession.h"
#include "io/UsbtmcTransport.h"
#include "sim/fronts/UsbtmcEmulation.h"
#include "sim/instrument/Instrument.h"
#include "tests/io/TransportChecks.h"

namespace cvn::io {
namespace {

using namespace std::chrono_literals;
using test::Answers;
using test::CodeOf;

// A path no machine is likely to have; the emulation answers for it.
constexpr const char* kNode = "/dev/usbtmc97";

class UsbtmcTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetUsbtmcPortFactory([this](const std::string& path) {
            EXPECT_EQ(path, kNode);
            return usb_.open();
        });
    }
    void TearDown() override { SetUsbtmcPortFactory({}); }

    IoSessionPtr Open() { return IoManager().Open(kNode); }

    // The record of channel 1 over the emulation, `points` words.
    void Points(IoSession& s, long points) {
        s.Output(":WAVeform:POINts:MODE RAW;:WAVeform:POINts " + std::to_string(points) +
                 ";:WAVeform:SOURce CHAN1;:WAVeform:FORMat WORD");
    }

    sim::Instrument scope_;
    sim::UsbtmcEmulation usb_{scope_};
};

TEST_F(UsbtmcTransportTest, TextRepliesWhateverTheDeviceTransferSize) {
    auto s = Open();
    s->Output("*IDN?");
    const std::string idn = s->EnterText();
    ASSERT_EQ(idn.rfind("CORVANE,", 0), 0u) << idn;
    // A short transfer is not the end of the message; with no terminator
    // set, only EOM ends the text, and the whole of it arrives.
    for (size_t transfer : {size_t{1}, size_t{7}, idn.size() - 1, idn.size(), idn.size() + 1}) {
        SCOPED_TRACE(transfer);
        usb_.setMaxTransfer(transfer);
        s->SetTermChar(-1);
        s->Output("*IDN?");
        EXPECT_EQ(s->EnterText(), idn);
        s->SetTermChar(10);
        EXPECT_TRUE(Answers(*s));
    }
    // A raw read as large as the reply: the message ends exactly at the read
    // boundary, and the next read starts with the next reply.
    usb_.setMaxTransfer(0);
    std::vector<uint8_t> buf(idn.size());
    s->SetTermChar(-1);
    s->Output("*IDN?");
    ASSERT_EQ(s->ReadBytes(buf.data(), buf.size()), idn.size());
    EXPECT_EQ(std::string(buf.begin(), buf.end()), idn);
    s->SetTermChar(10);
    EXPECT_TRUE(Answers(*s));
}

TEST_F(UsbtmcTransportTest, BlocksCutAtEveryBoundary) {
    auto s = Open();
    Points(*s, 1000);
    s->Output(":WAVeform:DATA?");
    const auto expected = s->EnterWords();
    ASSERT_EQ(expected.size(), 1000u);
    // "#42000" + 2000 data bytes + "\n" = 2007 bytes: transfers that divide
    // the message, the data, or neither, and that end on the last data byte.
    for (size_t transfer : {size_t{1}, size_t{2}, size_t{6}, size_t{669}, size_t{1000},
                            size_t{2006}, size_t{2007}, size_t{2008}, size_t{4096}}) {
        SCOPED_TRACE(transfer);
        usb_.setMaxTransfer(transfer);
        s->Output(":WAVeform:DATA?");
        const auto words = s->EnterWords();
        ASSERT_EQ(words.size(), expected.size());
        EXPECT_TRUE(std::equal(words.begin(), words.end(), expected.begin()));
        EXPECT_TRUE(Answers(*s));
    }
    usb_.setMaxTransfer(0);
    test::ExpectPodBytesAndScreenImage(*s, 1000);
}

TEST_F(UsbtmcTransportTest, SixteenMegabytesInMegabyteTransfers) {
    auto s = Open();
    s->SetTimeout(40000);
    Points(*s, 8'000'000);
    // 16,000,000 data bytes: an exact multiple of the transfer size.
    usb_.setMaxTransfer(1'000'000);
    s->Output(":WAVeform:DATA?");
    const auto words = s->EnterWords();
    ASSERT_EQ(words.size(), 8'000'000u);
    // The same record over a plain read of everything, for comparison.
    usb_.setMaxTransfer(0);
    s->Output(":WAVeform:DATA?");
    const auto again = s->EnterWords();
    EXPECT_TRUE(std::equal(words.begin(), words.end(), again.begin()));
    EXPECT_TRUE(Answers(*s));
}

TEST_F(UsbtmcTransportTest, ATimeOutMidMessageAbortsTheTransfer) {
    auto s = Open();
    s->SetTimeout(300);
    Points(*s, 1000);
    usb_.stallNextReplyAfter(1000);
    s->Output(":WAVeform:DATA?");
    const auto start = std::chrono::steady_clock::now();
    try {
        s->EnterWords();
        ADD_FAILURE() << "a stalled block was accepted";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), kIoTimeout) << e.what();
        EXPECT_NE(std::string(e.what()).find("of 2000 data bytes"), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_GE(usb_.aborts(), 1);
    EXPECT_TRUE(Answers(*s));

    // A reply that comes after the time-out is aborted too, and does not
    // answer the next query.
    auto side = Open();
    side->Output(":SIMulator:FAULt:DELay 600");
    s->Output("*IDN?");
    EXPECT_EQ(CodeOf([&] { s->EnterText(); }), kIoTimeout);
    side->Output(":SIMulator:FAULt:DELay 0");
    s->SetTimeout(2000);
    EXPECT_TRUE(Answers(*s));
}

TEST_F(UsbtmcTransportTest, AnUnpluggedDeviceIsAClosedConnection) {
    auto s = Open();
    s->SetTimeout(2000);
    Points(*s, 1000);
    s->Output(":SIMulator:FAULt:CUT ON");
    s->Output(":WAVeform:DATA?");
    try {
        s->EnterWords();
        ADD_FAILURE() << "a cut block was accepted";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), kIoClosed) << e.what();
        EXPECT_NE(std::string(e.what()).find("inside the block"), std::string::npos) << e.what();
    }
    EXPECT_EQ(CodeOf([&] { s->Output("*IDN?"); }), kIoClosed);
    // Plugged in again: a new session works, the old one stays closed.
    auto again = Open();
    again->Output(":SIMulator:FAULt:CUT OFF");
    EXPECT_TRUE(Answers(*again));
    EXPECT_FALSE(Answers(*s));

    usb_.unplug();
    EXPECT_EQ(CodeOf([&] { again->Output("*IDN?"); }), kIoClosed);
}

TEST_F(UsbtmcTransportTest, AnOldDriverWithoutEndReportsStillFramesReplies) {
    usb_.setOldDriver(true);
    auto s = Open();
    Points(*s, 1000);
    s->Output(":WAVeform:DATA?");
    EXPECT_EQ(s->EnterWords().size(), 1000u);
    s->SetTermChar(-1);
    s->Output("*IDN?");
    EXPECT_EQ(s->EnterText().rfind("CORVANE,", 0), 0u);
    EXPECT_TRUE(Answers(*s));
}

TEST_F(UsbtmcTransportTest, IndefiniteBlocksAndLateTerminators) {
    auto s = Open();
    s->SetTimeout(2000);
    Points(*s, 1000);
    s->Output(":WAVeform:DATA?");
    const auto expected = s->EnterWords();
    // "#0" blocks end at the message END, whatever line feeds the data holds.
    usb_.setMaxTransfer(333);
    s->Output(":SIMulator:FAULt:INDefinite ON");
    s->Output(":WAVeform:DATA?");
    auto words = s->EnterWords();
    ASSERT_EQ(words.size(), expected.size());
    EXPECT_TRUE(std::equal(words.begin(), words.end(), expected.begin()));
    s->Output(":SIMulator:FAULt:INDefinite OFF");
    EXPECT_TRUE(Answers(*s));
    // The block's line feed comes after its data, late, in the same message.
    s->Output(":SIMulator:FAULt:LATEterm 300");
    for (int i = 0; i < 2; ++i) {
        s->Output(":WAVeform:DATA?");
        words = s->EnterWords();
        EXPECT_TRUE(std::equal(words.begin(), words.end(), expected.begin()));
    }
    s->Output(":SIMulator:FAULt:LATEterm 0");
    EXPECT_TRUE(Answers(*s));
}

// Garbage and a header that lies by closing the line are transport fault
// cells; here the lie that leaves the line open ends at the message END.
TEST_F(UsbtmcTransportTest, AHeaderPromisingMoreThanTheMessageIsAClearError) {
    auto s = Open();
    s->SetTimeout(500);
    Points(*s, 1000);
    s->Output(":SIMulator:FAULt:LIE WAIT");
    s->Output(":WAVeform:DATA?");
    // The message ends (EOM) before the declared length: no waiting.
    EXPECT_EQ(CodeOf([&] { s->EnterWords(); }), kIoMalformed);
    s->Output(":SIMulator:FAULt:LIE OFF");
    EXPECT_TRUE(Answers(*s));
}

}  // namespace
}  // namespace cvn::io
