// Message framing, command parsing and header matching of the simulator.
#include <gtest/gtest.h>

#include "sim/instrument/CommandTable.h"
#include "sim/instrument/ScpiParser.h"

namespace cvn::sim {
namespace {

std::vector<std::string> Frame(MessageFramer& f, std::string_view input, size_t chunk) {
    std::vector<std::string> out;
    for (size_t i = 0; i < input.size(); i += chunk) {
        f.feed(input.data() + i, std::min(chunk, input.size() - i));
        while (auto m = f.next()) out.push_back(*m);
    }
    return out;
}

TEST(MessageFramer, CutsAtLineFeedsOutsideQuotesAndBlocks) {
    const std::string block = "#15a\nb;c";
    const std::string input = "*IDN?\n:A \"x\ny\"\r\n:SYST:SET " + block + "\n:B 1\n";
    // Every chunk size, so that each boundary falls inside every construct.
    for (size_t chunk = 1; chunk <= input.size(); ++chunk) {
        MessageFramer f;
        const auto msgs = Frame(f, input, chunk);
        ASSERT_EQ(msgs.size(), 4u) << "chunk " << chunk;
        EXPECT_EQ(msgs[0], "*IDN?");
        EXPECT_EQ(msgs[1], ":A \"x\ny\"\r");  // the carriage return is kept
        EXPECT_EQ(msgs[2], ":SYST:SET " + block);
        EXPECT_EQ(msgs[3], ":B 1");
    }
}

TEST(MessageFramer, BlockWithoutTerminatorEndsTheMessage) {
    MessageFramer f;
    const std::string msg = "Syst:Set #3004\n\n\n\n";
    f.feed(msg.data(), msg.size());
    auto m = f.next();
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, "Syst:Set #3004\n\n\n\n");
    EXPECT_FALSE(f.next());

    // "#0" and "#H" are not definite blocks: the line feed still ends them.
    const std::string other = ":X #0abc\n:Y #HFF\n";
    f.feed(other.data(), other.size());
    EXPECT_EQ(f.next().value_or(""), ":X #0abc");
    EXPECT_EQ(f.next().value_or(""), ":Y #HFF");
}

TEST(MessageFramer, OversizedBlockIsDroppedAndReported) {
    MessageFramer f;
    const std::string msg = ":X #9999999999\n:Y\n";
    f.feed(msg.data(), msg.size());
    EXPECT_FALSE(f.next());
    EXPECT_TRUE(f.takeOverflow());
    EXPECT_FALSE(f.takeOverflow());
}

TEST(ScpiParser, CommandsHeadersAndArguments) {
    const auto parts = SplitCommands(" :WAV:FORM WORD ; :MEAS:SOUR \"a;b\",CHAN2;;*OPC?");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[1], ":MEAS:SOUR \"a;b\",CHAN2");

    auto c = ParseCommand(":WAVeform:SOURce  Channel2");
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->rooted);
    EXPECT_FALSE(c->query);
    ASSERT_EQ(c->header.size(), 2u);
    EXPECT_EQ(c->header[0].name, "WAVEFORM");
    ASSERT_EQ(c->args.size(), 1u);
    EXPECT_EQ(c->args[0], "Channel2");

    c = ParseCommand("DISPlay:DATA? BMP, SCReen, ON, Inv");
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->rooted);
    EXPECT_TRUE(c->query);
    EXPECT_EQ(c->args, (std::vector<std::string>{"BMP", "SCReen", "ON", "Inv"}));

    c = ParseCommand(":chan12:disp?");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->header[0].name, "CHAN");
    EXPECT_EQ(c->header[0].suffix, 12);

    c = ParseCommand("*idn?");
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->common);
    EXPECT_EQ(c->header[0].name, "*IDN");

    EXPECT_FALSE(ParseCommand(":WAV::FORM WORD"));
    EXPECT_FALSE(ParseCommand(":3WAV"));
    EXPECT_FALSE(ParseCommand("*"));
}

TEST(ScpiParser, KeywordsNumbersAndBlocks) {
    EXPECT_TRUE(KeywordMatches("msbf", "MSBFirst"));
    EXPECT_TRUE(KeywordMatches("MSBFIRST", "MSBFirst"));
    EXPECT_FALSE(KeywordMatches("MSBFIR", "MSBFirst"));
    EXPECT_EQ(KeywordSuffix("Channel3", "CHANnel"), 3);
    EXPECT_EQ(KeywordSuffix("CHAN", "CHANnel"), 1);
    EXPECT_FALSE(KeywordSuffix("CHA3", "CHANnel"));
    EXPECT_EQ(ParseBoolean("on"), true);
    EXPECT_EQ(ParseBoolean("0"), false);
    EXPECT_FALSE(ParseBoolean("maybe"));
    EXPECT_EQ(ParseNumber(" +2.5E-06 "), 2.5e-6);
    EXPECT_FALSE(ParseNumber("0x10"));
    EXPECT_FALSE(ParseNumber("inf"));
    EXPECT_EQ(BlockHeader(0), "#10");
    EXPECT_EQ(BlockHeader(16000000), "#816000000");
}

TEST(CommandTable, MatchesShortLongOptionalAndSuffixForms) {
    CommandTable t;
    int hit = 0;
    t.add(":WAVeform:POINts:MODE", [&](CommandContext&) { hit = 1; });
    t.add(":WAVeform:POINts?", [&](CommandContext&) { hit = 2; });
    t.add(":OPERegister[:CONDition]?", [&](CommandContext&) { hit = 3; });
    t.add(":CHANnel#:DISPlay?", [&](CommandContext&) { hit = 4; });
    t.add("*IDN?", [&](CommandContext&) { hit = 5; });

    auto find = [&](std::string_view text) {
        auto c = ParseCommand(text);
        return c ? t.find(c->header, c->query) : std::nullopt;
    };
    for (auto text :
         {":WAVeform:POINts:MODE RAW", "WAV:POIN:MODE RAW", ":waveform:points:mode raw"}) {
        EXPECT_TRUE(find(text)) << text;
    }
    EXPECT_FALSE(find(":WAVEF:POIN:MODE RAW"));  // neither short nor long
    EXPECT_FALSE(find(":WAV:POIN:MODE? "));      // no such query
    EXPECT_FALSE(find(":WAV:POIN"));             // only the query exists
    EXPECT_TRUE(find(":OPER?"));
    EXPECT_TRUE(find(":OPERegister:CONDition?"));
    EXPECT_FALSE(find(":OPER:EVEN?"));
    EXPECT_FALSE(find(":WAV2:POIN?"));  // no suffix allowed there

    auto m = find(":CHAN3:DISP?");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->suffixes, std::vector<int>{3});
    EXPECT_EQ(m->shortHeader, ":CHAN3:DISP");
    EXPECT_EQ(m->longHeader, ":CHANNEL3:DISPLAY");
    m = find(":channel:display?");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->suffixes, std::vector<int>{1});
    m = find("*idn?");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->shortHeader, "*IDN");

    EXPECT_THROW(t.add(":A[:B", [](CommandContext&) {}), std::invalid_argument);
}

}  // namespace
}  // namespace cvn::sim
