// Windows on the add-in's raw data arrays.
#include "host/RawSamples.h"

#include "automation/Array.h"

namespace cvn::host {

using automation::VarType;

RawSamples::RawSamples(const automation::Variant& array, size_t offset, size_t count) {
    if (!array.isArray() || count == 0) return;
    const automation::Array& a = array.array();
    if (offset + count > a.count()) return;
    auto window = [&](Type type, size_t elementSize) {
        owner_ = array;
        type_ = type;
        data_ = static_cast<const char*>(owner_.array().data()) + offset * elementSize;
        size_ = count;
    };
    switch (a.elementType()) {
        case VarType::Byte:
            window(Type::Byte, 1);
            return;
        case VarType::Integer:
            window(Type::Word, 2);
            return;
        case VarType::Long:
            window(Type::Long, 4);
            return;
        case VarType::Double:
            window(Type::Double, 8);
            return;
        default: {
            std::vector<double> values;
            values.reserve(count);
            const auto all = a.view<automation::Variant>();
            for (size_t i = offset; i < offset + count; ++i) {
                const automation::Variant& v = all[i];
                values.push_back(v.isEmpty() || v.isArray() || v.isObject() ? 0.0 : v.toDouble());
            }
            *this = RawSamples(std::move(values));
        }
    }
}

RawSamples::RawSamples(std::vector<double> values)
    : own_(std::make_shared<const std::vector<double>>(std::move(values))) {
    data_ = own_->data();
    size_ = own_->size();
    type_ = Type::Double;
}

std::vector<double> RawSamples::ToVector() const {
    return visit([](auto span) { return std::vector<double>(span.begin(), span.end()); });
}

}  // namespace cvn::host
