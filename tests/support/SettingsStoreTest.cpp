// The per-user settings store: exact round trips, damaged and unwritable files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "TempHome.h"
#include "support/AppKey.h"
#include "support/Error.h"
#include "support/ErrorHandler.h"
#include "support/ScriptedUi.h"
#include "support/SettingsStore.h"

namespace cvn {
namespace {

using test::readFile;
using test::writeFile;

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_ = ScriptedUi::install();
        std::filesystem::create_directories(home_.root() + "/log");
        gErrorHandler = std::make_shared<CErrorHandler>(home_.root() + "/log");
    }
    void TearDown() override {
        ScriptedUi::uninstall();
        gErrorHandler.reset();
    }
    std::string log() const { return readFile(gErrorHandler->logFilePath()); }

    test::TempHome home_;
    std::shared_ptr<ScriptedUi> ui_;
};

TEST_F(SettingsStoreTest, ValuesAndKeysRoundTripExactly) {
    const std::string expectedPath =
        home_.configHome() + "/Corvane/Linkara/Wavecatch/Corvane Halvio Series.ini";
    EXPECT_EQ(SettingsFilePath(kDefaultAppKey), expectedPath);
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top", "800"), "800") << "no file yet";

    const std::vector<std::pair<std::string, std::string>> values = {
        {"Number Points", " 250"},
        {"top", "12"},
        {"Top", "99"},
        {"Left", "  both ends  "},
        {"Corvane Halvio Series", "TCPIP0::127.0.0.1::inst0::INSTR"},
        {"ActiveChannels", ""},
        {"equals", "a=b==c"},
        {"backslash", "C:\\dir\\ \\s\\x41"},
        {"lines", "one\ntwo\r\nthree\ttab"},
        {"control", std::string("\x01\x7f", 2)},
        {"unicode",
         "\xC3\x9C"
         "ber \xE2\x9C\x93 \xE6\x97\xA5\xE6\x9C\xAC"},
        {"[notasection]", "[x]"},
        {";notacomment", "; value"},
        {"#hash", "#"},
        {"key=with=equals", "v"},
        {" spaced key ", " "},
        {"\xC3\xA9t\xC3\xA9", "summer"},
    };
    for (const auto& [key, value] : values) SaveSetting(kDefaultAppKey, "Settings", key, value);
    SaveSetting(kDefaultAppKey, "Other", "top", "other section");

    for (const auto& [key, value] : values) {
        EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", key, "default"), value) << key;
    }
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Other", "top"), "other section");
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "TOP", "none"), "none");
    EXPECT_EQ(GetSetting(kDefaultAppKey, "settings", "top", "none"), "none");

    // Overwriting keeps every other value.
    SaveSetting(kDefaultAppKey, "Settings", "top", "13");
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top"), "13");
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "Number Points"), " 250");
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Other", "top"), "other section");

    struct stat st {};
    ASSERT_EQ(::stat(expectedPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Only the settings file is left behind, no temporary files.
    size_t files = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(expectedPath).parent_path())) {
        ++files;
        EXPECT_EQ(entry.path().string(), expectedPath);
    }
    EXPECT_EQ(files, 1u);

    // Other keys are other files; "RegistryKey" style keys become folders.
    SaveSetting("Host\\Sub\\Corvane Halvio Series", "Settings", "top", "1");
    EXPECT_TRUE(
        std::filesystem::exists(home_.configHome() + "/Host/Sub/Corvane Halvio Series.ini"));
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top"), "13");
    EXPECT_TRUE(ui_->boxes().empty());
}

TEST_F(SettingsStoreTest, HandEditedFilesAreReadAndTheirCommentsKept) {
    const std::string path = SettingsFilePath(kDefaultAppKey);
    writeFile(path,
              "\xEF\xBB\xBF; written by hand\r\n"
              "\r\n"
              "[Settings]\r\n"
              "  top = 120  \r\n"
              "Left=\\s7\r\n"
              "Tail=x\r\r\n"
              "# another comment\n"
              "[Other]\n"
              "top=9\n");
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top"), "120");
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "Left"), " 7");
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "Tail"), "x\r");
    SaveSetting(kDefaultAppKey, "Settings", "Screen", "1");
    // Saving another value changes nothing else: a value that ends in a raw
    // CR before a CR LF line end keeps it, however often the file is written.
    SaveSetting(kDefaultAppKey, "Settings", "Screen", "1");
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "Tail"), "x\r");
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "Screen"), "1");
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Other", "top"), "9");
    const std::string text = readFile(path);
    EXPECT_NE(text.find("; written by hand"), std::string::npos);
    EXPECT_NE(text.find("# another comment"), std::string::npos);
}

TEST_F(SettingsStoreTest, DamagedFileGivesDefaultsAndIsNeverOverwritten) {
    const std::string path = SettingsFilePath(kDefaultAppKey);
    const std::vector<std::string> damaged = {
        "[Settings]\ntop=1\nthis line is no setting\n",
        "[Settings\ntop=1\n",
        "[Settings]\ntop=bad \\q escape\n",
        "[Settings]\ntop=cut \\x4\n",
        std::string("[Settings]\ntop=1\0\n", 18),
    };
    for (const std::string& content : damaged) {
        writeFile(path, content);
        const size_t logBefore = log().size();
        EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top", "800"), "800");
        EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "Left", "800"), "800");
        try {
            SaveSetting(kDefaultAppKey, "Settings", "top", "5");
            ADD_FAILURE() << "a damaged file was written over";
        } catch (const Error& e) {
            EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
            EXPECT_NE(e.description().find("damaged"), std::string::npos) << e.description();
        }
        EXPECT_EQ(readFile(path), content);
        // Reported once in the log, not in a box, however often it is read.
        const std::string added = log().substr(logBefore);
        size_t reports = 0;
        for (size_t p = added.find(path); p != std::string::npos; p = added.find(path, p + 1)) {
            ++reports;
        }
        EXPECT_EQ(reports, 1u) << added;
        // Repairing the file makes it usable again, and a new fault is reported anew.
        std::filesystem::remove(path);
        EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top", "800"), "800");
    }
    EXPECT_TRUE(ui_->boxes().empty());

    // A folder where the file should be is no settings file either.
    std::filesystem::create_directories(path);
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top", "d"), "d");
    EXPECT_THROW(SaveSetting(kDefaultAppKey, "Settings", "top", "5"), Error);
}

TEST_F(SettingsStoreTest, UnusableLocationsGiveClearErrors) {
    // The configuration folder cannot be created below a plain file.
    writeFile(home_.root() + "/blocker", "x");
    ::setenv("XDG_CONFIG_HOME", (home_.root() + "/blocker/config").c_str(), 1);
    try {
        SaveSetting(kDefaultAppKey, "Settings", "top", "1");
        ADD_FAILURE() << "write below a file succeeded";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find(home_.root() + "/blocker/config"), std::string::npos)
            << e.description();
    }
    EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top", "800"), "800");

    // A relative XDG_CONFIG_HOME is ignored in favour of ~/.config.
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(SettingsFilePath("A\\B"), home_.root() + "/.config/A/B.ini");

    // Keys that would leave the configuration folder are refused.
    for (const std::string bad :
         {"Corvane\\..\\..\\etc", "..", "a\\.\\b", "a/../../b", "a\\\\b", "", "trailing\\"}) {
        EXPECT_THROW(SettingsFilePath(bad), Error) << bad;
        EXPECT_THROW(SaveSetting(bad, "Settings", "k", "v"), Error) << bad;
        EXPECT_EQ(GetSetting(bad, "Settings", "k", "def"), "def") << bad;
    }
    EXPECT_FALSE(std::filesystem::exists(home_.root() + "/etc"));
    EXPECT_TRUE(ui_->boxes().empty());
}

}  // namespace
}  // namespace cvn
