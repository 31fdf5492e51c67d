// The socket transport against a real peer on 127.0.0.1: refused
// connections, a peer that drops mid-block, a peer that never answers.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "io/IoError.h"
#include "io/IoSession.h"
#include "tests/io/LoopbackPeer.h"

namespace cvn::io {
namespace {

using test::LoopbackPeer;

void sendAll(int fd, const std::string& s) {
    ::send(fd, s.data(), s.size(), MSG_NOSIGNAL);
}

TEST(TcpLoopback, BlockAndTextRoundTrip) {
    LoopbackPeer peer([](int fd, const std::string& command) {
        if (command == ":WAV:DATA?") sendAll(fd, "#14\x12\x34\xab\xcd\nOK\n");
    });
    auto session = IoManager().Open(peer.address(), 2000);
    session->SetTimeout(2000);
    session->Output(":WAV:DATA?");
    EXPECT_EQ(session->EnterWords(), (cvn::DataVector<int16_t>{0x1234, -0x5433}));
    EXPECT_EQ(session->EnterText(), "OK\n");
    EXPECT_EQ(session->Address(), peer.address());
}

TEST(TcpLoopback, AReplyLaterThanItsTimeOutNeverAnswersTheNextQuery) {
    // The scope finishes its acquisition after the time-out and answers
    // then, on the link the session has given up.
    LoopbackPeer peer(
        [](int fd, const std::string& command) {
            if (command == ":DIGitize;*OPC?") {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                sendAll(fd, "1\n");
            } else if (command == ":WAVeform:POINts?") {
                sendAll(fd, "+62500\n");
            }
        },
        2);
    auto session = IoManager().Open(peer.address(), 2000);
    session->SetTimeout(100);
    session->Output(":DIGitize;*OPC?");
    EXPECT_THROW(session->EnterText(), IoError);
    session->SetTimeout(2000);
    session->Output(":WAVeform:POINts?");
    EXPECT_EQ(session->EnterText(), "+62500\n");
}

TEST(TcpLoopback, FailuresAreReportedNotHung) {
    // A port that was just released: nothing listens there.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&addr), len), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    ::close(probe);
    try {
        IoManager().Open("TCPIP::127.0.0.1::" + std::to_string(ntohs(addr.sin_port)) + "::SOCKET",
                         1000);
        ADD_FAILURE() << "connected to a closed port";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), kIoOpenFailed);
    }

    {
        LoopbackPeer dropper([](int fd, const std::string&) { sendAll(fd, "#41000abcdef"); });
        auto session = IoManager().Open(dropper.address(), 2000);
        session->SetTimeout(5000);
        session->Output(":WAV:DATA?");
        try {
            session->EnterBytes();
            ADD_FAILURE() << "short block accepted";
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), kIoClosed);
            EXPECT_NE(e.description().find("6 of 1000"), std::string::npos) << e.description();
        }
    }
    {
        LoopbackPeer silent([](int fd, const std::string&) {
            char c;
            ::recv(fd, &c, 1, 0);  // returns when the client goes away
        });
        auto session = IoManager().Open(silent.address(), 2000);
        session->SetTimeout(100);
        session->Output("*IDN?");
        try {
            session->EnterText();
            ADD_FAILURE() << "a reply out of nowhere";
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), kIoTimeout);
        }
        session.reset();  // closes the socket, which ends the peer
    }
}

}  // namespace
}  // namespace cvn::io
