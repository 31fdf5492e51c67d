// The bench commands against the simulator: measurements agree with the
// signals fed in, setup files go round trip and refused ones send nothing,
// the screen image, the search and raw SCPI.
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

#include "host/HostFixture.h"
#include "host/bench/Bench.h"
#include "host/bench/Scpi.h"
#include "host/qt/GuiApp.h"
#include "io/IoSession.h"
#include "setupfile/CSetupFile.h"
#include "sim/launch/SimProcess.h"
#include "support/AtomicFile.h"

namespace cvn::host::test {
namespace {

class BenchCommandsTest : public HostTest {
protected:
    // Channel 1 a 2.5 kHz sine, channel 2 a flat 0.3 V.
    BenchCommandsTest()
        : sim_({"--model", "MSOHX5104", "--chan1", "sine:2.5kHz:2Vpp", "--chan2",
                "dc:offset=0.3"}) {}

    Run bench(std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"--address", sim_.address()});
        return run(args);
    }

    // A query on a connection of its own, as another client would ask.
    std::string ask(const std::string& command) {
        auto s = io::IoManager().Open(sim_.address());
        if (IsQuery(command)) return ScpiQuery(*s, command).text;
        s->Output(command);
        // Settled before the next client asks: a query behind it.
        ScpiQuery(*s, "*OPC?");
        return {};
    }
    std::string simLog() {
        auto s = io::IoManager().Open(sim_.address());
        return ScpiQuery(*s, ":SIMulator:LOG?").data;
    }

    sim::SimProcess sim_;
};

TEST_F(BenchCommandsTest, MeasuresTheSineAndReportsNoEdgesOnAFlatSource) {
    Run r = bench(
        {"measure", "--source", "CHAN1", "--only", "frequency, Peak-Peak,dutycycle", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    QJsonObject o = json(r.out).object();
    EXPECT_EQ(o["source1"].toString(), "CHAN1");
    const QJsonArray rows = o["measurements"].toArray();
    ASSERT_EQ(rows.size(), 3);  // in query order, not the order asked
    EXPECT_EQ(rows[0].toObject()["name"].toString(), "Duty Cycle");
    const QJsonObject freq = rows[1].toObject();
    EXPECT_EQ(freq["name"].toString(), "Freqeuncy");
    EXPECT_EQ(freq["unit"].toString(), "Hz");
    EXPECT_TRUE(freq["text"].toString().endsWith("kHz")) << r.out;
    EXPECT_NEAR(freq["value"].toDouble(), 2500.0, 25.0);
    EXPECT_NEAR(rows[2].toObject()["value"].toDouble(), 2.0, 0.02);

    r = bench({"measure", "--source", "CHAN2", "--only", "Freq,RMS"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Freqeuncy    No edges\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("RMS          0.3V\n"), std::string::npos) << r.out;
    r = bench({"measure", "--source", "CHAN2", "--only", "freq", "--json"});
    const QJsonObject flat = json(r.out).object()["measurements"].toArray()[0].toObject();
    EXPECT_EQ(flat["text"].toString(), "No edges");
    EXPECT_TRUE(flat["value"].isNull());
}

TEST_F(BenchCommandsTest, MeasureRunsTheTabsSequenceAndWritesItsFile) {
    const std::string csv = home_.root() + "/m.csv";
    ask(":SIMulator:LOG:CLEar");
    const Run r = bench({"measure", "--source", "CHAN1,CHAN2", "--new", "--csv", csv});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("wrote:       " + csv), std::string::npos);
    // All 24 rows on an analog source, saved in the order of the tab's
    // boxes, which is not the order they are asked in.
    std::istringstream file(ReadWholeFile(csv));
    std::string names, line;
    while (std::getline(file, line)) names += line.substr(0, line.find(',')) + " ";
    EXPECT_EQ(names,
              "Amplitude Overshoot P2P Min Max TMax FallTime Freq DutyCycle Base Average TMin Top "
              "Preshoot VUpper RMS VLower VMiddle NWidth PWidth RiseTime Period Phase DeltaTime ");
    EXPECT_NE(ReadWholeFile(csv).find("\r\nFreq,+2.50000kHz,\r\nDutyCycle,50%,\r\n"),
              std::string::npos);
    // The sources first, then the new acquisition, then the tab's sequence.
    const std::string log = simLog();
    size_t last = 0;
    for (const char* sent :
         {":MEASure:SOURce CHAN1,CHAN2", ":SINGle", ":MEASure:SOURce?", ":FUNCtion1?", ":STOP",
          ":MEASure:CLEar", ":MEASure:PHASe? CHAN1,CHAN2", ":MEASure:DELTatime? CHAN1, CHAN2"}) {
        const size_t at = log.find(sent, last);
        EXPECT_NE(at, std::string::npos) << sent << " in order in\n" << log;
        if (at != std::string::npos) last = at;
    }
}

TEST_F(BenchCommandsTest, MeasuredValuesAreNullWhenTheReplyCannotBeReadWhole) {
    struct Cell {
        const char* reply;
        const char* text;
        std::optional<double> value;
    };
    const Cell cells[] = {
        {"+1.0E+99999", "+1.0V", std::nullopt},  // exponent beyond 16 bits
        {"+1.0Eabc", "+1.0V", std::nullopt},          {"+9.9E+37", "No edges", std::nullopt},
        {"+2.94082E-04\r", "0.294082mV", 2.94082e-4},  // ends in CR LF
        {"-1.00000E+15", "-1.00000E+15V", -1e15},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.reply);
        sim::SimProcess spoilt({"--measure-reply", c.reply});
        const Run r =
            run({"measure", "--address", spoilt.address(), "--only", "Amplitude", "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        const QJsonObject row = json(r.out).object()["measurements"].toArray()[0].toObject();
        EXPECT_EQ(row["text"].toString().toStdString(), c.text);
        if (c.value)
            EXPECT_DOUBLE_EQ(row["value"].toDouble(), *c.value);
        else
            EXPECT_TRUE(row["value"].isNull()) << r.out;
    }
}

TEST_F(BenchCommandsTest, MeasureRefusesWrongSourcesAndForeignScopes) {
    for (const char* source : {"CHAN9", "CHAN0", "DIG16", "CHAN1,DIG3", "MATH,CHAN1,CHAN2", "X"})
        EXPECT_EQ(bench({"measure", "--source", source}).status, kExitUsage) << source;
    sim::SimProcess foreign({"--idn", "OTHER CO,TDX2000,1,1"});
    expectRun({"measure", "--address", foreign.address()}, kExitFailed,
              "wavecatch: Incorrect model.\n");
    // A source the scope refuses (no pods on this model): it keeps
    // measuring channel 1, and that is not handed over as DIG3's.
    sim::SimProcess noPods({"--model", "HV1014"});
    const Run r =
        run({"measure", "--address", noPods.address(), "--source", "DIG3", "--only", "Freq"});
    EXPECT_EQ(r.status, kExitFailed) << r.out;
    EXPECT_NE(r.err.find("measured CHAN1, not DIG3"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(bench({"measure", "--source", "chan2,chan1", "--only", "Freq"}).status, 0);
}

TEST_F(BenchCommandsTest, SavedSetupRestoresTheStateItWasSavedFrom) {
    const std::string first = home_.root() + "/bench.scp";
    ask(":TIMebase:SCALe 0.002");
    Run r = bench({"setup", "save", first});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(first), std::string::npos);

    // A setup file: 13 fields, the header length counting them, then exactly
    // the announced number of setup bytes.
    const std::string bytes = ReadWholeFile(first);
    std::vector<std::string> fields;
    size_t pos = 0;
    for (int i = 0; i < 13; ++i) {
        const size_t bar = bytes.find('|', pos);
        ASSERT_NE(bar, std::string::npos);
        fields.push_back(bytes.substr(pos, bar - pos));
        pos = bar + 1;
    }
    EXPECT_EQ(std::stoul(fields[0]), pos);
    EXPECT_EQ(fields[1], "scp");
    EXPECT_EQ(fields[2], "1");
    EXPECT_EQ(fields[3], "MSOHX5104");
    EXPECT_EQ(fields[4], "CORVANE");
    EXPECT_EQ(fields[8], "RVM Standard Setup File, Version: 1");
    EXPECT_EQ(std::stoul(fields[12]), bytes.size() - pos);
    EXPECT_EQ(bytes[pos], '#');

    ask(":TIMebase:SCALe 0.5");
    r = bench({"setup", "restore", first, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json(r.out).object()["action"].toString(), "restore");
    // The setup went over the command's own connection, which the simulator
    // may still be reading when this one asks: give it a moment.
    double scale = 0;
    for (int i = 0; i < 100 && std::abs(scale - 0.002) > 1e-9; ++i) {
        if (i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        scale = std::stod(ask(":TIMebase:SCALe?"));
    }
    EXPECT_NEAR(scale, 0.002, 1e-9);
    // Saved again, the same state gives the same file, byte for byte.
    const std::string second = home_.root() + "/again.scp";
    ASSERT_EQ(bench({"setup", "save", second}).status, 0);
    EXPECT_EQ(ReadWholeFile(second), bytes);
}

TEST_F(BenchCommandsTest, RefusedSetupFilesSendNothing) {
    const std::string garbage = home_.root() + "/garbage.scp";
    WriteFileAtomically(garbage, "not a setup file at all");
    CSetupFile foreign;
    foreign.setModel("TDX2000");
    foreign.setLearnString({'#', '1', '1', 'x'});
    const std::string other = home_.root() + "/other.scp";
    foreign.WriteFile(other);

    ask(":SIMulator:LOG:CLEar");
    for (const auto& [file, why] : {std::pair{garbage, "Not a compatible file"},
                                    {other, "Not a compatible instrument"},
                                    {home_.root() + "/absent.scp", ""}})
        expectRun({"setup", "--address", sim_.address(), "restore", file}, kExitFailed, why);
    EXPECT_EQ(simLog().find("Syst:Set"), std::string::npos);
}

TEST_F(BenchCommandsTest, ScreenWritesAnImageOfTheScopesSize) {
    EnsureGuiApplication(false);
    const std::string png = home_.root() + "/screen.png";
    Run r = bench({"screen", "--out", png});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("wrote:       " + png + " (800 x 480)"), std::string::npos) << r.out;
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(png), "PNG"));
    EXPECT_EQ(image.size(), QSize(800, 480));

    // A bitmap is kept as the scope sent it; --invert asks the inverted one.
    const std::string bmp = home_.root() + "/screen.bmp";
    ask(":SIMulator:LOG:CLEar");
    r = bench({"screen", "--invert", "--out", bmp, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json(r.out).object()["width"].toInt(), 800);
    EXPECT_EQ(ReadWholeFile(bmp).rfind("BM", 0), 0u);
    EXPECT_NE(simLog().find(":DISPlay:DATA? BMP, SCReen, ON, Inv"), std::string::npos);
}

TEST_F(BenchCommandsTest, FindListsTheSimulatorAsSupported) {
    // Without a bus option USB is searched too: in an empty folder here, so
    // the machine's own devices stay untouched.
    const std::string noDevices = ::testing::TempDir() + "/no-devices";
    std::filesystem::create_directories(noDevices + "/dev");
    ::setenv("CVN_DEVICE_ROOT", noDevices.c_str(), 1);
    Run r = run({"find", "--host", sim_.address(), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const QJsonArray found = json(r.out).array();
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0].toObject()["address"].toString().toStdString(), sim_.address());
    EXPECT_EQ(found[0].toObject()["model"].toString(), "MSOHX5104");
    EXPECT_TRUE(found[0].toObject()["supported"].toBool());

    sim::SimProcess foreign({"--idn", "OTHER CO,TDX2000,1,1"});
    r = run({"find", "--host", foreign.address() + "," + sim_.address()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("TDX2000       no"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("MSOHX5104     yes"), std::string::npos) << r.out;
}

TEST_F(BenchCommandsTest, ScpiRoundTripsQueriesAndBlocks) {
    Run r = bench({"scpi", "*IDN?", ":TIMebase:SCALe 0.001", ":TIMebase:SCALe?"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "CORVANE,MSOHX5104,CVN40517263,H3.07.0142\n+1.000000000E-03\n");

    const std::string out = home_.root() + "/block.bin";
    r = bench({"scpi", "--block-out", out, ":DISPlay:DATA? BMP, SCReen", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const QJsonObject reply = json(r.out).array()[0].toObject();
    const std::string data = ReadWholeFile(out);
    EXPECT_EQ(reply["block_bytes"].toInteger(), static_cast<qint64>(data.size()));
    EXPECT_EQ(data.size(), 800u * 480u * 3u + 54u);
    EXPECT_EQ(data.rfind("BM", 0), 0u);

    r = bench({"scpi", ":DISPlay:DATA? BMP, SCReen"});
    EXPECT_EQ(r.out.rfind("block of 1152054 bytes: 42 4d", 0), 0u) << r.out;
    r = bench({"scpi", "--timeout", "300", ":NOSUCH?"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("wavecatch: scpi: :NOSUCH?: "), std::string::npos) << r.err;

    // Without operands the commands come from standard input, a line each.
    std::istringstream script("*IDN?\r\n\n:TIMebase:SCALe 0.02\n:TIMebase:SCALe?\n");
    std::streambuf* saved = std::cin.rdbuf(script.rdbuf());
    r = bench({"scpi"});
    std::cin.rdbuf(saved);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "CORVANE,MSOHX5104,CVN40517263,H3.07.0142\n+2.000000000E-02\n");
}

TEST(ScpiText, RepliesAndQueriesAreToldApart) {
    for (const auto& [command, query] :
         {std::pair{"*IDN?", true}, {" :MEAS:FREQ? CHAN1", true}, {":DISP:LAB 'why?'", false}})
        EXPECT_EQ(IsQuery(command), query) << command;
    const struct {
        const char* reply;
        bool block;
        const char* data;
    } cells[] = {
        {"#15hello\n", true, "hello"},
        {"#0abc\n", true, "abc"},
        {"#9000000003ab", true, "ab"},  // short block: what came
        {"+62500\r\n", false, ""},
        {"#x", false, ""},
        {"#B000000000000000001\n", false, ""},  // a number in binary, as long as a block header
    };
    for (const auto& c : cells) {
        const ScpiReply r = ParseScpiReply(c.reply);
        EXPECT_EQ(r.block, c.block) << c.reply;
        EXPECT_EQ(r.block ? r.data : r.text, c.block ? c.data : c.reply) << c.reply;
    }
}

TEST(MeasurementNamesTest, CaptionsRowNamesAndSourcesAsTheListsOfferThem) {
    EXPECT_EQ(FindMeasurement("peak-peak"), FindMeasurement("P2P"));
    EXPECT_EQ(FindMeasurement("- width"), FindMeasurement("NWidth"));
    EXPECT_FALSE(FindMeasurement("width"));
    for (const auto& [given, math, source] : {std::tuple{" chan4", false, "CHAN4"},
                                              {"FUNC", true, "MATH"},
                                              {"dig15", false, "DIG15"},
                                              {"DIG5", true, ""},
                                              {"CHAN5", true, ""},
                                              {"CHAN01", true, ""},
                                              {"CHAN", true, ""},
                                              {"POD1", true, ""},
                                              {"", true, ""}})
        EXPECT_EQ(MeasurementSource(given, math).value_or(""), source) << given;
}

TEST_F(BenchCommandsTest, CaptureFindsTheModuleWithoutRegistration) {
    EnsureGuiApplication(false);
    const std::string dir = home_.root() + "/cap";
    // A key of its own: the add-in keeps the last RegistryKey for the process.
    const Run r = run({"capture", "--address", sim_.address(), "--registry-key",
                       "Corvane\\Linkara\\WavecatchBench", "--points", "1000", "--out", dir});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("not registered"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir + "/ch1.csv"));
}

}  // namespace
}  // namespace cvn::host::test
