// Reply conversions: what counts as a number, rounding, field splitting.
#include <gtest/gtest.h>

#include "io/ReplyConvert.h"

namespace cvn::io {
namespace {

TEST(ReplyConvert, NumbersAreStrict) {
    const std::vector<std::pair<std::string, double>> good = {
        {"1", 1.0},      {" 1000\n", 1000.0}, {"+9.9E+37", 9.9e37}, {"-2.5e-3\r\n", -2.5e-3},
        {".5", 0.5},     {"5.", 5.0},         {"2e3", 2000.0},      {"\t-0\n", 0.0},
        {"1e-400", 0.0},
    };
    for (const auto& [text, value] : good) {
        auto v = toNumber(text);
        ASSERT_TRUE(v) << text;
        EXPECT_DOUBLE_EQ(*v, value) << text;
    }
    for (std::string bad : {"", " \n", "abc", "1.2.3", "12abc", "1 2", "e5", ".", "+", "1e", "1e+",
                            "inf", "nan", "0x10", "1,5", "--1", "1e400"}) {
        EXPECT_FALSE(toNumber(bad)) << "'" << bad << "'";
    }
}

TEST(ReplyConvert, Int16RoundsHalfToEvenWithinRange) {
    EXPECT_EQ(toInt16("2.5"), 2);
    EXPECT_EQ(toInt16("3.5"), 4);
    EXPECT_EQ(toInt16("-2.5"), -2);
    EXPECT_EQ(toInt16("-2.6"), -3);
    EXPECT_EQ(toInt16("32767.4"), 32767);
    EXPECT_EQ(toInt16("-32768"), -32768);
    EXPECT_FALSE(toInt16("32767.5"));
    EXPECT_FALSE(toInt16("-32769"));
    EXPECT_FALSE(toInt16("x"));
}

TEST(ReplyConvert, FieldsAndTrim) {
    EXPECT_EQ(splitFields("a, b,c\r\n"), (std::vector<std::string>{"a", " b", "c"}));
    EXPECT_EQ(splitFields("a,,\n"), (std::vector<std::string>{"a", "", ""}));
    EXPECT_EQ(splitFields("x\n\n"), (std::vector<std::string>{"x\n"}));
    EXPECT_EQ(splitFields(""), (std::vector<std::string>{""}));
    EXPECT_EQ(trimReply(" \t1.0\r\n"), "1.0");
    EXPECT_EQ(trimReply(" \n"), "");
}

}  // namespace
}  // namespace cvn::io
