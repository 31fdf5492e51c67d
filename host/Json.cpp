// JSON text for the host's machine-readable output.
#include "host/Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "host/ReplyText.h"

namespace cvn::host {

using automation::Variant;
using automation::VarType;

std::string JsonQuote(std::string_view bytes) {
    // Replies are bytes: a byte that is not UTF-8 is read as Latin-1, so the
    // text stays valid JSON whatever the instrument sent.
    const std::string text = Utf8Text(bytes);
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default: {
                // Other control characters, C1 (U+0080..U+009F, "\xC2\x80"..)
                // included, as escapes: a terminal shown the JSON must not act
                // on them.
                unsigned code = c;
                if (c == 0xC2 && i + 1 < text.size() &&
                    IsControlCharacter(static_cast<unsigned char>(text[i + 1])))
                    code = static_cast<unsigned char>(text[++i]);
                if (IsControlCharacter(code)) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", code);
                    out += buf;
                } else {
                    out += ch;
                }
            }
        }
    }
    out += '"';
    return out;
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string JsonOf(const Variant& v) {
    if (v.isEmpty()) return "null";
    if (v.isString()) return JsonQuote(v.toString());
    if (v.isObject()) return "\"<object>\"";
    if (v.isArray()) {
        const automation::Array& a = v.array();
        std::string out = "[";
        for (int32_t i = a.lowerBound(); i <= a.upperBound(); ++i) {
            if (i != a.lowerBound()) out += ',';
            out += JsonOf(a.get(i));
        }
        return out + "]";
    }
    switch (v.type()) {
        case VarType::Boolean:
            return v.toBool() ? "true" : "false";
        case VarType::Double:
            return JsonNumber(v.toDouble());
        default:
            return std::to_string(v.toLong());
    }
}

void JsonWriter::separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) out_ += ',';
        first_.back() = false;
    }
}

JsonWriter& JsonWriter::beginObject() {
    separate();
    out_ += '{';
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    out_ += '}';
    first_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::beginArray() {
    separate();
    out_ += '[';
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    out_ += ']';
    first_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    separate();
    out_ += JsonQuote(name);
    out_ += ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
    return raw(JsonQuote(text));
}

JsonWriter& JsonWriter::value(double number) {
    return raw(JsonNumber(number));
}

JsonWriter& JsonWriter::value(int64_t number) {
    return raw(std::to_string(number));
}

JsonWriter& JsonWriter::value(bool flag) {
    return raw(flag ? "true" : "false");
}

JsonWriter& JsonWriter::raw(std::string_view json) {
    separate();
    out_ += json;
    return *this;
}

JsonWriter& JsonWriter::numbers(const std::vector<double>& values) {
    beginArray();
    // Built directly: raw data sets can hold millions of values.
    std::string& out = out_;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) out += ',';
        out += JsonNumber(values[i]);
        if ((i & 0xfff) == 0xfff) flush();
    }
    first_.back() = values.empty();
    return endArray();
}

}  // namespace cvn::host
