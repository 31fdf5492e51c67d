// The widget-free rules of the capture profile.
#include <gtest/gtest.h>

#include "dialog/CaptureProfile.h"

namespace cvn {
namespace {

TEST(CaptureProfile, SettingTextsConvertTheWayTheDriverReadsThem) {
    for (const char* t : {"1", "True", "true", "-1", " 2 "})
        EXPECT_EQ(SettingAsBoolean(t), true) << t;
    for (const char* t : {"0", "False", "0.0"}) EXPECT_EQ(SettingAsBoolean(t), false) << t;
    for (const char* t : {"maybe", ""}) EXPECT_FALSE(SettingAsBoolean(t)) << t;
    EXPECT_EQ(SettingAsInteger(" -30 "), -30);
    EXPECT_FALSE(SettingAsInteger("1.5"));
    EXPECT_FALSE(SettingAsNumber("8OO"));
}

TEST(CaptureProfile, SourceListIsWrittenAndReadBack) {
    // Channels first, then pods, whatever order they were ticked in.
    EXPECT_EQ(BuildActiveChannels({false, true, false, true}, {true, true}),
              "CHAN2,CHAN4,POD1,POD2");
    EXPECT_EQ(BuildActiveChannels({false, false, false, false}, {false, false}), "");
    const auto parsed = [](const char* list, bool pods, int channels) {
        std::string out;
        for (const StoredSource& s : ParseActiveChannels(list, pods, channels))
            out += (s.kind == StoredSource::Kind::Pod ? "P" : "C") + std::to_string(s.number);
        return out;
    };
    EXPECT_EQ(parsed("CHAN1,chan4,POD2,pod1,XYZ,,CHANx,CHAN5", true, 4), "C1C4P2P1");
    EXPECT_EQ(parsed("CHAN1,CHAN3,POD1,POD2", false, 2), "C1");  // no pods, too few channels
}

TEST(CaptureProfile, MeasurementColumnsAndWindowPlacement) {
    EXPECT_EQ(ChooseMeasurementColumn("dig5", false), MeasurementColumn::Digital);
    EXPECT_EQ(ChooseMeasurementColumn("DIG5", true), MeasurementColumn::Fft);
    const std::vector<Rect> screens{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    const std::array<int, 4> cells[] = {
        {53, 53, 53, 53},
        {2500, 300, 2500, 300},
        {-300, 10, -300, 10},  // partly off the left edge but still grabbable
        // A monitor that is gone, above the desktop, or far to the left.
        {4000, 200, 40, 40},
        {100, -500, 40, 40},
        {-2000, 100, 40, 40},
    };
    for (const auto& [x, y, left, top] : cells)
        EXPECT_EQ(PlaceOnScreens(x, y, 500, screens), (std::array<int, 2>{left, top}))
            << x << "," << y;
}

}  // namespace
}  // namespace cvn
