// Setup files: the exact bytes written, round trips through real files, and
// every kind of damaged file refused with an error that says what is wrong.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "setupfile/CSetupFile.h"
#include "support/Error.h"
#include "tests/support/TempHome.h"

namespace cvn {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

std::vector<uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}
std::string textOf(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

const std::string kNewRecord =
    "75|scp|1||Corvane Technologies||||RVM Standard Setup File, Version: 1||||0|";

// Runs f, which must throw cvn::Error with this number and a description
// holding both texts.
void expectError(const std::function<void()>& f, int32_t number, const std::string& text1,
                 const std::string& text2) {
    try {
        f();
        ADD_FAILURE() << "no error; expected: " << text2;
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), number) << e.description();
        EXPECT_EQ(e.source(), kSetupFileErrorSource);
        EXPECT_THAT(e.description(), HasSubstr(text1));
        EXPECT_THAT(e.description(), HasSubstr(text2));
    }
}

class SetupFileTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return home_.root() + "/" + name; }
    std::string put(const std::string& name, const std::string& content) const {
        test::writeFile(path(name), content);
        return path(name);
    }
    std::vector<std::string> filesInDir() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(home_.root()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    test::TempHome home_;
};

CSetupFile sample() {
    CSetupFile s;
    s.setModel("HX4204");
    s.setManufacturer("CORVANE TECHNOLOGIES");
    s.setVersion("01.02.03");
    s.setSerialNumber("CVN0001");
    s.setUserComments("bench 3, probe x10");
    s.setReservedField1("r1");
    s.setReservedField3("r3");
    s.setLearnString({0x00, 0x0A, 0xFF, '|', 0x0D, 0x0A, 0x00, 0x7C, 0x80});
    return s;
}

TEST_F(SetupFileTest, WritesTheExactLayoutWithASelfCountingHeaderLength) {
    EXPECT_EQ(textOf(CSetupFile().serialize()), kNewRecord);
    EXPECT_EQ(textOf(sample().serialize()),
              "119|scp|1|HX4204|CORVANE TECHNOLOGIES|CVN0001|01.02.03|bench 3, probe x10|"
              "RVM Standard Setup File, Version: 1|r1||r3|9|" +
                  std::string("\0\n\xFF|\r\n\0|\x80", 9));

    // The length must count its own digits, also where they carry over.
    struct Case {
        std::size_t rest, length;
    } cases[] = {{0, 2},   {7, 9},    {8, 11},   {9, 12},    {72, 75},
                 {96, 99}, {97, 101}, {98, 102}, {995, 999}, {996, 1001}};
    for (const auto& c : cases) EXPECT_EQ(SetupHeaderLength(c.rest), c.length) << c.rest;
    CSetupFile record;
    record.setUserComments(std::string(25, 'c'));  // 97 bytes after the length
    EXPECT_EQ(textOf(record.serialize()).substr(0, 4), "101|");
}

TEST_F(SetupFileTest, RoundTripsThroughFilesByteForByte) {
    const std::string file = path("bench.scp");
    CSetupFile big;
    std::vector<uint8_t> all(1'000'000);  // as large as a scope sends
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i * 7 + i / 256);
    big.setLearnString(all);

    for (const CSetupFile& original : {sample(), big, CSetupFile()}) {
        original.WriteFile(file);  // each replaces the one before
        EXPECT_EQ(readFile(file), textOf(original.serialize()));
        CSetupFile read = sample();
        read.ReadFile(file);
        EXPECT_EQ(read, original);
    }
    // Upper-case type and identity text are still ours.
    CSetupFile read = sample();
    read.ReadFile(put("upper.scp",
                      "75|SCP|1||Corvane Technologies||||"
                      "RVM STANDARD SETUP FILE, VERSION: 1||||0|"));
    EXPECT_EQ(read, CSetupFile());
    EXPECT_FALSE(read.hasLearnString());
    EXPECT_THAT(filesInDir(), UnorderedElementsAre("bench.scp", "upper.scp"));
}

TEST_F(SetupFileTest, FailedWritesLeaveTheExistingFileAndNoLeftovers) {
    const std::string file = path("keep.scp");
    sample().WriteFile(file);
    const std::string before = readFile(file);

    struct Case {
        const char* reason;
        std::function<void(CSetupFile&)> spoil;
    } cases[] = {
        {"model 'HX|4204' contains '|'", [](CSetupFile& s) { s.setModel("HX|4204"); }},
        {"reserved field 3 '|'", [](CSetupFile& s) { s.setReservedField3("|"); }},
        {"limit is 65536", [](CSetupFile& s) { s.setUserComments(std::string(70000, 'x')); }},
        {"larger than the limit",
         [](CSetupFile& s) { s.setLearnString(std::vector<uint8_t>(16 * 1024 * 1024 + 1)); }},
    };
    for (const auto& c : cases) {
        CSetupFile record = sample();
        c.spoil(record);
        expectError([&] { record.WriteFile(file); }, kSetupFileBadValue, file, c.reason);
        EXPECT_EQ(readFile(file), before) << c.reason;
    }
    fs::create_directory(path("folder.scp"));
    expectError([&] { sample().WriteFile(path("folder.scp")); }, kSetupFileAccess, "folder.scp",
                "is a folder");
    expectError([&] { sample().WriteFile(path("none/x.scp")); }, kSetupFileNotFound, "none/x.scp",
                "cannot create a file");
    EXPECT_THAT(filesInDir(), UnorderedElementsAre("keep.scp", "folder.scp"));
}

TEST_F(SetupFileTest, RefusesEveryDamagedFileAndKeepsTheRecord) {
    const std::string good = textOf(sample().serialize());
    const std::string rest = kNewRecord.substr(3, 70);  // "scp|1|...Version: 1||||"
    auto withLength = [](const std::string& after) {
        return std::to_string(SetupHeaderLength(after.size())) + "|" + after;
    };
    struct Case {
        std::string content;
        const char* reason;
    } cases[] = {
        {"", "is empty"},
        {"\x89PNG\r\n\x1a\n", "does not begin with a header length"},
        {"+75|scp|1|", "does not begin with a header length"},
        {"999999999|scp|1|", "points past the end of the file (16 bytes)"},
        {kNewRecord.substr(0, 40), "points past the end"},
        {"70000|" + std::string(70000, 'x'), "larger than the limit of 65536"},
        {"75|txt" + kNewRecord.substr(6), "file type is 'txt'"},
        {"75|scp|2" + kNewRecord.substr(8), "format version '2'"},
        {"30|scp|1||Corvane Technologies||||RVM", "ends inside the identity text field"},
        {"74" + kNewRecord.substr(2) + "x", "header length says 74 bytes but the header takes 75"},
        {"76" + kNewRecord.substr(2) + "x", "header length says 76"},
        // A "|" inside a text shifts every later field.
        {withLength("scp|1|HX|4204|Corvane Technologies||||" + rest.substr(31) + "0|"),
         "header length says 82 bytes but the header takes 80"},
        {withLength(rest + "x|"), "data length 'x'"},
        {withLength(rest + "-1|"), "data length '-1'"},
        {withLength(rest + "16777217|") + "abc", "setup of 16777217 bytes is larger"},
        {good.substr(0, good.size() - 1), "holds 8 of the 9 setup bytes"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::string file = put("bad" + std::to_string(i) + ".scp", c.content);
        CSetupFile record = sample();
        expectError([&] { record.ReadFile(file); }, kSetupFileBadFormat, file, c.reason);
        EXPECT_EQ(record, sample()) << c.reason;
        expectError([&] { CSetupFile::parse(bytesOf(c.content), "mem"); }, kSetupFileBadFormat,
                    "\"mem\"", c.reason);
    }
}

// Other writers put their own text in the header text field, and editors or
// transfers add a line end after the setup: the record is read all the same,
// and the setup is exactly the bytes the data length names.
TEST_F(SetupFileTest, TakesAnyHeaderTextAndIgnoresBytesAfterTheSetup) {
    const CSetupFile original = sample();
    const std::string good = textOf(original.serialize());
    const std::string identity(CSetupFile::kIdentityText);
    auto withHeaderText = [&](const std::string& text) {
        const std::size_t bar = good.find('|');
        const std::size_t headerLength = std::stoul(good.substr(0, bar));
        std::string after = good.substr(bar + 1, headerLength - bar - 1);
        after.replace(after.find(identity), identity.size(), text);
        return std::to_string(SetupHeaderLength(after.size())) + "|" + after +
               good.substr(headerLength);
    };
    const std::string cases[] = {
        good + "\r\n",
        good + "\n",
        good + std::string(5000, '\0'),
        withHeaderText("Other Setup File, Version: 2"),
        withHeaderText(""),
        withHeaderText("RVM Standard Setup File, Version: 1 ") + "\n",
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string file = put("other" + std::to_string(i) + ".scp", cases[i]);
        EXPECT_TRUE(CSetupFile::IsACompatibleFile(file)) << i;
        CSetupFile read;
        ASSERT_NO_THROW(read.ReadFile(file)) << i;
        EXPECT_EQ(read, original) << i;
        EXPECT_EQ(read.LearnString(), original.LearnString()) << i;
    }
}

TEST_F(SetupFileTest, RefusesWhatIsNotAReadableFile) {
    fs::create_directory(path("dir.scp"));
    ::mkfifo(path("pipe.scp").c_str(), 0600);  // must not block the read
    fs::resize_file(put("big.scp", "x"), CSetupFile::kMaxFileBytes + 1);
    struct Case {
        std::string file;
        int32_t number;
        const char* reason;
    } cases[] = {
        {path("none.scp"), kSetupFileNotFound, "does not exist"},
        {path("none/x.scp"), kSetupFileNotFound, "does not exist"},
        {"", kSetupFileNotFound, "does not exist"},
        {path("dir.scp"), kSetupFileAccess, "is a folder"},
        {path("pipe.scp"), kSetupFileAccess, "not a regular file"},
        {path("big.scp"), kSetupFileBadFormat, "larger than any setup file"},
    };
    for (const auto& c : cases) {
        expectError([&] { CSetupFile().ReadFile(c.file); }, c.number, c.file, c.reason);
        EXPECT_FALSE(CSetupFile::IsACompatibleFile(c.file)) << c.file;
    }
}

TEST_F(SetupFileTest, CompatibilityLooksOnlyAtTypeAndVersion) {
    struct Case {
        std::string content;
        bool compatible;
    } cases[] = {
        {textOf(sample().serialize()), true},
        {"1|SCP|1|", true},  // the header length and the rest play no part
        {"75|Scp|1|garbage", true},
        {"75|scp|2|", false},
        {"75|scp|1", false},
        {"75|scpx|1|", false},
        {"x|scp|1|", false},
        {"", false},
        {std::string("75|sc\0|1|", 9), false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(CSetupFile::IsCompatible(bytesOf(c.content)), c.compatible) << c.content;
        EXPECT_EQ(CSetupFile::IsACompatibleFile(put("c" + std::to_string(i), c.content)),
                  c.compatible)
            << c.content;
    }
}

}  // namespace
}  // namespace cvn
