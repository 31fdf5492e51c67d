// Commands of the simulator itself (not of the instrument it plays): the
// record of received messages and the fault switches, for tests.
#include <algorithm>
#include <cmath>

#include "apps/halvio-sim/Instrument.h"

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
    });

    AddLimitSetting(t, ":SIMulator:FAULt:DELay", &FaultConfig::delayMs, 0, 600000);
    AddLimitSetting(t, ":SIMulator:FAULt:IDNDelay", &FaultConfig::idnDelayMs, 0, 600000);
    AddLimitSetting(t, ":SIMulator:FAULt:DROP", &FaultConfig::dropAfter, -1, 1e9);
    AddSwitch(t, ":SIMulator:FAULt:GARBage", &FaultConfig::garbage);
    AddSwitch(t, ":SIMulator:FAULt:SILent", &FaultConfig::silent);
    AddSwitch(t, ":SIMulator:FAULt:TRUNcate", &FaultConfig::truncateData);
}

}  // namespace cvn::sim
