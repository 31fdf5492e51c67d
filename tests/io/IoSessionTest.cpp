// Session framing over a scripted transport: text replies, binary blocks at
// every chunk boundary, and every way a reply can go wrong.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "SessionFixture.h"
#include "io/IoError.h"
#include "io/IoSession.h"

namespace cvn::io {
namespace {

using namespace std::string_literals;
using namespace test;  // the scripted transport and the session over it

TEST(IoSessionBlock, ReadsBlocksSplitAtEveryBoundary) {
    struct Case {
        std::string reply;
        std::string data;
    };
    const std::vector<Case> cases = {
        {"#15hello\n", "hello"},
        {" \r\n#211ab\ncd\0efghi\r\n"s, "ab\ncd\0efghi"s},
        {"#10\n", ""},
        {"#15hello", "hello"},  // no terminator: the next reply follows at once
    };
    for (const auto& c : cases) {
        // The text after the block proves the terminator was consumed and
        // nothing behind it lost.
        for (auto chunks : everySplit(c.reply + "NEXT\n")) {
            auto f = makeSession(chunks);
            EXPECT_EQ(str(f->session.EnterBytes()), c.data) << c.reply;
            EXPECT_EQ(f->session.EnterText(), "NEXT\n") << c.reply;
        }
    }
}

TEST(IoSessionBlock, WordsAreBigEndianAndCountsMustBeEven) {
    for (auto chunks : everySplit("#16\x01\x02\xff\xfe\x80\x00\n"s)) {
        auto f = makeSession(chunks);
        EXPECT_EQ(f->session.EnterWords(), (cvn::DataVector<int16_t>{0x0102, -2, -32768}));
    }
    // Long enough for the vector path of the swap, cut anywhere, including
    // inside a word.
    std::string data;
    cvn::DataVector<int16_t> expected;
    for (int i = 0; i < 40; ++i) {
        auto v = static_cast<int16_t>(i * 1234 - 20000);
        expected.push_back(v);
        data += static_cast<char>(static_cast<uint16_t>(v) >> 8);
        data += static_cast<char>(v & 0xff);
    }
    for (auto chunks : everySplit("#280" + data + "\n")) {
        auto f = makeSession(chunks);
        EXPECT_EQ(f->session.EnterWords(), expected);
    }
    auto indefinite = makeSession({{"#0" + data + "\n", true}}, AtEnd::Silent, true);
    EXPECT_EQ(indefinite->session.EnterWords(), expected);

    auto f = makeSession({{"#13abc\nNEXT\n"}});
    EXPECT_EQ(errorOf([&] { f->session.EnterWords(); }).code(), kIoMalformed);
    EXPECT_EQ(f->session.EnterText(), "NEXT\n");  // the odd block was still read whole

    // Indefinite block on a message-based bus ends at END, line feeds inside
    // the data included.
    auto m = makeSession({{"#0\x01\n"}, {"\x02\x03\n", true}}, AtEnd::Silent, true);
    EXPECT_EQ(m->session.EnterWords(), (cvn::DataVector<int16_t>{0x010a, 0x0203}));
}

TEST(IoSessionBlock, BrokenBlocksFailWithWhatArrived) {
    auto closed = makeSession({{"#210abc"}}, AtEnd::Close);
    IoError e = errorOf([&] { closed->session.EnterBytes(); });
    EXPECT_EQ(e.code(), kIoClosed);
    EXPECT_NE(e.description().find("3 of 10"), std::string::npos) << e.description();

    auto stalled = makeSession({{"#210abc"}, {"de"}});
    e = errorOf([&] { stalled->session.EnterBytes(); });
    EXPECT_EQ(e.code(), kIoTimeout);
    EXPECT_NE(e.description().find("5 of 10"), std::string::npos) << e.description();

    auto ended = makeSession({{"#210abc", true}}, AtEnd::Silent, true);
    EXPECT_EQ(errorOf([&] { ended->session.EnterBytes(); }).code(), kIoMalformed);

    // Far beyond the limit: refused from the header alone, nothing allocated.
    auto huge = makeSession({{"#9999999999xx"}});
    EXPECT_EQ(errorOf([&] { huge->session.EnterBytes(); }).code(), kIoBlockTooLarge);

    for (std::string bad : {"X\n", "#A12\n", "#3ab1\n", "5#14abcd\n"}) {
        auto f = makeSession({{bad}});
        e = errorOf([&] { f->session.EnterBytes(); });
        EXPECT_EQ(e.code(), kIoMalformed) << bad;
        EXPECT_NE(e.description().find("received '"), std::string::npos) << e.description();
    }
    auto missingDigits = makeSession({{"#3", true}}, AtEnd::Silent, true);
    EXPECT_EQ(errorOf([&] { missingDigits->session.EnterBytes(); }).code(), kIoMalformed);
    auto nothing = makeSession({{"\n", true}}, AtEnd::Silent, true);
    EXPECT_EQ(errorOf([&] { nothing->session.EnterBytes(); }).code(), kIoMalformed);
}

TEST(IoSessionText, RepliesEndAtTerminatorOrMessageEnd) {
    for (auto chunks : everySplit("CORVANE,HV-4,SN7,1.2.3\n0.5\n")) {
        auto f = makeSession(chunks);
        EXPECT_EQ(f->session.EnterTextArray(),
                  (std::vector<std::string>{"CORVANE", "HV-4", "SN7", "1.2.3"}));
        EXPECT_EQ(f->session.EnterText(), "0.5\n");
    }
    // No terminator set: a byte stream still ends text at the line feed.
    auto f = makeSession({{"A\nB\n"}});
    f->session.SetTermChar(-1);
    EXPECT_EQ(f->session.EnterText(), "A\n");
    EXPECT_EQ(f->session.EnterText(), "B\n");

    auto m = makeSession({{"xy"}, {"z", true}, {"1;", true}}, AtEnd::Silent, true);
    m->session.SetTermChar(-1);
    EXPECT_EQ(m->session.EnterText(), "xyz");
    m->session.SetTermChar(';');
    EXPECT_EQ(m->session.EnterText(), "1;");

    auto partial = makeSession({{"no end"}});
    IoError e = errorOf([&] { partial->session.EnterText(); });
    EXPECT_EQ(e.code(), kIoTimeout);
    EXPECT_NE(e.description().find("'no end'"), std::string::npos) << e.description();
}

TEST(IoSessionText, NumberArrays) {
    auto f = makeSession({{" 1.5,+9.9E+37,-2\n1,2,3,4\n1,abc,3\n"}});
    std::array<double, 3> v{};
    EXPECT_EQ(f->session.EnterNumbers(v), 3u);
    EXPECT_EQ(v, (std::array<double, 3>{1.5, 9.9e37, -2}));
    EXPECT_EQ(f->session.EnterNumbers(v), 3u);  // the fourth field is read and ignored
    EXPECT_EQ(v[2], 3.0);
    EXPECT_EQ(errorOf([&] { f->session.EnterNumbers(v); }).code(), kIoMalformed);
}

TEST(IoSessionRaw, OutputReadBytesAndWriteBytes) {
    auto f = makeSession({{"#15ab\ncd\nrest\nmore"}});
    f->session.Output("*IDN?");
    f->session.SetWriteTermChar(-1);
    f->session.Output(":A");
    const uint8_t raw[] = {'S', 0, 'x'};
    f->session.WriteBytes(raw, 3);
    EXPECT_EQ(f->fake->written, std::string("*IDN?\n:AS\0x", 11));

    std::array<uint8_t, 64> buf{};
    f->session.SetTermChar(-1);  // a block is read whole, line feeds inside it included
    size_t n = f->session.ReadBytes(buf.data(), buf.size());
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + n), "#15ab\ncd\n");
    f->session.SetTermChar('\n');
    n = f->session.ReadBytes(buf.data(), buf.size());
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + n), "rest\n");
    n = f->session.ReadBytes(buf.data(), 3);  // capacity ends the read
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + n), "mor");
}

TEST(IoSessionTimeout, SilentInstrumentFailsWithinTimeout) {
    auto f = makeSession({});
    f->session.SetTimeout(50);
    std::array<uint8_t, 8> buf{};
    EXPECT_EQ(errorOf([&] { f->session.EnterText(); }).code(), kIoTimeout);
    EXPECT_EQ(errorOf([&] { f->session.EnterBytes(); }).code(), kIoTimeout);
    EXPECT_EQ(errorOf([&] { f->session.ReadBytes(buf.data(), buf.size()); }).code(), kIoTimeout);
}

// An instrument that never stops sending: text without a line feed, or
// the data of a "#0" block without its end.
class EndlessTransport : public Transport {
public:
    EndlessTransport(std::string start, bool messageBased)
        : start_(std::move(start)), messageBased_(messageBased) {}
    void write(const uint8_t*, size_t, Deadline) override {}
    size_t read(uint8_t* data, size_t size, Deadline, bool& end) override {
        end = false;
        const size_t n = std::min(size, start_.empty() ? size_t{1} << 20 : start_.size());
        if (!start_.empty()) {
            std::memcpy(data, start_.data(), n);
            start_.erase(0, n);
        } else {
            std::memset(data, 'x', n);
        }
        sent += n;
        return n;
    }
    bool messageBased() const override { return messageBased_; }
    size_t sent = 0;

private:
    std::string start_;
    bool messageBased_;
};

TEST(IoSessionLimits, AReplyThatNeverEndsStopsAtTheSizeCap) {
    auto t = std::make_unique<EndlessTransport>("+1.0", false);
    EndlessTransport* endless = t.get();
    IoSession session("endless", std::move(t));
    session.SetTimeout(600000);
    EXPECT_EQ(errorOf([&] { session.EnterText(); }).code(), kIoBlockTooLarge);
    // Read no further than the cap and one read past it.
    EXPECT_LE(endless->sent, IoSession::kMaxBlockBytes + (size_t{2} << 20));
}

TEST(IoSessionProgress, ReportsBlockDataOncePerStepAndAtTheEnd) {
    using Calls = std::vector<std::pair<size_t, size_t>>;
    constexpr size_t kStep = IoSession::kProgressStepBytes;
    const size_t size = 3 * kStep + 1000;
    const std::string header = "#7" + std::to_string(size);
    const std::string data(size, 'x');
    // Data in 256 KiB reads: a report after the reads that pass 1, 2 and 3
    // MiB, then the end.
    std::vector<Chunk> chunks{{header}};
    for (size_t at = 0; at < size; at += kStep / 4) chunks.push_back({data.substr(at, kStep / 4)});
    chunks.push_back({"\nNEXT\n"});
    auto f = makeSession(chunks);
    Calls calls;
    f->session.SetBlockProgress(
        [&](size_t received, size_t total) { calls.emplace_back(received, total); });
    EXPECT_EQ(f->session.EnterBytes().size(), size);
    EXPECT_EQ(calls, (Calls{{kStep, size}, {2 * kStep, size}, {3 * kStep, size}, {size, size}}));
    calls.clear();
    EXPECT_EQ(f->session.EnterText(), "NEXT\n");  // text replies report nothing
    EXPECT_TRUE(calls.empty());

    // Words, raw reads of a block, and an indefinite block (its size known
    // at the end).
    auto w = makeSession({{"#14\x01\x02\x03\x04\n"}, {"#16abcdef\n"}});
    auto m = makeSession({{"#0xyz\n", true}}, AtEnd::Silent, true);
    for (IoSession* s : {&w->session, &m->session}) {
        s->SetBlockProgress(
            [&](size_t received, size_t total) { calls.emplace_back(received, total); });
    }
    EXPECT_EQ(w->session.EnterWords().size(), 2u);
    w->session.SetTermChar(-1);
    std::array<uint8_t, 64> buf{};
    EXPECT_EQ(w->session.ReadBytes(buf.data(), buf.size()), 10u);
    EXPECT_EQ(str(m->session.EnterBytes()), "xyz");
    EXPECT_EQ(calls, (Calls{{4, 4}, {6, 6}, {3, 3}}));

    // A raw read of a block on a message-based bus: once, complete.
    calls.clear();
    auto raw = makeSession({{"#15ab"}, {"cde\n", true}}, AtEnd::Silent, true);
    raw->session.SetBlockProgress([&](size_t r, size_t t) { calls.emplace_back(r, t); });
    raw->session.SetTermChar(-1);
    EXPECT_EQ(raw->session.ReadBytes(buf.data(), buf.size()), 9u);
    EXPECT_EQ(calls, (Calls{{5, 5}}));

    // An empty function removes the callback.
    calls.clear();
    auto g = makeSession({{"#13abc\n"}});
    g->session.SetBlockProgress([&](size_t r, size_t t) { calls.emplace_back(r, t); });
    g->session.SetBlockProgress({});
    EXPECT_EQ(str(g->session.EnterBytes()), "abc");
    EXPECT_TRUE(calls.empty());
}

TEST(IoSessionProgress, ACallbackThatThrowsFailsTheReadAndTheSessionResynchronises) {
    const std::string big(2 * IoSession::kProgressStepBytes, 'x');
    auto f = makeSession({{"#7" + std::to_string(big.size())},
                          {big.substr(0, big.size() / 2)},
                          {big.substr(big.size() / 2)},
                          {"\n"}});
    f->session.SetBlockProgress([](size_t, size_t) { throw std::runtime_error("cancelled"); });
    EXPECT_THROW(f->session.EnterBytes(), std::runtime_error);
    // The rest of the cut block is drained before the next command.
    f->session.SetBlockProgress({});
    f->session.Output("*IDN?");
    EXPECT_EQ(errorOf([&] { f->session.EnterText(); }).code(), kIoTimeout);
}

}  // namespace
}  // namespace cvn::io
