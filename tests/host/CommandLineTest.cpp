// The wavecatch commands as a script uses them: output, exit codes and the
// host-side pieces that turn results into numbers.
#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "apps/wavecatch/CommandLine.h"
#include "cvnVersion.h"
#include "host/Capture.h"
#include "host/HostFixture.h"
#include "host/Scaling.h"
#include "host/formats/Plot.h"
#include "host/qt/GuiApp.h"
#include "support/AtomicFile.h"

namespace cvn::host::test {
namespace {

using automation::Variant;
using automation::VarType;

TEST_F(HostTest, InvokeCommandsPrintResultsAndMapFailures) {
    const std::string m = "--module=" + kModulePath;
    Run r = run({"call", m, CVN_PROGID_IWAVECATCH, "RShiftWord", "--", "-128", "7"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "-1\n");

    r = run({"call", m, "--json", CVN_PROGID_IWAVECATCH, "LShiftWord", "3", "2"});
    EXPECT_EQ(r.out, "{\"result\":12,\"byRef\":{\"c\":2}}\n");

    r = run({"call", m, CVN_PROGID_IWAVECATCH, "RShiftWord", "5", "--", "-1"});
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_NE(r.err.find("error 11"), std::string::npos) << r.err;

    // Each run is a new object: the stored choice is what survives.
    EXPECT_EQ(run({"let", m, CVN_PROGID_IWAVECATCH, "numberPoints", "176"}).status, 0);
    EXPECT_EQ(run({"get", m, CVN_PROGID_IWAVECATCH, "numberPoints"}).out, " 250\n");

    r = run({"get", m, CVN_PROGID_IWAVECATCH, "NoSuchThing"});
    EXPECT_EQ(r.status, kExitNoMember);
    EXPECT_NE(r.err.find("NoSuchThing"), std::string::npos);
    EXPECT_EQ(run({"let", m, CVN_PROGID_IWAVECATCH, "MenuName", "x"}).status, kExitNoMember);

    r = run({"get", CVN_PROGID_IWAVECATCH, "MenuName"});
    EXPECT_EQ(r.status, kExitNoModule);
    EXPECT_NE(r.err.find("not registered"), std::string::npos) << r.err;
    EXPECT_EQ(
        run({"get", "--module", home_.root() + "/missing.so", CVN_PROGID_IWAVECATCH, "MenuName"})
            .status,
        kExitNoModule);
    EXPECT_EQ(run({"get", m, "cvnWCHalv.Nothing", "MenuName"}).status, kExitNoModule);

    EXPECT_EQ(run({"frobnicate"}).status, kExitUsage);
    EXPECT_EQ(run({"get", "--bogus"}).status, kExitUsage);
    EXPECT_EQ(run({"scope", "idn"}).status, kExitUsage);
}

TEST_F(HostTest, InfoListsEveryMemberAndRegisterRoundTrips) {
    const std::string m = "--module=" + kModulePath;
    Run r = run({"info", m});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* expected :
         {"version:              " CVN_VERSION, "self-registering:     yes", CVN_LIBID,
          "0x60030018  method  RShiftWord(ByVal w As Integer, ByRef c As Integer) As Integer",
          "0x6003000d  method  Connect(ByVal conn As String) As Boolean",
          "Indicates user has canceled data retrieval or data is not available.",
          "registration:       not registered", "MenuName:             Corvane Halvio Series"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected;

    EXPECT_EQ(run({"register", m}).status, 0);
    EXPECT_NE(run({"info", m}).out.find("registration:       registered\n"), std::string::npos);
    EXPECT_EQ(run({"get", CVN_PROGID_IWAVECATCH, "version"}).out, std::string(CVN_VERSION) + "\n");
    EXPECT_EQ(run({"unregister", m}).status, 0);
    EXPECT_EQ(run({"get", CVN_PROGID_IWAVECATCH, "version"}).status, kExitNoModule);
}

// A modal dialog nobody can see would wait for ever: without a display a
// person can use, capture --dialog ends at once, says why and writes nothing.
TEST_F(HostTest, DialogWithoutAUsableDisplayEndsAtOnce) {
    struct Env {
        const char* platform;
        const char* display;
        const char* wayland;
    };
    const Env cases[] = {
        {"offscreen", nullptr, nullptr},
        {"offscreen", ":0", nullptr},
        {"minimal:enable_fonts", nullptr, "wayland-0"},
        {nullptr, nullptr, nullptr},
        {"xcb", nullptr, nullptr},
    };
    auto saved = [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    auto put = [](const char* name, const char* value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    };
    const auto platform = saved("QT_QPA_PLATFORM");
    const auto display = saved("DISPLAY");
    const auto wayland = saved("WAYLAND_DISPLAY");
    const std::string out = home_.root() + "/never";
    for (const Env& e : cases) {
        put("QT_QPA_PLATFORM", e.platform);
        put("DISPLAY", e.display);
        put("WAYLAND_DISPLAY", e.wayland);
        const Run r = run({"capture", "--dialog", "--module", kModulePath, "--address",
                           "127.0.0.1:1", "--out", out});
        EXPECT_EQ(r.status, 2) << (e.platform ? e.platform : "(none)") << r.err;
        EXPECT_EQ(r.err.rfind("wavecatch: capture --dialog needs a display a person can use: ", 0),
                  0u)
            << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    put("QT_QPA_PLATFORM", platform ? platform->c_str() : nullptr);
    put("DISPLAY", display ? display->c_str() : nullptr);
    put("WAYLAND_DISPLAY", wayland ? wayland->c_str() : nullptr);
}

TEST_F(HostTest, PointsChoicesTheAddInWouldStoreAsUnknownAreRefusedAndNeverStored) {
    const std::string m = "--module=" + kModulePath;
    for (const char* points : {"-1", "abc", "1e300", "0", "", "1.5", "2147483648", " 100"}) {
        const Run r = run({"capture", m, "--address", "127.0.0.1:1", "--points", points, "--out",
                           home_.root() + "/never"});
        EXPECT_EQ(r.status, kExitUsage) << "'" << points << "': " << r.err;
        EXPECT_NE(r.err.find("--points takes a whole number"), std::string::npos) << r.err;
        EXPECT_EQ(run({"get", m, CVN_PROGID_IWAVECATCH, "numberPoints"}).out, "\n") << points;
    }
    EXPECT_EQ(PointsChoice("5001"), "5001");
    EXPECT_EQ(PointsChoice("max"), "MAX");
    EXPECT_EQ(PointsChoice("2147483647"), "2147483647");
    // The help says what the choice is not, and where the record length is set.
    const std::string help = run({"capture", "--help"}).out;
    EXPECT_NE(help.find("not\nthe record length"), std::string::npos) << help;
    EXPECT_NE(help.find(":ACQuire:POINts"), std::string::npos) << help;
}

TEST(HostValues, ArgumentsBecomeTheNarrowestFittingValue) {
    EXPECT_EQ(ParseValue("7").type(), VarType::Long);
    EXPECT_EQ(ParseValue("-128"), Variant(int32_t{-128}));
    EXPECT_EQ(ParseValue("3000000000").type(), VarType::Double);
    EXPECT_EQ(ParseValue("2.5"), Variant(2.5));
    EXPECT_EQ(ParseValue("TRUE"), Variant(true));
    EXPECT_EQ(ParseValue("false"), Variant(false));
    EXPECT_EQ(ParseValue("12abc"), Variant("12abc"));
    EXPECT_EQ(ParseValue(""), Variant(""));
}

TEST(HostScaling, DataSetsAreCutByTheirBlocksAndScaled) {
    // Two blocks: 3 word points of channel 2 and 2 pod points; the raw
    // array comes one short, as after a short transfer.
    std::vector<double> preamble = {1, 0, 3, 1, 0.5, -1, 0, 0.01, 0.2, 100, 2,
                                    0, 0, 2, 1, 0.5, -1, 0, 1,    0,   0,   8};
    const Variant raw(cvn::DataVector<int16_t>{100, 200, 0, 165});
    std::string warning;
    const std::vector<DataSet> sets = SplitDataSets(preamble, raw, warning);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].name, "CH2");
    EXPECT_EQ(sets[1].name, "POD1");
    EXPECT_EQ(sets[0].raw, (std::vector<double>{100, 200, 0}));
    EXPECT_EQ(sets[1].raw, (std::vector<double>{165}));
    EXPECT_NE(warning.find("5"), std::string::npos) << warning;
    EXPECT_DOUBLE_EQ(sets[0].Value(1), (200 - 100) * 0.01 + 0.2);
    EXPECT_DOUBLE_EQ(sets[0].Time(2), 2 * 0.5 - 1);
    EXPECT_EQ(SourceName(103), "D3");
    EXPECT_EQ(SourceName(205), "D13");

    // A reset result (one element 0, one Empty) holds no data set.
    cvn::DataVector<Variant> empty(1);
    EXPECT_TRUE(SplitDataSets({0}, Variant(std::move(empty)), warning).empty());
}

TEST_F(HostTest, PlotsAndFilesSurviveOddInput) {
    EnsureGuiApplication(false);
    // Logic lanes only, a data set without points, and a flat trace.
    DataSet pod;
    pod.block.sourceCode = 16;
    pod.block.points = 4;
    pod.block.xIncrement = 1e-6;
    pod.block.yIncrement = 1;
    pod.raw = {0, 255, 0, 255};
    pod.name = "POD2";
    DataSet empty;
    empty.block.sourceCode = 1;
    empty.name = "CH1";
    DataSet flat;
    flat.block.sourceCode = 2;
    flat.block.yIncrement = 0.1;
    flat.raw.assign(3, 7.0);
    flat.name = "CH2";
    for (const auto& sets : {std::vector<DataSet>{}, std::vector<DataSet>{pod},
                             std::vector<DataSet>{empty, flat, pod}}) {
        const QImage image = RenderPlot(sets, "odd");
        EXPECT_FALSE(image.isNull());
        QImage decoded;
        const std::string png = EncodePng(image);
        EXPECT_TRUE(decoded.loadFromData(reinterpret_cast<const uchar*>(png.data()),
                                         static_cast<int>(png.size()), "PNG"));
    }
    EXPECT_EQ(FormatWithPrefix(-0.0025, "s"), "-2.5 ms");

    // A file that cannot be replaced stays as it was, with no leftovers.
    const std::string dir = home_.root() + "/locked";
    std::filesystem::create_directories(dir + "/target.csv");
    EXPECT_THROW(WriteFileAtomically(dir + "/target.csv", "new"), Error);
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/target.csv"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
    WriteFileAtomically(dir + "/ok.csv", "a,b\n");
    EXPECT_EQ(ReadWholeFile(dir + "/ok.csv"), "a,b\n");
    EXPECT_THROW(ReadWholeFile(dir + "/absent.csv"), Error);

    // A file produced piece by piece: dropped half way (an error while
    // producing it) it leaves nothing; committed, it holds every piece.
    {
        AtomicFileWriter partial(dir + "/partial.csv");
        partial.write(std::string(3 << 20, 'x'));
        partial.write("tail");
    }
    AtomicFileWriter big(dir + "/big.csv");
    for (int i = 0; i < 300000; ++i) {
        big.buffer() += "0.000123,4.5\n";
        big.flush();
    }
    big.commit();
    EXPECT_EQ(std::filesystem::file_size(dir + "/big.csv"), 300000u * 13);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"big.csv", "ok.csv", "target.csv"}));
}

}  // namespace
}  // namespace cvn::host::test
