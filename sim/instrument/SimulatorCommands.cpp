// Commands of the simulator itself (not of the instrument it plays): the
// record of received messages, the input signals and the fault switches,
// for tests.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "sim/instrument/Instrument.h"

namespace cvn::sim {
namespace {

template <typename T>
void AddLimitSetting(CommandTable& t, const std::string& header, T FaultConfig::*field, double lo,
                     double hi) {
    t.add(header, [field, lo, hi](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.numberArg(0, lo, hi))
            c.state.faults.*field = static_cast<T>(std::lround(*v));
    });
    t.add(header + "?",
          [field](CommandContext& c) { c.reply(std::to_string(c.state.faults.*field)); });
}

void AddSwitch(CommandTable& t, const std::string& header, bool FaultConfig::*field) {
    t.add(header, [field](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto b = c.boolArg(0)) c.state.faults.*field = *b;
    });
    t.add(header + "?", [field](CommandContext& c) { c.reply(c.state.faults.*field ? "1" : "0"); });
}

}  // namespace

void RegisterSimulatorCommands(CommandTable& t) {
    // ":SIMulator:LOG? [n]": the last n messages (all when n is missing),
    // oldest first, joined by line feeds, exactly as received.
    t.add(":SIMulator:LOG?", [](CommandContext& c) {
        if (!c.expectArgs(0, 1)) return;
        size_t n = c.state.log.size();
        if (c.argCount() == 1) {
            auto v = c.numberArg(0, 0, 1e9);
            if (!v) return;
            n = std::min(n, static_cast<size_t>(*v));
        }
        std::string text;
        const size_t first = c.state.log.size() - n;
        for (size_t i = first; i < c.state.log.size(); ++i) {
            if (i != first) text += '\n';
            text += c.state.log[i];
        }
        c.replyBlock(std::make_shared<const std::string>(BlockHeader(text.size()) + text));
    });
    t.add(":SIMulator:LOG:CLEar", [](CommandContext& c) { c.state.log.clear(); });
    t.add(":SIMulator:LOG:COUNt?",
          [](CommandContext& c) { c.reply(std::to_string(c.state.log.size())); });
    t.add(":SIMulator:STReaming:COUNt?",
          [](CommandContext& c) { c.reply(std::to_string(c.state.streamingOffCount)); });
    t.add(":SIMulator:ACQuisitions?",
          [](CommandContext& c) { c.reply(std::to_string(c.state.acquisitions)); });
    // Back to power-on: settings, error queue, log, counters, and the fault
    // switches as the command line set them.
    t.add(":SIMulator:RESet", [](CommandContext& c) {
        c.state.Reset();
        c.state.errors.clear();
        c.state.log.clear();
        c.state.acquisitions = 0;
        c.state.streamingOffCount = 0;
        c.state.faults = c.state.startupFaults;
        for (int i = 0; i < ScopeState::kMaxChannels; ++i)
            c.state.signal[i] = c.state.startupSignal[i];
        for (int i = 0; i < ScopeState::kPods; ++i) c.state.pod[i] = c.state.startupPod[i];
    });

    // ":SIMulator:SIGNal<n> '<signal>'": what channel n's input sees, in the
    // form of the --chan<n> option; fields left out keep their values.
    t.add(":SIMulator:SIGNal#", [](CommandContext& c) {
        if (!c.suffixWithin(1, ScopeState::kMaxChannels) || !c.expectArgs(1, 1)) return;
        SignalConfig& sig = c.state.signal[c.suffix() - 1];
        try {
            sig = ParseSignal(Unquote(c.arg(0)), sig);
        } catch (const std::invalid_argument&) {
            c.error(scpi_error::kIllegalParameter, "Illegal parameter value");
        }
    });
    t.add(":SIMulator:SIGNal#?", [](CommandContext& c) {
        if (c.suffixWithin(1, ScopeState::kMaxChannels))
            c.reply("\"" + FormatSignal(c.state.signal[c.suffix() - 1]) + "\"");
    });
    t.add(":SIMulator:POD#", [](CommandContext& c) {
        if (!c.suffixWithin(1, ScopeState::kPods) || !c.expectArgs(1, 1)) return;
        try {
            c.state.pod[c.suffix() - 1] = ParsePod(Unquote(c.arg(0)));
        } catch (const std::invalid_argument&) {
            c.error(scpi_error::kIllegalParameter, "Illegal parameter value");
        }
    });
    t.add(":SIMulator:POD#?", [](CommandContext& c) {
        if (c.suffixWithin(1, ScopeState::kPods))
            c.reply("\"" + FormatPod(c.state.pod[c.suffix() - 1]) + "\"");
    });

    AddLimitSetting(t, ":SIMulator:FAULt:DELay", &FaultConfig::delayMs, 0, 600000);
    AddLimitSetting(t, ":SIMulator:FAULt:IDNDelay", &FaultConfig::idnDelayMs, 0, 600000);
    AddLimitSetting(t, ":SIMulator:FAULt:DROP", &FaultConfig::dropAfter, -1, 1e9);
    AddSwitch(t, ":SIMulator:FAULt:GARBage", &FaultConfig::garbage);
    AddSwitch(t, ":SIMulator:FAULt:SILent", &FaultConfig::silent);
    AddSwitch(t, ":SIMulator:FAULt:TRUNcate", &FaultConfig::truncateData);
    AddSwitch(t, ":SIMulator:FAULt:SHORt", &FaultConfig::shortData);
    AddSwitch(t, ":SIMulator:FAULt:CUT", &FaultConfig::cutData);
    AddSwitch(t, ":SIMulator:FAULt:BADPreamble", &FaultConfig::garbagePreamble);
    AddSwitch(t, ":SIMulator:FAULt:YINCrement", &FaultConfig::wrongYIncrement);
    AddSwitch(t, ":SIMulator:FAULt:SCReenreset", &FaultConfig::resetScreen);
    AddLimitSetting(t, ":SIMulator:FAULt:LATEterm", &FaultConfig::lateTerminatorMs, 0, 600000);
    AddSwitch(t, ":SIMulator:FAULt:INDefinite", &FaultConfig::indefiniteBlocks);
    // A quoted text switches the extra preamble field on ("" gives a
    // trailing comma); OFF switches it off.
    t.add(":SIMulator:FAULt:PREXtra", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        std::string a = c.arg(0);
        if (a.size() >= 2 && (a.front() == '"' || a.front() == '\'') && a.back() == a.front()) {
            c.state.faults.preambleExtra = true;
            c.state.faults.preambleExtraText = a.substr(1, a.size() - 2);
        } else if (auto b = c.boolArg(0)) {
            c.state.faults.preambleExtra = *b;
        }
    });
    t.add(":SIMulator:FAULt:PREXtra?", [](CommandContext& c) {
        c.reply(c.state.faults.preambleExtra ? "\"" + c.state.faults.preambleExtraText + "\""
                                             : "0");
    });
    // The source the waveform faults hit; ALL for every source.
    t.add(":SIMulator:FAULt:SOURce", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (KeywordMatches(c.arg(0), "ALL")) {
            c.state.faults.faultSource.reset();
            return;
        }
        if (auto s = c.sourceArg(0)) c.state.faults.faultSource = *s;
    });
    t.add(":SIMulator:FAULt:SOURce?", [](CommandContext& c) {
        const auto& s = c.state.faults.faultSource;
        c.reply(s ? SourceName(*s, false) : "ALL");
    });
    t.add(":SIMulator:FAULt:LIE", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.choiceArg(0, {"OFF", "CLOSe", "WAIT"}))
            c.state.faults.lyingHeader = static_cast<LyingHeader>(*v);
    });
    t.add(":SIMulator:FAULt:LIE?", [](CommandContext& c) {
        static constexpr std::string_view kModes[] = {"OFF", "CLOSe", "WAIT"};
        c.reply(c.keyword(kModes[static_cast<size_t>(c.state.faults.lyingHeader)]));
    });
}

}  // namespace cvn::sim
