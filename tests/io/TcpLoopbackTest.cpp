// The socket transport against a real peer on 127.0.0.1: a round trip, a
// refused connection, a peer that drops mid-block, one that never answers
// and one that answers after the time-out.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "io/IoError.h"
#include "io/IoSession.h"
#include "tests/io/LoopbackPeer.h"
#include "tests/io/TransportChecks.h"

namespace cvn::io {
namespace {

using cvn::test::LoopbackPeer;
using test::CodeOf;

void sendAll(int fd, const std::string& s) {
    ::send(fd, s.data(), s.size(), MSG_NOSIGNAL);
}

TEST(TcpLoopback, BlockTextAndALateReplyThatNeverAnswersTheNextQuery) {
    LoopbackPeer peer(
        [](int fd, const std::string& command) {
            if (command == ":WAV:DATA?") {
                sendAll(fd, "#14\x12\x34\xab\xcd\nOK\n");
                char c;
                while (::recv(fd, &c, 1, 0) == 1 && c != '\n') {
                }
                // The acquisition ends after the time-out, on the link given up.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                sendAll(fd, "1\n");
            } else if (command == ":WAVeform:POINts?") {
                sendAll(fd, "+62500\n");
            }
        },
        2);
    auto session = IoManager().Open(peer.address(), 2000);
    EXPECT_EQ(session->Address(), peer.address());
    session->SetTimeout(2000);
    session->Output(":WAV:DATA?");
    EXPECT_EQ(session->EnterWords(), (cvn::DataVector<int16_t>{0x1234, -0x5433}));
    EXPECT_EQ(session->EnterText(), "OK\n");
    session->SetTimeout(100);
    session->Output(":DIGitize;*OPC?");
    EXPECT_EQ(CodeOf([&] { session->EnterText(); }), kIoTimeout);
    session->SetTimeout(2000);
    session->Output(":WAVeform:POINts?");
    EXPECT_EQ(session->EnterText(), "+62500\n");
}

TEST(TcpLoopback, FailuresAreReportedNotHung) {
    std::string closedPort;
    {
        LoopbackPeer gone([](int, const std::string&) {}, 0);
        closedPort = gone.address();
    }
    EXPECT_EQ(CodeOf([&] { IoManager().Open(closedPort, 1000); }), kIoOpenFailed);

    LoopbackPeer dropper([](int fd, const std::string&) { sendAll(fd, "#41000abcdef"); });
    auto cut = IoManager().Open(dropper.address(), 2000);
    cut->SetTimeout(5000);
    cut->Output(":WAV:DATA?");
    const IoError e = test::errorOf([&] { cut->EnterBytes(); });
    EXPECT_EQ(e.code(), kIoClosed);
    EXPECT_NE(e.description().find("6 of 1000"), std::string::npos) << e.description();

    LoopbackPeer silent([](int fd, const std::string&) {
        char c;
        ::recv(fd, &c, 1, 0);  // returns when the client goes away
    });
    auto mute = IoManager().Open(silent.address(), 2000);
    mute->SetTimeout(100);
    mute->Output("*IDN?");
    EXPECT_EQ(CodeOf([&] { mute->EnterText(); }), kIoTimeout);
    mute.reset();  // closes the socket, which ends the peer
}

}  // namespace
}  // namespace cvn::io
