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
#include "tests/io/TransportChecks.h"

namespace cvn::io {
namespace {

using test::CodeOf;

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
    const auto idn = vxi->EnterTextArray();
    ASSERT_EQ(idn.size(), 4u);
    EXPECT_EQ(idn[1], "HV1014");
    // Words, bytes, raw reads of a block with no terminator (ending at the
    // message end), and text longer than one read of the session's buffer.
    const std::string wave =
        ":WAVeform:POINts:MODE RAW;:WAVEFORM:BYTEORDER MSBFIRST;"
        ":WAVeform:SOURce CHAN1;:WAVeform:FORMat ";
    // Both links set up alike, then asked for the same record.
    const auto askBoth = [&](const std::string& setup) {
        for (auto* s : {vxi.get(), sock.get()}) {
            if (!setup.empty()) Prepare(*s, wave + setup);
            s->Output(":WAVeform:DATA?");
        }
    };
    askBoth("WORD;:WAVeform:POINts 1000000");
    const auto words = vxi->EnterWords();
    EXPECT_EQ(words.size(), 1000000u);
    EXPECT_EQ(words, sock->EnterWords());
    askBoth("BYTE;:WAVeform:POINts 5000");
    const auto bytes = vxi->EnterBytes();
    EXPECT_EQ(bytes.size(), 5000u);
    EXPECT_EQ(bytes, sock->EnterBytes());
    std::vector<uint8_t> rawVxi(10000), rawSock(10000);
    vxi->SetTermChar(-1);
    sock->SetTermChar(-1);
    askBoth("");
    const size_t n = vxi->ReadBytes(rawVxi.data(), rawVxi.size());
    ASSERT_EQ(n, sock->ReadBytes(rawSock.data(), rawSock.size()));
    EXPECT_EQ(0, std::memcmp(rawVxi.data(), rawSock.data(), n));
    vxi->SetTermChar(10);
    vxi->Output(":WAVeform:FORMat ASCii;:WAVeform:POINts 20000;:WAVeform:DATA?");
    const std::string ascii = vxi->EnterText();
    EXPECT_GT(ascii.size(), 65536u);
    EXPECT_EQ(ascii.back(), '\n');
    // A session closes its link; the next one is served as before.
    vxi.reset();
    auto again = manager.Open(kVxi11Address);
    again->Output("*IDN?");
    EXPECT_EQ(again->EnterTextArray(), idn);
}

TEST(Vxi11TransportTest, FailuresBecomeClearErrors) {
    SKIP_WITHOUT_VXI11();
    IoManager manager;
    // Nobody serves VXI-11 here.
    EXPECT_EQ(CodeOf([&] { manager.Open(kVxi11Address, 2000); }), kIoOpenFailed);
    struct Cell {
        const char* fault;
        std::string query;  // the second message, after a first "*IDN?" is answered
        bool words;
        IoErrorCode code;
    };
    const Cell cells[] = {
        {"--silent", "*IDN?", false, kIoTimeout},
        {"--drop-after", "*IDN?", false, kIoClosed},  // the link goes at the second message
        {"--truncate-data", ":WAVeform:FORMat WORD;:WAVeform:POINts 100000;:WAVeform:DATA?", true,
         kIoClosed},
        {"--garbage", ":WAVeform:DATA?", true, kIoMalformed},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.fault);
        std::vector<std::string> args{c.fault};
        if (args[0] == "--drop-after") args.push_back("1");
        auto sim = StartSim(args);
        auto s = manager.Open(kVxi11Address);
        s->SetTimeout(300);
        if (args.size() > 1) {
            s->Output("*IDN?");
            s->EnterText();
        }
        EXPECT_EQ(CodeOf([&] {
                      s->Output(c.query);
                      if (c.words)
                          s->EnterWords();
                      else
                          s->EnterText();
                  }),
                  c.code);
    }
}

}  // namespace
}  // namespace cvn::io
