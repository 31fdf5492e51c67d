// The automation face of CScope: what a host gets when it creates
// "cvnWCHalv.CScope". Each object owns its own scope session.
#pragma once

#include <memory>

#include "automation/DispatchTable.h"
#include "scope/CScope.h"

namespace cvn {

inline constexpr const char* kScopeClassGuid = "{8FB59CB3-8338-4A34-AC33-AA1D4E309167}";
inline constexpr const char* kScopeInterfaceGuid = "{D43F35BD-BF1B-4EB9-814C-A3C1A475C12A}";

class CScopeObject : public automation::DispatchObject<CScopeObject> {
public:
    CScopeObject() : scope_(std::make_shared<CScope>()) {}
    static const automation::DispatchTable<CScopeObject>& dispatchTable();
    CScope& scope() { return *scope_; }

private:
    std::shared_ptr<CScope> scope_;
};

}  // namespace cvn
