// The serial transport against the simulator on a pseudo-terminal: the same
// replies as over the socket, sessions taking turns on one line, a cable
// pulled in the middle of a block, baud rates. Only the /dev/pts/N the
// simulator created is ever opened; records stay small.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

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

TEST(SerialPty, TwoSessionsTakeTurnsOnOneLineWithTheSocketsReplies) {
    sim::SimProcess sim({"--pty"});
    const std::string path = sim.ptyPath();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    // The add-in keeps two sessions to one address; on a serial port both
    // open the same line and must not take each other's replies. The line is
    // raw: every byte of a record arrives as the socket carries it.
    auto tcp = IoManager().Open(sim.address());
    const std::string words = ":WAVeform:POINts 1000;:WAVeform:FORMat WORD;:WAVeform:DATA?";
    tcp->Output(words);
    const auto viaSocket = tcp->EnterWords();
    ASSERT_EQ(viaSocket.size(), 1000u);
    std::vector<IoSessionPtr> sessions;
    for (const std::string& address : {Asrl(path), path})
        sessions.push_back(IoManager().Open(address));
    for (int round = 0; round < 2; ++round) {
        for (auto& s : sessions) {
            s->Output(words);
            EXPECT_EQ(s->EnterWords(), viaSocket);
            EXPECT_TRUE(Answers(*s));
        }
    }
}

TEST(SerialPty, APulledCableIsAClosedLineAndTheLinkNamesTheNewOne) {
    const std::string link = ::testing::TempDir() + "halvio-line-" + std::to_string(::getpid());
    sim::SimProcess sim({"--pty-link", link});
    const std::string old = sim.ptyPath();
    auto s = IoManager().Open(Asrl(link));
    s->SetTimeout(3000);
    test::Side(sim.address(), ":WAVeform:POINts 1000;:SIMulator:FAULt:CUT ON");
    test::ExpectCutBlock(*s);
    EXPECT_TRUE(s->Faulted());
    test::Side(sim.address(), ":SIMulator:FAULt:CUT OFF");
    EXPECT_NE(sim.waitNewPtyPath(old, 5000ms), old);
    // The new line is linked before the old one hangs up; the old is gone.
    EXPECT_TRUE(Answers(*IoManager().Open(Asrl(link))));
    EXPECT_NE(CodeOf([&] { IoManager().Open(Asrl(old))->Output("*IDN?"); }), IoErrorCode{});
}

TEST(SerialPty, BaudRatesAndPacedLines) {
    // A paced line at 115200 still carries a small record whole; a baud
    // rate the port does not offer is refused when opening.
    sim::SimProcess sim({"--pty", "--baud", "115200", "--paced"});
    IoSession s(Asrl(sim.ptyPath()), std::make_unique<SerialTransport>(sim.ptyPath(), 115200));
    s.Output(":WAVeform:POINts 1000;:WAVeform:FORMat WORD;:WAVeform:DATA?");
    EXPECT_EQ(s.EnterWords().size(), 1000u);
    EXPECT_EQ(CodeOf([&] { SerialTransport(sim.ptyPath(), 12345); }), kIoOpenFailed);
    // The address form opens at 9600 baud: the scope at 115200 hears noise.
    auto slow = IoManager().Open(Asrl(sim.ptyPath()));
    slow->SetTimeout(300);
    slow->Output("*IDN?");
    EXPECT_EQ(CodeOf([&] { slow->EnterText(); }), kIoTimeout);
    // A path that is no terminal is refused when opened, not on first use.
    EXPECT_EQ(CodeOf([] { IoManager().Open("ASRL/dev/null::INSTR"); }), kIoOpenFailed);
}

}  // namespace
}  // namespace cvn::io
