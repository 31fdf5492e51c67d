// The serial transport against the simulator on a pseudo-terminal: the same
// replies as over the socket, time-outs, a late reply, two sessions taking
// turns on one line, and a cable pulled in the middle of a block. Only the
// /dev/pts/N the simulator created is ever opened. Records stay small: an
// unpaced pty is fast, but the tests must stay quick on a loaded machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "io/Address.h"
#include "io/IoError.h"
#include "io/IoSession.h"
#include "io/SerialTransport.h"
#include "sim/launch/SimProcess.h"
#include "tests/io/TransportChecks.h"

namespace cvn::io {
namespace {

using namespace std::chrono_literals;
using test::Answers;
using test::CodeOf;

std::string Asrl(const std::string& path) {
    return "ASRL" + path + "::INSTR";
}

// Simulator commands over its socket, which no fault touches; returns once
// they have run.
void Side(sim::SimProcess& sim, const std::string& commands) {
    auto s = IoManager().Open(sim.address());
    s->Output(commands);
    s->Output(":SIMulator:LOG:COUNt?");
    s->EnterText();
}

class SerialPty : public ::testing::Test {
protected:
    void SetUp() override {
        sim_ = std::make_unique<sim::SimProcess>(std::vector<std::string>{"--pty"});
        path_ = sim_->ptyPath();
        ASSERT_EQ(path_.rfind("/dev/pts/", 0), 0u) << path_;
    }
    std::unique_ptr<sim::SimProcess> sim_;
    std::string path_;
};

TEST_F(SerialPty, AddressFormsReachTheLine) {
    for (const std::string& address : {Asrl(path_), path_, "asrl" + path_}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(parseAddress(address).bus, Bus::Serial);
        auto s = IoManager().Open(address);
        s->Output("*IDN?");
        const std::string idn = s->EnterText();
        EXPECT_EQ(idn.rfind("CORVANE,", 0), 0u) << idn;
        EXPECT_EQ(idn.back(), '\n');
    }
}

TEST_F(SerialPty, WordsBytesAndTheScreenImage) {
    auto s = IoManager().Open(Asrl(path_));
    s->Output(":WAVeform:POINts:MODE NORMal;:WAVeform:POINts 1000");
    s->Output(":WAVeform:SOURce CHAN1;:WAVeform:FORMat WORD;:WAVeform:DATA?");
    const auto words = s->EnterWords();
    EXPECT_EQ(words.size(), 1000u);
    // The same record over the socket, for comparison.
    auto tcp = IoManager().Open(sim_->address());
    tcp->Output(":WAVeform:SOURce CHAN1;:WAVeform:FORMat WORD;:WAVeform:DATA?");
    const auto viaSocket = tcp->EnterWords();
    ASSERT_EQ(viaSocket.size(), words.size());
    EXPECT_TRUE(std::equal(words.begin(), words.end(), viaSocket.begin()));

    test::ExpectPodBytesAndScreenImage(*s, 1000);
}

TEST_F(SerialPty, TwoSessionsTakeTurnsOnOneLine) {
    // The add-in keeps two sessions to one address; on a serial port both
    // open the same line and must not take each other's replies.
    auto a = IoManager().Open(Asrl(path_));
    auto b = IoManager().Open(Asrl(path_));
    for (int i = 0; i < 3; ++i) {
        a->Output("*IDN?");
        EXPECT_EQ(a->EnterTextArray().size(), 4u);
        b->Output(":WAVeform:POINts 1000;:WAVeform:FORMat BYTE;:WAVeform:DATA?");
        EXPECT_EQ(b->EnterBytes().size(), 1000u);
    }
}

TEST_F(SerialPty, ACablePulledMidBlockIsAClosedLineAndANewLineWorks) {
    auto s = IoManager().Open(Asrl(path_));
    s->SetTimeout(3000);
    Side(*sim_, ":WAVeform:POINts 1000;:SIMulator:FAULt:CUT ON");
    s->Output(":WAVeform:SOURce CHAN1;:WAVeform:FORMat WORD;:WAVeform:DATA?");
    try {
        s->EnterWords();
        ADD_FAILURE() << "a cut block was accepted";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), kIoClosed) << e.what();
        EXPECT_NE(std::string(e.what()).find("inside the block"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(s->Faulted());
    EXPECT_EQ(CodeOf([&] { s->Output("*IDN?"); }), kIoClosed);

    Side(*sim_, ":SIMulator:FAULt:CUT OFF");
    const std::string next = sim_->waitNewPtyPath(path_, 5000ms);
    auto again = IoManager().Open(Asrl(next));
    EXPECT_TRUE(Answers(*again));
    // The old line is gone for good.
    EXPECT_EQ(CodeOf([&] { IoManager().Open(Asrl(path_))->Output("*IDN?"); }) != IoErrorCode{},
              true);
}

TEST(SerialPtyLine, ALinkKeepsTheLinesNameAcrossPulledCables) {
    const std::string link = ::testing::TempDir() + "halvio-line-" + std::to_string(::getpid());
    sim::SimProcess sim({"--pty-link", link});
    auto s = IoManager().Open(Asrl(link));
    s->SetTimeout(3000);
    EXPECT_TRUE(Answers(*s));
    Side(sim, ":SIMulator:FAULt:CUT ON");
    s->Output(":WAVeform:POINts 1000;:WAVeform:DATA?");
    EXPECT_EQ(CodeOf([&] { s->EnterWords(); }), kIoClosed);
    Side(sim, ":SIMulator:FAULt:CUT OFF");
    // The new line is linked before the old one hangs up.
    auto again = IoManager().Open(Asrl(link));
    EXPECT_TRUE(Answers(*again));
}

TEST(SerialPtyLine, BaudRatesAndPacedLines) {
    // A paced line at 115200 still carries a small record whole; at a baud
    // rate the port does not offer the transport refuses to open.
    sim::SimProcess sim({"--pty", "--baud", "115200", "--paced"});
    IoSession s(Asrl(sim.ptyPath()), std::make_unique<SerialTransport>(sim.ptyPath(), 115200));
    s.Output(":WAVeform:POINts 1000;:WAVeform:FORMat WORD;:WAVeform:DATA?");
    EXPECT_EQ(s.EnterWords().size(), 1000u);
    EXPECT_EQ(CodeOf([&] { SerialTransport(sim.ptyPath(), 12345); }), kIoOpenFailed);
    // The address form opens at 9600 baud: the scope at 115200 hears noise
    // and never answers.
    auto slow = IoManager().Open(Asrl(sim.ptyPath()));
    slow->SetTimeout(300);
    slow->Output("*IDN?");
    EXPECT_EQ(CodeOf([&] { slow->EnterText(); }), kIoTimeout);
    // A path that is no terminal is refused when opened, not on first use.
    EXPECT_EQ(CodeOf([] { IoManager().Open("ASRL/dev/null::INSTR"); }), kIoOpenFailed);
}

}  // namespace
}  // namespace cvn::io
