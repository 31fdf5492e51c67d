// Acquisition end to end against the simulator process: the raw data the
// add-in hands to the host, scaled with its own preamble, must give back the
// signal the simulator was told to feed in; every misbehaving instrument
// must end in the error box with the session's time-out put back; and the
// screen image must arrive as a readable bitmap.
#include <gtest/gtest.h>

#include <QImage>
#include <QLocale>
#include <cmath>
#include <functional>
#include <numbers>

#include "scope/CScope.h"
#include "tests/waveform/WaveformTestSupport.h"

namespace cvn {
namespace {

constexpr double kPi = std::numbers::pi;
const std::string kErrorBox = "Error retreiving scope data.\r\n\r\n";

// Value of sample i by the preamble's own axis and scale.
double TimeOf(const PreambleBlock& p, size_t i) {
    return (static_cast<double>(i) - p[6]) * p[4] + p[5];
}
double ValueOf(const PreambleBlock& p, double raw) {
    return (raw - p[9]) * p[7] + p[8];
}

double Fraction(double x) {
    return x - std::floor(x);
}

using AcquisitionTest = test::AcquisitionFixture;

TEST_F(AcquisitionTest, ChannelWordsScaleBackToTheConfiguredSignal) {
    sim::SimProcess sim({"--model", "MSOHX5104", "--chan2", "sine:2kHz:3Vpp:0.25V:noise=0.005",
                         "--chan2", "phase=30"});  // the second adds to the first
    Connect(sim);
    Setup(
        ":CHAN2:DISP ON;:CHAN2:SCAL 0.5;:CHAN2:OFFS 0.2;:TIMebase:SCALe 2e-4;"
        ":TIMebase:POSition 1e-4;:WAVeform:POINts:MODE RAW;:WAVeform:POINts 10000");

    Read r = ReadSource("CHAN2");
    const PreambleBlock& pre = r.pre;
    ASSERT_FALSE(r.cancel);
    ASSERT_TRUE(ui_->boxes().empty());
    const auto& words = std::get<cvn::DataVector<int16_t>>(r.data);
    ASSERT_EQ(words.size(), 10000u);
    EXPECT_EQ(pre[2], 10000);
    EXPECT_EQ(pre[10], 2);
    // The record spans the ten divisions of the screen around the position.
    EXPECT_NEAR(pre[4] * 10000, 10 * 2e-4, 1e-12);
    EXPECT_NEAR(TimeOf(pre, 0), 1e-4 - 1e-3, 1e-12);
    const double lsb = pre[7];
    EXPECT_LE(lsb, 0.5 / 1000);  // finer than a thousandth of a division
    double worst = 0;
    for (size_t i = 0; i < words.size(); ++i) {
        const double t = TimeOf(pre, i);
        const double expected = 0.25 + 1.5 * std::sin(2 * kPi * 2000 * t + 30 * kPi / 180);
        worst = std::max(worst, std::fabs(ValueOf(pre, words[i]) - expected));
    }
    EXPECT_LE(worst, lsb + 0.005) << "noise 5 mV, one step " << lsb;
    EXPECT_GT(worst, lsb);  // the noise is there

    // A new input by command (the fields it names; the rest stays), at
    // another scale and position: still true.
    Control(sim, ":SIMulator:SIGNal2 'triangle:1kHz:2Vpp:-0.3V:noise=0:phase=0'");
    Setup(":CHAN2:SCAL 0.2;:CHAN2:OFFS -0.3;:TIMebase:POSition 0;:WAVeform:POINts 2000");
    r = ReadSource("CHAN2");
    const auto& tri = std::get<cvn::DataVector<int16_t>>(r.data);
    ASSERT_EQ(tri.size(), 2000u);
    for (size_t i = 0; i < tri.size(); ++i) {
        const double u = Fraction(1000 * TimeOf(pre, i));
        const double expected = -0.3 + 1.0 * (u < 0.5 ? 4 * u - 1 : 3 - 4 * u);
        ASSERT_NEAR(ValueOf(pre, tri[i]), expected, pre[7]) << i;
    }
    EXPECT_TRUE(ui_->boxes().empty());
}

TEST_F(AcquisitionTest, PodBytesCarryTheirPatterns) {
    sim::SimProcess sim({"--model", "MSOHX5104", "--pod2", "walk:8"});
    Connect(sim);
    Setup(":POD2:DISP ON;:WAVeform:POINts:MODE RAW;:WAVeform:POINts 5000");

    // Pod 1 counts up by one per sample; pod 2 walks a bit every 8, and
    // after the command counts up once every 4.
    const std::function<double(size_t)> patterns[] = {
        [](size_t i) { return i % 256; },
        [](size_t i) { return 1u << ((i / 8) % 8); },
        [](size_t i) { return (i / 4) % 256; },
    };
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        if (k == 2) Control(sim, ":SIMulator:POD2 'counter:4'");
        const Read r = ReadSource(k == 0 ? "POD1" : "POD2");
        EXPECT_FALSE(r.cancel);
        EXPECT_EQ(r.pre[10], k == 0 ? 8 : 16);
        const auto& bytes = std::get<cvn::DataVector<uint8_t>>(r.data);
        ASSERT_EQ(bytes.size(), 5000u);
        for (size_t i = 0; i < bytes.size(); ++i)
            ASSERT_EQ(ValueOf(r.pre, bytes[i]), patterns[k](i)) << i;
    }
    EXPECT_TRUE(ui_->boxes().empty());
}

TEST_F(AcquisitionTest, ShortBlockShowsThePointsMessageAndKeepsTheData) {
    const QLocale locale = QLocale::system();
    const std::string expectedText = "Returned number of points incorrect.\r\nExpected = 1" +
                                     QString(locale.groupSeparator()).toStdString() +
                                     "000\r\nActual = 999\r\n" +
                                     "Possible problem with instrument connection.";
    // Once switched on from the command line, once by command.
    for (bool byCommand : {false, true}) {
        SCOPED_TRACE(byCommand ? "by command" : "by option");
        ui_->reset();
        sim::SimProcess sim(byCommand ? std::vector<std::string>{}
                                      : std::vector<std::string>{"--short-data"});
        Connect(sim);
        if (byCommand) Control(sim, ":SIMulator:FAULt:SHORt ON");
        Setup(":WAVeform:POINts 1000");
        const Read r = ReadSource("CHAN1");
        EXPECT_FALSE(r.cancel);
        EXPECT_EQ(r.pre[2], 1000);
        EXPECT_EQ(RawDataSize(r.data), 999u);
        ASSERT_EQ(ui_->boxes().size(), 1u);
        EXPECT_EQ(ui_->boxes()[0].text, expectedText);
        EXPECT_EQ(ui_->boxes()[0].caption, "Wavecatch for Corvane Halvio");
        EXPECT_EQ(ui_->boxes()[0].icon, MsgIcon::Exclamation);
        EXPECT_EQ(gSession->Timeout(), 10000);
    }
}

TEST_F(AcquisitionTest, BrokenRepliesEndInTheErrorBox) {
    struct Fault {
        const char* name;
        std::vector<std::string> option;
        std::string command;
        // The scope goes quiet instead of failing: the transfer itself is
        // run with a short time-out, as the 40 s one would only slow the test.
        bool quiet = false;
        // Also spoils the identification, so the connection check would
        // fail first: switched on only after connecting.
        bool spoilsIdentification = false;
    };
    const std::vector<Fault> faults = {
        {"truncated block", {"--truncate-data"}, ":SIMulator:FAULt:TRUNcate ON"},
        {"header longer than the data, then closed",
         {"--lying-header", "close"},
         ":SIMulator:FAULt:LIE CLOSe"},
        {"header longer than the data, then quiet",
         {"--lying-header", "wait"},
         ":SIMulator:FAULt:LIE WAIT",
         true},
        {"connection reset mid-block", {"--cut-data"}, ":SIMulator:FAULt:CUT ON"},
        {"garbage preamble", {"--garbage-preamble"}, ":SIMulator:FAULt:BADPreamble ON"},
        {"garbage for every reply", {"--garbage"}, ":SIMulator:FAULt:GARBage ON", false, true},
        {"never answers", {"--silent"}, ":SIMulator:FAULt:SILent ON", true, true},
    };
    for (const Fault& fault : faults) {
        for (bool byCommand : {false, true}) {
            if (!byCommand && fault.spoilsIdentification) continue;
            SCOPED_TRACE(std::string(fault.name) + (byCommand ? ", by command" : ", by option"));
            ui_->reset();
            gSession.reset();
            sim::SimProcess sim(byCommand ? std::vector<std::string>{} : fault.option);
            Connect(sim);
            if (byCommand) Control(sim, fault.command);

            PreambleBlock pre{};
            RawData data = cvn::DataVector<int16_t>{7, 7};
            bool cancel = false;
            if (fault.quiet) {
                gSession->SetTimeout(400);
                GetWaveformData(*gSession, " Channel1", pre, data);
                EXPECT_EQ(gSession->Timeout(), 400);
            } else {
                ReadSourceWaveform(gSession, data, pre, "CHAN1", cancel);
                EXPECT_FALSE(cancel);
                EXPECT_EQ(pre[10], 1);
                EXPECT_EQ(gSession->Timeout(), 10000);
            }
            // The earlier data stays; the user sees one box.
            EXPECT_EQ(std::get<cvn::DataVector<int16_t>>(data), (cvn::DataVector<int16_t>{7, 7}));
            ASSERT_EQ(ui_->boxes().size(), 1u);
            EXPECT_EQ(ui_->boxes()[0].text, kErrorBox);
            EXPECT_EQ(ui_->boxes()[0].icon, MsgIcon::Critical);
            // The simulator itself survived and still answers a new client.
            Control(sim, ":SIMulator:RESet");
            auto fresh = io::IoManager().Open(sim.address());
            fresh->Output("*IDN?");
            EXPECT_EQ(fresh->EnterText().rfind("CORVANE,", 0), 0u);
        }
    }
}

TEST_F(AcquisitionTest, ScreenImageIsAReadableBitmapPlainAndInverted) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    CScope scope;
    ASSERT_TRUE(scope.Connect(sim.address()));
    scope.Output(":CHAN3:DISP ON;:POD2:DISP ON;:FUNC1:DISP ON;:STOP");
    std::string plainPath, invertedPath;
    bool error = false;
    scope.GetBitMap(plainPath, error, false);
    scope.GetBitMap(invertedPath, error, true);
    ASSERT_FALSE(error);
    EXPECT_TRUE(ui_->boxes().empty());
    EXPECT_EQ(scope.session()->Timeout(), 10000);

    QImage plain(QString::fromStdString(plainPath), "BMP");
    QImage inverted(QString::fromStdString(invertedPath), "BMP");
    ASSERT_FALSE(plain.isNull());
    ASSERT_FALSE(inverted.isNull());
    ASSERT_EQ(plain.size(), inverted.size());
    // The same picture in complementary colours, and not an empty screen.
    long complementary = 0, lit = 0;
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x) {
            const QColor a = plain.pixelColor(x, y);
            const QColor b = inverted.pixelColor(x, y);
            if (std::abs(a.red() + b.red() - 255) <= 2 &&
                std::abs(a.green() + b.green() - 255) <= 2 &&
                std::abs(a.blue() + b.blue() - 255) <= 2)
                ++complementary;
            if (a.value() > 150) ++lit;
        }
    }
    const long total = static_cast<long>(plain.width()) * plain.height();
    EXPECT_GE(complementary, total * 99 / 100);
    EXPECT_GE(lit, 2000);  // traces and labels
    std::filesystem::remove(plainPath);
    std::filesystem::remove(invertedPath);

    // A connection reset in the middle of the picture: the error box, the
    // documented fallback time-out, no bitmap.
    Control(sim, ":SIMulator:FAULt:SCReenreset ON");
    std::string brokenPath;
    scope.GetBitMap(brokenPath, error, false);
    EXPECT_TRUE(error);
    ASSERT_EQ(ui_->boxes().size(), 1u);
    EXPECT_EQ(ui_->boxes()[0].text, kErrorBox);
    EXPECT_EQ(scope.session()->Timeout(), 10000);
    EXPECT_TRUE(QImage(QString::fromStdString(brokenPath), "BMP").isNull());
    std::filesystem::remove(brokenPath);
}

}  // namespace
}  // namespace cvn
