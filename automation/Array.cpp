#include "automation/Array.h"

#include <algorithm>
#include <limits>
#include <variant>

#include "automation/AutomationError.h"
#include "automation/Variant.h"

namespace cvn::automation {

using Elements = std::variant<DataVector<uint8_t>, DataVector<int16_t>, DataVector<int32_t>,
                              DataVector<double>, DataVector<Variant>>;

struct Array::Storage {
    int32_t lowerBound = 0;
    Elements elements;
};

namespace {

constexpr VarType kElementTypes[] = {VarType::Byte, VarType::Integer, VarType::Long,
                                     VarType::Double, VarType::Variant};

Elements makeElements(VarType type, size_t count) {
    switch (type) {
        case VarType::Byte:
            return DataVector<uint8_t>(count, 0);
        case VarType::Integer:
            return DataVector<int16_t>(count, 0);
        case VarType::Long:
            return DataVector<int32_t>(count, 0);
        case VarType::Double:
            return DataVector<double>(count, 0.0);
        case VarType::Variant:
            return DataVector<Variant>(count);
        default:
            throw AutomationError(ErrorNumber::InvalidCall,
                                  "Arrays cannot hold elements of type " + typeName(type),
                                  kDefaultErrorSource);
    }
}

// The bounds of every array must be expressible as 32-bit subscripts.
void checkBounds(int32_t lowerBound, size_t count) {
    int64_t upper = static_cast<int64_t>(lowerBound) + static_cast<int64_t>(count) - 1;
    if (count > static_cast<size_t>(std::numeric_limits<int32_t>::max()) ||
        upper > std::numeric_limits<int32_t>::max()) {
        throw AutomationError(ErrorNumber::Overflow);
    }
}

template <typename T>
T convertElement(const Variant& v) {
    if constexpr (std::is_same_v<T, uint8_t>) return v.toByte();
    if constexpr (std::is_same_v<T, int16_t>) return v.toInteger();
    if constexpr (std::is_same_v<T, int32_t>) return v.toLong();
    if constexpr (std::is_same_v<T, double>) return v.toDouble();
    if constexpr (std::is_same_v<T, Variant>) return v;
}

[[noreturn]] void elementTypeMismatch(VarType held, VarType asked) {
    throw AutomationError(ErrorNumber::TypeMismatch,
                          "Array of " + typeName(held) + " accessed as array of " + typeName(asked),
                          kDefaultErrorSource);
}

}  // namespace

Array::Array() : s_(std::make_shared<Storage>(Storage{0, DataVector<Variant>()})) {}

Array::Array(VarType elementType, int32_t lowerBound, size_t count) {
    checkBounds(lowerBound, count);
    s_ = std::make_shared<Storage>(Storage{lowerBound, makeElements(elementType, count)});
}

template <ArrayElement T>
Array Array::adopt(DataVector<T>&& values, int32_t lowerBound) {
    checkBounds(lowerBound, values.size());
    return Array(std::make_shared<Storage>(
        Storage{lowerBound, Elements(std::in_place_type<DataVector<T>>, std::move(values))}));
}

template <ArrayElement T>
Array Array::copyOf(std::span<const T> values, int32_t lowerBound) {
    return adopt(DataVector<T>(values.begin(), values.end()), lowerBound);
}

VarType Array::elementType() const noexcept {
    return kElementTypes[s_->elements.index()];
}

int32_t Array::lowerBound() const noexcept {
    return s_->lowerBound;
}

int32_t Array::upperBound() const noexcept {
    return static_cast<int32_t>(static_cast<int64_t>(s_->lowerBound) +
                                static_cast<int64_t>(count()) - 1);
}

size_t Array::count() const noexcept {
    return std::visit([](const auto& v) { return v.size(); }, s_->elements);
}

size_t Array::offsetOf(int32_t index) const {
    int64_t offset = static_cast<int64_t>(index) - s_->lowerBound;
    if (offset < 0 || offset >= static_cast<int64_t>(count())) {
        throw AutomationError(ErrorNumber::SubscriptOutOfRange);
    }
    return static_cast<size_t>(offset);
}

Array::Storage& Array::writable() {
    if (s_.use_count() > 1) s_ = std::make_shared<Storage>(*s_);
    return *s_;
}

Variant Array::get(int32_t index) const {
    size_t off = offsetOf(index);
    return std::visit([off](const auto& v) { return Variant(v[off]); }, s_->elements);
}

void Array::set(int32_t index, const Variant& value) {
    size_t off = offsetOf(index);
    // Convert before unsharing: value may live inside the shared elements.
    std::visit(
        [&](auto& held) {
            using T = typename std::decay_t<decltype(held)>::value_type;
            T converted = convertElement<T>(value);
            std::get<DataVector<T>>(writable().elements)[off] = std::move(converted);
        },
        s_->elements);
}

void Array::redimPreserve(int32_t newUpperBound) {
    int64_t newCount = static_cast<int64_t>(newUpperBound) - s_->lowerBound + 1;
    if (newCount < 0) throw AutomationError(ErrorNumber::SubscriptOutOfRange);
    // New elements are zero (Empty for variants).
    std::visit(
        [newCount](auto& v) {
            using T = typename std::decay_t<decltype(v)>::value_type;
            v.resize(static_cast<size_t>(newCount), T{});
        },
        writable().elements);
}

void Array::redim(int32_t lowerBound, int32_t upperBound) {
    int64_t newCount = static_cast<int64_t>(upperBound) - lowerBound + 1;
    if (newCount < 0) throw AutomationError(ErrorNumber::SubscriptOutOfRange);
    *this = Array(elementType(), lowerBound, static_cast<size_t>(newCount));
}

void Array::append(const Array& other) {
    // Appending an array to itself: hold on to the elements being read, since
    // growing the target would otherwise move them.
    Array self;
    if (other.s_ == s_) self = other;
    const Array& source = other.s_ == s_ ? self : other;
    size_t oldCount = count();
    size_t added = source.count();
    checkBounds(lowerBound(), oldCount + added);
    if (added == 0) return;
    std::visit(
        [&](const auto& current) {
            using T = typename std::decay_t<decltype(current)>::value_type;
            // Convert everything before growing, so a failed conversion
            // leaves the array as it was.
            DataVector<T> converted;
            const DataVector<T>* from = std::get_if<DataVector<T>>(&source.s_->elements);
            if (!from) {
                converted.reserve(added);
                int32_t first = source.lowerBound();
                for (size_t i = 0; i < added; ++i) {
                    converted.push_back(
                        convertElement<T>(source.get(first + static_cast<int32_t>(i))));
                }
                from = &converted;
            }
            auto& target = std::get<DataVector<T>>(writable().elements);
            target.insert(target.end(), from->begin(), from->end());
        },
        s_->elements);
}

template <ArrayElement T>
std::span<const T> Array::view() const {
    const auto* held = std::get_if<DataVector<T>>(&s_->elements);
    if (!held) elementTypeMismatch(elementType(), elementTypeFor<T>());
    return {held->data(), held->size()};
}

template <ArrayElement T>
std::span<T> Array::edit() {
    if (!std::holds_alternative<DataVector<T>>(s_->elements)) {
        elementTypeMismatch(elementType(), elementTypeFor<T>());
    }
    auto& held = std::get<DataVector<T>>(writable().elements);
    return {held.data(), held.size()};
}

template <ArrayElement T>
DataVector<T> Array::takeVector() {
    if (!std::holds_alternative<DataVector<T>>(s_->elements)) {
        elementTypeMismatch(elementType(), elementTypeFor<T>());
    }
    DataVector<T> out;
    if (s_.use_count() == 1) {
        out = std::move(std::get<DataVector<T>>(s_->elements));
    } else {
        out = std::get<DataVector<T>>(s_->elements);
    }
    s_ = std::make_shared<Storage>(Storage{s_->lowerBound, DataVector<T>()});
    return out;
}

const void* Array::data() const noexcept {
    return std::visit([](const auto& v) -> const void* { return v.data(); }, s_->elements);
}

bool operator==(const Array& a, const Array& b) {
    return a.s_ == b.s_ ||
           (a.s_->lowerBound == b.s_->lowerBound && a.s_->elements == b.s_->elements);
}

#define CVN_ARRAY_INSTANTIATE(T)                                  \
    template Array Array::adopt<T>(DataVector<T>&&, int32_t);     \
    template Array Array::copyOf<T>(std::span<const T>, int32_t); \
    template std::span<const T> Array::view<T>() const;           \
    template std::span<T> Array::edit<T>();                       \
    template DataVector<T> Array::takeVector<T>();

CVN_ARRAY_INSTANTIATE(uint8_t)
CVN_ARRAY_INSTANTIATE(int16_t)
CVN_ARRAY_INSTANTIATE(int32_t)
CVN_ARRAY_INSTANTIATE(double)
CVN_ARRAY_INSTANTIATE(Variant)

#undef CVN_ARRAY_INSTANTIATE

}  // namespace cvn::automation
