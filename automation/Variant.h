// The automation Variant: Empty, Boolean (True is -1), Byte, Integer
// (16-bit), Long (32-bit), Double, String (UTF-8), object reference and
// array. Conversions between the kinds follow the automation runtime: numbers
// round half to even and fail with 6 (overflow) when out of range; anything
// that cannot be converted fails with 13 (type mismatch).
//
// A Variant is a value: copying it copies strings, adds a reference to an
// object, and shares an array copy-on-write (Array.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "automation/Array.h"
#include "automation/IDispatchObject.h"
#include "automation/VarType.h"

namespace cvn::automation {

class Variant {
public:
    Variant() noexcept = default;
    // Out of line on purpose: inlined std::variant copies of a value known
    // to be Empty make GCC 12 warn about uninitialized reads in every caller.
    Variant(const Variant& other);
    Variant(Variant&& other) noexcept;
    Variant& operator=(const Variant& other);
    Variant& operator=(Variant&& other) noexcept;
    ~Variant();
    Variant(bool value) : v_(std::in_place_type<bool>, value) {}
    Variant(uint8_t value) : v_(std::in_place_type<uint8_t>, value) {}
    Variant(int16_t value) : v_(std::in_place_type<int16_t>, value) {}
    Variant(int32_t value) : v_(std::in_place_type<int32_t>, value) {}
    Variant(double value) : v_(std::in_place_type<double>, value) {}
    Variant(std::string value) : v_(std::in_place_type<std::string>, std::move(value)) {}
    Variant(std::string_view value) : v_(std::in_place_type<std::string>, value) {}
    Variant(const char* value) : v_(std::in_place_type<std::string>, value) {}
    Variant(DispatchRef object) : v_(std::in_place_type<DispatchRef>, std::move(object)) {}
    template <typename U>
    requires(std::is_base_of_v<IDispatchObject, U> && !std::is_same_v<U, IDispatchObject>)
        Variant(Ref<U> object)
        : v_(std::in_place_type<DispatchRef>, std::move(object)) {}
    Variant(Array array) : v_(std::in_place_type<Array>, std::move(array)) {}
    // Takes the vector over without copying (see Array::adopt).
    template <ArrayElement T>
    explicit Variant(DataVector<T>&& values)
        : v_(std::in_place_type<Array>, Array::adopt(std::move(values))) {}
    // Any other pointer would silently become a Boolean.
    template <typename P>
    Variant(P*) = delete;

    // The kind held; for an array arrayOf(element type).
    VarType type() const noexcept;
    bool isEmpty() const noexcept { return v_.index() == 0; }
    bool isArray() const noexcept { return std::holds_alternative<Array>(v_); }
    bool isObject() const noexcept { return std::holds_alternative<DispatchRef>(v_); }
    bool isString() const noexcept { return std::holds_alternative<std::string>(v_); }

    // Conversions. Empty reads as 0, False or "". Strings convert to numbers
    // when they read as one (invariant format); to Boolean also "True" and
    // "False" in any letter case. Booleans read as -1 and 0, and as "True"
    // and "False". Objects and arrays convert to nothing else (13).
    bool toBool() const;
    uint8_t toByte() const;
    int16_t toInteger() const;
    int32_t toLong() const;
    double toDouble() const;
    std::string toString() const;
    // The object, or a null reference for an object Variant holding none;
    // 13 for other kinds.
    DispatchRef toObject() const;

    // A Variant of the given kind (VarType::Variant: an unchanged copy).
    Variant convertTo(VarType target) const;

    // The array held; 13 when the Variant holds none.
    const Array& array() const;
    Array& array();

    // Same kind and value; objects by identity, arrays element by element.
    friend bool operator==(const Variant& a, const Variant& b);

private:
    double numberOrMismatch() const;

    std::variant<std::monostate, bool, uint8_t, int16_t, int32_t, double, std::string, DispatchRef,
                 Array>
        v_;
};

// Basic-style description for messages and logs: Integer 5, String "x", ...
std::string describe(const Variant& v);

}  // namespace cvn::automation
