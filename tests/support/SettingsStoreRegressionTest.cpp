// Settings files that once broke the store's round trip (found by the
// settings fuzz target), kept so that they stay fixed.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "TempHome.h"
#include "support/ErrorHandler.h"
#include "support/SettingsStore.h"

namespace cvn {
namespace {

constexpr const char* kKey = "cvnTest\\Regression";
const std::string kMark = "\xEF\xBB\xBF";  // UTF-8 byte-order mark

class SettingsStoreRegression : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(home_.root() + "/log");
        gErrorHandler = std::make_shared<CErrorHandler>(home_.root() + "/log");
    }
    void TearDown() override { gErrorHandler.reset(); }

    test::TempHome home_;
};

TEST_F(SettingsStoreRegression, KeyStartingWithAByteOrderMarkKeepsIt) {
    // A key saved as the first line of the file: its leading mark used to be
    // read back as the file's own and dropped.
    const std::string key = kMark + "k";
    SaveSetting(kKey, "", key, "v");
    EXPECT_EQ(GetSetting(kKey, "", key, "missing"), "v");
    EXPECT_EQ(GetSetting(kKey, "", "k", "missing"), "missing");

    // A file whose first line begins with a mark behind the file's own: an
    // unrelated save used to write the line back without the file's mark,
    // renaming the key.
    const std::string path = SettingsFilePath(kKey);
    test::writeFile(path, kMark + kMark + "k=1\n");
    ASSERT_EQ(GetSetting(kKey, "", key, "missing"), "1");
    SaveSetting(kKey, "", "x", "v");
    EXPECT_EQ(GetSetting(kKey, "", key, "missing"), "1");
    EXPECT_EQ(GetSetting(kKey, "", "k", "missing"), "missing");
    EXPECT_EQ(GetSetting(kKey, "", "x", "missing"), "v");
    EXPECT_TRUE(SettingsFileProblem(kKey).empty());

    // A file that merely starts with its own mark is unchanged in meaning.
    test::writeFile(path, kMark + "[s]\nk=2\n");
    SaveSetting(kKey, "s", "y", "3");
    EXPECT_EQ(GetSetting(kKey, "s", "k", "missing"), "2");
    EXPECT_EQ(GetSetting(kKey, "s", "y", "missing"), "3");
}

}  // namespace
}  // namespace cvn
