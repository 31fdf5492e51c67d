// The dispatch interface: the only way a host reaches an object. A host that
// knows nothing but member names (or their DISPIDs) looks the name up, then
// invokes the member with a list of argument slots.
//
// Contract for implementers:
// - GetIDsOfNames compares names ignoring case and throws AutomationError
//   438 for a name the interface does not have.
// - Invoke takes the arguments in call order (first argument first); for a
//   property let or set the new value is the last argument. A by-reference
//   slot points at the caller's Variant, and whatever the member stores there
//   is what the caller sees afterwards. Invoke returns the result (Empty for
//   members without one) or throws AutomationError: 438 for a DISPID or kind
//   the interface does not have, 449 for a missing argument, 5 for surplus
//   arguments, and any error the member itself raises.
// - Objects are reference counted (see RefCounted.h); every live object is
//   counted so the server module can tell when it may be unloaded.
#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

#include "automation/RefCounted.h"

namespace cvn::automation {

class Variant;
class Arg;
struct InterfaceInfo;

// Marks the functions that reach module-wide state (the live-object count,
// the module instance). They must bind to the copy inside the module that
// calls them even when the host exports the same symbols (a host linked with
// -rdynamic), or the module would count the host's objects instead of its
// own.
#define CVN_MODULE_LOCAL __attribute__((visibility("hidden")))

using DispId = int32_t;
using Args = std::vector<Arg>;

// Bit flags, so a caller that cannot tell a method from a property read may
// ask for either (Method | PropertyGet), as late-bound callers do.
enum class InvokeKind : uint8_t {
    Method = 1,
    PropertyGet = 2,
    PropertyLet = 4,
    PropertySet = 8,
};

constexpr InvokeKind operator|(InvokeKind a, InvokeKind b) {
    return static_cast<InvokeKind>(static_cast<uint8_t>(a) | static_cast<uint8_t>(b));
}
constexpr bool hasAny(InvokeKind requested, InvokeKind kind) {
    return (static_cast<uint8_t>(requested) & static_cast<uint8_t>(kind)) != 0;
}
const char* invokeKindName(InvokeKind kind);

class IDispatchObject : public RefCounted {
public:
    virtual DispId GetIDsOfNames(std::string_view name) const = 0;
    virtual Variant Invoke(DispId id, InvokeKind kind, Args& args) = 0;
    // Description of the interface this object is reached through.
    virtual const InterfaceInfo& GetTypeInfo() const = 0;

    // Dispatch objects alive in this module right now.
    CVN_MODULE_LOCAL static long liveObjects() noexcept;

protected:
    CVN_MODULE_LOCAL IDispatchObject() noexcept;
    CVN_MODULE_LOCAL ~IDispatchObject() override;
};

using DispatchRef = Ref<IDispatchObject>;

}  // namespace cvn::automation
