// The simulator as a separate process on a loopback socket, the way the
// add-in and the benchmarks meet it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "apps/halvio-sim/SimOptions.h"
#include "sim/launch/SimProcess.h"

namespace cvn::sim {
namespace {

// Guards every read so that a broken simulator fails a test instead of
// hanging it; no test depends on how fast anything is.
constexpr int kGuardMs = 20000;

class Client {
public:
    explicit Client(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            throw std::runtime_error("cannot connect to the simulator");
        }
    }
    ~Client() {
        if (fd_ >= 0) close(fd_);
    }

    void Send(const std::string& text) {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) throw std::runtime_error("send failed");
            done += static_cast<size_t>(n);
        }
    }
    // Up to `count` bytes; fewer only when the peer closes or the wait ends.
    std::string Read(size_t count, int waitMs = kGuardMs) {
        std::string out;
        while (out.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, waitMs) <= 0) break;
            char buf[1 << 16];
            const ssize_t n = recv(fd_, buf, std::min(sizeof buf, count - out.size()), 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
    std::string Line() {
        std::string out;
        while (out.empty() || out.back() != '\n') {
            const std::string c = Read(1);
            if (c.empty()) break;
            out += c;
        }
        return out;
    }
    std::string Query(const std::string& q) {
        Send(q + "\n");
        return Line();
    }
    // Reads "#<n><len><payload>\n" and returns the payload.
    std::string Block(const std::string& q) {
        Send(q + "\n");
        const std::string head = Read(2);
        if (head.size() != 2 || head[0] != '#')
            throw std::runtime_error("no block header: " + head);
        const std::string len = Read(static_cast<size_t>(head[1] - '0'));
        std::string data = Read(std::stoul(len));
        if (Read(1) != "\n") throw std::runtime_error("block not terminated");
        return data;
    }
    bool closed() const { return closed_; }

private:
    int fd_ = -1;
    bool closed_ = false;
};

TEST(SimServer, IdentifiesAndSharesOneScopeBetweenSessions) {
    SimProcess sim({"--model", "MSOHX6104", "--serial", "CVN11223344"});
    EXPECT_EQ(sim.address(), "127.0.0.1:" + std::to_string(sim.port()));
    Client a(sim.port());
    Client b(sim.port());
    EXPECT_EQ(a.Query("*IDN?"), "CORVANE,MSOHX6104,CVN11223344,H3.07.0142\n");

    // Run state and display changed on one session are seen on the other.
    // Each session's "*OPC?" makes sure its commands ran before the other
    // session asks.
    EXPECT_EQ(b.Query(":OPER?"), "8\n");
    a.Send(":STOP\n");
    EXPECT_EQ(a.Query("*OPC?"), "1\n");
    EXPECT_EQ(b.Query("OPER?"), "0\n");
    a.Send(":CHAN4:DISP ON\n:POD2:DISP ON\n");
    EXPECT_EQ(a.Query("*OPC?"), "1\n");
    EXPECT_EQ(b.Query(":CHAN4:DISP?"), "1\n");
    EXPECT_EQ(b.Query(":POD2:DISP?"), "1\n");
    a.Send(":CHAN4:DISP OFF\n");
    EXPECT_EQ(a.Query("*OPC?"), "1\n");
    EXPECT_EQ(b.Query(":CHAN4:DISP?"), "0\n");
    // The log holds both sessions' messages in arrival order, byte for byte.
    EXPECT_EQ(a.Block(":SIMulator:LOG? 3"), ":CHAN4:DISP OFF\n*OPC?\n:CHAN4:DISP?");
    b.Send(":RUN\n");
    EXPECT_EQ(b.Query("*OPC?"), "1\n");
    EXPECT_EQ(a.Query(":OPERegister:CONDition?"), "8\n");
}

TEST(SimServer, IdentificationCanBeReplacedOrPadded) {
    SimProcess odd({"--idn", "no commas here"});
    EXPECT_EQ(Client(odd.port()).Query("*IDN?"), "no commas here\n");
    SimProcess padded({"--model", " MSOHX5104"});
    EXPECT_EQ(Client(padded.port()).Query("*IDN?"), "CORVANE, MSOHX5104,CVN40517263,H3.07.0142\n");
}

TEST(SimServer, DeliversAMillionWordsInOneBlock) {
    SimProcess sim;
    Client c(sim.port());
    c.Send(":WAVeform:POINts:MODE RAW\n:WAVeform:POINts 1000000\n");
    c.Send(":WAVeform:FORMat WORD\n:WAVEFORM:BYTEORDER MSBFIRST\n:WAVeform:SOURce  Channel2\n");
    const std::string pre = c.Query(":WAVeform:PREamble?");
    EXPECT_EQ(pre.rfind("1,0,1000000,1,", 0), 0u) << pre;
    c.Send(":WAVeform:DATA?\n");
    EXPECT_EQ(c.Read(9), "#72000000");
    const std::string data = c.Read(2000000);
    ASSERT_EQ(data.size(), 2000000u);
    EXPECT_EQ(c.Read(1), "\n");
    // Nothing trails the block: the next reply follows directly.
    EXPECT_EQ(c.Query("*OPC?"), "1\n");
    // A second transfer of the same settings sends the same bytes.
    EXPECT_TRUE(c.Block(":WAV:DATA?") == data);
}

TEST(SimServer, FaultsDropDelayGarbageSilenceAndShortBlocks) {
    {
        SimProcess sim({"--drop-after", "2"});
        Client c(sim.port());
        EXPECT_EQ(c.Query("*IDN?").rfind("CORVANE,", 0), 0u);
        EXPECT_EQ(c.Query(":OPER?"), "8\n");
        c.Send(":OPER?\n");
        EXPECT_EQ(c.Read(1), "");
        EXPECT_TRUE(c.closed());
        // Other connections have their own count.
        Client d(sim.port());
        EXPECT_EQ(d.Query(":OPER?"), "8\n");
    }
    {
        // Slow replies still arrive whole and in order.
        SimProcess sim({"--delay-ms", "150", "--idn-delay-ms", "150"});
        Client c(sim.port());
        c.Send("*IDN?\n:OPER?\n");
        EXPECT_EQ(c.Line().rfind("CORVANE,", 0), 0u);
        EXPECT_EQ(c.Line(), "8\n");
    }
    {
        SimProcess sim({"--garbage"});
        Client c(sim.port());
        const std::string reply = c.Query("*IDN?");
        EXPECT_EQ(reply.find("CORVANE"), std::string::npos);
        EXPECT_EQ(reply.back(), '\n');
        // The simulator's own commands are exempt, so tests can still look.
        EXPECT_EQ(c.Block(":SIM:LOG?"), "*IDN?");
    }
    {
        SimProcess sim({"--silent"});
        Client c(sim.port());
        c.Send("*IDN?\n");
        EXPECT_EQ(c.Read(1, 300), "");
        EXPECT_FALSE(c.closed());
        c.Send(":SIM:FAULt:SILent OFF\n");
        EXPECT_EQ(c.Query(":OPER?"), "8\n");
    }
    {
        SimProcess sim({"--truncate-data"});
        Client c(sim.port());
        c.Send(":WAV:FORM WORD;:WAV:POIN 1000\n:WAV:DATA?\n");
        const std::string got = c.Read(3000);
        EXPECT_EQ(got.rfind("#42000", 0), 0u);
        EXPECT_LT(got.size(), 2006u);
        EXPECT_TRUE(c.closed());
    }
}

TEST(SimServer, FramingFaultsByOptionAndByCommand) {
    {
        // The line feed after a block comes late; nothing else changes.
        SimProcess sim({"--late-terminator-ms", "300"});
        Client c(sim.port());
        c.Send(":WAV:FORM BYTE;:WAV:POIN 1000\n:WAV:DATA?\n");
        EXPECT_EQ(c.Read(6), "#41000");
        EXPECT_EQ(c.Read(1000).size(), 1000u);
        EXPECT_EQ(c.Read(1, 100), "");  // not yet
        EXPECT_EQ(c.Read(1), "\n");
        EXPECT_EQ(c.Query(":OPER?"), "8\n");  // text replies keep theirs
        c.Send(":SIM:FAULt:LATE 0\n");
        EXPECT_EQ(c.Query(":SIM:FAULt:LATE?"), "0\n");
        EXPECT_EQ(c.Block(":WAV:DATA?").size(), 1000u);
    }
    {
        // "#0" blocks: the data runs to the line feed, whatever it holds.
        SimProcess sim({"--indefinite-blocks"});
        Client c(sim.port());
        c.Send(":WAV:FORM BYTE;:WAV:POIN 1000\n:WAV:DATA?\n");
        EXPECT_EQ(c.Read(2), "#0");
        EXPECT_EQ(c.Read(1001).size(), 1001u);
        EXPECT_EQ(c.Read(1, 100), "");
        c.Send(":SIM:FAULt:INDefinite OFF\n");
        EXPECT_EQ(c.Query(":SIM:FAULt:INDefinite?"), "0\n");
        EXPECT_EQ(c.Block(":WAV:DATA?").size(), 1000u);
    }
    {
        // An 11th preamble field: text, then an empty one, then none.
        SimProcess sim({"--preamble-extra", "CHANNEL1"});
        Client c(sim.port());
        std::string reply = c.Query(":WAV:PRE?");
        EXPECT_EQ(reply.substr(reply.rfind(',')), ",CHANNEL1\n");
        EXPECT_EQ(std::count(reply.begin(), reply.end(), ','), 10);
        c.Send(":SIM:FAULt:PREXtra \"\"\n");
        reply = c.Query(":WAV:PRE?");
        EXPECT_EQ(reply.substr(reply.size() - 2), ",\n");
        c.Send(":SIM:FAULt:PREXtra OFF\n");
        reply = c.Query(":WAV:PRE?");
        EXPECT_EQ(std::count(reply.begin(), reply.end(), ','), 9);
    }
    EXPECT_THROW(SimProcess({"--late-terminator-ms", "x"}), std::runtime_error);
    EXPECT_NE(SimUsage().find("--late-terminator-ms N"), std::string::npos);
    EXPECT_NE(SimUsage().find("--indefinite-blocks"), std::string::npos);
    EXPECT_NE(SimUsage().find("--preamble-extra TEXT"), std::string::npos);
}

TEST(SimServer, ServesParallelTransfersAndTrickledInput) {
    SimProcess sim({"--bind", "::1"});
    EXPECT_EQ(sim.address(), "[::1]:" + std::to_string(sim.port()));
    SimProcess v4;
    Client a(v4.port());
    Client b(v4.port());
    a.Send(":WAV:POIN:MODE RAW;:WAV:POIN 4000000;:WAV:FORM WORD\n");
    EXPECT_EQ(a.Query("*OPC?"), "1\n");
    // Both ask before either reads: neither session may hold up the other.
    a.Send(":WAV:DATA?\n");
    b.Send(":WAV:DATA?\n");
    const std::string head = "#78000000";
    const std::string fromB = b.Read(head.size() + 8000001);
    const std::string fromA = a.Read(head.size() + 8000001);
    ASSERT_EQ(fromA.size(), head.size() + 8000001);
    EXPECT_EQ(fromA.substr(0, head.size()), head);
    EXPECT_TRUE(fromA == fromB);

    // A message arriving one byte at a time, two messages in one packet.
    for (char ch : std::string(":WAVeform:SOURce  POD2;:WAV:SOUR?\n")) a.Send(std::string(1, ch));
    EXPECT_EQ(a.Line(), "POD2\n");
    a.Send("*OPC?\n:OPER?\n");
    EXPECT_EQ(a.Line(), "1\n");
    EXPECT_EQ(a.Line(), "8\n");
}

TEST(SimServer, CommandLineAndShutdown) {
    SimProcess sim;
    ASSERT_TRUE(sim.running());
    Client c(sim.port());
    EXPECT_EQ(c.Query("*OPC?"), "1\n");
    // SIGTERM with a client still connected ends the process cleanly.
    const int status = sim.stop();
    EXPECT_FALSE(sim.running());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    EXPECT_THROW(SimProcess({"--bind", "not-an-address"}), std::runtime_error);

    // A launcher pointed at a missing executable fails at once and clearly.
    const std::string saved = SimProcess::ExecutablePath();
    setenv("HALVIO_SIM", "/nonexistent/halvio-sim", 1);
    try {
        SimProcess missing;
        ADD_FAILURE() << "started a missing executable";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/halvio-sim"), std::string::npos)
            << e.what();
    }
    setenv("HALVIO_SIM", saved.c_str(), 1);
}

}  // namespace
}  // namespace cvn::sim
