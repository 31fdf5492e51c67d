#include "automation/IDispatchObject.h"

#include <atomic>

namespace cvn::automation {

namespace {
// One counter per loaded module: the module's unload check reads it, and
// objects only ever change the counter of the module whose code built them.
std::atomic<long> gLiveObjects{0};
}  // namespace

IDispatchObject::IDispatchObject() noexcept {
    gLiveObjects.fetch_add(1);
}

IDispatchObject::~IDispatchObject() {
    gLiveObjects.fetch_sub(1);
}

long IDispatchObject::liveObjects() noexcept {
    return gLiveObjects.load();
}

const char* invokeKindName(InvokeKind kind) {
    switch (kind) {
        case InvokeKind::Method:
            return "method";
        case InvokeKind::PropertyGet:
            return "propget";
        case InvokeKind::PropertyLet:
            return "propput";
        case InvokeKind::PropertySet:
            return "propputref";
    }
    return "call";
}

}  // namespace cvn::automation
