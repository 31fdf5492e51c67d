// Session framing over a scripted transport: text replies and binary blocks
// at every chunk boundary, under the timing real instruments show (a
// terminator that follows its block late, indefinite-length blocks whose
// data holds line feeds), every way a reply can go wrong, and the first
// reply after a failure. Each cell ends by checking that the next reply on
// the same session is read whole and in step.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "SessionFixture.h"

namespace cvn::io {
namespace {

using namespace std::string_literals;
using namespace test;  // the scripted transport and the session over it

constexpr const char* kIdn = "CORVANE,HV1014,SN0001,1.0.0\n";

enum class Op { Bytes, Words, Text, Fields, Raw };

// What one read returns, as the bytes it stands for: words big-endian as
// sent, fields joined by "|".
std::string Read(IoSession& s, Op op, size_t capacity) {
    std::string out;
    switch (op) {
        case Op::Bytes:
            return str(s.EnterBytes());
        case Op::Words:
            for (int16_t w : s.EnterWords()) {
                out += static_cast<char>(static_cast<uint16_t>(w) >> 8);
                out += static_cast<char>(w & 0xff);
            }
            return out;
        case Op::Text:
            return s.EnterText();
        case Op::Fields:
            for (const auto& f : s.EnterTextArray()) out += (out.empty() ? "" : "|") + f;
            return out;
        case Op::Raw: {
            std::vector<uint8_t> buf(capacity);
            s.SetTermChar(-1);
            const size_t n = s.ReadBytes(buf.data(), buf.size());
            s.SetTermChar('\n');
            return std::string(buf.begin(), buf.begin() + static_cast<long>(n));
        }
    }
    return out;
}

struct Cell {
    const char* name;
    std::vector<Chunk> script;
    Op op;
    std::string result;  // what the read returns, when it does not fail
    struct Options {
        std::string next = "";  // the reply read afterwards, whole and in step
        int timeoutMs = 200;    // for both reads
        IoErrorCode code = {};  // the error the read fails with instead of a result
        std::string says = "";  // in the error's description
        bool ask = false;       // a command is sent before the next reply is read
        bool split = false;     // the script is also cut at every boundary
        bool messageBased = false;
        AtEnd atEnd = AtEnd::Silent;
        int termChar = '\n';
        size_t capacity = 64;  // of a raw read's buffer
    } o = {};
};

std::string Joined(const std::vector<Chunk>& script) {
    std::string all;
    for (const auto& c : script) all += c.bytes;
    return all;
}

void RunCell(const Cell& c, std::vector<Chunk> script) {
    auto f = makeSession(std::move(script), c.o.atEnd, c.o.messageBased);
    f->session.SetTimeout(c.o.timeoutMs);
    f->session.SetTermChar(c.o.termChar);
    if (c.o.code == IoErrorCode{}) {
        EXPECT_EQ(Read(f->session, c.op, c.o.capacity), c.result);
        // A reply read whole leaves nothing to drain.
        EXPECT_EQ(f->session.Broken(), c.o.ask);
    } else {
        const IoError e = errorOf([&] { Read(f->session, c.op, c.o.capacity); });
        EXPECT_EQ(e.code(), c.o.code) << e.description();
        EXPECT_NE(e.description().find(c.o.says), std::string::npos) << e.description();
    }
    if (c.o.next.empty()) return;
    f->session.SetTimeout(3000);
    if (c.o.ask) f->session.Output(":WAV:POIN?");
    EXPECT_EQ(f->session.EnterText(), c.o.next);
    EXPECT_FALSE(f->session.Broken());
}

TEST(IoSession, RepliesBlocksAndWhatGoesWrongWithThem) {
    // Long enough for the vector path of the word swap, cut anywhere,
    // including inside a word.
    std::string words;
    for (int i = 0; i < 40; ++i) {
        const auto v = static_cast<uint16_t>(i * 1234 - 20000);
        words += static_cast<char>(v >> 8);
        words += static_cast<char>(v & 0xff);
    }
    const auto M = Op::Bytes;
    const auto W = Op::Words;
    const auto T = Op::Text;
    const auto R = Op::Raw;
    const auto F = Op::Fields;
    const std::string kReceived = "received '";  // what came, quoted
    // clang-format off
    const Cell cells[] = {
        // Sound blocks wherever the reads cut them; the text after the block
        // proves the terminator was consumed and nothing behind it lost.
        {"block", {{"#15hello\nNEXT\n"}}, M, "hello", {.next = "NEXT\n", .split = true}},
        {"blanks, CR LF, line feeds and NUL inside", {{" \r\n#211ab\ncd\0efghi\r\nNEXT\n"s}}, M,
         "ab\ncd\0efghi"s, {.next = "NEXT\n", .split = true}},
        {"empty block", {{"#10\nNEXT\n"}}, M, "", {.next = "NEXT\n", .split = true}},
        {"no terminator: the next reply follows at once", {{"#15helloNEXT\n"}}, M, "hello",
         {.next = "NEXT\n", .split = true}},
        {"words are big-endian", {{"#16\x01\x02\xff\xfe\x80\x00\n"s}}, W,
         "\x01\x02\xff\xfe\x80\x00"s, {.split = true}},
        {"many words", {{"#280" + words + "\n"}}, W, words, {.split = true}},
        {"text fields", {{"CORVANE,HV-4,SN7,1.2.3\n0.5\n"}}, F, "CORVANE|HV-4|SN7|1.2.3",
         {.next = "0.5\n", .split = true}},
        {"indefinite block ending at a quiet line feed", {{"#0ab\ncd\n\nef\n"}}, M, "ab\ncd\n\nef",
         {.timeoutMs = 1000, .split = true, .atEnd = AtEnd::Close}},
        {"indefinite words at the message end", {{"#0" + words + "\n", true}}, W, words,
         {.messageBased = true}},
        {"indefinite words, line feed inside", {{"#0\x01\n"}, {"\x02\x03\n", true}}, W,
         "\x01\n\x02\x03", {.messageBased = true}},
        {"raw read of a block, line feeds inside it included", {{"#15ab\ncd\nrest\n"}}, R,
         "#15ab\ncd\n", {.next = "rest\n"}},
        {"no terminator set: text ends at the line feed", {{"A\nB\n"}}, T, "A\n",
         {.next = "B\n", .termChar = -1}},
        {"no terminator set: text ends at the message end", {{"xy"}, {"z", true}}, T, "xyz",
         {.messageBased = true, .termChar = -1}},

        // Late terminators are taken with their block, not with the next reply.
        {"LF late", {{"#13abc"}, {"\n", false, 700}, {kIdn}}, M, "abc", {kIdn, 1000}},
        {"CR LF late", {{"#13abc"}, {"\r\n", false, 60}, {kIdn}}, M, "abc", {kIdn, 1000}},
        {"CR in time, LF late", {{"#13abc\r"}, {"\n", false, 300}, {kIdn}}, M, "abc", {kIdn, 1000}},
        {"words, LF late", {{"#14\x01\x02\x03\x04"}, {"\n", false, 300}, {kIdn}}, W,
         "\x01\x02\x03\x04", {kIdn, 1000}},
        {"words, CR LF late", {{"#14\x01\x02\x03\x04"}, {"\r\n", false, 700}, {kIdn}}, W,
         "\x01\x02\x03\x04", {kIdn, 1000}},
        {"raw read, LF late", {{"#12xy"}, {"\n", false, 700}, {kIdn}}, R, "#12xy", {kIdn, 1000}},
        {"raw read, CR LF late", {{"#12xy"}, {"\r\n", false, 60}, {kIdn}}, R, "#12xy",
         {kIdn, 1000}},
        {"END with the late terminator", {{"#13abc"}, {"\n", true, 300}, {"+62500\n", true}}, M,
         "abc", {.next = "+62500\n", .timeoutMs = 1000, .messageBased = true}},
        {"no terminator, the next reply late", {{"#13abc"}, {"+62500\n", false, 300}}, M, "abc",
         {"+62500\n", 1000}},
        // Indefinite data that pauses after a line feed, as a retransmitted
        // TCP segment makes it (200 ms at least, more when that is lost too).
        {"indefinite, short pause", {{"#0\x01\n"}, {"\x02\x03\n", false, 30},
         {"MAIN\n", false, 1100}}, W, "\x01\n\x02\x03", {"MAIN\n", 3000}},
        {"indefinite, long pause", {{"#0\x01\n"}, {"\x02\x03\n", false, 700},
         {"MAIN\n", false, 1100}}, W, "\x01\n\x02\x03", {"MAIN\n", 3000}},
        {"indefinite raw read: header and final line feed", {{"#0ab\ncd\n"},
         {"NEXT\n", false, 1100}}, R, "#0ab\ncd\n", {"NEXT\n", 1000}},

        // Broken replies fail with what arrived.
        {"odd word count, block still read whole", {{"#13abc\nNEXT\n"}}, W, "",
         {.next = "NEXT\n", .code = kIoMalformed}},
        {"closed inside the block", {{"#210abc"}}, M, "",
         {.code = kIoClosed, .says = "3 of 10", .atEnd = AtEnd::Close}},
        {"stalled inside the block", {{"#210abc"}, {"de"}}, M, "",
         {.code = kIoTimeout, .says = "5 of 10"}},
        {"message ends inside the block", {{"#210abc", true}}, M, "",
         {.code = kIoMalformed, .messageBased = true}},
        {"far beyond the limit: refused from the header", {{"#9999999999xx"}}, M, "",
         {.code = kIoBlockTooLarge}},
        {"no block", {{"X\n"}}, M, "", {.code = kIoMalformed, .says = kReceived}},
        {"length digits not a digit", {{"#A12\n"}}, M, "",
         {.code = kIoMalformed, .says = kReceived}},
        {"length not a number", {{"#3ab1\n"}}, M, "", {.code = kIoMalformed, .says = kReceived}},
        {"text before the block", {{"5#14abcd\n"}}, M, "",
         {.code = kIoMalformed, .says = kReceived}},
        {"header cut by the message end", {{"#3", true}}, M, "",
         {.code = kIoMalformed, .messageBased = true}},
        {"empty message", {{"\n", true}}, M, "", {.code = kIoMalformed, .messageBased = true}},
        {"text without end", {{"no end"}}, T, "", {.code = kIoTimeout, .says = "'no end'"}},
        {"silent: text", {}, T, "", {.timeoutMs = 50, .code = kIoTimeout}},
        {"silent: block", {}, M, "", {.timeoutMs = 50, .code = kIoTimeout}},
        {"silent: raw read", {}, R, "", {.timeoutMs = 50, .code = kIoTimeout}},
        {"indefinite larger than a raw read's buffer", {{"#0" + std::string(100, 'x') + "\n"}}, R,
         "", {.code = kIoBlockTooLarge, .capacity = 32}},

        // The first reply after a failure starts on its own boundary: the
        // rest of the failed reply is drained before the next command.
        {"indefinite block that never ends", {{"#0abc\ndef"}, {"ghi\n", false, 300},
         {kIdn, false, 1100}}, M, "",
         {.next = kIdn, .code = kIoTimeout, .says = "no final line feed", .ask = true}},
        {"definite block cut by the time-out", {{"#210abc"}, {"defghij\n", false, 250},
         {"+62500\n", false, 100}}, M, "", {.next = "+62500\n", .code = kIoTimeout, .ask = true}},
        {"raw read whose buffer ends inside the block", {{"#16abcdef\n"}, {"1\n", false, 100}}, R,
         "#16ab", {.next = "1\n", .ask = true, .capacity = 5}},
    };
    // clang-format on
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.name);
        RunCell(c, c.script);
        if (!c.o.split) continue;
        for (auto chunks : everySplit(Joined(c.script))) RunCell(c, chunks);
    }
}

TEST(IoSession, AReplyLaterThanItsTimeoutNeverAnswersTheNextQuery) {
    // A link that can be made again is, so no late byte answers the next
    // query; a line without connections of its own says it is out of step.
    struct Late {
        const char* name;
        std::vector<Chunk> first;
        bool block;
        bool restKnown;  // waited for, so a line that cannot reconnect knows it is
                         // missing
    };
    const Late cases[]{
        {"late reply", {{"+1.00000000E+00\n", false, 300}}, false, false},
        {"late reply, its start in time", {{"+1.0"}, {"0000000E+00\n", false, 300}}, false, false},
        {"late block", {{"#15abcde\n", false, 300}}, true, false},
        {"block rest never comes", {{"#210abc"}}, true, true},
        {"indefinite block never ends", {{"#0abc"}}, true, true},
    };
    for (const Late& c : cases) {
        for (bool reconnectable : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (reconnectable ? ", socket" : ", serial"));
            auto f = makeSession(c.first);
            if (reconnectable) f->fake->nextLinks = {{{"+62500\n"}}};
            EXPECT_EQ(errorOf([&] { Read(f->session, c.block ? Op::Bytes : Op::Text, 0); }).code(),
                      kIoTimeout);
            EXPECT_TRUE(f->session.Broken());
            f->session.Output(":WAV:POIN?");
            EXPECT_EQ(f->fake->reconnects, reconnectable ? 1 : 0);
            EXPECT_EQ(f->session.Broken(), !reconnectable && c.restKnown);
            if (reconnectable) {
                EXPECT_EQ(f->session.EnterText(), "+62500\n");
            }
        }
    }
    // A closed link is broken for good.
    auto closed = makeSession({{"#15ab"}}, AtEnd::Close);
    EXPECT_EQ(errorOf([&] { closed->session.EnterBytes(); }).code(), kIoClosed);
    EXPECT_TRUE(closed->session.Broken());
}

TEST(IoSession, NumberArraysAndWrites) {
    auto f = makeSession({{" 1.5,+9.9E+37,-2\n1,2,3,4\n1,abc,3\n"}});
    std::array<double, 3> v{};
    EXPECT_EQ(f->session.EnterNumbers(v), 3u);
    EXPECT_EQ(v, (std::array<double, 3>{1.5, 9.9e37, -2}));
    EXPECT_EQ(f->session.EnterNumbers(v),
              3u);  // the fourth field is read and ignored
    EXPECT_EQ(v[2], 3.0);
    EXPECT_EQ(errorOf([&] { f->session.EnterNumbers(v); }).code(), kIoMalformed);

    f->session.Output("*IDN?");
    f->session.SetWriteTermChar(-1);
    f->session.Output(":A");
    const uint8_t raw[] = {'S', 0, 'x'};
    f->session.WriteBytes(raw, 3);
    EXPECT_EQ(f->fake->written, std::string("*IDN?\n:AS\0x", 11));

    // A raw read ends at the terminator, or where its buffer does.
    auto r = makeSession({{"rest\nmore"}});
    std::array<uint8_t, 64> buf{};
    size_t n = r->session.ReadBytes(buf.data(), buf.size());
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + n), "rest\n");
    n = r->session.ReadBytes(buf.data(), 3);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + n), "mor");
}

// An instrument that never stops sending text without a line feed.
class EndlessTransport : public Transport {
public:
    void write(const uint8_t*, size_t, Deadline) override {}
    size_t read(uint8_t* data, size_t size, Deadline, bool& end) override {
        end = false;
        const size_t n = std::min(size, size_t{1} << 20);
        std::memset(data, '1', n);
        sent += n;
        return n;
    }
    bool messageBased() const override { return false; }
    size_t sent = 0;
};

TEST(IoSession, AReplyThatNeverEndsStopsAtTheSizeCap) {
    auto t = std::make_unique<EndlessTransport>();
    EndlessTransport* endless = t.get();
    IoSession session("endless", std::move(t));
    session.SetTimeout(600000);
    EXPECT_EQ(errorOf([&] { session.EnterText(); }).code(), kIoBlockTooLarge);
    // Read no further than the cap and one read past it.
    EXPECT_LE(endless->sent, IoSession::kMaxBlockBytes + (size_t{2} << 20));
}

TEST(IoSession, ProgressIsReportedOncePerStepAndAtTheEnd) {
    using Calls = std::vector<std::pair<size_t, size_t>>;
    Calls calls;
    const auto record = [&](size_t received, size_t total) { calls.emplace_back(received, total); };
    constexpr size_t kStep = IoSession::kProgressStepBytes;
    const size_t size = 3 * kStep + 1000;
    const std::string data(size, 'x');
    // Data in 256 KiB reads: a report after the reads that pass 1, 2 and 3
    // MiB, then the end.
    std::vector<Chunk> chunks{{"#7" + std::to_string(size)}};
    for (size_t at = 0; at < size; at += kStep / 4) chunks.push_back({data.substr(at, kStep / 4)});
    chunks.push_back({"\nNEXT\n"});
    auto f = makeSession(chunks);
    f->session.SetBlockProgress(record);
    EXPECT_EQ(f->session.EnterBytes().size(), size);
    EXPECT_EQ(calls, (Calls{{kStep, size}, {2 * kStep, size}, {3 * kStep, size}, {size, size}}));
    calls.clear();
    EXPECT_EQ(f->session.EnterText(), "NEXT\n");  // text replies report nothing
    EXPECT_TRUE(calls.empty());

    // Words, raw reads of a block on either bus, and an indefinite block
    // (its size known at the end): once each, complete.
    auto w =
        makeSession({{"#14\x01\x02\x03\x04\n"}, {"#16abcdef\n"}, {"#0ab\ncd\n"}}, AtEnd::Close);
    auto m = makeSession({{"#15ab"}, {"cde\n", true}, {"#0xyz\n", true}}, AtEnd::Silent, true);
    for (IoSession* s : {&w->session, &m->session}) s->SetBlockProgress(record);
    EXPECT_EQ(w->session.EnterWords().size(), 2u);
    EXPECT_EQ(Read(w->session, Op::Raw, 64).size(), 10u);
    EXPECT_EQ(str(w->session.EnterBytes()), "ab\ncd");
    EXPECT_EQ(Read(m->session, Op::Raw, 64).size(), 9u);
    EXPECT_EQ(str(m->session.EnterBytes()), "xyz");
    EXPECT_EQ(calls, (Calls{{4, 4}, {6, 6}, {5, 5}, {5, 5}, {3, 3}}));

    // An empty function removes the callback.
    calls.clear();
    auto g = makeSession({{"#13abc\n"}});
    g->session.SetBlockProgress(record);
    g->session.SetBlockProgress({});
    EXPECT_EQ(str(g->session.EnterBytes()), "abc");
    EXPECT_TRUE(calls.empty());

    // A callback that throws fails the read; the rest of the cut block is
    // drained before the next command.
    const std::string big(2 * kStep, 'x');
    auto t = makeSession({{"#7" + std::to_string(big.size())},
                          {big.substr(0, big.size() / 2)},
                          {big.substr(big.size() / 2)},
                          {"\n"}});
    t->session.SetBlockProgress([](size_t, size_t) { throw std::runtime_error("cancelled"); });
    EXPECT_THROW(t->session.EnterBytes(), std::runtime_error);
    t->session.SetBlockProgress({});
    t->session.Output("*IDN?");
    EXPECT_EQ(errorOf([&] { t->session.EnterText(); }).code(), kIoTimeout);
}

}  // namespace
}  // namespace cvn::io
