#include "automation/Dispatch.h"

namespace cvn::automation {

Variant invokeByName(IDispatchObject& object, std::string_view name, InvokeKind kind, Args& args) {
    return object.Invoke(object.GetIDsOfNames(name), kind, args);
}

Variant invokeByName(IDispatchObject& object, std::string_view name, InvokeKind kind, Args&& args) {
    return invokeByName(object, name, kind, args);
}

}  // namespace cvn::automation
