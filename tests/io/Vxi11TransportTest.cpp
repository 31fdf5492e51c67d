// VXI-11 through liblxi against the simulator on 127.0.0.1: the same
// replies as over the socket, and clear errors for a missing instrument,
// silence, dropped links, cut-off blocks and garbage.
//
// The simulator makes itself known on port 111 (its own portmapper, or the
// rpcbind that runs there); the tests skip where neither is possible.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "io/IoError.h"
#include "io/IoSession.h"
#include "sim/launch/SimProcess.h"

namespace cvn::io {
namespace {

constexpr const char* kVxi11Address = "TCPIP::127.0.0.1::INSTR";

// Why this machine cannot serve VXI-11 on 127.0.0.1, or empty when it can.
std::string Vxi11Unavailable() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(111);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int rc = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    const int err = errno;
    ::close(fd);
    if (rc == 0) return {};
    struct stat st {};
    if (err == EADDRINUSE && ::stat("/run/rpcbind.sock", &st) == 0) return {};
    if (err == EACCES) return "binding port 111 needs root and no rpcbind runs";
    return std::string("port 111 of 127.0.0.1 is taken by something other than rpcbind (") +
           std::strerror(err) + ")";
}

#define SKIP_WITHOUT_VXI11()                                                  \
    do {                                                                      \
        if (auto why = Vxi11Unavailable(); !why.empty()) GTEST_SKIP() << why; \
    } while (0)

std::unique_ptr<sim::SimProcess> StartSim(std::vector<std::string> args) {
    args.push_back("--vxi11");
    return std::make_unique<sim::SimProcess>(args);
}

void Prepare(IoSession& s, const std::string& commands) {
    s.Output(commands);
    s.Output("*OPC?");
    ASSERT_EQ(s.EnterText(), "1\n");
}

TEST(Vxi11TransportTest, GivesTheSameRepliesAsTheSocket) {
    SKIP_WITHOUT_VXI11();
    auto sim = StartSim({"--model", "HV1014"});
    IoManager manager;
    auto vxi = manager.Open(kVxi11Address);
    auto sock = manager.Open(sim->address());
    EXPECT_EQ(vxi->Address(), kVxi11Address);

    vxi->Output("*IDN?");
    sock->Output("*IDN?");
    const std::string idn = vxi->EnterText();
    EXPECT_EQ(idn, sock->EnterText());
    EXPECT_NE(idn.find(",HV1014,"), std::string::npos) << idn;
    vxi->Output("*IDN?");
    EXPECT_EQ(vxi->EnterTextArray().size(), 4u);

    // One million points as 16-bit words, then as bytes, then raw.
    const std::string setup =
        ":WAVeform:POINts:MODE RAW;:WAVeform:POINts 1000000;:WAVEFORM:BYTEORDER MSBFIRST;"
        ":WAVeform:SOURce CHAN1;:WAVeform:FORMat WORD";
    Prepare(*vxi, setup);
    vxi->Output(":WAVeform:DATA?");
    const auto words = vxi->EnterWords();
    sock->Output(":WAVeform:DATA?");
    EXPECT_EQ(words.size(), 1000000u);
    EXPECT_EQ(words, sock->EnterWords());

    Prepare(*vxi, ":WAVeform:FORMat BYTE;:WAVeform:POINts 5000");
    vxi->Output(":WAVeform:DATA?");
    sock->Output(":WAVeform:DATA?");
    const auto bytes = vxi->EnterBytes();
    EXPECT_EQ(bytes.size(), 5000u);
    EXPECT_EQ(bytes, sock->EnterBytes());

    // Raw reads of a block with no terminator end at the message end.
    std::vector<uint8_t> rawVxi(1000000), rawSock(1000000);
    vxi->SetTermChar(-1);
    sock->SetTermChar(-1);
    vxi->Output(":WAVeform:DATA?");
    sock->Output(":WAVeform:DATA?");
    const size_t nVxi = vxi->ReadBytes(rawVxi.data(), rawVxi.size());
    const size_t nSock = sock->ReadBytes(rawSock.data(), rawSock.size());
    ASSERT_EQ(nVxi, nSock);
    EXPECT_EQ(0, std::memcmp(rawVxi.data(), rawSock.data(), nVxi));
    vxi->SetTermChar(10);

    // A reply larger than one read of the session's buffer, as text.
    vxi->Output(":WAVeform:FORMat ASCii;:WAVeform:POINts 20000;:WAVeform:DATA?");
    const std::string ascii = vxi->EnterText();
    EXPECT_GT(ascii.size(), 65536u);
    EXPECT_EQ(ascii.back(), '\n');

    // A session closes its link; the next one is served as before.
    vxi.reset();
    auto again = manager.Open(kVxi11Address);
    again->Output("*IDN?");
    EXPECT_EQ(again->EnterText(), idn);
}

TEST(Vxi11TransportTest, FailuresBecomeClearErrors) {
    SKIP_WITHOUT_VXI11();
    IoManager manager;
    auto expectError = [](IoErrorCode code, auto&& action) {
        try {
            action();
            ADD_FAILURE() << "no error, expected " << code;
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), code) << e.description();
            EXPECT_FALSE(e.description().empty());
        }
    };

    // Nobody serves VXI-11 here.
    expectError(kIoOpenFailed, [&] { manager.Open(kVxi11Address, 2000); });

    {
        auto sim = StartSim({"--silent"});
        auto s = manager.Open(kVxi11Address);
        s->SetTimeout(300);
        s->Output("*IDN?");
        expectError(kIoTimeout, [&] { s->EnterText(); });
    }
    {
        // The link goes away when the second message arrives.
        auto sim = StartSim({"--drop-after", "1"});
        auto s = manager.Open(kVxi11Address);
        s->Output("*IDN?");
        s->EnterText();
        expectError(kIoClosed, [&] {
            s->Output("*IDN?");
            s->EnterText();
        });
    }
    {
        auto sim = StartSim({"--truncate-data"});
        auto s = manager.Open(kVxi11Address);
        s->Output(":WAVeform:FORMat WORD;:WAVeform:POINts 100000;:WAVeform:DATA?");
        expectError(kIoClosed, [&] { s->EnterWords(); });
    }
    {
        auto sim = StartSim({"--garbage"});
        auto s = manager.Open(kVxi11Address);
        s->Output(":WAVeform:DATA?");
        expectError(kIoMalformed, [&] { s->EnterWords(); });
    }
}

}  // namespace
}  // namespace cvn::io
