// Argument slots for IDispatchObject::Invoke and the few helpers a host
// needs to drive an object by member name.
#pragma once

#include <concepts>
#include <string_view>
#include <utility>

#include "automation/IDispatchObject.h"
#include "automation/Variant.h"

namespace cvn::automation {

// One argument of a call: either a value the call owns, or a reference to
// the caller's Variant. For a by-reference slot whatever the member stores
// through target() is what the caller sees after the call; for a by-value
// slot the member works on its own copy.
class Arg {
public:
    template <typename V>
    requires std::constructible_from<Variant, V&&> Arg(V&& value) : own_(std::forward<V>(value)) {}

    static Arg byRef(Variant& target) noexcept {
        Arg a;
        a.ref_ = &target;
        return a;
    }

    bool isByRef() const noexcept { return ref_ != nullptr; }
    const Variant& value() const noexcept { return ref_ ? *ref_ : own_; }
    Variant& target() noexcept { return ref_ ? *ref_ : own_; }

private:
    Arg() = default;

    Variant own_;
    Variant* ref_ = nullptr;
};

// Looks the name up and invokes it (AutomationError 438 for an unknown
// name).
Variant invokeByName(IDispatchObject& object, std::string_view name, InvokeKind kind, Args& args);
Variant invokeByName(IDispatchObject& object, std::string_view name, InvokeKind kind,
                     Args&& args = {});

inline Variant getProperty(IDispatchObject& object, std::string_view name) {
    return invokeByName(object, name, InvokeKind::PropertyGet);
}
inline void letProperty(IDispatchObject& object, std::string_view name, Variant value) {
    Args args;
    args.emplace_back(std::move(value));
    invokeByName(object, name, InvokeKind::PropertyLet, args);
}
inline void setProperty(IDispatchObject& object, std::string_view name, Variant& value) {
    Args args;
    args.push_back(Arg::byRef(value));
    invokeByName(object, name, InvokeKind::PropertySet, args);
}

}  // namespace cvn::automation
