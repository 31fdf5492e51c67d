// The measurement export: file format, the save action and failures that
// must not cost the user an existing file.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "measure/MeasurementCsv.h"
#include "tests/measure/MeasureTestSupport.h"

namespace cvn::test {
namespace {

class MeasurementCsvTest : public MeasureTest {};

TEST_F(MeasurementCsvTest, LinesAreNameTextAndATrailingComma) {
    struct Case {
        std::vector<MeasurementCsvLine> lines;
        std::string bytes;
    };
    const std::vector<Case> cases{
        {{}, ""},
        {{{"Amplitude", "+2.40000V"}, {"Freq", "+1.00000kHz"}},
         "Amplitude,+2.40000V,\r\nFreq,+1.00000kHz,\r\n"},
        {{{"Freq", ""}}, "Freq,,\r\n"},
        {{{"Freq", "No edges"}}, "Freq,No edges,\r\n"},
        // One byte per character: the degree sign is one byte.
        {{{"Phase", "+12.5\u00b0"}}, "Phase,+12.5\xb0,\r\n"},
        {{{"Phase", "\u2103"}}, "Phase,?,\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(MeasurementCsvBytes(c.lines), c.bytes);
}

TEST_F(MeasurementCsvTest, SaveWritesReplacesAndReportsWithoutLosingAFile) {
    const std::string path = home_.root() + "/results.csv";
    const std::vector<MeasurementCsvLine> lines{{"Amplitude", "+2.40000V"}, {"Freq", "50%"}};

    // Cancelled: nothing written, nothing said.
    ui_->queueSave(std::nullopt);
    EXPECT_FALSE(SaveMeasurementData(lines));
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_EQ(ui_->saveRequests().size(), 1u);
    EXPECT_EQ(ui_->saveRequests()[0].defaultExt, "csv");
    EXPECT_EQ(std::filesystem::path(ui_->saveRequests()[0].fileName).filename(), "Wavecatch");

    ui_->queueSave(path);
    EXPECT_TRUE(SaveMeasurementData(lines));
    EXPECT_EQ(readFile(path), "Amplitude,+2.40000V,\r\nFreq,50%,\r\n");
    // Saving again replaces the file.
    ui_->queueSave(path);
    EXPECT_TRUE(SaveMeasurementData({{"Freq", "No edges"}}));
    EXPECT_EQ(readFile(path), "Freq,No edges,\r\n");
    EXPECT_TRUE(ui_->boxes().empty());

    // Targets that cannot be written are reported and leave no trace.
    const std::vector<std::string> bad{home_.root() + "/missing/results.csv", home_.root()};
    for (const std::string& target : bad) {
        SCOPED_TRACE(target);
        ui_->reset();
        ui_->queueSave(target);
        EXPECT_FALSE(SaveMeasurementData(lines));
        ASSERT_EQ(ui_->boxes().size(), 1u);
        EXPECT_EQ(ui_->boxes()[0].icon, MsgIcon::Critical);
        EXPECT_NE(ui_->boxes()[0].text.find("could not be saved"), std::string::npos);
        EXPECT_NE(ui_->boxes()[0].text.find(target), std::string::npos);
    }

    // A write that fails midway (the file size limit stands in for a full
    // disk) keeps the file that was there.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = 8;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    ui_->reset();
    ui_->queueSave(path);
    const bool saved = SaveMeasurementData(lines);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(saved);
    EXPECT_EQ(ui_->boxes().size(), 1u);
    EXPECT_EQ(readFile(path), "Freq,No edges,\r\n");
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home_.root()))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);  // no temporary file left behind
}

}  // namespace
}  // namespace cvn::test
