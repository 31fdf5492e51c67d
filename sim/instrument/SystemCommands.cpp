// Identification, common commands, system settings and run control.
#include <optional>
#include <string>

#include "sim/instrument/Instrument.h"

namespace cvn::sim {
namespace {

// A setup is kept as the commands that recreate it, so restoring one is
// just running them.
std::string SetupCommands(const ScopeState& s) {
    std::string out = ":TIM:SCAL " + FormatReal(s.timebaseScale) + ";:TIM:POS " +
                      FormatReal(s.timebasePosition) + ";:TIM:VIEW " +
                      (s.timebaseView == "MAIN" ? "MAIN" : "WIND");
    static constexpr const char* kTypes[] = {"NORM", "AVER", "HRES", "PEAK"};
    out += std::string(";:ACQ:TYPE ") + kTypes[static_cast<size_t>(s.acquireType)] + ";:ACQ:COUN " +
           std::to_string(s.acquireCount) + ";:ACQ:POIN " + std::to_string(s.recordLength);
    for (int i = 1; i <= s.model.channels; ++i) {
        const std::string ch = ";:CHAN" + std::to_string(i);
        out += ch + ":DISP " + (s.channelDisplay[i - 1] ? "1" : "0") + ch + ":SCAL " +
               FormatReal(s.channelScale[i - 1]) + ch + ":OFFS " +
               FormatReal(s.channelOffset[i - 1]);
    }
    if (s.model.hasPods) {
        for (int i = 1; i <= ScopeState::kPods; ++i) {
            out += ";:POD" + std::to_string(i) + ":DISP " + (s.podDisplay[i - 1] ? "1" : "0");
        }
    }
    for (int i = 1; i <= ScopeState::kFunctions; ++i) {
        const std::string f = ";:FUNC" + std::to_string(i);
        out += f + ":" + s.functionOperator[i - 1] + " " + s.functionOperands[i - 1] + f +
               ":DISP " + (s.functionDisplay[i - 1] ? "1" : "0");
    }
    out += ";:MEAS:SOUR " + s.measureSource1 + "," + s.measureSource2;
    return out;
}

// The payload of a definite-length block argument; nothing when the text is
// not one or is shorter than it claims.
std::optional<std::string> BlockPayload(const std::string& arg) {
    if (arg.size() < 2 || arg[0] != '#' || arg[1] < '1' || arg[1] > '9') return std::nullopt;
    const size_t digits = static_cast<size_t>(arg[1] - '0');
    if (arg.size() < 2 + digits) return std::nullopt;
    size_t len = 0;
    for (size_t i = 0; i < digits; ++i) {
        const char c = arg[2 + i];
        if (c < '0' || c > '9') return std::nullopt;
        len = len * 10 + static_cast<size_t>(c - '0');
    }
    if (arg.size() < 2 + digits + len) return std::nullopt;
    return arg.substr(2 + digits, len);
}

}  // namespace

void RegisterSystemCommands(CommandTable& t) {
    t.add("*IDN?", [](CommandContext& c) {
        if (!c.expectArgs(0, 0)) return;
        c.markIdentification();
        // No blanks around the fields: clients take the model field as is.
        if (!c.state.idnOverride.empty()) {
            c.reply(c.state.idnOverride);
            return;
        }
        c.reply("CORVANE," + c.state.model.id + "," + c.state.serial + "," + c.state.firmware);
    });
    t.add("*RST", [](CommandContext& c) { c.state.Reset(); });
    t.add("*CLS", [](CommandContext& c) { c.state.errors.clear(); });
    t.add("*OPC?", [](CommandContext& c) { c.reply("1"); });
    t.add("*OPC", [](CommandContext&) {});
    t.add("*WAI", [](CommandContext&) {});
    t.add("*ESR?", [](CommandContext& c) { c.reply(c.state.errors.empty() ? "0" : "32"); });
    t.add("*STB?", [](CommandContext& c) { c.reply(c.state.errors.empty() ? "0" : "4"); });
    t.add("*TST?", [](CommandContext& c) { c.reply("0"); });

    t.add(":SYSTem:ERRor[:NEXT]?", [](CommandContext& c) { c.reply(c.state.PopError()); });
    t.add(":SYSTem:HEADer", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto b = c.boolArg(0)) c.state.header = *b;
    });
    t.add(":SYSTem:HEADer?", [](CommandContext& c) { c.reply(c.state.header ? "1" : "0"); });
    t.add(":SYSTem:LONGform", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto b = c.boolArg(0)) c.state.longForm = *b;
    });
    t.add(":SYSTem:LONGform?", [](CommandContext& c) { c.reply(c.state.longForm ? "1" : "0"); });

    t.add(":SYSTem:SETup?", [](CommandContext& c) {
        const std::string setup = SetupCommands(c.state);
        c.replyBlock(std::make_shared<const std::string>(BlockHeader(setup.size()) + setup));
    });
    t.add(":SYSTem:SETup", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        const auto setup = BlockPayload(c.arg(0));
        if (!setup) {
            c.error(scpi_error::kInvalidBlock, "Invalid block data");
            return;
        }
        // All or nothing: a setup with any command the scope refuses leaves
        // every setting as it was, and the queue says why.
        const ScopeState before = c.state;
        c.replay(*setup);
        if (c.state.errors != before.errors) {
            c.state = before;
            c.error(scpi_error::kInvalidBlock, "Invalid block data");
        }
    });

    t.add(":RUN", [](CommandContext& c) {
        c.state.run = RunState::Running;
        c.state.singleDue.reset();
    });
    t.add(":STOP", [](CommandContext& c) {
        c.state.run = RunState::Stopped;
        c.state.singleDue.reset();
    });
    // The simulated trigger is always ready: a single run completes after
    // its acquisition time (at once by default), a digitize at once; both
    // leave the scope stopped.
    t.add(":SINGle", [](CommandContext& c) { c.state.Single(std::chrono::steady_clock::now()); });
    t.add(":DIGitize", [](CommandContext& c) {
        for (size_t i = 0; i < c.argCount(); ++i) {
            if (!c.sourceArg(i)) return;
        }
        c.state.Acquire();
    });
    t.add(":OPERegister[:CONDition]?", [](CommandContext& c) {
        const std::string n = std::to_string(c.state.OperationCondition());
        switch (c.state.faults.statusForm) {
            case FaultConfig::StatusForm::Signed:
                return c.reply("+" + n);
            case FaultConfig::StatusForm::CrLf:
                return c.reply(n + "\r");  // the line feed follows every reply
            default:
                return c.reply(n);
        }
    });
    t.add(":OPERegister:EVENt?",
          [](CommandContext& c) { c.reply(std::to_string(c.state.OperationCondition())); });
}

}  // namespace cvn::sim
