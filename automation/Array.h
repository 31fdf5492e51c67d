// One-dimensional automation arrays: element type, lower bound and elements
// of byte, 16-bit, 32-bit, double or variant.
//
// Copy semantics: an Array is a value, shared copy-on-write. Copying one
// (and so copying a Variant that holds one) is cheap and shares the
// elements; the first write through either copy (set, redim, append, edit)
// gives that copy its own elements first. Reads never copy. Large sample
// vectors are taken over without copying with adopt(std::move(vector)) and
// read back in place with view<T>().
//
// A span from edit<T>() is valid until the array is resized or destroyed.
// Writes through it after the array has been copied would show in the copy
// too, so finish writing before handing the array on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

#include "automation/VarType.h"
#include "support/DataVector.h"

namespace cvn::automation {

class Variant;

template <typename T>
concept ArrayElement = std::is_same_v<T, uint8_t> || std::is_same_v<T, int16_t> ||
    std::is_same_v<T, int32_t> || std::is_same_v<T, double> || std::is_same_v<T, Variant>;

template <ArrayElement T>
constexpr VarType elementTypeFor() {
    if constexpr (std::is_same_v<T, uint8_t>) return VarType::Byte;
    if constexpr (std::is_same_v<T, int16_t>) return VarType::Integer;
    if constexpr (std::is_same_v<T, int32_t>) return VarType::Long;
    if constexpr (std::is_same_v<T, double>) return VarType::Double;
    return VarType::Variant;
}

class Array {
public:
    // No elements, element type Variant, lower bound 0.
    Array();
    // count zero-valued (Empty for Variant) elements. Throws AutomationError
    // 5 for an element type arrays cannot hold, 6 when the bounds would not
    // fit 32 bits.
    Array(VarType elementType, int32_t lowerBound, size_t count);

    // Takes the vector's storage over; data() afterwards is values.data().
    template <ArrayElement T>
    static Array adopt(DataVector<T>&& values, int32_t lowerBound = 0);
    template <ArrayElement T>
    static Array copyOf(std::span<const T> values, int32_t lowerBound = 0);

    VarType elementType() const noexcept;
    int32_t lowerBound() const noexcept;
    // lowerBound() - 1 for an array without elements.
    int32_t upperBound() const noexcept;
    size_t count() const noexcept;
    bool empty() const noexcept { return count() == 0; }

    // Element at a subscript between the bounds, as a Variant of the element
    // type; AutomationError 9 outside the bounds.
    Variant get(int32_t index) const;
    // Stores value converted to the element type (errors 13 and 6 of the
    // conversion; 9 outside the bounds).
    void set(int32_t index, const Variant& value);

    // ReDim Preserve: new upper bound, same lower bound, elements kept (new
    // ones zero, shrinking drops the tail). AutomationError 9 when the new
    // upper bound is below lowerBound() - 1.
    void redimPreserve(int32_t newUpperBound);
    // ReDim: new bounds, all elements zero, element type kept.
    void redim(int32_t lowerBound, int32_t upperBound);
    // Grows the array by other.count() elements and stores other's elements
    // there in order, converted to this array's element type.
    void append(const Array& other);

    // Contiguous elements; AutomationError 13 when T is not the element type.
    template <ArrayElement T>
    std::span<const T> view() const;
    // The same for writing; unshares the elements first (see above).
    template <ArrayElement T>
    std::span<T> edit();
    // Moves the elements out (copies them when they are shared); leaves this
    // array without elements. AutomationError 13 when T is not the element
    // type.
    template <ArrayElement T>
    DataVector<T> takeVector();

    const void* data() const noexcept;
    bool sharesStorageWith(const Array& other) const noexcept { return s_ == other.s_; }

    // Same element type, lower bound and elements.
    friend bool operator==(const Array& a, const Array& b);

    struct Storage;

private:
    explicit Array(std::shared_ptr<Storage> s) : s_(std::move(s)) {}
    Storage& writable();
    size_t offsetOf(int32_t index) const;

    std::shared_ptr<Storage> s_;
};

}  // namespace cvn::automation
