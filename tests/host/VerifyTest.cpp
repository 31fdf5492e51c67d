// capture --verify: the scope's reply forms, the tolerances the comparison
// allows, and whole captures against the simulator with and without data
// that is scaled wrongly.
#include <cmath>
#include <filesystem>
#include <numbers>

#include "host/Capture.h"
#include "host/HostFixture.h"
#include "host/Verify.h"
#include "sim/launch/SimProcess.h"

namespace cvn::host::test {
namespace {

TEST(VerifyReplies, NumbersAndPrecisionOfTheScopesForms) {
    struct Cell {
        const char* reply;
        std::optional<double> number, precision;
    };
    const Cell cells[] = {
        {"+1.00000000E-03\n", 1e-3, 5e-12},
        {"+1.23\r\n", 1.23, 0.005},
        {"+62500", 62500, 0.5},
        {" -2.50000E+01", -25, 5e-5},
        {"9.9E37\n", std::nullopt, 5e35},
        {"+9.90000E+37", std::nullopt, 5e31},
        {"1e3", 1000, 500},
        {"abc", std::nullopt, std::nullopt},
        {"1.2E", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"1,5", std::nullopt, std::nullopt},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(ReplyNumber(c.reply), c.number);
        const auto p = ReplyPrecision(c.reply);
        ASSERT_EQ(p.has_value(), c.precision.has_value());
        if (p) {
            EXPECT_NEAR(*p / *c.precision, 1.0, 1e-9);
        }
    }
}

// 1000 samples of 10 periods of a sine of amplitude `amplitude` volts in
// steps of 10 mV (dc: a flat line), 10 us apart.
DataSet sine(double amplitude) {
    PreambleBlock b;
    b.points = 1000;
    b.xIncrement = 1e-5;
    b.xOrigin = -5e-3;
    b.yIncrement = 0.01;
    b.sourceCode = 1;
    std::vector<double> raw;
    for (int i = 0; i < 1000; ++i)
        raw.push_back(std::round(amplitude / 0.01 * std::sin(2 * std::numbers::pi * i / 100.0)));
    return DataSet{b, RawSamples(std::move(raw)), "CH1"};
}

TEST(VerifyCompare, TolerancesFollowFromTheData) {
    const DataSet s = sine(1.0);
    // Two y increments (0.02 V) plus half the reply's last digit; the data
    // says 1.00 V, -1.00 V, 2.00 V, 0 V and 1 kHz.
    struct Cell {
        const char* row;
        const char* reply;
        Agreement want;
    };
    const Cell cells[] = {
        {"Max", "+1.0200E+00", Agreement::Ok},
        {"Max", "+1.0201E+00", Agreement::Mismatch},
        {"Min", "-9.800E-01", Agreement::Ok},
        {"Min", "-9.799E-01", Agreement::Mismatch},
        {"P2P", "+2.0000000E+00", Agreement::Ok},
        {"P2P", "+2.03E+00", Agreement::Mismatch},
        {"Average", "+1.9E-02", Agreement::Ok},
        {"Average", "+2.1E-02", Agreement::Mismatch},
        // A frequency within one sample period over the record: 0.1 %.
        {"Freq", "+1.00090E+03", Agreement::Ok},
        {"Freq", "+1.00110E+03", Agreement::Mismatch},
        {"Freq", "9.9E37", Agreement::Skipped},
        {"Max", "9.9E37", Agreement::Skipped},
        {"Max", "garbage", Agreement::Skipped},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(std::string(c.row) + " " + c.reply);
        const std::vector<VerifyRow> rows = CompareWithScope(s, {{c.row, c.reply}});
        ASSERT_EQ(rows.size(), std::size(kVerifiedRows));
        for (size_t i = 0; i < rows.size(); ++i)
            // A row the scope did not answer is skipped, never a mismatch.
            EXPECT_EQ(rows[i].agreement,
                      kVerifiedRows[i] == std::string_view(c.row) ? c.want : Agreement::Skipped)
                << rows[i].quantity;
        EXPECT_EQ(AllAgree(rows), c.want != Agreement::Mismatch);
    }
}

TEST(VerifyCompare, FlatDataHasNoFrequencyAndTheTableSaysWhy) {
    const std::vector<VerifyRow> rows =
        CompareWithScope(sine(0.0), {{"Freq", "+1.00000E+03"}, {"Max", "+0.00000E+00"}});
    EXPECT_EQ(rows[1].agreement, Agreement::Ok);
    EXPECT_EQ(rows[4].agreement, Agreement::Mismatch);
    EXPECT_FALSE(rows[4].ours);
    const std::string table = VerifyTable(CompareWithScope(sine(1.0), {{"Freq", "9.9E37"}}));
    EXPECT_NE(table.find("No edges"), std::string::npos) << table;
    EXPECT_NE(table.find("skipped"), std::string::npos) << table;
    EXPECT_NEAR(FrequencyOf(sine(1.0)).value_or(0), 1000.0, 0.01);
}

class VerifyCaptureTest : public HostTest {
protected:
    Run capture(const std::vector<std::string>& simArgs, bool json) {
        sim::SimProcess sim(simArgs);
        const std::string key = "Corvane\\Linkara\\WavecatchVerify";
        // The simulator starts with channels 1 and 2 and pod 1 shown.
        profile(key, "CHAN1,CHAN2,POD1", false);
        std::vector<std::string> extra = {"--verify"};
        if (json) extra.push_back("--json");
        return run(captureArgs(sim.address(), key, out_, extra));
    }
    std::string out_ = home_.root() + "/capture";
};

TEST_F(VerifyCaptureTest, CleanDataAgreesAndWrongScalingFailsWithTheFilesWritten) {
    const Run clean = capture({"--chan2", "square:2.5kHz:3Vpp:0.5V"}, false);
    EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
    EXPECT_NE(clean.out.find("CH2     frequency"), std::string::npos) << clean.out;
    EXPECT_EQ(clean.out.find("MISMATCH"), std::string::npos) << clean.out;
    // Five quantities for each channel, none for the pod.
    size_t ok = 0;
    for (size_t at = 0; (at = clean.out.find(" ok\n", at)) != std::string::npos; ++at) ++ok;
    EXPECT_EQ(ok, 10u) << clean.out;

    std::filesystem::remove_all(out_);
    const Run wrong = capture({"--wrong-yincrement"}, true);
    EXPECT_EQ(wrong.status, 1) << wrong.out << wrong.err;
    EXPECT_NE(wrong.out.find("\"verified\":false"), std::string::npos) << wrong.out;
    EXPECT_NE(wrong.out.find("\"quantity\":\"maximum\",\"unit\":\"V\""), std::string::npos);
    EXPECT_NE(wrong.out.find("\"result\":\"MISMATCH\""), std::string::npos) << wrong.out;
    EXPECT_NE(wrong.err.find("wavecatch: verify: "), std::string::npos) << wrong.err;
    EXPECT_TRUE(std::filesystem::exists(out_ + "/ch1.csv"));
}

}  // namespace
}  // namespace cvn::host::test
