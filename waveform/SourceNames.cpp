#include "waveform/SourceNames.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "io/IoError.h"
#include "io/ReplyConvert.h"
#include "support/Text.h"

namespace cvn {
namespace {

// The part of an entry that names the source: an empty entry means channel
// 1, and "CHAN" (upper case only) is cut off with everything before it.
std::string sourcePart(const std::string& entry) {
    if (entry.empty()) return "1";
    size_t at = entry.rfind("CHAN");
    return at == std::string::npos ? entry : entry.substr(at + 4);
}

// The entry's channel number, rounded half to even, when it reads as one.
std::optional<long long> channelNumber(const std::string& text) {
    auto value = io::toNumber(text);
    if (!value) return std::nullopt;
    double rounded = std::nearbyint(*value);
    if (!(std::fabs(rounded) <= static_cast<double>(std::numeric_limits<int32_t>::max())))
        return std::nullopt;
    return static_cast<long long>(rounded);
}

std::string plainDecimal(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace

void SourceKeyword(std::string& entry, int32_t& code) {
    const std::string kept = sourcePart(entry);
    if (auto n = channelNumber(kept)) {
        code = static_cast<int32_t>(*n);
        entry = " Channel" + std::to_string(*n >= 1 && *n <= 4 ? *n : 1);
        return;
    }
    const std::string text = ToUpperAscii(kept);
    if (ContainsIgnoringCase(text, "POD1")) {
        entry = " POD1";
        code = kCodePod1;
    } else if (ContainsIgnoringCase(text, "POD2")) {
        entry = " POD2";
        code = kCodePod2;
    } else if (ContainsIgnoringCase(text, "Math") || ContainsIgnoringCase(text, "Func")) {
        entry = " Func";
        code = kCodeFunction;
    } else {
        entry = text;
    }
}

bool IsWordSource(const std::string& keyword) {
    return !(ContainsIgnoringCase(keyword, "POD") && !ContainsIgnoringCase(keyword, "PODAll"));
}

std::optional<std::string> AxisDescription(io::IoSession* session, const std::string& entry,
                                           int16_t bit) {
    const std::string kept = sourcePart(entry);
    if (auto n = io::toNumber(kept)) return "sec,Volt,sec,ch" + plainDecimal(*n);
    const std::string text = ToUpperAscii(kept);
    for (const char* pod : {"POD1", "POD2"}) {
        if (!ContainsIgnoringCase(text, pod)) continue;
        if (bit < 0) return std::string("sec,byte,sec,Pod") + pod[3];
        return "sec,byte,sec,D" + std::to_string(bit);
    }
    if (ContainsIgnoringCase(text, "Func") || ContainsIgnoringCase(text, "Math")) {
        if (!session) throw io::IoError(io::kIoNoSession, "No session is open");
        session->Output(":FUNC1?");
        const std::string reply = session->EnterText();
        struct Row {
            const char* key;
            const char* description;
        };
        static constexpr Row rows[] = {{"FFT", "Hz,dB,Hz,FFT-dB"},
                                       {"DIFF", "sec,V/s,sec,DIFF-V/s"},
                                       {"INT", "sec,Vs,sec,INT-Vs"},
                                       {"MULT", "sec,V V,sec,MULT-VV"},
                                       {"SUBT", "sec,V V,sec,SUBT-V"}};
        for (const auto& row : rows)
            if (ContainsIgnoringCase(reply, row.key)) return std::string(row.description);
        return std::string("sec,Volt,x-axis,y-axis");
    }
    return std::nullopt;
}

}  // namespace cvn
