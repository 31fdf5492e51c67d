// Reply boundaries under the timing real instruments show: a terminator that
// follows its block late, indefinite-length blocks whose data holds line
// feeds, and the first reply after a failure. Each case ends by checking
// that the next reply on the same session is read whole and in step.
#include <gtest/gtest.h>

#include <array>

#include "SessionFixture.h"

namespace cvn::io {
namespace {

using namespace std::string_literals;
using namespace test;  // the scripted transport and the session over it

constexpr const char* kIdn = "CORVANE,HV1014,SN0001,1.0.0\n";

TEST(IoFramingLateTerminator, IsTakenWithItsBlockNotWithTheNextReply) {
    for (std::string term : {"\n", "\r\n"}) {
        for (int lateMs : {60, 300, 700}) {
            // Bytes, words and a raw read, each followed by a text reply.
            auto f = makeSession({{"#13abc"},
                                  {term, false, lateMs},
                                  {"#14\x01\x02\x03\x04"},
                                  {term, false, lateMs},
                                  {"#12xy"},
                                  {term, false, lateMs},
                                  {kIdn}});
            f->session.SetTimeout(1000);
            EXPECT_EQ(str(f->session.EnterBytes()), "abc");
            EXPECT_EQ(f->session.EnterWords(), (DataVector<int16_t>{0x0102, 0x0304}));
            f->session.SetTermChar(-1);
            std::array<uint8_t, 16> buf{};
            EXPECT_EQ(f->session.ReadBytes(buf.data(), buf.size()), 5u);
            f->session.SetTermChar('\n');
            EXPECT_EQ(f->session.EnterText(), kIdn) << lateMs << " ms late";
            EXPECT_FALSE(f->session.Broken());
        }
    }
    // The CR of a CR LF in time, its LF late.
    auto split = makeSession({{"#13abc\r"}, {"\n", false, 300}, {kIdn}});
    split->session.SetTimeout(1000);
    EXPECT_EQ(str(split->session.EnterBytes()), "abc");
    EXPECT_EQ(split->session.EnterText(), kIdn);

    // A message-based bus whose END comes with the late terminator.
    auto m = makeSession({{"#13abc"}, {"\n", true, 300}, {"+62500\n", true}}, AtEnd::Silent, true);
    m->session.SetTimeout(1000);
    EXPECT_EQ(str(m->session.EnterBytes()), "abc");
    EXPECT_EQ(m->session.EnterText(), "+62500\n");
}

TEST(IoFramingLateTerminator, ABlockWithoutTerminatorLeavesTheNextReplyWhole) {
    auto f = makeSession({{"#13abc"}, {"+62500\n", false, 300}, {"1\n"}});
    f->session.SetTimeout(1000);
    EXPECT_EQ(str(f->session.EnterBytes()), "abc");
    EXPECT_EQ(f->session.EnterText(), "+62500\n");
    EXPECT_EQ(f->session.EnterText(), "1\n");
}

TEST(IoFramingIndefinite, LineFeedsInsideTheDataDoNotEndTheBlock) {
    // On a byte stream the block ends at the line feed the line stays quiet
    // after (here: closed after), wherever the reads cut it.
    const std::string data = "ab\ncd\n\nef";
    for (auto chunks : everySplit("#0" + data + "\n")) {
        auto f = makeSession(chunks, AtEnd::Close);
        f->session.SetTimeout(1000);
        EXPECT_EQ(str(f->session.EnterBytes()), data);
    }
    // Data that pauses right after a line feed, as a retransmitted TCP
    // segment makes it (200 ms at least, more when that is lost too).
    for (int pauseMs : {30, 250, 700}) {
        auto paused =
            makeSession({{"#0\x01\n"}, {"\x02\x03\n", false, pauseMs}, {"MAIN\n", false, 1100}});
        paused->session.SetTimeout(3000);
        EXPECT_EQ(paused->session.EnterWords(), (DataVector<int16_t>{0x010a, 0x0203})) << pauseMs;
        EXPECT_EQ(paused->session.EnterText(), "MAIN\n");
    }

    // A raw read returns the whole block, header and final line feed.
    auto raw = makeSession({{"#0ab\ncd\n"}, {"NEXT\n", false, 1100}});
    raw->session.SetTimeout(1000);
    raw->session.SetTermChar(-1);
    std::array<uint8_t, 64> buf{};
    size_t n = raw->session.ReadBytes(buf.data(), buf.size());
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + static_cast<long>(n)), "#0ab\ncd\n");
    EXPECT_EQ(raw->session.EnterText(), "NEXT\n");

    // Progress of an indefinite block: its size is known at the end, and
    // the end says so.
    std::vector<std::pair<size_t, size_t>> calls;
    auto p = makeSession({{"#0ab\ncd\n"}}, AtEnd::Close);
    p->session.SetBlockProgress([&](size_t r, size_t t) { calls.emplace_back(r, t); });
    EXPECT_EQ(str(p->session.EnterBytes()), "ab\ncd");
    EXPECT_EQ(calls, (std::vector<std::pair<size_t, size_t>>{{5, 5}}));
}

TEST(IoFramingIndefinite, ABlockThatNeverEndsFailsAndTheSessionResynchronises) {
    // Data without a final line feed, then the rest of it after the time-out.
    auto f = makeSession({{"#0abc\ndef"}, {"ghi\n", false, 300}, {kIdn, false, 1100}});
    f->session.SetTimeout(200);
    IoError e = errorOf([&] { f->session.EnterBytes(); });
    EXPECT_EQ(e.code(), kIoTimeout);
    EXPECT_NE(e.description().find("no final line feed"), std::string::npos) << e.description();
    EXPECT_TRUE(f->session.Broken());
    f->session.SetTimeout(1000);
    f->session.Output("*IDN?");  // drains the rest of the failed block first
    EXPECT_EQ(f->session.EnterText(), kIdn);
    EXPECT_FALSE(f->session.Broken());

    // Larger than a raw read's buffer: a clear error, not a cut block.
    auto big = makeSession({{"#0" + std::string(100, 'x') + "\n"}});
    big->session.SetTermChar(-1);
    std::array<uint8_t, 32> buf{};
    EXPECT_EQ(errorOf([&] { big->session.ReadBytes(buf.data(), buf.size()); }).code(),
              kIoBlockTooLarge);
}

TEST(IoFramingAfterFailure, TheNextReplyStartsOnItsOwnBoundary) {
    // A definite block cut by the time-out, its rest arriving later.
    auto cut = makeSession({{"#210abc"}, {"defghij\n", false, 250}, {"+62500\n", false, 100}});
    EXPECT_EQ(errorOf([&] { cut->session.EnterBytes(); }).code(), kIoTimeout);
    cut->session.Output(":WAV:POIN?");
    EXPECT_EQ(cut->session.EnterText(), "+62500\n");

    // A raw read whose buffer ends inside the block drops the block's rest.
    auto small = makeSession({{"#16abcdef\n"}, {"1\n", false, 100}});
    small->session.SetTermChar(-1);
    std::array<uint8_t, 5> buf{};
    EXPECT_EQ(small->session.ReadBytes(buf.data(), buf.size()), 5u);
    small->session.Output(":OPER?");
    small->session.SetTermChar('\n');
    EXPECT_EQ(small->session.EnterText(), "1\n");

    // A reply later than its time-out, or a rest that never comes: a link
    // that can be made again is, so no late byte answers the next query; a
    // line without connections of its own says it is out of step.
    struct Case {
        const char* name;
        std::vector<Chunk> first;
        bool block;
        bool restKnown;  // waited for, so a line that cannot reconnect knows it is missing
    };
    const std::vector<Case> cases{
        {"late reply", {{"+1.00000000E+00\n", false, 300}}, false, false},
        {"late reply, its start in time", {{"+1.0"}, {"0000000E+00\n", false, 300}}, false, false},
        {"late block", {{"#15abcde\n", false, 300}}, true, false},
        {"block rest never comes", {{"#210abc"}}, true, true},
        {"indefinite block never ends", {{"#0abc"}}, true, true},
    };
    for (const Case& c : cases) {
        for (bool reconnectable : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (reconnectable ? ", socket" : ", serial"));
            auto f = makeSession(c.first);
            if (reconnectable) f->fake->nextLinks = {{{"+62500\n"}}};
            EXPECT_EQ(errorOf([&] {
                          if (c.block)
                              f->session.EnterBytes();
                          else
                              f->session.EnterText();
                      }).code(),
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

}  // namespace
}  // namespace cvn::io
