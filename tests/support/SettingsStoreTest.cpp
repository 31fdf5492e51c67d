// The per-user settings store: exact round trips, damaged and unwritable files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

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
namespace fs = std::filesystem;
constexpr const char* kKey = kDefaultAppKey;

std::string get(const std::string& key, const char* section = "Settings") {
    return GetSetting(kKey, section, key, "default");
}

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_ = ScriptedUi::install();
        fs::create_directories(home_.root() + "/log");
        gErrorHandler = std::make_shared<CErrorHandler>(home_.root() + "/log");
    }
    void TearDown() override {
        EXPECT_TRUE(ui_->boxes().empty()) << "the store reports in the log, never in a box";
        ScriptedUi::uninstall();
        gErrorHandler.reset();
    }
    // How often the log names the settings file since `from` bytes.
    size_t reports(size_t from) const {
        const std::string added = readFile(gErrorHandler->logFilePath()).substr(from);
        size_t n = 0;
        for (size_t p = added.find(path_); p != std::string::npos; p = added.find(path_, p + 1))
            ++n;
        return n;
    }
    size_t logSize() const { return readFile(gErrorHandler->logFilePath()).size(); }

    test::TempHome home_;
    std::shared_ptr<ScriptedUi> ui_;
    std::string path_ = home_.configHome() + "/Corvane/Linkara/Wavecatch/Corvane Halvio Series.ini";
};

TEST_F(SettingsStoreTest, ValuesAndKeysRoundTripExactly) {
    EXPECT_EQ(SettingsFilePath(kKey), path_);
    EXPECT_EQ(get("top"), "default") << "no file yet";
    const std::pair<std::string, std::string> values[] = {
        {"Number Points", " 250"},
        {"top", "12"},
        {"Top", "99"},
        {"Left", "  both ends  "},
        {"ActiveChannels", ""},
        {"equals", "a=b==c"},
        {"backslash", "C:\\dir\\ \\s\\x41"},
        {"lines", "one\ntwo\r\nthree\ttab"},
        {"control", "\x01\x7f"},
        {"unicode",
         "\xC3\x9C"
         "ber \xE2\x9C\x93"},
        {"[notasection]", "[x]"},
        {";notacomment", "; value"},
        {"#hash", "#"},
        {"key=with=equals", "v"},
        {" spaced key ", " "},
        {"\xC3\xA9t\xC3\xA9", "summer"},
    };
    for (const auto& [key, value] : values) SaveSetting(kKey, "Settings", key, value);
    SaveSetting(kKey, "Other", "top", "other section");
    SaveSetting(kKey, "Settings", "top", "13");  // overwriting keeps every other value
    for (const auto& [key, value] : values) EXPECT_EQ(get(key), key == "top" ? "13" : value) << key;
    EXPECT_EQ(get("top", "Other"), "other section");
    EXPECT_EQ(get("TOP"), "default");
    EXPECT_EQ(get("top", "settings"), "default");

    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Only the settings file is left behind, no temporary files.
    for (const auto& entry : fs::directory_iterator(fs::path(path_).parent_path()))
        EXPECT_EQ(entry.path().string(), path_);
    // Other keys are other files; "RegistryKey" style keys become folders.
    SaveSetting("Host\\Sub\\Corvane Halvio Series", "Settings", "top", "1");
    EXPECT_TRUE(fs::exists(home_.configHome() + "/Host/Sub/Corvane Halvio Series.ini"));
    EXPECT_EQ(get("top"), "13");

    // A key that starts with a byte-order mark, as the first line of the
    // file, is not taken for the file's own mark, however often it is written.
    const std::string bomKey =
        "\xEF\xBB\xBF"
        "k";
    SaveSetting("Corvane\\Bom", "", bomKey, "v");
    SaveSetting("Corvane\\Bom", "", "x", "w");
    EXPECT_EQ(
        GetSetting("Corvane\\Bom", "", bomKey, "-") + GetSetting("Corvane\\Bom", "", "k", "-"),
        "v-");
}

// A line the store does not understand costs only itself: every key that
// can be read is used, every write goes through, the line stays as it was,
// and it is noted once in the log.
TEST_F(SettingsStoreTest, HandEditedFilesAreReadAndTheirOddLinesKept) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string address = "TCPIP0::10.0.0.7::inst0::INSTR";
    struct Cell {
        const char* name;
        std::string content;
        std::vector<std::pair<std::string, std::string>> reads;  // in "Settings"
        std::vector<std::string> kept;                           // texts that survive writes
        bool reported;
    } cells[] = {
        {"comments, blanks, CR LF",
         bom + "; by hand\r\n\r\n[Settings]\r\n  top = 120  \r\n"
               "Left=\\s7\r\nTail=x\r\r\n# more\n[Other]\ntop=9\n",
         {{"top", "120"}, {"Left", " 7"}, {"Tail", "x\r"}},
         {"; by hand\r\n", "# more\n"},
         false},
        {"hand line",
         "[Settings]\nCorvane Halvio Series=" + address + "\nadded by hand\nScreen=0\n",
         {{"Corvane Halvio Series", address}, {"Screen", "0"}, {"top", "default"}},
         {"\nadded by hand\n"},
         true},
        // Entries below a header nobody can read belong to no section.
        {"foreign section",
         "[Settings]\ntop=1\n[other tool\nLeft=2\nnot a setting\n[Settings]\nWaveform=0\n",
         {{"top", "1"}, {"Left", "default"}, {"Waveform", "0"}},
         {"\n[other tool\nLeft=2\nnot a setting\n"},
         true},
        {"bad escapes and NUL",
         "[Settings]\ntop=bad \\q escape\nLeft=cut \\x4\nx=1\0y\nScreen=1\n"s,
         {{"top", "default"}, {"Left", "default"}, {"x", "default"}, {"Screen", "1"}},
         {"\ntop=bad \\q escape\nLeft=cut \\x4\n", "\nx=1\0y\n"s},
         true},
        {"CR LF",
         bom + "[Settings]\r\ntop=120\r\nadded by hand\r\n",
         {{"top", "120"}},
         {"\r\nadded by hand\r\n", "InvertColor=0\r\n"},
         true},
        {"empty", "", {{"top", "default"}}, {}, false},
    };
    for (const Cell& cell : cells) {
        SCOPED_TRACE(cell.name);
        writeFile(path_, cell.content);
        const size_t logBefore = logSize();
        for (const auto& [key, value] : cell.reads) EXPECT_EQ(get(key), value) << key;
        EXPECT_EQ(SettingsFileProblem(kKey), "");
        EXPECT_EQ(GetSections(kKey).empty(), cell.content.empty());
        // Written twice: a value ending in a raw CR keeps it however often.
        for (int i = 0; i < 2; ++i) {
            SaveSetting(kKey, "Settings", "InvertColor", "0");
            SaveSetting(kKey, "Settings", "top", "7");
        }
        EXPECT_EQ(get("InvertColor"), "0");
        for (const auto& [key, value] : cell.reads)
            EXPECT_EQ(get(key), key == "top" ? "7" : value) << key;
        DeleteSetting(kKey, "Settings", "InvertColor");
        EXPECT_EQ(get("InvertColor"), "default");
        SaveSetting(kKey, "Settings", "InvertColor", "0");
        const std::string text = readFile(path_);
        for (const std::string& k : cell.kept) EXPECT_NE(text.find(k), std::string::npos) << k;
        EXPECT_EQ(reports(logBefore), cell.reported ? 1u : 0u);
        fs::remove(path_);
        EXPECT_EQ(get("top"), "default");  // a file gone is reported anew when it returns
    }
    EXPECT_EQ(get("top", "Other"), "default");
}

// Only a file that cannot be read at all is left alone: its defaults are
// used, it is reported once, and nothing writes over it.
TEST_F(SettingsStoreTest, UnreadableFileGivesDefaultsAndIsNeverOverwritten) {
    const std::string large = "[Settings]\ntop=1\n;" + std::string(size_t{2} << 20, '#') + "\n";
    const std::pair<const char*, std::function<void()>> cells[] = {
        {"a folder", [&] { fs::create_directories(path_); }},
        {"far too large", [&] { writeFile(path_, large); }},
        // Opened without blocking: no writer ever comes.
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0); }},
    };
    fs::create_directories(fs::path(path_).parent_path());
    for (const auto& [name, make] : cells) {
        SCOPED_TRACE(name);
        make();
        const auto type = fs::symlink_status(path_).type();
        const size_t logBefore = logSize();
        EXPECT_EQ(get("top"), "default");
        EXPECT_NE(SettingsFileProblem(kKey), "");
        try {
            SaveSetting(kKey, "Settings", "top", "5");
            ADD_FAILURE() << "an unreadable file was written over";
        } catch (const Error& e) {
            EXPECT_NE(e.description().find(path_), std::string::npos) << e.description();
            EXPECT_NE(e.description().find("left unchanged"), std::string::npos) << e.description();
        }
        EXPECT_THROW(DeleteSetting(kKey, "Settings", "top"), Error);
        EXPECT_THROW(GetSections(kKey), Error);
        EXPECT_EQ(fs::symlink_status(path_).type(), type);
        if (type == fs::file_type::regular) {
            EXPECT_EQ(readFile(path_), large);
        }
        EXPECT_EQ(reports(logBefore), 1u);
        fs::remove_all(path_);
        EXPECT_EQ(get("top"), "default");
    }
}

TEST_F(SettingsStoreTest, UnusableLocationsGiveClearErrors) {
    // The configuration folder cannot be created below a plain file.
    writeFile(home_.root() + "/blocker", "x");
    ::setenv("XDG_CONFIG_HOME", (home_.root() + "/blocker/config").c_str(), 1);
    try {
        SaveSetting(kKey, "Settings", "top", "1");
        ADD_FAILURE() << "write below a file succeeded";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find(home_.root() + "/blocker/config"), std::string::npos)
            << e.description();
    }
    EXPECT_EQ(get("top"), "default");
    // A relative XDG_CONFIG_HOME is ignored in favour of ~/.config.
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(SettingsFilePath("A\\B"), home_.root() + "/.config/A/B.ini");
    // Keys that would leave the configuration folder are refused.
    for (const std::string bad :
         {"Corvane\\..\\..\\etc", "..", "a\\.\\b", "a/../../b", "a\\\\b", "", "trailing\\"}) {
        EXPECT_THROW(SaveSetting(bad, "Settings", "k", "v"), Error) << bad;
        EXPECT_EQ(GetSetting(bad, "Settings", "k", "def"), "def") << bad;
    }
    EXPECT_FALSE(fs::exists(home_.root() + "/etc"));
}

}  // namespace
}  // namespace cvn
