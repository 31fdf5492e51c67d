// A small JSON text builder for the host's --json output and raw.json.
// Values are appended in order; the builder inserts the commas.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Variant.h"

namespace cvn::host {

std::string JsonQuote(std::string_view text);
// Shortest text that reads back as the same double; null for NaN/infinity.
std::string JsonNumber(double value);
// Strings quoted, numbers as numbers, Booleans as true/false, Empty as null,
// arrays as JSON arrays, objects as "<object>".
std::string JsonOf(const automation::Variant& value);

class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    // Inside an object: the next value's name.
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
    JsonWriter& value(double number);
    JsonWriter& value(int64_t number);
    JsonWriter& value(int32_t number) { return value(static_cast<int64_t>(number)); }
    JsonWriter& value(size_t number) { return value(static_cast<int64_t>(number)); }
    JsonWriter& value(bool flag);
    // Already formatted JSON.
    JsonWriter& raw(std::string_view json);
    JsonWriter& numbers(const std::vector<double>& values);

    const std::string& text() const { return out_; }

private:
    void separate();

    std::string out_;
    std::vector<bool> first_;
    bool afterKey_ = false;
};

}  // namespace cvn::host
