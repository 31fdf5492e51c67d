// Feeds an arbitrary byte stream to the simulator the way its server does:
// cut into messages by the framer (in pieces of a size the input picks),
// parsed, and run against a fresh simulated scope. Nothing may crash, and
// what the scope sends must be well formed: blocks carry a correct header
// and text replies end with one line feed.
//
// Input: one byte with the piece size (0: all at once), then the stream.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "sim/instrument/Instrument.h"
#include "sim/instrument/ScopeState.h"
#include "sim/instrument/ScpiParser.h"
#include "support/Text.h"

namespace {

using namespace cvn::sim;

// Record lengths stay this small, so that a waveform or a measurement over
// the whole record costs microseconds, not seconds.
constexpr long kPointsCap = 20000;

// Looked up once: finding the default model walks the whole model table.
ScopeState smallScope() {
    static const ModelInfo model = [] {
        ModelInfo m = ModelInfo::FromTable(ModelInfo::DefaultId());
        m.maxRecordLength = kPointsCap;
        return m;
    }();
    return ScopeState(model);
}

// A message that sets a record length above the cap is not run: the only
// command that sets one names "POINts" and takes a number.
bool asksForLargeRecord(std::string_view message) {
    if (ToUpper(message).find("POIN") == std::string::npos) return false;
    const auto isNumberChar = [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' || c == 'E' ||
               c == '+' || c == '-';
    };
    for (size_t i = 0; i < message.size();) {
        if (!isNumberChar(message[i])) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < message.size() && isNumberChar(message[j])) ++j;
        // Arguments are cut at blanks and commas, so a number argument is
        // always one whole run of these characters.
        const auto v = ParseNumber(message.substr(i, j - i));
        if (v && std::abs(*v) > kPointsCap) return true;
        i = j;
    }
    return false;
}

void checkParsing(const std::string& message) {
    for (const std::string& text : SplitCommands(message)) {
        FUZZ_CHECK(!text.empty());
        FUZZ_CHECK(Trim(text) == text);
        const auto command = ParseCommand(text);
        if (!command) continue;
        FUZZ_CHECK(!command->header.empty());
        for (const std::string& arg : command->args) {
            FUZZ_CHECK(Trim(arg) == arg);
            (void)Unquote(arg);
            (void)ParseBoolean(arg);
            if (const auto v = ParseNumber(arg)) {
                const auto again = ParseNumber(FormatReal(*v));
                FUZZ_CHECK(again.has_value());
            }
            (void)KeywordMatches(arg, "MSBFirst");
            (void)KeywordSuffix(arg, "CHANnel");
            (void)ParseSource(arg);
        }
    }
}

// Definite blocks: "#", one digit n, n digits of length, then exactly that
// many bytes.
void checkBlock(const std::string& block) {
    FUZZ_CHECK(block.size() >= 2 && block[0] == '#');
    FUZZ_CHECK(block[1] >= '1' && block[1] <= '9');
    const size_t digits = static_cast<size_t>(block[1] - '0');
    FUZZ_CHECK(block.size() >= 2 + digits);
    const size_t length = std::stoul(block.substr(2, digits));
    FUZZ_CHECK(block.size() == 2 + digits + length);
}

void checkResponse(const Response& response) {
    if (response.empty()) return;
    for (const auto& part : response.parts) {
        FUZZ_CHECK(part.bytes != nullptr);
        if (part.block) checkBlock(*part.bytes);
    }
    const auto& last = response.parts.back();
    FUZZ_CHECK(!last.block && !last.bytes->empty() && last.bytes->back() == '\n');
}

// Faults under which the scope sends broken blocks on purpose.
bool breaksBlocks(Instrument& scope) {
    return scope.WithState([](ScopeState& s) {
        const FaultConfig& f = s.faults;
        return f.lyingHeader != LyingHeader::Off || f.cutData || f.resetScreen;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = data[0] == 0 ? size : data[0];
    const char* stream = reinterpret_cast<const char*>(data) + 1;
    const size_t length = size - 1;

    Instrument scope(smallScope());
    MessageFramer framer;
    for (size_t at = 0; at < length; at += piece) {
        framer.feed(stream + at, std::min(piece, length - at));
        while (auto message = framer.next()) {
            checkParsing(*message);
            (void)IsSimulatorMessage(*message);
            if (asksForLargeRecord(*message)) continue;
            // A message may switch such a fault on and off again around a
            // query, so any message that touches the faults is let off too.
            const bool broken = breaksBlocks(scope) || cvn::ContainsIgnoringCase(*message, "FAUL");
            const Response response = scope.Execute(*message);
            if (!broken && !breaksBlocks(scope)) checkResponse(response);
            FUZZ_CHECK(scope.WithState([](ScopeState& s) { return s.recordLength; }) <=
                       ScopeState::kMaxRecordLength);
        }
        (void)framer.takeOverflow();
    }
    return 0;
}
