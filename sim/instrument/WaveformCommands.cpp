// Waveform transfer: format, source, point count, preamble and data.
#include <algorithm>
#include <cmath>

#include "sim/instrument/Instrument.h"

namespace cvn::sim {
namespace {

// ASCII data is about eight times the size of words; the scope limits it.
constexpr long kAsciiPointsLimit = 1'000'000;

// Bytes that read as no preamble at all, ending in a line feed so a client
// reading text gets its reply instead of waiting.
// What --wrong-yincrement multiplies the stated y increment by.
constexpr double kWrongYIncrementFactor = 1.1;
constexpr std::string_view kGarbagePreamble = "\x15#!PRE\xfe\xff;?,x,,\n";

// The payload of a cached block (header skipped).
std::string_view Payload(const std::string& block) {
    const size_t digits = static_cast<size_t>(block[1] - '0');
    return std::string_view(block).substr(2 + digits);
}

// Whether the waveform faults hit the source selected now.
bool FaultHitsSource(const ScopeState& state) {
    return !state.faults.faultSource || *state.faults.faultSource == state.source;
}

// The block the faults make of the real one.
void ReplyData(CommandContext& c, std::shared_ptr<const std::string> block) {
    const FaultConfig& f = c.state.faults;
    const std::string_view payload = Payload(*block);
    if (!FaultHitsSource(c.state)) {
        c.replyBlock(std::move(block));
        return;
    }
    if (f.shortData) {
        // One point fewer than the preamble announces, well formed.
        const size_t width = c.state.format == WaveFormat::Word ? 2 : 1;
        const size_t keep = payload.size() >= width ? payload.size() - width : 0;
        c.replyBlock(std::make_shared<const std::string>(BlockHeader(keep) +
                                                         std::string(payload.substr(0, keep))));
        return;
    }
    if (f.lyingHeader != LyingHeader::Off) {
        // The header claims twice the data that follows.
        c.replyBlock(std::make_shared<const std::string>(BlockHeader(payload.size() * 2 + 2) +
                                                         std::string(payload)),
                     f.lyingHeader == LyingHeader::Close ? AfterSend::Close : AfterSend::Continue);
        return;
    }
    if (f.cutData) {
        const size_t header = block->size() - payload.size();
        c.replyBlock(
            std::make_shared<const std::string>(block->substr(0, header + payload.size() / 2)),
            AfterSend::Reset);
        return;
    }
    c.replyBlock(std::move(block));
}

}  // namespace

void RegisterWaveformCommands(CommandTable& t) {
    t.add(":WAVeform:POINts", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (KeywordMatches(c.arg(0), "MAXimum")) {
            c.state.pointsRequested = ScopeState::kMaxRecordLength;
            return;
        }
        if (auto v = c.numberArg(0, 1, ScopeState::kMaxRecordLength))
            c.state.pointsRequested = std::lround(*v);
    });
    t.add(":WAVeform:POINts?",
          [](CommandContext& c) { c.reply(std::to_string(c.state.TransferPoints())); });
    t.add(":WAVeform:POINts:MODE", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.choiceArg(0, {"NORMal", "MAXimum", "RAW"}))
            c.state.pointsMode = static_cast<PointsMode>(*v);
    });
    t.add(":WAVeform:POINts:MODE?", [](CommandContext& c) {
        static constexpr std::string_view kModes[] = {"NORMal", "MAXimum", "RAW"};
        c.reply(c.keyword(kModes[static_cast<size_t>(c.state.pointsMode)]));
    });
    t.add(":WAVeform:FORMat", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.choiceArg(0, {"WORD", "BYTE", "ASCii"}))
            c.state.format = static_cast<WaveFormat>(*v);
    });
    t.add(":WAVeform:FORMat?", [](CommandContext& c) {
        static constexpr std::string_view kFormats[] = {"WORD", "BYTE", "ASCii"};
        c.reply(c.keyword(kFormats[static_cast<size_t>(c.state.format)]));
    });
    t.add(":WAVeform:BYTeorder", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.choiceArg(0, {"MSBFirst", "LSBFirst"}))
            c.state.byteOrder = static_cast<ByteOrder>(*v);
    });
    t.add(":WAVeform:BYTeorder?", [](CommandContext& c) {
        c.reply(c.keyword(c.state.byteOrder == ByteOrder::MsbFirst ? "MSBFirst" : "LSBFirst"));
    });
    t.add(":WAVeform:SOURce", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto s = c.sourceArg(0)) c.state.source = *s;
    });
    t.add(":WAVeform:SOURce?",
          [](CommandContext& c) { c.reply(SourceName(c.state.source, c.state.longForm)); });
    t.add(":WAVeform:VIEW", [](CommandContext& c) {
        if (!c.expectArgs(1, 1)) return;
        if (auto v = c.choiceArg(0, {"MAIN", "WINDow", "ALL"})) {
            c.state.waveformView = *v == 0 ? "MAIN" : *v == 1 ? "WINDOW" : "ALL";
        }
    });
    t.add(":WAVeform:VIEW?", [](CommandContext& c) {
        c.reply(c.state.waveformView == "WINDOW" ? c.keyword("WINDow") : c.state.waveformView);
    });
    // Only the newest family streams waveforms; older models reject the
    // header like any other unknown one.
    t.add(":WAVeform:STReaming", [](CommandContext& c) {
        if (!c.state.model.streamingFamily) {
            c.error(scpi_error::kUndefinedHeader, "Undefined header");
            return;
        }
        if (!c.expectArgs(1, 1)) return;
        auto on = c.boolArg(0);
        if (!on) return;
        c.state.streaming = *on;
        if (!*on) ++c.state.streamingOffCount;
    });
    t.add(":WAVeform:STReaming?", [](CommandContext& c) {
        if (!c.state.model.streamingFamily) {
            c.error(scpi_error::kUndefinedHeader, "Undefined header");
            return;
        }
        c.reply(c.state.streaming ? "1" : "0");
    });

    t.add(":WAVeform:PREamble?", [](CommandContext& c) {
        if (c.state.faults.garbagePreamble && FaultHitsSource(c.state)) {
            c.reply(std::string(kGarbagePreamble.substr(0, kGarbagePreamble.size() - 1)));
            return;
        }
        Preamble preamble = MakePreamble(c.state);
        if (c.state.faults.wrongYIncrement && FaultHitsSource(c.state) &&
            c.state.source.kind != SourceKind::Pod)
            preamble.yIncrement *= kWrongYIncrementFactor;
        std::string text = preamble.ToText();
        if (c.state.faults.preambleExtra) text += "," + c.state.faults.preambleExtraText;
        c.reply(std::move(text));
    });
    t.add(":WAVeform:COUNt?",
          [](CommandContext& c) { c.reply(std::to_string(MakePreamble(c.state).count)); });
    t.add(":WAVeform:TYPE?", [](CommandContext& c) {
        static constexpr std::string_view kTypes[] = {"NORMal", "AVERage", "HRESolution", "PEAK"};
        c.reply(c.keyword(kTypes[static_cast<size_t>(c.state.acquireType)]));
    });
    t.add(":WAVeform:DATA?", [](CommandContext& c) {
        if (!c.expectArgs(0, 0)) return;
        if (c.state.format == WaveFormat::Ascii && c.state.TransferPoints() > kAsciiPointsLimit) {
            c.error(scpi_error::kTooMuchData, "Too much data");
            return;
        }
        ReplyData(c, c.cache.Block(c.state));
    });
}

}  // namespace cvn::sim
