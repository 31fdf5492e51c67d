// Time base and acquisition settings.
#include <algorithm>
#include <cmath>

#include "sim/instrument/Instrument.h"

namespace cvn::sim {
namespace {

constexpr std::string_view kAcquireTypes[] = {"NORMal", "AVERage", "HRESolution", "PEAK"};

}  // namespace

void RegisterAcquisitionCommands(CommandTable& t) {
    t.add(":TIMebase:VIEW", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.choiceArg(0, {"MAIN", "WINDow"}))
            c.state.timebaseView = *v == 0 ? "MAIN" : "WINDOW";
    });
    t.add(":TIMebase:VIEW?", [](CommandContext& c) {
        c.reply(c.state.timebaseView == "MAIN" ? "MAIN" : c.keyword("WINDow"));
    });
    t.add(":TIMebase:SCALe", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.numberArg(0, 1e-10, 50.0)) c.state.timebaseScale = *v;
    });
    t.add(":TIMebase:SCALe?",
          [](CommandContext& c) { c.reply(FormatReal(c.state.timebaseScale)); });
    t.add(":TIMebase:RANGe", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.numberArg(0, 1e-9, 500.0)) c.state.timebaseScale = *v / 10.0;
    });
    t.add(":TIMebase:RANGe?",
          [](CommandContext& c) { c.reply(FormatReal(c.state.timebaseScale * 10.0)); });
    t.add(":TIMebase:POSition", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.numberArg(0, -500.0, 500.0)) c.state.timebasePosition = *v;
    });
    t.add(":TIMebase:POSition?",
          [](CommandContext& c) { c.reply(FormatReal(c.state.timebasePosition)); });

    t.add(":ACQuire:TYPE", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.choiceArg(0, {"NORMal", "AVERage", "HRESolution", "PEAK"})) {
            c.state.acquireType = static_cast<AcquireType>(*v);
        }
    });
    t.add(":ACQuire:TYPE?", [](CommandContext& c) {
        c.reply(c.keyword(kAcquireTypes[static_cast<size_t>(c.state.acquireType)]));
    });
    t.add(":ACQuire:AVERage", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        auto on = c.boolArg(0);
        if (!on) return;
        if (*on) {
            c.state.acquireType = AcquireType::Average;
        } else if (c.state.acquireType == AcquireType::Average) {
            c.state.acquireType = AcquireType::Normal;
        }
    });
    t.add(":ACQuire:AVERage?", [](CommandContext& c) {
        c.reply(c.state.acquireType == AcquireType::Average ? "1" : "0");
    });
    t.add(":ACQuire:COUNt", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.numberArg(0, 1, 65536)) c.state.acquireCount = std::lround(*v);
    });
    t.add(":ACQuire:COUNt?",
          [](CommandContext& c) { c.reply(std::to_string(c.state.acquireCount)); });
    t.add(":ACQuire:POINts", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.numberArg(0, 100, static_cast<double>(c.state.model.maxRecordLength)))
            c.state.recordLength = std::lround(*v);
    });
    t.add(":ACQuire:POINts?",
          [](CommandContext& c) { c.reply(std::to_string(c.state.recordLength)); });
}

}  // namespace cvn::sim
