// The widget-free rules of the capture profile.
#include <gtest/gtest.h>

#include "dialog/CaptureProfile.h"

namespace cvn {
namespace {

TEST(CaptureProfile, SettingTextsConvertTheWayTheDriverReadsThem) {
    EXPECT_EQ(SettingAsInteger("1"), 1);
    EXPECT_EQ(SettingAsInteger(" 0 "), 0);
    EXPECT_EQ(SettingAsInteger("-30"), -30);
    EXPECT_FALSE(SettingAsInteger("1.5"));
    EXPECT_FALSE(SettingAsInteger("yes"));
    EXPECT_FALSE(SettingAsInteger(""));

    for (const char* t : {"1", "True", "true", "-1", "TRUE", " 2 "})
        EXPECT_EQ(SettingAsBoolean(t), true) << t;
    for (const char* t : {"0", "False", "false", "0.0"}) EXPECT_EQ(SettingAsBoolean(t), false) << t;
    EXPECT_FALSE(SettingAsBoolean("maybe"));
    EXPECT_FALSE(SettingAsBoolean(""));

    EXPECT_EQ(SettingAsNumber("812.5"), 812.5);
    EXPECT_FALSE(SettingAsNumber("8OO"));
}

TEST(CaptureProfile, SourceListIsWrittenAndReadBack) {
    // Channels first, then pods, whatever order they were ticked in.
    EXPECT_EQ(BuildActiveChannels({true, false, true, false}, {false, true}), "CHAN1,CHAN3,POD2");
    EXPECT_EQ(BuildActiveChannels({false, false, false, false}, {false, false}), "");
    EXPECT_EQ(BuildActiveChannels({false, true, false, true}, {true, true}),
              "CHAN2,CHAN4,POD1,POD2");

    using K = StoredSource::Kind;
    auto mso = ParseActiveChannels("CHAN1,chan3,POD2,pod1,XYZ,,CHANx", true, 4);
    ASSERT_EQ(mso.size(), 4u);
    EXPECT_EQ(mso[0].kind, K::Channel);
    EXPECT_EQ(mso[0].number, 1);
    EXPECT_EQ(mso[1].number, 3);
    EXPECT_EQ(mso[2].kind, K::Pod);
    EXPECT_EQ(mso[2].number, 2);
    EXPECT_EQ(mso[3].kind, K::Pod);
    EXPECT_EQ(mso[3].number, 1);

    // No pods on the model, and a channel beyond the model's count.
    auto twoChannel = ParseActiveChannels("CHAN1,CHAN3,POD1,POD2", false, 2);
    ASSERT_EQ(twoChannel.size(), 1u);
    EXPECT_EQ(twoChannel[0].number, 1);
    EXPECT_TRUE(ParseActiveChannels("", true, 4).empty());
}

TEST(CaptureProfile, MeasurementColumns) {
    EXPECT_EQ(ChooseMeasurementColumn("CHAN1", false), MeasurementColumn::Analog);
    EXPECT_EQ(ChooseMeasurementColumn("dig5", false), MeasurementColumn::Digital);
    EXPECT_EQ(ChooseMeasurementColumn("DIG5", true), MeasurementColumn::Fft);

    int analog = 0, digital = 0, fft = 0;
    for (const char* name : kMeasurementNames) {
        analog += MeasurementAvailable(name, MeasurementColumn::Analog);
        digital += MeasurementAvailable(name, MeasurementColumn::Digital);
        fft += MeasurementAvailable(name, MeasurementColumn::Fft);
    }
    EXPECT_EQ(analog, 24);
    EXPECT_EQ(digital, 5);
    EXPECT_EQ(fft, 6);
    EXPECT_FALSE(MeasurementAvailable("Nothing", MeasurementColumn::Analog));
}

TEST(CaptureProfile, WindowPlacementKeepsTheTitleStripReachable) {
    const std::vector<Rect> screens{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    EXPECT_EQ(PlaceOnScreens(53, 53, 500, screens), (std::array<int, 2>{53, 53}));
    EXPECT_EQ(PlaceOnScreens(2500, 300, 500, screens), (std::array<int, 2>{2500, 300}));
    // Partly off the left edge but still grabbable.
    EXPECT_EQ(PlaceOnScreens(-300, 10, 500, screens), (std::array<int, 2>{-300, 10}));
    // A monitor that is gone, above the desktop, or far to the left.
    EXPECT_EQ(PlaceOnScreens(4000, 200, 500, screens), (std::array<int, 2>{40, 40}));
    EXPECT_EQ(PlaceOnScreens(100, -500, 500, screens), (std::array<int, 2>{40, 40}));
    EXPECT_EQ(PlaceOnScreens(-2000, 100, 500, screens), (std::array<int, 2>{40, 40}));
}

}  // namespace
}  // namespace cvn
