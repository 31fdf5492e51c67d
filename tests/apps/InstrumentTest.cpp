// The simulated instrument's behaviour, message in and reply bytes out,
// without any socket in between.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <stdexcept>
#include <tuple>

#include "apps/halvio-sim/SimOptions.h"
#include "scope/ModelTable.h"
#include "sim/instrument/Instrument.h"
#include "sim/instrument/ModelCatalog.h"
#include "sim/instrument/ScreenImage.h"
#include "sim/instrument/Signals.h"

namespace cvn::sim {
namespace {

// The payload of a reply that must be exactly one block and a line feed.
std::string BlockPayload(const std::string& reply) {
    EXPECT_GE(reply.size(), 3u);
    if (reply.size() < 3 || reply[0] != '#') return {};
    const size_t digits = static_cast<size_t>(reply[1] - '0');
    const size_t len = std::stoul(reply.substr(2, digits));
    EXPECT_EQ(reply.size(), 2 + digits + len + 1);
    EXPECT_EQ(reply.back(), '\n');
    return reply.substr(2 + digits, len);
}

std::vector<double> Numbers(const std::string& csv) {
    std::vector<double> out;
    for (const auto& a : SplitArguments(csv)) out.push_back(ParseNumber(a).value_or(NAN));
    return out;
}

class InstrumentTest : public ::testing::Test {
protected:
    std::string Ask(std::string_view msg) { return sim.Execute(msg).Text(); }
    // The preamble and the scaled samples of the word data the scope sends
    // now, most significant byte first.
    std::pair<std::vector<double>, std::vector<double>> Samples() {
        const auto pre = Numbers(Ask(":WAV:PRE?"));
        const std::string words = BlockPayload(Ask(":WAV:DATA?"));
        std::vector<double> v;
        for (size_t i = 0; i + 1 < words.size(); i += 2) {
            const auto raw = static_cast<int16_t>((static_cast<uint8_t>(words[i]) << 8) |
                                                  static_cast<uint8_t>(words[i + 1]));
            v.push_back((raw - pre[9]) * pre[7] + pre[8]);
        }
        return {pre, v};
    }
    static double TimeOf(const std::vector<double>& pre, size_t i) {
        return (static_cast<double>(i) - pre[6]) * pre[4] + pre[5];
    }
    Instrument sim{ScopeState(ModelInfo::FromTable("MSOHX5104"), "CVN00000042")};
};

TEST_F(InstrumentTest, IdentifiesRunsAndKeepsAnErrorQueue) {
    EXPECT_EQ(Ask("*IDN?"), "CORVANE,MSOHX5104,CVN00000042,H3.07.0142\n");
    EXPECT_TRUE(sim.Execute("*idn?").identification);
    EXPECT_EQ(Ask(":OPER?"), "8\n");
    EXPECT_TRUE(Ask(":STOP").empty());
    EXPECT_EQ(Ask("OPER?"), "0\n");
    EXPECT_EQ(Ask(":RUN;:OPERegister:CONDition?"), "8\n");
    EXPECT_EQ(Ask(":SINGLE;:OPER?;:SIM:ACQ?"), "0;1\n");
    EXPECT_EQ(Ask(":DIGITIZE;:SIMulator:ACQuisitions?"), "2\n");

    EXPECT_EQ(Ask(":SYSTem:ERRor?"), "0,\"No error\"\n");
    for (const char* bad :
         {":NOPE:NOTHING 1", ":CHAN9:DISP ON", ":WAV:FORM DOUBLE", ":WAV:POIN", ":WAV::POIN?"})
        Ask(bad);
    for (const char* error : {"-113,\"Undefined header\"", "-114,\"Header suffix out of range\"",
                              "-224,\"Illegal parameter value\"", "-109,\"Missing parameter\"",
                              "-102,\"Syntax error\"", "0,\"No error\""})
        EXPECT_EQ(Ask(":SYST:ERR?"), std::string(error) + "\n");
    for (int i = 0; i < 40; ++i) Ask(":NOPE");
    Ask("*CLS");
    EXPECT_EQ(Ask(":SYST:ERR?"), "0,\"No error\"\n");
}

TEST_F(InstrumentTest, DisplaySwitchesAndQueries) {
    EXPECT_EQ(Ask(":CHAN3:DISP?"), "0\n");
    Ask(":CHANnel3:DISPlay ON");
    EXPECT_EQ(Ask(":CHAN3:DISP?"), "1\n");
    EXPECT_EQ(Ask(":STAT? CHAN3"), "1\n");
    Ask(":chan3:disp 0");
    EXPECT_EQ(Ask(":CHANNEL3:DISPLAY?"), "0\n");
    Ask(":POD2:DISP ON");
    EXPECT_EQ(Ask(":POD1:DISP?;:POD2:DISP?"), "1;1\n");
    Ask(":POD2:DISP OFF;:FUNC2:DISP 1");
    EXPECT_EQ(Ask(":POD2:DISP?;:FUNCtion2:DISPlay?;:STAT? FUNC2"), "0;1;1\n");
    Ask(":FUNCtion1:INTegrate CHAN2");
    EXPECT_EQ(Ask(":FUNC1?"), "INT CHAN2\n");
    Ask(":SYST:LONG ON");
    EXPECT_EQ(Ask(":FUNC1?"), "INTEGRATE CHAN2\n");
    Ask("*RST");
    EXPECT_EQ(Ask(":CHAN1:DISP?;:CHAN2:DISP?;:CHAN3:DISP?;:POD1:DISP?;:FUNC1?"),
              "1;1;0;1;ADD CHAN1,CHAN2\n");

    // A model without pods and with two channels refuses both.
    Instrument small{ScopeState(ModelInfo::FromTable("HV1012"))};
    EXPECT_TRUE(small.Execute(":POD1:DISP?").empty());
    EXPECT_TRUE(small.Execute(":CHAN3:DISP?").empty());
    EXPECT_EQ(small.Execute(":SYST:ERR?;:SYST:ERR?").Text(),
              "-113,\"Undefined header\";-114,\"Header suffix out of range\"\n");
}

TEST_F(InstrumentTest, HeaderPathsAndReplyForms) {
    // After ";" a command without a colon continues the previous path.
    Ask(":WAV:FORM BYTE;BYT LSBF;:WAV:POIN:MODE RAW;POIN 5000");
    EXPECT_EQ(Ask(":WAV:FORM?;BYT?;POIN?;POIN:MODE?"), "BYTE;LSBF;5000;RAW\n");
    Ask(":SYSTem:LONGform ON");
    EXPECT_EQ(Ask(":WAV:BYT?"), "LSBFIRST\n");
    Ask(":System:Header ON");
    EXPECT_EQ(Ask(":WAV:BYT?;*OPC?"), ":WAVEFORM:BYTEORDER LSBFIRST;1\n");
    Ask(":System:LONGform OFF");
    EXPECT_EQ(Ask(":WAV:SOURce?"), ":WAV:SOUR CHAN1\n");
    Ask(":SYST:HEAD OFF");
    EXPECT_EQ(Ask(":SYST:HEAD?;LONG?"), "0;0\n");
}

TEST_F(InstrumentTest, SourcesAcceptEveryForm) {
    const std::pair<const char*, const char*> cases[] = {
        {":WAVeform:SOURce  Channel2", "CHAN2"},
        {":WAV:SOUR CHANnel4", "CHAN4"},
        {":WAV:SOUR chan3", "CHAN3"},
        {":WAVeform:SOURce  POD2", "POD2"},
        {":WAV:SOUR FUNC", "FUNC1"},
        {":WAV:SOUR MATH", "FUNC1"},
        {":Waveform:Source CHAN1", "CHAN1"},
        {":WAV:SOUR \"POD1\"", "POD1"},
    };
    for (const auto& [cmd, want] : cases) {
        Ask(cmd);
        EXPECT_EQ(Ask(":WAV:SOUR?"), std::string(want) + "\n") << cmd;
    }
    Ask(":WAV:SOUR CHAN5");
    Ask(":WAV:SOUR POD3");
    EXPECT_EQ(Ask(":WAV:SOUR?;:SYST:ERR?;:SYST:ERR?"),
              "POD1;-224,\"Illegal parameter value\";-224,\"Illegal parameter value\"\n");
}

TEST_F(InstrumentTest, WaveformDataMatchesItsPreamble) {
    Ask(":WAVeform:FORMat WORD");
    Ask(":WAVEFORM:BYTEORDER MSBFIRST");
    Ask(":WAVeform:SOURce  Channel1");
    const auto [pre, values] = Samples();
    ASSERT_EQ(pre.size(), 10u);
    EXPECT_EQ(pre[0], 1);     // word
    EXPECT_EQ(pre[2], 1000);  // the default point count
    const std::string words = BlockPayload(Ask(":WAVeform:DATA?"));
    ASSERT_EQ(words.size(), 2000u);

    // Channel 1 is a 1.2 V, 1 kHz sine: check the scaled samples against it.
    double peak = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_NEAR(values[i], 1.2 * std::sin(2 * std::numbers::pi * 1e3 * TimeOf(pre, i)), pre[7])
            << i;
        peak = std::max(peak, std::abs(values[i]));
    }
    EXPECT_NEAR(peak, 1.2, 0.01);

    // Byte order swaps the two bytes of every word.
    Ask(":WAV:BYT LSBF");
    const std::string swapped = BlockPayload(Ask(":WAV:DATA?"));
    ASSERT_EQ(swapped.size(), words.size());
    for (size_t i = 0; i < words.size(); i += 2) {
        ASSERT_EQ(swapped[i], words[i + 1]);
        ASSERT_EQ(swapped[i + 1], words[i]);
    }

    // Pods send their pattern one byte per point.
    Ask(":WAVEFORM:BYTEORDER MSBFIRST;:WAVeform:FORMat BYTE;:WAVeform:SOURce  POD1");
    const auto podPre = Numbers(Ask(":WAV:PRE?"));
    EXPECT_EQ(podPre[0], 0);
    const std::string bytes = BlockPayload(Ask(":WAV:DATA?"));
    ASSERT_EQ(bytes.size(), 1000u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[5]), 5);

    Ask(":WAV:FORM ASCii;:WAV:SOUR CHAN2;:WAV:POIN 10");
    EXPECT_EQ(Numbers(BlockPayload(Ask(":WAV:DATA?"))).size(), 10u);
}

TEST_F(InstrumentTest, PointCountFollowsModeViewAndAveraging) {
    EXPECT_EQ(Ask(":ACQuire:POINts?"), "8000000\n");
    Ask(":WAV:POIN 8000000");
    EXPECT_EQ(Ask(":Waveform:Points?"), "1000000\n");  // normal mode: screen record
    Ask(":WAV:POIN:MODE MAX");
    EXPECT_EQ(Ask(":WAV:POIN?"), "8000000\n");
    Ask(":ACQuire:AVERAGE ON;:ACQuire:COUNt 16");
    EXPECT_EQ(Ask(":ACQuire:AVERAGE?;ACQuire:COUNt?;:ACQ:TYPE?;:WAV:POIN?"), "1;16;AVER;1000000\n");
    Ask("TIMebase:VIEW Main;:ACQuire:AVERAGE OFF;:DIGITIZE");
    EXPECT_EQ(Ask(":timebase:VIEW?;:ACQuire:AVERAGE?;:WAV:POIN?"), "MAIN;0;8000000\n");
    Ask(":TIM:VIEW WIND");
    EXPECT_EQ(Ask(":TIM:VIEW?;:WAV:POIN?"), "WIND;1000000\n");
    Ask(":WAV:POIN 0");
    EXPECT_EQ(Ask(":SYST:ERR?"), "-222,\"Data out of range\"\n");
}

TEST_F(InstrumentTest, StreamingSwitchOnlyOnItsFamily) {
    EXPECT_EQ(Ask(":WAVeform:STReaming?"), "1\n");
    Ask("WAVeform:STReaming OFF");
    Ask("WAVeform:STReaming OFF");
    EXPECT_EQ(Ask(":WAV:STR?;:SIMulator:STReaming:COUNt?"), "0;2\n");

    Instrument older{ScopeState(ModelInfo::FromTable("HV1014"))};
    EXPECT_TRUE(older.Execute("WAVeform:STReaming OFF").empty());
    EXPECT_EQ(older.Execute(":SYST:ERR?").Text(), "-113,\"Undefined header\"\n");
}

TEST_F(InstrumentTest, ScreenImageIsABitmapBlock) {
    Ask(":CHAN3:DISP ON;:POD2:DISP ON");
    const std::string normal = BlockPayload(Ask(":DISPlay:DATA? BMP, SCReen"));
    const std::string inverted = BlockPayload(Ask(":DISPlay:DATA? BMP, SCReen, ON, Inv"));
    ASSERT_GT(normal.size(), 54u);
    EXPECT_EQ(normal.substr(0, 2), "BM");
    const auto le32 = [](const std::string& s, size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
        return v;
    };
    EXPECT_EQ(le32(normal, 2), normal.size());
    EXPECT_EQ(le32(normal, 18), static_cast<uint32_t>(kScreenWidth));
    EXPECT_EQ(le32(normal, 22), static_cast<uint32_t>(kScreenHeight));
    ASSERT_EQ(inverted.size(), normal.size());
    // Same picture, complementary colours, byte for byte.
    const size_t pixels = le32(normal, 10);
    for (size_t i = pixels; i < normal.size(); ++i) {
        ASSERT_EQ(static_cast<uint8_t>(normal[i]) + static_cast<uint8_t>(inverted[i]), 255) << i;
    }
    // The picture follows the scope: another channel shows.
    Ask(":CHAN4:DISP ON");
    EXPECT_NE(BlockPayload(Ask(":DISPlay:DATA? BMP, SCReen")), normal);
    Ask(":DISPlay:DATA? PNG, SCReen");
    EXPECT_EQ(Ask(":SYST:ERR?"), "-224,\"Illegal parameter value\"\n");
}

TEST_F(InstrumentTest, SignalsAndFunctionsFollowTheirSettings) {
    // Every channel's input by command; only what is named changes.
    Ask(":SIMulator:SIGNal1 'square:2kHz:1Vpp:0.5V'");
    Ask(":SIM:SIGN3 duty=0.3");
    const std::string reply = Ask(":SIMulator:SIGNal1?");
    ASSERT_EQ(reply.rfind("\"square:", 0), 0u) << reply;
    const SignalConfig square1 = ParseSignal(Unquote(Trim(reply)));
    EXPECT_EQ(square1.frequency, 2e3);
    EXPECT_EQ(square1.amplitude, 1.0);
    EXPECT_EQ(square1.offset, 0.5);
    EXPECT_EQ(square1.seed, DefaultSignal(1).seed);
    EXPECT_EQ(ParseSignal(Unquote(Trim(Ask(":SIM:SIGN3?")))).duty, 0.3);
    Ask(":SIMulator:SIGNal2 'wobble:1kHz'");
    EXPECT_EQ(Ask(":SYST:ERR?"), "-224,\"Illegal parameter value\"\n");

    Ask(":WAV:FORM WORD;:WAV:SOUR CHAN1;:WAV:POIN 1000;:TIM:SCAL 1e-4");
    auto [pre, square] = Samples();
    ASSERT_EQ(square.size(), 1000u);
    for (double v : square) ASSERT_TRUE(std::abs(v - 1.0) < 1e-3 || std::abs(v) < 1e-3) << v;

    // Functions are computed from the channels they name.
    Ask(":SIM:SIGN1 'sine:1kHz:2Vpp:0V';:SIM:SIGN2 'dc:offset=0.25'");
    Ask(":FUNC1:SUBT CHAN1,CHAN2;:WAV:SOUR FUNC1");
    auto [subPre, sub] = Samples();
    for (size_t i = 0; i < sub.size(); ++i)
        ASSERT_NEAR(sub[i], std::sin(2 * std::numbers::pi * 1e3 * TimeOf(subPre, i)) - 0.25,
                    subPre[7])
            << i;
    Ask(":FUNC1:DIFF CHAN1");
    auto [diffPre, diff] = Samples();
    const double slope = 2 * std::numbers::pi * 1e3;  // peak of d/dt sin(2 pi f t)
    EXPECT_NEAR(*std::max_element(diff.begin(), diff.end()), slope, slope * 0.01);
    Ask(":FUNC1:INT CHAN1");
    auto [intPre, integral] = Samples();
    EXPECT_NEAR(integral.front(), 0, intPre[7]);
    // Over whole periods the integral of a sine returns to zero.
    EXPECT_NEAR(integral.back(), 0, 2e-3 / slope);

    // The spectrum of a 1 kHz sine peaks at 1 kHz with its rms level.
    Ask(":FUNC1:FFT CHAN1;:WAV:POIN 4000");
    auto [fftPre, db] = Samples();
    ASSERT_EQ(db.size(), 4000u);
    const size_t peak = static_cast<size_t>(std::max_element(db.begin(), db.end()) - db.begin());
    EXPECT_NEAR(static_cast<double>(peak) * fftPre[4] + fftPre[5], 1e3, fftPre[4]);
    EXPECT_NEAR(db[peak], 20 * std::log10(1 / std::sqrt(2.0)), 0.1);
    EXPECT_LT(db[peak * 3], db[peak] - 60);
}

TEST_F(InstrumentTest, FaultsBendOnlyTheRepliesTheyName) {
    Ask(":WAV:FORM WORD;:WAV:POIN 1000");
    Ask(":SIMulator:FAULt:SHORt ON");
    EXPECT_EQ(Numbers(Ask(":WAV:PRE?"))[2], 1000);
    EXPECT_EQ(BlockPayload(Ask(":WAV:DATA?")).size(), 1998u);
    Ask(":SIMulator:FAULt:SHORt OFF;:SIMulator:FAULt:LIE CLOSe");
    Response lie = sim.Execute(":WAV:DATA?");
    ASSERT_FALSE(lie.parts.empty());
    EXPECT_EQ(lie.parts[0].bytes->substr(0, 6), "#44002");
    EXPECT_EQ(lie.parts[0].bytes->size(), 2006u);
    EXPECT_EQ(lie.parts[0].after, AfterSend::Close);
    Ask(":SIMulator:FAULt:LIE OFF;:SIMulator:FAULt:CUT ON");
    Response cut = sim.Execute(":WAV:DATA?");
    EXPECT_EQ(cut.parts.back().after, AfterSend::Reset);
    EXPECT_LT(cut.Text().size(), 2006u);
    Ask(":SIMulator:FAULt:CUT OFF;:SIMulator:FAULt:BADPreamble ON");
    EXPECT_EQ(Ask(":WAV:PRE?").find(','), Ask(":WAV:PRE?").find(",x,"));
    EXPECT_EQ(Ask(":SIMulator:FAULt:BADPreamble?;:SIMulator:FAULt:LIE?"), "1;OFF\n");
    // Wrong scaling: the stated y increment only; data and measurements stay.
    Ask(":SIMulator:FAULt:BADPreamble OFF");
    const auto [right, data] = std::pair(Numbers(Ask(":WAV:PRE?")), Ask(":WAV:DATA?"));
    const std::string vmax = Ask(":MEAS:VMAX? CHAN1");
    Ask(":SIMulator:FAULt:YINCrement ON");
    EXPECT_NEAR(Numbers(Ask(":WAV:PRE?"))[7] / right[7], 1.1, 1e-9);
    EXPECT_EQ(Ask(":WAV:DATA?"), data);
    EXPECT_EQ(Ask(":MEAS:VMAX? CHAN1"), vmax);
    Ask(":SIMulator:FAULt:SCReenreset ON");
    EXPECT_EQ(sim.Execute(":DISPlay:DATA? BMP, SCReen").parts.back().after, AfterSend::Reset);
    // Back to what the command line set: no faults.
    Ask(":SIMulator:RESet;:WAV:FORM WORD;:WAV:POIN 1000");
    EXPECT_EQ(BlockPayload(Ask(":WAV:DATA?")).size(), 2000u);
    EXPECT_EQ(Numbers(Ask(":WAV:PRE?")).size(), 10u);
    EXPECT_EQ(Ask(":SIMulator:FAULt:YINCrement?"), "0\n");
}

TEST_F(InstrumentTest, LogKeepsMessagesExactlyAsReceived) {
    Ask(":WAVeform:SOURce  Channel2");
    Ask(":SYSTem:Header OFF\r");
    Ask("*IDN?;:garbage");
    EXPECT_EQ(Ask(":SIMulator:LOG:COUNt?"), "3\n");
    EXPECT_EQ(BlockPayload(Ask(":SIM:LOG?")),
              ":WAVeform:SOURce  Channel2\n:SYSTem:Header OFF\r\n*IDN?;:garbage");
    EXPECT_EQ(BlockPayload(Ask(":SIM:LOG? 1")), "*IDN?;:garbage");
    Ask(":SIM:LOG:CLEAR");
    EXPECT_EQ(BlockPayload(Ask(":SIM:LOG?")), "");
}

TEST_F(InstrumentTest, SetupRoundTrips) {
    Ask(":CHAN3:DISP ON;:CHAN2:SCAL 0.2;:POD2:DISP ON;:FUNC2:MULT CHAN1,CHAN3;:TIM:SCAL "
        "2e-6;:ACQ:AVER ON");
    const std::string learn = Ask(":SYSTem:SETup?");
    ASSERT_EQ(learn.back(), '\n');
    const std::string before =
        Ask(":CHAN3:DISP?;:CHAN2:SCAL?;:POD2:DISP?;:FUNC2?;:TIM:SCAL?;:ACQ:AVER?");
    Ask("*RST");
    EXPECT_NE(Ask(":CHAN3:DISP?;:CHAN2:SCAL?;:POD2:DISP?;:FUNC2?;:TIM:SCAL?;:ACQ:AVER?"), before);
    // Sent back the way a saved setup file is: the block without its line
    // feed, after "Syst:Set ".
    Ask("Syst:Set " + learn.substr(0, learn.size() - 1));
    EXPECT_EQ(Ask(":CHAN3:DISP?;:CHAN2:SCAL?;:POD2:DISP?;:FUNC2?;:TIM:SCAL?;:ACQ:AVER?"), before);
    EXPECT_EQ(Ask(":SYST:ERR?"), "0,\"No error\"\n");
    Ask("Syst:Set #9000000050:CHAN1:DISP 0");
    EXPECT_EQ(Ask(":SYST:ERR?;:CHAN1:DISP?"), "-161,\"Invalid block data\";1\n");
}

TEST(WaveformCache, ReusesBlocksAndStaysWithinItsBudget) {
    ScopeState state;
    state.format = WaveFormat::Word;
    WaveformCache cache(5000);  // room for two 1000-word blocks
    const auto first = cache.Block(state);
    EXPECT_EQ(cache.Block(state), first);  // same settings: same buffer
    state.source = Source{SourceKind::Channel, 2};
    const auto second = cache.Block(state);
    EXPECT_NE(second, first);
    state.source = Source{SourceKind::Channel, 3};
    cache.Block(state);
    EXPECT_EQ(cache.entries(), 2u);
    // The oldest went; a block still held by a sender stays valid.
    EXPECT_EQ(first->size(), 2006u);
    state.source = Source{SourceKind::Channel, 1};
    EXPECT_NE(cache.Block(state), first);
    EXPECT_TRUE(*cache.Block(state) == *first);
}

// The options whose effect no test against a running simulator can see;
// the others (--model, --serial, --bind, --garbage, --silent, --drop-after,
// --truncate-data, --short-data, --garbage-preamble, --wrong-yincrement)
// are tested by what the simulator then does.
TEST(SimOptions, ParsesTheCommandLine) {
    const auto o = ParseSimOptions({"--port", "0", "--delay-ms", "5", "--idn-delay-ms", "700",
                                    "--chan3", "pulse:5MHz:500mVpp:-1V:duty=0.25:phase=90",
                                    "--pod2", "serial:2", "--lying-header", "wait", "--cut-data",
                                    "--reset-screen", "--pty", "--baud", "115200", "--paced"});
    EXPECT_EQ(std::tuple(o.port, o.baud, o.faults.delayMs, o.faults.idnDelayMs),
              std::tuple(0, 115200, 5, 700));
    EXPECT_TRUE(o.faults.cutData && o.faults.resetScreen && o.pty && o.paced);
    EXPECT_EQ(o.faults.lyingHeader, LyingHeader::Wait);
    const SignalConfig& pulse = o.signal[2];
    EXPECT_EQ(std::tuple(pulse.shape, pulse.frequency, pulse.offset, pulse.duty),
              std::tuple(Waveshape::Pulse, 5e6, -1.0, 0.25));
    EXPECT_DOUBLE_EQ(pulse.amplitude, 0.5);
    EXPECT_DOUBLE_EQ(pulse.phase, std::numbers::pi / 2);
    EXPECT_EQ(o.signal[0], DefaultSignal(1));
    EXPECT_EQ(o.pod[1].mode, PodMode::Serial);
    EXPECT_TRUE(ParseSimOptions({"--help"}).help);
    EXPECT_EQ(ParseSimOptions({"--pty"}).baud, 9600);
    // The text forms read back to the same signal and pod.
    EXPECT_EQ(ParseSignal(FormatSignal(o.signal[2])), o.signal[2]);
    EXPECT_EQ(ParseSignal("triangle:amp=1.2Vp").amplitude, 2.4);
    EXPECT_EQ(ParseSignal("sine:1kHz:2Vpp:0V:noise=0.01").noise, 0.01);
    // The UART pattern defaults to ten samples a bit, so a decoder can find
    // the middle of each bit.
    EXPECT_EQ(ParsePod("UART"), (PodConfig{PodMode::Uart, 10}));
    EXPECT_EQ(ParsePod(FormatPod(ParsePod("uart:4"))), (PodConfig{PodMode::Uart, 4}));
    for (const char* bad : {"sine:fast", "sine:1kHz:2Vpp:0V:1", "sine:-1kHz", "sine:duty=2",
                            "sine:1kHz:3Ohm", "noise=-1", "sine:colour=red"})
        EXPECT_THROW(ParseSignal(bad), std::invalid_argument) << bad;
    EXPECT_THROW(ParsePod("uart:0"), std::invalid_argument);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--chan5", "sine"},
                                                {"--pod1", "walk:0"},
                                                {"--lying-header", "maybe"},
                                                {"--baud", "12345"},
                                                {"--port", "70000"},
                                                {"--port"},
                                                {"--model", "A,B"},
                                                {"--frobnicate"}})
        EXPECT_THROW(ParseSimOptions(bad), std::invalid_argument) << bad[0];

    // Noise is bounded and the same every time.
    SignalConfig noisy = ParseSignal("dc:offset=1:noise=0.1");
    for (int i = 0; i < 1000; ++i) {
        const double t = i * 1e-6;
        ASSERT_LE(std::abs(noisy.At(t) - 1), 0.1);
        ASSERT_EQ(noisy.At(t), noisy.At(t));
    }
    // The serial pod sends its text most significant bit first, sampled on
    // the rising clock while the select line is low.
    const PodConfig serial = ParsePod("serial");
    std::string text;
    unsigned byte = 0;
    int bits = 0;
    for (size_t i = 1; text.size() < kSerialMessage.size() && i < 100000; ++i) {
        const unsigned before = serial.Pattern(i - 1), now = serial.Pattern(i);
        if ((now & 4u) == 0 && (before & 1u) == 0 && (now & 1u) != 0) {
            byte = (byte << 1) | ((now >> 1) & 1u);
            if (++bits == 8) {
                text += static_cast<char>(byte);
                byte = 0;
                bits = 0;
            }
        }
    }
    EXPECT_EQ(text, kSerialMessage);
}

// The simulator keeps its own datasheet; the add-in's table must agree with
// it on every model of the range (supported, channel count, pods, streaming).
TEST(ModelCatalog, TheAddinsTableAgreesWithTheRange) {
    for (const CatalogModel& c : ModelCatalog()) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(ChannelCountOf(c.id, kBuiltInModelList, kBuiltInChannelList),
                  std::optional<int>(c.channels));
        EXPECT_EQ(ModelHasPods(c.id), c.hasPods);
        EXPECT_EQ(FamilyFragmentCount(c.id) > 0, c.streamingFamily);
    }
    EXPECT_EQ(std::count(std::string_view(kBuiltInModelList).begin(),
                         std::string_view(kBuiltInModelList).end(), ',') +
                  1,
              static_cast<long>(ModelCatalog().size()));
}

}  // namespace
}  // namespace cvn::sim
