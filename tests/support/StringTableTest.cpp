// The string table's messages, the numbers without text, and the "#"
// placeholder. Captions are checked where the forms are localised.
#include <gtest/gtest.h>

#include "support/LocalizeForm.h"
#include "support/StringTable.h"

namespace cvn {
namespace {

TEST(StringTable, MessagesAndNumbersWithoutText) {
    const std::pair<int16_t, const char*> texts[] = {
        {117, "No connection, please try again."},
        {118, "There are # thousand points available."},
        {119, "There are # million points available."},
        {120, "Number of points to be returned for "},
        {305, "Pod 2 (D8-D15)"},
        {1014, "Change the number of points on the scope under Menu 'Setup Acquisition'"},
    };
    for (const auto& [number, text] : texts) EXPECT_EQ(GetResString(number, "-"), text) << number;
    // Numbers next to real ones, the font entries and the extremes.
    for (int16_t missing : {0, 20, 21, 104, 114, 122, 306, 1024, -115, INT16_MIN, INT16_MAX})
        EXPECT_EQ(GetResString(missing, "fallback"), "fallback") << missing;
}

TEST(StringTable, ReplacesOnlyTheFirstPlaceholder) {
    const std::tuple<const char*, const char*, const char*> cells[] = {
        {"There are # thousand", "250", "There are 250 thousand"},
        {"no placeholder here", "x", "no placeholder here"},
        {"#", "value", "value"},
        {"ends in #", "42", "ends in 42"},
        {"a # b # c", "X", "a X b # c"},
        {"keep ## two", "v", "keep v# two"},
        {"empty # value", "", "empty  value"},
        {"x#y", "#", "x#y"},  // the value itself is not searched again
    };
    for (const auto& [text, value, expected] : cells)
        EXPECT_EQ(ReplacePlaceholder(text, value), expected) << text;
}

TEST(LocalizeForm, TagTextsBecomeNumbersTheWayTheFormsReadThem) {
    const std::pair<const char*, std::optional<int16_t>> tags[] = {
        {" 1023 ", 1023}, {"2.5", 2}, {"3.5", 4},    {"-7", -7},
        {"32768", {}},    {"", {}},   {"12abc", {}}, {"inf", {}},
    };
    for (const auto& [text, number] : tags) EXPECT_EQ(TextToInt16(text), number) << text;
    const std::pair<const char*, double> leading[] = {
        {"1 0 1 1xyz", 1011}, {"  -2.5e1 and more", -25}, {"12e", 12}, {"none", 0}, {".", 0},
    };
    for (const auto& [text, number] : leading)
        EXPECT_DOUBLE_EQ(LeadingNumber(text), number) << text;
}

}  // namespace
}  // namespace cvn
