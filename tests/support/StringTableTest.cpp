// The string table's texts and the "#" placeholder.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "support/StringTable.h"

namespace cvn {
namespace {

TEST(StringTable, HoldsEveryTextExactly) {
    const std::vector<std::pair<int16_t, std::string>> expected = {
        {115, "No connection."},
        {116, "Incorrect model."},
        {117, "No connection, please try again."},
        {118, "There are # thousand points available."},
        {119, "There are # million points available."},
        {120, "Number of points to be returned for "},
        {121, "The instrument is not connected."},
        {202, "Error retreiving scope data."},
        {300, "Channel 1"},
        {301, "Channel 2"},
        {302, "Channel 3"},
        {303, "Channel 4"},
        {304, "Pod 1 (D0-D7)"},
        {305, "Pod 2 (D8-D15)"},
        {1003, "Close"},
        {1004, "Cancel"},
        {1005, "Find Instrument"},
        {1006, "Get Waveform Data"},
        {1007, "Scope Settings"},
        {1008, "Set I/O"},
        {1009, "Get Screen Image"},
        {1010, "Get Waveform Data"},
        {1011, "Waveform Selection"},
        {1012, "Channel:"},
        {1013, "Number of Points:"},
        {1014, "Change the number of points on the scope under Menu 'Setup Acquisition'"},
        {1015, "Scope Settings"},
        {1016, "Get setting from scope and save to file"},
        {1017, "Open file and send settings to scope"},
        {1018, "I/O Address:"},
        {1019, "This Add-In supports the Corvane Halvio Series."},
        {1020, "Find Instrument"},
        {1021, "Image inverted"},
        {1022, "OK"},
        {1023, "Corvane Halvio Series Add-In"},
    };
    for (const auto& [number, text] : expected) {
        EXPECT_EQ(GetResString(number, "default"), text) << number;
    }
    // Numbers next to real ones, the font entries and the extremes have no text.
    const std::vector<int16_t> missingNumbers = {0,   20,   21,   104,       114,      122,
                                                 306, 1024, -115, INT16_MIN, INT16_MAX};
    for (int16_t missing : missingNumbers) {
        EXPECT_EQ(GetResString(missing, "fallback"), "fallback") << missing;
        EXPECT_EQ(GetResString(missing, ""), "") << missing;
    }
}

TEST(StringTable, ReplacesOnlyTheFirstPlaceholder) {
    EXPECT_EQ(ReplacePlaceholder(GetResString(118, ""), "250"),
              "There are 250 thousand points available.");
    EXPECT_EQ(ReplacePlaceholder("no placeholder here", "x"), "no placeholder here");
    EXPECT_EQ(ReplacePlaceholder("#", "value"), "value");
    EXPECT_EQ(ReplacePlaceholder("ends in #", "42"), "ends in 42");
    EXPECT_EQ(ReplacePlaceholder("#start", "1"), "1start");
    EXPECT_EQ(ReplacePlaceholder("a # b # c", "X"), "a X b # c");
    EXPECT_EQ(ReplacePlaceholder("keep ## two", "v"), "keep v# two");
    EXPECT_EQ(ReplacePlaceholder("empty # value", ""), "empty  value");
    EXPECT_EQ(ReplacePlaceholder("", "v"), "");
    // The value itself is not searched again.
    EXPECT_EQ(ReplacePlaceholder("x#y", "#"), "x#y");
}

}  // namespace
}  // namespace cvn
