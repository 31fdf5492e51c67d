#include <gtest/gtest.h>

#include "waveform/SourceNames.h"
#include "waveform/WaveformTransfer.h"

namespace cvn {
namespace {

TEST(SourceNames, KeywordsAndCodes) {
    struct Row {
        const char* entry;
        const char* keyword;
        int32_t code;
    };
    const Row rows[] = {
        {"CHAN1", " Channel1", 1},   {"3", " Channel3", 3},       {"CHAN7", " Channel1", 7},
        {"", " Channel1", 1},        {"pod2", " POD2", 16},       {"POD1", " POD1", 8},
        {"FUNC1", " Func", 5},       {"math", " Func", 5},        {"Chan1", "CHAN1", 0},
        {"CHAN2.5", " Channel2", 2}, {"CHAN3.5", " Channel4", 4}, {"xyz", "XYZ", 0},
    };
    for (const auto& row : rows) {
        std::string entry = row.entry;
        int32_t code = 0;
        SourceKeyword(entry, code);
        EXPECT_EQ(entry, row.keyword) << row.entry;
        EXPECT_EQ(code, row.code) << row.entry;
    }
    EXPECT_FALSE(IsWordSource(" pod1"));
    EXPECT_FALSE(IsWordSource(" POD2"));
    EXPECT_TRUE(IsWordSource("PODALL"));
    EXPECT_TRUE(IsWordSource(" Channel2"));
    EXPECT_TRUE(IsWordSource(" Func"));
}

TEST(SourceNames, AxisDescriptionsWithoutTheScope) {
    EXPECT_EQ(AxisDescription(nullptr, "CHAN4", -1), "sec,Volt,sec,ch4");
    EXPECT_EQ(AxisDescription(nullptr, "", -1), "sec,Volt,sec,ch1");
    EXPECT_EQ(AxisDescription(nullptr, "POD1", -1), "sec,byte,sec,Pod1");
    EXPECT_EQ(AxisDescription(nullptr, "POD1", 5), "sec,byte,sec,D5");
    EXPECT_EQ(AxisDescription(nullptr, "POD2", 13), "sec,byte,sec,D13");
    EXPECT_EQ(AxisDescription(nullptr, "pod2", -1), "sec,byte,sec,Pod2");
    EXPECT_FALSE(AxisDescription(nullptr, "Chan1", -1).has_value());
    // The function needs the scope; without a session that is an error.
    EXPECT_ANY_THROW(AxisDescription(nullptr, "FUNC2", -1));
}

TEST(SourceNames, ThousandsFormat) {
    EXPECT_EQ(FormatThousands(0), "");
    EXPECT_EQ(FormatThousands(999), "999");
    const std::string thousand = FormatThousands(1000);
    ASSERT_EQ(thousand.size(), 5u);
    EXPECT_EQ(thousand.substr(0, 1), "1");
    EXPECT_EQ(thousand.substr(2), "000");
    EXPECT_EQ(FormatThousands(1234567.4).back(), '7');
}

}  // namespace
}  // namespace cvn
