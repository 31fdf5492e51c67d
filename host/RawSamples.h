// The raw values of one data set as the add-in delivered them: a window on
// the YData array, in its own element type (16-bit words, bytes), shared
// with the array and never copied. Values and times are computed from it
// wherever they are needed, a stretch at a time, so a record of millions of
// points never exists as doubles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "automation/Variant.h"

namespace cvn::host {

class RawSamples {
public:
    enum class Type { Byte, Word, Long, Double };

    RawSamples() = default;
    // count elements of the array held by `array`, from offset. Arrays of
    // variants (an unfilled result) are read into doubles.
    RawSamples(const automation::Variant& array, size_t offset, size_t count);
    // Owned values, for data sets made by hand.
    RawSamples(std::vector<double> values);  // NOLINT: implicit on purpose
    RawSamples& operator=(std::vector<double> values) {
        return *this = RawSamples(std::move(values));
    }
    void assign(size_t count, double value) { *this = std::vector<double>(count, value); }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Type type() const { return type_; }
    const void* data() const { return data_; }
    double operator[](size_t i) const {
        switch (type_) {
            case Type::Byte:
                return static_cast<const uint8_t*>(data_)[i];
            case Type::Word:
                return static_cast<const int16_t*>(data_)[i];
            case Type::Long:
                return static_cast<const int32_t*>(data_)[i];
            default:
                return static_cast<const double*>(data_)[i];
        }
    }
    // Calls f with a std::span of the elements in their own type.
    template <typename F>
    decltype(auto) visit(F&& f) const {
        switch (type_) {
            case Type::Byte:
                return f(std::span<const uint8_t>(static_cast<const uint8_t*>(data_), size_));
            case Type::Word:
                return f(std::span<const int16_t>(static_cast<const int16_t*>(data_), size_));
            case Type::Long:
                return f(std::span<const int32_t>(static_cast<const int32_t*>(data_), size_));
            default:
                return f(std::span<const double>(static_cast<const double*>(data_), size_));
        }
    }
    std::vector<double> ToVector() const;
    friend bool operator==(const RawSamples& a, const std::vector<double>& b) {
        return a.ToVector() == b;
    }

private:
    automation::Variant owner_;                       // keeps a shared array alive
    std::shared_ptr<const std::vector<double>> own_;  // or owned values
    const void* data_ = nullptr;
    size_t size_ = 0;
    Type type_ = Type::Double;
};

}  // namespace cvn::host
