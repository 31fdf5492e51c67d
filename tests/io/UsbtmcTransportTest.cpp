// The usbtmc transport against an emulation of the kernel driver, answered
// by the simulated scope: replies cut into transfers of every awkward size,
// a 16 MB block, a time-out mid-message, a late reply, an unplugged device,
// a driver too old to report EOM, and blocks that lie or never say their
// length. No device node is opened: the emulation stands in for the path.
#include <gtest/gtest.h>

#include <chrono>
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

constexpr const char* kNode = "/dev/usbtmc97";  // answered by the emulation

class UsbtmcTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetUsbtmcPortFactory([this](const std::string& path) {
            EXPECT_EQ(path, kNode);
            return usb_.open();
        });
    }
    void TearDown() override { SetUsbtmcPortFactory({}); }

    // A session set to read channel 1 as `points` words.
    IoSessionPtr Open(long points = 1000, int timeoutMs = 2000) {
        auto s = IoManager().Open(kNode);
        s->SetTimeout(timeoutMs);
        s->Output(":WAVeform:POINts:MODE RAW;:WAVeform:POINts " + std::to_string(points) +
                  ";:WAVeform:SOURce CHAN1;:WAVeform:FORMat WORD");
        return s;
    }
    static DataVector<int16_t> Words(IoSession& s) {
        s.Output(":WAVeform:DATA?");
        return s.EnterWords();
    }

    sim::Instrument scope_;
    sim::UsbtmcEmulation usb_{scope_};
};

TEST_F(UsbtmcTransportTest, RepliesWhateverTheDeviceTransferSize) {
    auto s = Open();
    s->Output("*IDN?");
    const std::string idn = s->EnterText();
    ASSERT_EQ(idn.rfind("CORVANE,", 0), 0u) << idn;
    const auto expected = Words(*s);
    ASSERT_EQ(expected.size(), 1000u);
    // A short transfer is not the end of a message: text with no terminator
    // set ends at EOM; "#42000" + 2000 bytes + "\n" is 2007 bytes, cut so
    // the transfers divide the message, the data, or neither.
    for (size_t transfer : {size_t{1}, size_t{2}, size_t{7}, idn.size(), idn.size() + 1,
                            size_t{669}, size_t{2006}, size_t{2007}, size_t{4096}}) {
        SCOPED_TRACE(transfer);
        usb_.setMaxTransfer(transfer);
        s->SetTermChar(-1);
        s->Output("*IDN?");
        EXPECT_EQ(s->EnterText(), idn);
        s->SetTermChar(10);
        EXPECT_EQ(Words(*s), expected);
        EXPECT_TRUE(Answers(*s));
    }
    // A raw read as large as the reply ends exactly at the read boundary.
    usb_.setMaxTransfer(0);
    std::vector<uint8_t> buf(idn.size());
    s->SetTermChar(-1);
    s->Output("*IDN?");
    ASSERT_EQ(s->ReadBytes(buf.data(), buf.size()), idn.size());
    EXPECT_EQ(std::string(buf.begin(), buf.end()), idn);
}

TEST_F(UsbtmcTransportTest, SixteenMegabytesInMegabyteTransfers) {
    auto s = Open(8'000'000, 40000);
    usb_.setMaxTransfer(1'000'000);  // 16,000,000 data bytes: an exact multiple
    const auto words = Words(*s);
    ASSERT_EQ(words.size(), 8'000'000u);
    usb_.setMaxTransfer(0);
    EXPECT_EQ(Words(*s), words);
}

TEST_F(UsbtmcTransportTest, TimeOutsAbortTheTransferAndLateRepliesAnswerNothing) {
    auto s = Open(1000, 300);
    usb_.stallNextReplyAfter(1000);
    const auto start = std::chrono::steady_clock::now();
    const IoError e = test::errorOf([&] { Words(*s); });
    EXPECT_EQ(e.code(), kIoTimeout) << e.what();
    EXPECT_NE(std::string(e.what()).find("of 2000 data bytes"), std::string::npos) << e.what();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_GE(usb_.aborts(), 1);
    EXPECT_TRUE(Answers(*s));
    scope_.Execute(":SIMulator:FAULt:DELay 600");
    s->Output("*IDN?");
    EXPECT_EQ(CodeOf([&] { s->EnterText(); }), kIoTimeout);
    scope_.Execute(":SIMulator:FAULt:DELay 0");
    s->SetTimeout(2000);
    EXPECT_TRUE(Answers(*s));
}

TEST_F(UsbtmcTransportTest, AnUnpluggedDeviceIsAClosedConnection) {
    auto s = Open();
    scope_.Execute(":SIMulator:FAULt:CUT ON");
    test::ExpectCutBlock(*s);
    scope_.Execute(":SIMulator:FAULt:CUT OFF");
    auto again = Open();  // plugged in again: a new session works, the old stays closed
    EXPECT_TRUE(Answers(*again));
    EXPECT_FALSE(Answers(*s));
    usb_.unplug();
    EXPECT_EQ(CodeOf([&] { again->Output("*IDN?"); }), kIoClosed);
}

TEST_F(UsbtmcTransportTest, BlocksEndAtTheMessageEndWhateverTheyHold) {
    // "#0" blocks end at the message END, line feeds in the data or not; a late line feed stays
    // in its message; a header promising more than the message ends the read at once.
    struct Cell {
        const char* name;
        std::string on, off;
        IoErrorCode code;
    };
    const Cell cells[] = {
        {"indefinite", ":SIMulator:FAULt:INDefinite ON", ":SIMulator:FAULt:INDefinite OFF", {}},
        {"late terminator", ":SIMulator:FAULt:LATEterm 300", ":SIMulator:FAULt:LATEterm 0", {}},
        {"lying header", ":SIMulator:FAULt:LIE WAIT", ":SIMulator:FAULt:LIE OFF", kIoMalformed},
    };
    auto s = Open(1000, 500);
    const auto expected = Words(*s);
    ASSERT_EQ(expected.size(), 1000u);
    usb_.setMaxTransfer(333);
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.name);
        scope_.Execute(c.on);
        for (int i = 0; i < 2; ++i) {
            DataVector<int16_t> words;
            EXPECT_EQ(CodeOf([&] { words = Words(*s); }), c.code);
            if (c.code == IoErrorCode{}) {
                EXPECT_EQ(words, expected);
            }
        }
        scope_.Execute(c.off);
        EXPECT_TRUE(Answers(*s));
    }
}

TEST_F(UsbtmcTransportTest, ADriverTooOldToReportEomStillFramesTextAndBlocks) {
    usb_.setOldDriver(true);
    auto s = Open(1000, 500);
    EXPECT_EQ(Words(*s).size(), 1000u);
    s->SetTermChar(-1);
    s->Output("*IDN?");
    EXPECT_EQ(s->EnterText().rfind("CORVANE,", 0), 0u);
}

}  // namespace
}  // namespace cvn::io
