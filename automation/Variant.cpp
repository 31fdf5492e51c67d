#include "automation/Variant.h"

#include <algorithm>
#include <cctype>

#include "automation/AutomationError.h"
#include "automation/Convert.h"
#include "automation/TypeInfo.h"
#include "support/Text.h"

namespace cvn::automation {

namespace {

[[noreturn]] void mismatch(const Variant& from, VarType to) {
    throw AutomationError(
        ErrorNumber::TypeMismatch,
        "Type mismatch: cannot convert " + typeName(from.type()) + " to " + typeName(to),
        kDefaultErrorSource);
}

std::string_view trimBlanks(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string typeName(VarType t) {
    if (isArrayType(t)) return typeName(elementTypeOf(t)) + "()";
    switch (t) {
        case VarType::Empty:
            return "Empty";
        case VarType::Integer:
            return "Integer";
        case VarType::Long:
            return "Long";
        case VarType::Double:
            return "Double";
        case VarType::String:
            return "String";
        case VarType::Object:
            return "Object";
        case VarType::Boolean:
            return "Boolean";
        case VarType::Variant:
            return "Variant";
        case VarType::Byte:
            return "Byte";
        case VarType::Void:
            return "Void";
        case VarType::ArrayFlag:
            break;
    }
    return "Unknown";
}

Variant::Variant(const Variant& other) = default;
Variant::Variant(Variant&& other) noexcept = default;
Variant& Variant::operator=(const Variant& other) = default;
Variant& Variant::operator=(Variant&& other) noexcept = default;
Variant::~Variant() = default;

VarType Variant::type() const noexcept {
    switch (v_.index()) {
        case 0:
            return VarType::Empty;
        case 1:
            return VarType::Boolean;
        case 2:
            return VarType::Byte;
        case 3:
            return VarType::Integer;
        case 4:
            return VarType::Long;
        case 5:
            return VarType::Double;
        case 6:
            return VarType::String;
        case 7:
            return VarType::Object;
        default:
            return arrayOf(std::get<Array>(v_).elementType());
    }
}

// Every numeric conversion goes through double: all the integer kinds fit
// exactly, and the range checks then happen in one place.
double Variant::numberOrMismatch() const {
    return std::visit(
        [this](const auto& v) -> double {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return 0.0;
            } else if constexpr (std::is_same_v<T, bool>) {
                return v ? -1.0 : 0.0;
            } else if constexpr (std::is_arithmetic_v<T>) {
                return static_cast<double>(v);
            } else if constexpr (std::is_same_v<T, std::string>) {
                if (auto n = parseNumber(v)) return *n;
                mismatch(*this, VarType::Double);
            } else {
                mismatch(*this, VarType::Double);
            }
        },
        v_);
}

double Variant::toDouble() const {
    return numberOrMismatch();
}

int32_t Variant::toLong() const {
    if (const auto* i = std::get_if<int32_t>(&v_)) return *i;
    return automation::toLong(numberOrMismatch());
}

int16_t Variant::toInteger() const {
    if (const auto* i = std::get_if<int16_t>(&v_)) return *i;
    return automation::toInteger(numberOrMismatch());
}

uint8_t Variant::toByte() const {
    if (const auto* b = std::get_if<uint8_t>(&v_)) return *b;
    return automation::toByte(numberOrMismatch());
}

bool Variant::toBool() const {
    if (const auto* b = std::get_if<bool>(&v_)) return *b;
    if (const auto* s = std::get_if<std::string>(&v_)) {
        std::string_view text = trimBlanks(*s);
        if (EqualsIgnoringCase(text, "True")) return true;
        if (EqualsIgnoringCase(text, "False")) return false;
        if (auto n = parseNumber(text)) return *n != 0.0;
        mismatch(*this, VarType::Boolean);
    }
    if (isObject() || isArray()) mismatch(*this, VarType::Boolean);
    return numberOrMismatch() != 0.0;
}

std::string Variant::toString() const {
    return std::visit(
        [this](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return {};
            } else if constexpr (std::is_same_v<T, bool>) {
                return v ? "True" : "False";
            } else if constexpr (std::is_same_v<T, double>) {
                return formatNumber(v);
            } else if constexpr (std::is_arithmetic_v<T>) {
                return std::to_string(v);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return v;
            } else {
                mismatch(*this, VarType::String);
            }
        },
        v_);
}

DispatchRef Variant::toObject() const {
    if (const auto* o = std::get_if<DispatchRef>(&v_)) return *o;
    mismatch(*this, VarType::Object);
}

Variant Variant::convertTo(VarType target) const {
    if (isArrayType(target)) {
        if (!isArray()) mismatch(*this, target);
        const Array& source = array();
        VarType element = elementTypeOf(target);
        if (source.elementType() == element) return *this;
        Array converted(element, source.lowerBound(), 0);
        converted.append(source);
        return Variant(std::move(converted));
    }
    switch (target) {
        case VarType::Empty:
            return Variant();
        case VarType::Boolean:
            return Variant(toBool());
        case VarType::Byte:
            return Variant(toByte());
        case VarType::Integer:
            return Variant(toInteger());
        case VarType::Long:
            return Variant(toLong());
        case VarType::Double:
            return Variant(toDouble());
        case VarType::String:
            return Variant(toString());
        case VarType::Object:
            return Variant(toObject());
        case VarType::Variant:
            return *this;
        default:
            mismatch(*this, target);
    }
}

const Array& Variant::array() const {
    if (const auto* a = std::get_if<Array>(&v_)) return *a;
    mismatch(*this, arrayOf(VarType::Variant));
}

Array& Variant::array() {
    if (auto* a = std::get_if<Array>(&v_)) return *a;
    mismatch(*this, arrayOf(VarType::Variant));
}

bool operator==(const Variant& a, const Variant& b) {
    return a.v_ == b.v_;
}

std::string describe(const Variant& v) {
    std::string kind = typeName(v.type());
    if (v.isEmpty()) return kind;
    if (v.isObject()) return v.toObject() ? kind : kind + " Nothing";
    if (v.isArray()) {
        const Array& a = v.array();
        return kind + " (" + std::to_string(a.lowerBound()) + " To " +
               std::to_string(a.upperBound()) + ")";
    }
    if (v.isString()) return kind + " \"" + v.toString() + "\"";
    return kind + " " + v.toString();
}

}  // namespace cvn::automation
