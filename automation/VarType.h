// The kinds of value a Variant holds and the types that type information
// describes. The numbers are those of the usual automation type codes, so a
// dump of the type library reads the way automation programmers expect.
#pragma once

#include <cstdint>
#include <string>

namespace cvn::automation {

enum class VarType : uint16_t {
    Empty = 0,
    Integer = 2,  // 16-bit signed
    Long = 3,     // 32-bit signed
    Double = 5,
    String = 8,
    Object = 9,    // reference to a dispatch object (or none)
    Boolean = 11,  // True is -1
    Variant = 12,  // any kind; in type information and as an array element type
    Byte = 17,
    Void = 24,  // "no result" in type information
    ArrayFlag = 0x2000,
};

constexpr VarType arrayOf(VarType element) {
    return static_cast<VarType>(static_cast<uint16_t>(element) |
                                static_cast<uint16_t>(VarType::ArrayFlag));
}
constexpr bool isArrayType(VarType t) {
    return (static_cast<uint16_t>(t) & static_cast<uint16_t>(VarType::ArrayFlag)) != 0;
}
constexpr VarType elementTypeOf(VarType t) {
    return static_cast<VarType>(static_cast<uint16_t>(t) &
                                ~static_cast<uint16_t>(VarType::ArrayFlag));
}
// The element types an Array can hold.
constexpr bool isArrayElementType(VarType t) {
    return t == VarType::Byte || t == VarType::Integer || t == VarType::Long ||
           t == VarType::Double || t == VarType::Variant;
}

// Basic-style names: "Integer", "Double()", "Variant".
std::string typeName(VarType t);

}  // namespace cvn::automation
