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

namespace cvn::host::test {
namespace {

using automation::Variant;
using automation::VarType;

// One command line each, in order (a later one may read what an earlier
// one stored): its exit status and a fragment of what it printed.
TEST_F(HostTest, CommandLinesEndWithTheirStatusAndMessage) {
    const std::string m = "--module=" + kModulePath, wc = CVN_PROGID_IWAVECATCH;
    const std::string never = home_.root() + "/never";
    struct Cell {
        std::vector<std::string> args;
        int status;
        std::string fragment;
    } const cells[] = {
        {{"call", m, wc, "RShiftWord", "--", "-128", "7"}, 0, "-1\n"},
        {{"call", m, "--json", wc, "LShiftWord", "3", "2"},
         0,
         "{\"result\":12,\"byRef\":{\"c\":2}}\n"},
        {{"call", m, wc, "RShiftWord", "5", "--", "-1"}, kExitFailed, "error 11"},
        // Each run is a new object: the stored choice is what survives.
        {{"let", m, wc, "numberPoints", "176"}, 0, ""},
        {{"get", m, wc, "numberPoints"}, 0, " 250\n"},
        {{"get", m, wc, "NoSuchThing"}, kExitNoMember, "NoSuchThing"},
        {{"let", m, wc, "MenuName", "x"}, kExitNoMember, ""},
        {{"get", wc, "MenuName"}, kExitNoModule, "not registered"},
        {{"get", "--module", home_.root() + "/missing.so", wc, "MenuName"}, kExitNoModule, ""},
        {{"get", m, "cvnWCHalv.Nothing", "MenuName"}, kExitNoModule, ""},
        {{"frobnicate"}, kExitUsage, ""},
        {{"get", "--bogus"}, kExitUsage, ""},
        {{"scope", "idn"}, kExitUsage, ""},
        {{"capture", m, "--format", "csv,xls"}, kExitUsage, "--format"},
        // No instrument answers: the add-in's Cancel, and no folder.
        {{"capture", m, "--address", "127.0.0.1:1", "--out", never}, kExitFailed, "Cancel"},
        // The help says what the choice is not, and where the record length is set.
        {{"capture", "--help"}, 0, "not\nthe record length"},
        {{"capture", "--help"}, 0, ":ACQuire:POINts"},
        {{"measure", "--address", "127.0.0.1:1", "--only", "Loudness"}, kExitUsage, "Loudness"},
        {{"measure"}, kExitFailed, "wavecatch: measure: no address given"},
        {{"measure", "--address", "127.0.0.1:1"}, kExitFailed, "No connection."},
        {{"measure", "--address", "127.0.0.1:1"}, kExitFailed, "refused"},
        {{"setup", "--address", "127.0.0.1:1", "send", never}, kExitUsage, ""},
        {{"scpi", "--address", "127.0.0.1:1", "--timeout", "soon", "*IDN?"}, kExitUsage, ""},
        {{"find", "--host", "127.0.0.1:1"}, kExitFailed, ""},
        {{"scope", m, "--address", "127.0.0.1:1", "idn"}, kExitFailed, ""},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args.back() : ""));
        expectRun(c.args, c.status, c.fragment);
    }
    // Points the add-in would store as unknown: refused, and never stored.
    for (const char* points : {"-1", "abc", "1e300", "0", "", "1.5", "2147483648", " 100"}) {
        SCOPED_TRACE(std::string("'") + points + "'");
        expectRun({"capture", m, "--address", "127.0.0.1:1", "--points", points, "--out", never},
                  kExitUsage, "--points takes a whole number");
        EXPECT_EQ(run({"get", m, wc, "numberPoints"}).out, " 250\n");
    }
    EXPECT_FALSE(std::filesystem::exists(never));
    for (const auto& [given, choice] :
         {std::pair{"5001", "5001"}, {"max", "MAX"}, {"2147483647", "2147483647"}, {"1", "1"}})
        EXPECT_EQ(PointsChoice(given), choice);
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
    EXPECT_EQ(run({"unregister", m}).status, 0);
    EXPECT_NE(run({"info", m}).out.find("registration:       not registered"), std::string::npos);
}

// A modal dialog nobody can see would wait for ever: without a display a
// person can use, capture --dialog ends at once, says why and writes nothing.
TEST_F(HostTest, DialogWithoutAUsableDisplayEndsAtOnce) {
    const char* const names[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    const std::vector<const char*> cells[] = {
        {"offscreen", nullptr, nullptr},
        {"offscreen", ":0", nullptr},
        {"minimal:enable_fonts", nullptr, "wayland-0"},
        {nullptr, nullptr, nullptr},
        {"xcb", nullptr, nullptr},
    };
    auto put = [](const char* name, const char* value) {
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    };
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names)
        saved.push_back(std::getenv(name) ? std::optional<std::string>(std::getenv(name))
                                          : std::nullopt);
    const std::string out = home_.root() + "/never";
    for (const auto& cell : cells) {
        for (size_t i = 0; i < 3; ++i) put(names[i], cell[i]);
        SCOPED_TRACE(cell[0] ? cell[0] : "(none)");
        const Run r = run({"capture", "--dialog", "--module", kModulePath, "--address",
                           "127.0.0.1:1", "--out", out});
        EXPECT_EQ(r.status, kExitUsage) << r.err;
        EXPECT_EQ(r.err.rfind("wavecatch: capture --dialog needs a display a person can use: ", 0),
                  0u)
            << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    for (size_t i = 0; i < 3; ++i) put(names[i], saved[i] ? saved[i]->c_str() : nullptr);
}

TEST(HostValues, ArgumentsBecomeTheNarrowestFittingValue) {
    const std::pair<const char*, Variant> cells[] = {
        {"2147483647", Variant(INT32_MAX)},
        {"-128", Variant(int32_t{-128})},
        {"2147483648", Variant(2147483648.0)},
        {"2.5", Variant(2.5)},
        {"TRUE", Variant(true)},
        {"false", Variant(false)},
        {"12abc", Variant("12abc")},
        {"", Variant("")},
    };
    for (const auto& [text, value] : cells) {
        EXPECT_EQ(ParseValue(text), value) << text;
        EXPECT_EQ(ParseValue(text).type(), value.type()) << text;
    }
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

TEST_F(HostTest, PlotsSurviveOddInput) {
    EnsureGuiApplication(false);
    // Logic lanes only, a data set without points, and a flat trace.
    DataSet pod, empty, flat;
    pod.block.sourceCode = 16;
    pod.block.points = 4;
    pod.block.xIncrement = 1e-6;
    pod.block.yIncrement = 1;
    pod.raw = {0, 255, 0, 255};
    pod.name = "POD2";
    empty.block.sourceCode = 1;
    empty.name = "CH1";
    flat.block.sourceCode = 2;
    flat.block.yIncrement = 0.1;
    flat.raw.assign(3, 7.0);
    flat.name = "CH2";
    for (const auto& sets : {std::vector<DataSet>{}, std::vector<DataSet>{pod},
                             std::vector<DataSet>{empty, flat, pod}}) {
        QImage decoded;
        const std::string png = EncodePng(RenderPlot(sets, "odd"));
        EXPECT_TRUE(decoded.loadFromData(reinterpret_cast<const uchar*>(png.data()),
                                         static_cast<int>(png.size()), "PNG"));
    }
    EXPECT_EQ(FormatWithPrefix(-0.0025, "s"), "-2.5 ms");
}

}  // namespace
}  // namespace cvn::host::test
