// Feeds arbitrary reply texts to the reply conversions and to the session's
// number-array fill, and checks that they agree with each other: trimming
// only removes blanks, fields join back into the reply, a number survives
// printing and reading back, and the array fill converts exactly the fields
// that fit.
//
// Input: one byte with the array size, then the reply.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "fuzz/ScriptedTransport.h"
#include "io/IoError.h"
#include "io/IoSession.h"
#include "io/ReplyConvert.h"

namespace {

using cvn::io::splitFields;
using cvn::io::toInt16;
using cvn::io::toNumber;
using cvn::io::trimReply;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void checkTrim(std::string_view text) {
    const std::string_view t = trimReply(text);
    if (t.empty()) {
        for (char c : text) FUZZ_CHECK(isBlank(c));
        return;
    }
    FUZZ_CHECK(t.data() >= text.data() && t.data() + t.size() <= text.data() + text.size());
    FUZZ_CHECK(!isBlank(t.front()) && !isBlank(t.back()));
    for (const char* p = text.data(); p < t.data(); ++p) FUZZ_CHECK(isBlank(*p));
    for (const char* p = t.data() + t.size(); p < text.data() + text.size(); ++p)
        FUZZ_CHECK(isBlank(*p));
}

void checkNumber(std::string_view text) {
    const auto v = toNumber(text);
    FUZZ_CHECK(toNumber(trimReply(text)) == v);
    const auto i = toInt16(text);
    if (!v) {
        FUZZ_CHECK(!i);
        return;
    }
    FUZZ_CHECK(std::isfinite(*v));
    // The shortest exact form is itself an instrument number.
    char printed[64];
    std::snprintf(printed, sizeof printed, "%.17g", *v);
    const auto again = toNumber(printed);
    FUZZ_CHECK(again && *again == *v);
    if (i) FUZZ_CHECK(std::fabs(*v - *i) <= 0.5);
    if (*v >= -32768.0 && *v <= 32767.0) FUZZ_CHECK(i.has_value());
}

void checkFields(std::string_view reply) {
    const auto fields = splitFields(reply);
    FUZZ_CHECK(!fields.empty());
    const std::string joined = cvn::fuzz::joinFields(fields);
    std::string_view body = reply;
    if (!body.empty() && body.back() == '\n') body.remove_suffix(1);
    if (!body.empty() && body.back() == '\r') body.remove_suffix(1);
    FUZZ_CHECK(joined == body);
}

// The same reply through a session, the way the driver fills number arrays.
void checkArrayFill(const std::string& reply, size_t capacity) {
    const std::string stream = reply + "\n";
    auto transport =
        std::make_unique<cvn::fuzz::ScriptedTransport>(stream, std::vector<uint8_t>{}, false, true);
    cvn::io::IoSession session("FUZZ::REPLY", std::move(transport));
    std::array<double, 64> target;
    target.fill(-12345.0);
    // The session's reply ends at the first line feed.
    const auto fields = splitFields(stream.substr(0, stream.find('\n') + 1));
    size_t expected = std::min(fields.size(), capacity);
    bool allNumbers = true;
    for (size_t i = 0; i < expected; ++i) allNumbers = allNumbers && toNumber(fields[i]);
    try {
        const size_t filled = session.EnterNumbers(std::span<double>(target.data(), capacity));
        FUZZ_CHECK(allNumbers);
        FUZZ_CHECK(filled == expected);
        for (size_t i = 0; i < filled; ++i) FUZZ_CHECK(target[i] == *toNumber(fields[i]));
        for (size_t i = filled; i < target.size(); ++i) FUZZ_CHECK(target[i] == -12345.0);
    } catch (const cvn::io::IoError& e) {
        FUZZ_CHECK(e.code() == cvn::io::kIoMalformed);
        FUZZ_CHECK(!allNumbers);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t capacity = data[0] % 65;
    const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);

    checkTrim(reply);
    checkNumber(reply);
    checkFields(reply);
    for (const std::string& field : splitFields(reply)) {
        checkTrim(field);
        checkNumber(field);
    }
    checkArrayFill(reply, capacity);
    return 0;
}
