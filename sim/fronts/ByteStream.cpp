// SCPI over a byte stream, with the fault switches applied to each reply.
#include "sim/fronts/ByteStream.h"

#include <algorithm>

#include "sim/instrument/ScpiParser.h"

namespace cvn::sim {
namespace {

// Not a reply in any format the client could expect: no block header, no
// number, bytes outside ASCII, but a line feed so a client reading text
// still gets an answer instead of waiting for its time-out.
constexpr std::string_view kGarbage = "\x15GARBAGE\xfe\xff,;?#x\n";

// A reply as the fault switches let it go out.
struct Outgoing {
    std::vector<std::string_view> now;  // sent at once
    std::string_view late;              // the block's line feed, sent after a pause
    AfterSend after = AfterSend::Continue;
};

Outgoing Shape(const Response& response, const FaultConfig& f) {
    Outgoing out;
    bool hasBlock = false;
    for (const auto& part : response.parts) {
        const std::string& bytes = *part.bytes;
        if (f.truncateData && part.block) {
            // Half the block, then the stream goes away.
            out.now.emplace_back(bytes.data(), bytes.size() / 2);
            out.after = AfterSend::Close;
            return out;
        }
        hasBlock = hasBlock || part.block;
        if (part.block && f.indefiniteBlocks && bytes.size() >= 2) {
            // "#0" and the data: the header's length digits left out.
            const size_t skip = std::min(bytes.size(), 2 + static_cast<size_t>(bytes[1] - '0'));
            out.now.emplace_back("#0");
            out.now.emplace_back(bytes.data() + skip, bytes.size() - skip);
        } else {
            out.now.emplace_back(bytes);
        }
        out.after = part.after;
        if (out.after != AfterSend::Continue) return out;
    }
    // The terminator that ends a block reply (the last part, a lone line
    // feed) follows the block late.
    if (hasBlock && f.lateTerminatorMs > 0 && !response.parts.back().block &&
        *response.parts.back().bytes == "\n") {
        out.late = out.now.back();
        out.now.pop_back();
    }
    return out;
}

}  // namespace

StreamEnd ServeByteStream(Instrument& instrument, ByteStream& stream) {
    MessageFramer framer;
    long received = 0;
    std::vector<char> buf(1 << 16);
    for (;;) {
        const size_t n = stream.receive(buf.data(), buf.size());
        if (n == 0) return StreamEnd::kEnded;
        framer.feed(buf.data(), n);
        if (framer.takeOverflow()) {
            instrument.WithState(
                [](ScopeState& s) { s.PushError(scpi_error::kTooMuchData, "Too much data"); });
        }
        while (auto message = framer.next()) {
            if (Trim(*message).empty()) continue;
            const FaultConfig before = instrument.Faults();
            // The message after the last allowed one is neither run nor
            // answered: the stream just goes away.
            const bool simulatorOnly = IsSimulatorMessage(*message);
            if (!simulatorOnly && before.dropAfter >= 0 && received >= before.dropAfter)
                return StreamEnd::kClose;
            if (!simulatorOnly) ++received;

            const Response response = instrument.Execute(*message);
            if (response.empty()) continue;
            const FaultConfig f = response.simulator ? FaultConfig{} : instrument.Faults();
            if (response.identification && !stream.pause(f.idnDelayMs)) return StreamEnd::kEnded;
            if (!stream.pause(f.delayMs)) return StreamEnd::kEnded;
            if (f.silent) continue;
            if (f.garbage) {
                if (!stream.send({kGarbage})) return StreamEnd::kEnded;
                continue;
            }
            const Outgoing out = Shape(response, f);
            if (!stream.send(out.now)) return StreamEnd::kEnded;
            if (out.after == AfterSend::Close) return StreamEnd::kClose;
            if (out.after == AfterSend::Reset) return StreamEnd::kReset;
            if (!out.late.empty() &&
                (!stream.pause(f.lateTerminatorMs) || !stream.send({out.late})))
                return StreamEnd::kEnded;
        }
    }
}

}  // namespace cvn::sim
