// The measurement sequence against the simulator: what goes on the bus and
// what the Measurement tab would show.
#include <cmath>
#include <map>
#include <string>

#include "measure/MeasurementRun.h"
#include "tests/io/FakeTransport.h"
#include "tests/measure/MeasureTestSupport.h"

namespace cvn::test {
namespace {

using namespace std::chrono_literals;

MeasurementChoice all(bool value) {
    MeasurementChoice c;
    c.fill(value);
    return c;
}

std::string text(const MeasurementOutcome& o, std::string_view row) {
    return o.texts.at(*MeasurementRowIndex(row));
}

// The value a shown text stands for: mantissa times prefix.
double shownValue(const std::string& shown, std::string_view unit) {
    std::string s = shown.substr(0, shown.size() - unit.size());
    double factor = 1;
    static const std::map<char, double> kPrefix{{'G', 1e9},  {'M', 1e6},  {'k', 1e3},  {'m', 1e-3},
                                                {'u', 1e-6}, {'n', 1e-9}, {'p', 1e-12}};
    if (!s.empty() && kPrefix.count(s.back())) {
        factor = kPrefix.at(s.back());
        s.pop_back();
    }
    return std::stod(s) * factor;
}

std::vector<std::string> sequenceHead(const std::string& second) {
    return {":STOP", ":MEASure:SOURce?", ":" + second + ":DISP?", ":MEASure:CLEar"};
}

class MeasurementRunTest : public MeasureTest {};

TEST_F(MeasurementRunTest, AllRowsOfAKnownSineAgreeWithTheSignal) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    SimProbe probe(sim);
    probe.tell(":SIMulator:SIGNal1 'sine:1kHz:2.4Vpp:0V:phase=0'");
    auto session = io::IoManager().Open(sim.address());
    const MeasurementOutcome o = MeasurementRun(*session).Measure(all(true));
    ASSERT_TRUE(o.complete()) << o.error->description;
    EXPECT_EQ(o.rowsDone, kMeasurementRowCount);
    EXPECT_EQ(o.source1, "CHAN1");
    EXPECT_EQ(o.source2, "CHAN2");

    // Channel 1 plays a 1 kHz sine of 1.2 V peak over ten periods.
    EXPECT_EQ(text(o, "Freq"), "+1.00000kHz");
    EXPECT_EQ(text(o, "Period"), "+1.00000ms");
    EXPECT_EQ(text(o, "DutyCycle"), "50%");
    EXPECT_EQ(text(o, "P2P"), "+2.40000V");
    EXPECT_EQ(text(o, "Max"), "+1.20000V");
    EXPECT_EQ(text(o, "Min"), "-1.20000V");
    struct Expected {
        std::string_view row;
        double value;
        double tolerance;
    };
    const double riseTime = 2 * std::asin(0.8) / (2 * M_PI * 1e3);
    for (const Expected& e : std::vector<Expected>{
             {"Amplitude", 2.4, 0.02},
             {"Top", 1.2, 0.01},
             {"Base", -1.2, 0.01},
             {"VUpper", 0.96, 0.01},
             {"VMiddle", 0.0, 0.001},
             {"VLower", -0.96, 0.01},
             {"RMS", 1.2 / std::sqrt(2.0), 0.001},
             {"Average", 0.0, 0.001},
             {"RiseTime", riseTime, 2e-6},
             {"FallTime", riseTime, 2e-6},
             {"PWidth", 0.5e-3, 1e-6},
             {"NWidth", 0.5e-3, 1e-6},
             {"Overshoot", 0.0, 1.0},
             {"Preshoot", 0.0, 1.0},
             {"TMax", 0.25e-3 - 5e-3, 2e-6},  // first peak on screen
             {"TMin", 0.75e-3 - 5e-3, 2e-6},
             {"Phase", 0.0, 180.0},
         }) {
        const MeasurementRow& row = kMeasurementRows[*MeasurementRowIndex(e.row)];
        SCOPED_TRACE(std::string(e.row) + ": " + text(o, e.row));
        EXPECT_NEAR(shownValue(text(o, e.row), row.unit), e.value, e.tolerance);
    }
    EXPECT_EQ(text(o, "Phase").substr(text(o, "Phase").size() - 2), "\u00b0");
    EXPECT_FALSE(text(o, "DeltaTime").empty());

    // Every query exactly as the scope expects it, in table order.
    std::vector<std::string> expected = sequenceHead("CHAN2");
    for (const auto& row : kMeasurementRows)
        expected.push_back(MeasurementQuery(row, "CHAN1", "CHAN2"));
    const auto log = probe.log(*session);
    EXPECT_EQ(log, expected);
    std::string headers;  // the queries as a real scope's manual spells them
    for (size_t i = 4; i < 28 && i < log.size(); ++i)
        headers += log[i].substr(9, log[i].find('?') - 9) + " ";
    EXPECT_EQ(headers,
              "DUTYcycle FREQuency PERiod RISetime FALLtime PWIDth NWIDth TMAX TMIN PHASe VUPPer "
              "VAVerage VAMPlitude VBASe VMAX VMIN VPP VRMS VTOP PREShoot OVERshoot VMIDdle VLOWer "
              "DELTatime ");
    EXPECT_EQ(log[13], ":MEASure:PHASe? CHAN1,CHAN2");
    EXPECT_EQ(log[15], ":MEASure:VAVerage? DISPlay, CHAN1");
    EXPECT_EQ(log[21], ":MEASure:VRMS? DISPlay, DC, CHAN1");
    EXPECT_EQ(log[27], ":MEASure:DELTatime? CHAN1, CHAN2");
    // The scope is left stopped.
    EXPECT_EQ(probe.ask(":OPERegister:CONDition?"), "0\n");
}

TEST_F(MeasurementRunTest, SourcesFlatLinesAndEmptyChoices) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    SimProbe probe(sim);
    auto session = io::IoManager().Open(sim.address());
    MeasurementRun run(*session);

    // Nothing chosen: the frame of the sequence still runs, every row empties.
    MeasurementOutcome o = run.Measure(all(false));
    EXPECT_TRUE(o.complete());
    for (const auto& t : o.texts) EXPECT_EQ(t, "");
    EXPECT_EQ(probe.log(*session), sequenceHead("CHAN2"));

    // A flat line has no edges and no amplitude. The second source switched
    // off makes both sources the first.
    probe.tell(":SIMulator:SIGNal1 'dc:offset=0.5';:SIMulator:POD1 'counter';:CHAN2:DISPlay 0");
    MeasurementChoice some = all(false);
    for (auto row : {"Freq", "Period", "Amplitude", "Average", "Phase", "DeltaTime"})
        some[*MeasurementRowIndex(row)] = true;
    o = run.Measure(some);
    EXPECT_TRUE(o.complete());
    EXPECT_EQ(o.source2, "CHAN1");
    EXPECT_EQ(text(o, "Freq"), "No edges");
    EXPECT_EQ(text(o, "Period"), "No edges");
    EXPECT_EQ(text(o, "Amplitude"), "+0.00000V");
    EXPECT_EQ(text(o, "Average"), "0.5V");
    EXPECT_EQ(text(o, "RMS"), "");
    auto log = probe.log(*session);
    EXPECT_EQ(log[2], ":CHAN2:DISP?");
    EXPECT_EQ(log[6], ":MEASure:PHASe? CHAN1,CHAN1");
    EXPECT_EQ(log[9], ":MEASure:DELTatime? CHAN1, CHAN1");

    // A trace moved off screen is clipped to a flat line as well.
    probe.tell(":SIMulator:SIGNal1 'sine:1kHz:2Vpp:0V';:CHAN1:OFFSet 100");
    EXPECT_EQ(text(run.Measure(some), "Freq"), "No edges");
    probe.tell(":CHAN1:OFFSet 0");
    EXPECT_EQ(text(run.Measure(some), "Freq"), "+1.00000kHz");
    probe.log(*session);

    // "MATH" in the lists is the scope's "FUNC", both ways.
    probe.tell(":FUNCtion1:DISPlay 1;:CHAN2:DISPlay 1");
    run.SelectSource("MATH");
    run.SelectSources("CHAN1", "MATH");
    EXPECT_EQ(probe.log(*session),
              (std::vector<std::string>{":MEASure:SOURce FUNC", ":MEASure:SOURce CHAN1,FUNC"}));
    run.SelectSource("MATH");
    o = run.Measure(some);
    EXPECT_EQ(o.source1, "MATH");
    EXPECT_EQ(o.source2, "MATH");

    // A logic bit has edges but no voltages.
    run.SelectSource("DIG3");
    o = run.Measure(some);
    EXPECT_EQ(o.source1, "DIG3");
    EXPECT_EQ(text(o, "Freq"), "+6.25000kHz");  // bit 3 of 1000 points over 10 ms
    EXPECT_EQ(text(o, "Amplitude"), "No edges");

    // A new acquisition: one single run and the fixed pause.
    probe.log(*session);
    const std::string before = probe.ask(":SIMulator:ACQuisitions?");
    run.NewAcquisition();
    EXPECT_EQ(probe.log(*session), std::vector<std::string>{":SINGle"});
    EXPECT_EQ(std::stoi(probe.ask(":SIMulator:ACQuisitions?")), std::stoi(before) + 1);
    EXPECT_EQ(ui_->waits(), std::vector<std::chrono::milliseconds>{500ms});
}

TEST_F(MeasurementRunTest, AFailureStopsTheSequenceAndKeepsTheRowsDone) {
    using io::test::Chunk;
    using io::test::FakeTransport;
    struct Case {
        const char* name;
        std::vector<Chunk> replies;
        std::size_t rowsDone;
        std::string source1;
    };
    const std::vector<Case> cases{
        {"no source named", {{"\n"}}, 0, ""},
        {"silent after the sources", {{"CHAN1,CHAN2\n"}, {"1\n"}}, 0, "CHAN1"},
        {"reply without E",
         {{"CHAN1,CHAN2\n"}, {"1\n"}, {"+5.00000E+01\n"}, {"garbage\n"}},
         1,
         "CHAN1"},
        {"one source only",
         {{"DIG2\n"}, {"1\n"}, {"+5.00000E+01\n"}, {"+9.9E+37\n"}},
         kMeasurementRowCount,
         "DIG2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        io::IoSession session(
            "fake", std::make_unique<FakeTransport>(c.replies, FakeTransport::AtEnd::Close));
        MeasurementChoice choice = all(false);
        choice[0] = choice[1] = true;
        const MeasurementOutcome o = MeasurementRun(session).Measure(choice);
        EXPECT_EQ(o.rowsDone, c.rowsDone);
        EXPECT_EQ(o.source1, c.source1);
        if (c.rowsDone > 0) {
            EXPECT_EQ(o.texts[0], "50%");
        }
        if (c.rowsDone == kMeasurementRowCount) {
            EXPECT_TRUE(o.complete());
            EXPECT_EQ(o.texts[1], "No edges");
            EXPECT_EQ(o.source2, "DIG2");
        } else {
            ASSERT_FALSE(o.complete());
            EXPECT_NE(o.error->number, 0);
        }
    }
}

}  // namespace
}  // namespace cvn::test
