// The per-user settings store: exact round trips, damaged and unwritable files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
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

using namespace std::string_literals;
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

// How often the log names path after it had logBefore bytes.
size_t reportsOf(const std::string& log, size_t logBefore, const std::string& path) {
    const std::string added = log.substr(logBefore);
    size_t n = 0;
    for (size_t p = added.find(path); p != std::string::npos; p = added.find(path, p + 1)) ++n;
    return n;
}

// A line the store does not understand costs only itself: every key that
// can be read is used, every write goes through, the line stays as it was.
TEST_F(SettingsStoreTest, LinesItDoesNotUnderstandAreKeptAndSkipped) {
    const std::string path = SettingsFilePath(kDefaultAppKey);
    const std::string d = "default";
    const std::string address = "TCPIP0::10.0.0.7::inst0::INSTR";
    struct Cell {
        const char* name;
        std::string content;
        std::vector<std::pair<std::string, std::string>> reads;  // in "Settings"
        std::vector<std::string> kept;                           // texts that survive writes
    };
    const std::vector<Cell> cells = {
        {"hand line",
         "[Settings]\nCorvane Halvio Series=" + address +
             "\nthis line was added by hand\nScreen=0\n",
         {{"Corvane Halvio Series", address}, {"Screen", "0"}, {"top", d}},
         {"\nthis line was added by hand\n"}},
        // Entries below a header nobody can read belong to no section.
        {"foreign section",
         "[Settings]\ntop=1\n[other tool\nLeft=2\nnot a setting\n[Settings]\nWaveform=0\n",
         {{"top", "1"}, {"Left", d}, {"Waveform", "0"}},
         {"\n[other tool\nLeft=2\nnot a setting\n"}},
        {"bad escapes and NUL",
         "[Settings]\ntop=bad \\q escape\nLeft=cut \\x4\nx=1\0y\nScreen=1\n"s,
         {{"top", d}, {"Left", d}, {"x", d}, {"Screen", "1"}},
         {"\ntop=bad \\q escape\nLeft=cut \\x4\n", "\nx=1\0y\n"s}},
        {"CR LF",
         "\xEF\xBB\xBF[Settings]\r\ntop=120\r\nthis line was added by hand\r\n",
         {{"top", "120"}, {"Left", d}},
         {"\r\nthis line was added by hand\r\n", "InvertColor=0\r\n"}},
        {"empty", "", {{"top", d}}, {}},
    };
    for (const Cell& cell : cells) {
        SCOPED_TRACE(cell.name);
        writeFile(path, cell.content);
        const size_t logBefore = log().size();
        for (const auto& [key, value] : cell.reads)
            EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", key, d), value) << key;
        EXPECT_EQ(SettingsFileProblem(kDefaultAppKey), "");
        EXPECT_EQ(GetSections(kDefaultAppKey).empty(), cell.content.empty());

        SaveSetting(kDefaultAppKey, "Settings", "InvertColor", "0");
        SaveSetting(kDefaultAppKey, "Settings", "top", "7");
        EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "InvertColor", d), "0");
        EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top", d), "7");
        for (const auto& [key, value] : cell.reads) {
            const std::string expected = key == "top" ? "7" : value;
            EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", key, d), expected) << key;
        }
        DeleteSetting(kDefaultAppKey, "Settings", "InvertColor");
        EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "InvertColor", d), d);
        SaveSetting(kDefaultAppKey, "Settings", "InvertColor", "0");
        const std::string text = readFile(path);
        for (const std::string& k : cell.kept) EXPECT_NE(text.find(k), std::string::npos) << k;

        // Lines kept but skipped are noted once in the log, never in a box.
        EXPECT_EQ(reportsOf(log(), logBefore, path), cell.kept.empty() ? 0u : 1u);
        std::filesystem::remove(path);
        EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top", d), d);
    }
    EXPECT_TRUE(ui_->boxes().empty());
}

// Only a file that cannot be read at all is left alone: its defaults are
// used, it is reported once, and nothing writes over it.
TEST_F(SettingsStoreTest, UnreadableFileGivesDefaultsAndIsNeverOverwritten) {
    const std::string path = SettingsFilePath(kDefaultAppKey);
    namespace fs = std::filesystem;
    const std::string large = "[Settings]\ntop=1\n;" + std::string(size_t{2} << 20, '#') + "\n";
    const std::vector<std::pair<const char*, std::function<void()>>> cells = {
        {"a folder", [&] { fs::create_directories(path); }},
        {"far too large", [&] { writeFile(path, large); }},
        // Opened without blocking: no writer ever comes.
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
    };
    fs::create_directories(fs::path(path).parent_path());
    for (const auto& [name, make] : cells) {
        SCOPED_TRACE(name);
        make();
        const auto type = fs::symlink_status(path).type();
        const size_t logBefore = log().size();
        EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top", "800"), "800");
        EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "Left", "800"), "800");
        EXPECT_NE(SettingsFileProblem(kDefaultAppKey), "");
        try {
            SaveSetting(kDefaultAppKey, "Settings", "top", "5");
            ADD_FAILURE() << "an unreadable file was written over";
        } catch (const Error& e) {
            EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
            EXPECT_NE(e.description().find("left unchanged"), std::string::npos) << e.description();
        }
        EXPECT_THROW(DeleteSetting(kDefaultAppKey, "Settings", "top"), Error);
        EXPECT_THROW(GetSections(kDefaultAppKey), Error);
        EXPECT_EQ(fs::symlink_status(path).type(), type);
        if (type == fs::file_type::regular) {
            EXPECT_EQ(readFile(path), large);
        }
        EXPECT_EQ(reportsOf(log(), logBefore, path), 1u);
        fs::remove_all(path);
        EXPECT_EQ(GetSetting(kDefaultAppKey, "Settings", "top", "800"), "800");
    }
    EXPECT_TRUE(ui_->boxes().empty());
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
