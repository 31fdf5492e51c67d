// What the scope shows: channels, pods, math functions and the screen
// picture. The measurement sources live with the measurements.
#include <iterator>

#include "sim/instrument/Instrument.h"
#include "sim/instrument/ScreenImage.h"

namespace cvn::sim {
namespace {

// Keyword of each math operator, in SCPI notation; the state keeps the long
// form upper-cased.
constexpr std::string_view kOperators[] = {"ADD",           "SUBTract",  "MULTiply",
                                           "DIFFerentiate", "INTegrate", "FFT"};
constexpr size_t kBinaryOperators = 3;  // the first three take two sources

void SetDisplay(CommandContext& c, bool& flag) {
    if (!c.expectArgs(1, 1)) return;
    if (auto b = c.boolArg(0)) flag = *b;
}

bool PodsPresent(CommandContext& c) {
    // Models without pods do not know the header at all.
    if (c.state.model.hasPods) return true;
    c.error(scpi_error::kUndefinedHeader, "Undefined header");
    return false;
}

bool* DisplayFlag(ScopeState& s, const Source& src) {
    switch (src.kind) {
        case SourceKind::Channel:
            return &s.channelDisplay[src.index - 1];
        case SourceKind::Pod:
            return &s.podDisplay[src.index - 1];
        case SourceKind::Function:
            return &s.functionDisplay[src.index - 1];
    }
    return nullptr;
}

}  // namespace

void RegisterChannelCommands(CommandTable& t) {
    t.add(":CHANnel#:DISPlay", [](CommandContext& c) {
        if (c.suffixWithin(1, c.state.model.channels))
            SetDisplay(c, c.state.channelDisplay[c.suffix() - 1]);
    });
    t.add(":CHANnel#:DISPlay?", [](CommandContext& c) {
        if (c.suffixWithin(1, c.state.model.channels))
            c.reply(c.state.channelDisplay[c.suffix() - 1] ? "1" : "0");
    });
    t.add(":CHANnel#:SCALe", [](CommandContext& c) {
        if (!c.suffixWithin(1, c.state.model.channels) || !c.expectArgs(1, 1)) return;
        if (auto v = c.numberArg(0, 1e-3, 10.0)) c.state.channelScale[c.suffix() - 1] = *v;
    });
    t.add(":CHANnel#:SCALe?", [](CommandContext& c) {
        if (c.suffixWithin(1, c.state.model.channels))
            c.reply(FormatReal(c.state.channelScale[c.suffix() - 1]));
    });
    t.add(":CHANnel#:OFFSet", [](CommandContext& c) {
        if (!c.suffixWithin(1, c.state.model.channels) || !c.expectArgs(1, 1)) return;
        if (auto v = c.numberArg(0, -100.0, 100.0)) c.state.channelOffset[c.suffix() - 1] = *v;
    });
    t.add(":CHANnel#:OFFSet?", [](CommandContext& c) {
        if (c.suffixWithin(1, c.state.model.channels))
            c.reply(FormatReal(c.state.channelOffset[c.suffix() - 1]));
    });

    t.add(":POD#:DISPlay", [](CommandContext& c) {
        if (PodsPresent(c) && c.suffixWithin(1, ScopeState::kPods))
            SetDisplay(c, c.state.podDisplay[c.suffix() - 1]);
    });
    t.add(":POD#:DISPlay?", [](CommandContext& c) {
        if (PodsPresent(c) && c.suffixWithin(1, ScopeState::kPods)) {
            c.reply(c.state.podDisplay[c.suffix() - 1] ? "1" : "0");
        }
    });

    t.add(":FUNCtion#:DISPlay", [](CommandContext& c) {
        if (c.suffixWithin(1, ScopeState::kFunctions))
            SetDisplay(c, c.state.functionDisplay[c.suffix() - 1]);
    });
    t.add(":FUNCtion#:DISPlay?", [](CommandContext& c) {
        if (c.suffixWithin(1, ScopeState::kFunctions))
            c.reply(c.state.functionDisplay[c.suffix() - 1] ? "1" : "0");
    });
    // The definition of a function: "<operator> <source>[,<source>]".
    t.add(":FUNCtion#?", [](CommandContext& c) {
        if (!c.suffixWithin(1, ScopeState::kFunctions)) return;
        const int f = c.suffix() - 1;
        std::string_view op = kOperators[0];
        for (std::string_view candidate : kOperators) {
            if (ToUpper(candidate) == c.state.functionOperator[f]) op = candidate;
        }
        c.reply(c.keyword(op) + " " + c.state.functionOperands[f]);
    });
    for (size_t k = 0; k < std::size(kOperators); ++k) {
        t.add(":FUNCtion#:" + std::string(kOperators[k]), [k](CommandContext& c) {
            if (!c.suffixWithin(1, ScopeState::kFunctions)) return;
            const size_t want = k < kBinaryOperators ? 2 : 1;
            if (!c.expectArgs(want, want)) return;
            std::string operands;
            for (size_t i = 0; i < want; ++i) {
                auto s = c.sourceArg(i);
                if (!s) return;
                operands += (i ? "," : "") + SourceName(*s, false);
            }
            c.state.functionOperator[c.suffix() - 1] = ToUpper(kOperators[k]);
            c.state.functionOperands[c.suffix() - 1] = operands;
        });
    }

    t.add(":STATus?", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto s = c.sourceArg(0)) c.reply(c.state.SourceDisplayed(*s) ? "1" : "0");
    });
    t.add(":VIEW", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto s = c.sourceArg(0)) *DisplayFlag(c.state, *s) = true;
    });
    t.add(":BLANk", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto s = c.sourceArg(0)) *DisplayFlag(c.state, *s) = false;
    });

    // ":DISPlay:DATA? BMP, SCReen[, ON|OFF[, INVert|NORMal]]": the screen
    // picture; ink saver on or an inverted palette both give inverted colours.
    t.add(":DISPlay:DATA?", [](CommandContext& c) {
        if (!c.expectArgs(1, 4)) return;
        if (!c.choiceArg(0, {"BMP", "BMP8bit"})) return;
        if (c.argCount() > 1 && !c.choiceArg(1, {"SCReen", "GRATicule"})) return;
        bool inverted = false;
        if (c.argCount() > 2) {
            auto ink = c.boolArg(2);
            if (!ink) return;
            inverted = *ink;
        }
        if (c.argCount() > 3) {
            auto palette = c.choiceArg(3, {"INVert", "NORMal", "COLor"});
            if (!palette) return;
            inverted = inverted || *palette == 0;
        }
        const std::string bmp = RenderScreenBmp(c.state, inverted);
        if (c.state.faults.resetScreen) {
            // A third of the picture, then the connection breaks.
            c.replyBlock(std::make_shared<const std::string>(BlockHeader(bmp.size()) +
                                                             bmp.substr(0, bmp.size() / 3)),
                         AfterSend::Reset);
            return;
        }
        c.replyBlock(std::make_shared<const std::string>(BlockHeader(bmp.size()) + bmp));
    });
}

}  // namespace cvn::sim
