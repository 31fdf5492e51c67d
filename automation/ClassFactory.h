// Class factories: what DllGetClassObject hands to the host, one per
// creatable class. The host creates objects through CreateInstance and may
// keep the module loaded between creations with LockServer(true).
#pragma once

#include <functional>

#include "automation/IDispatchObject.h"
#include "automation/RefCounted.h"

namespace cvn::automation {

class ServerModule;

class IClassFactory : public RefCounted {
public:
    // A new object with one reference owned by the result. Errors of the
    // object's construction propagate (cvn::Error or std::exception).
    virtual DispatchRef CreateInstance() = 0;
    // Counted: every LockServer(true) needs one LockServer(false).
    virtual void LockServer(bool lock) = 0;
};

class ClassFactory final : public IClassFactory {
public:
    using Creator = std::function<DispatchRef()>;

    // The module must outlive the factory (a module owns its factories).
    ClassFactory(ServerModule& module, Creator create);

    DispatchRef CreateInstance() override;
    void LockServer(bool lock) override;

private:
    ServerModule& module_;
    Creator create_;
};

}  // namespace cvn::automation
