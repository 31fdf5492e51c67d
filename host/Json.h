// A small JSON text builder for the host's --json output and raw.json.
// Values are appended in order; the builder inserts the commas.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Variant.h"
#include "support/AtomicFile.h"

namespace cvn::host {

std::string JsonQuote(std::string_view text);
// Shortest text that reads back as the same double; null for NaN/infinity.
std::string JsonNumber(double value);
// Strings quoted, numbers as numbers, Booleans as true/false, Empty as null,
// arrays as JSON arrays, objects as "<object>".
std::string JsonOf(const automation::Variant& value);

class JsonWriter {
public:
    // Builds the text in memory (text()).
    JsonWriter() = default;
    // Appends to the file's buffer instead, letting it go to the file as
    // it grows: raw.json of an 8M-point capture never sits in memory whole.
    explicit JsonWriter(AtomicFileWriter& file) : out_(file.buffer()), file_(&file) {}
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

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
    void flush() {
        if (file_) file_->flush();
    }

    std::string own_;
    std::string& out_ = own_;
    AtomicFileWriter* file_ = nullptr;
    std::vector<bool> first_;
    bool afterKey_ = false;
};

}  // namespace cvn::host
