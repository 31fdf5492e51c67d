#include "addin/Server.h"

#include <cstdio>

#include "addin/CScopeObject.h"
#include "addin/IWavecatch.h"
#include "automation/ClassRegistry.h"
#include "support/ModuleInfo.h"

namespace cvn {

using automation::ClassInfo;
using automation::Guid;
using automation::ServerModule;

namespace {

constexpr int32_t kRegistrationFailed = static_cast<int32_t>(0x80040200u);

struct ClassEntry {
    const char* progId;
    const char* clsid;
};
constexpr ClassEntry kClasses[] = {{"cvnWCHalv.IWavecatch", kWavecatchClassGuid},
                                   {"cvnWCHalv.CScope", kScopeClassGuid}};

}  // namespace

ServerModule& Server() {
    static ServerModule& module = [&]() -> ServerModule& {
        ServerModule& m = ServerModule::instance();
        m.describeLibrary("cvnWCHalv", Guid::fromString(kTypeLibraryGuid),
                          "Wavecatch 2.0 Add-in for Corvane Halvio Series", 1, 0);
        m.registerClass<IWavecatch>(ClassInfo{"IWavecatch", kClasses[0].progId,
                                              Guid::fromString(kWavecatchClassGuid),
                                              &IWavecatch::dispatchTable().info(), ""});
        m.registerClass<CScopeObject>(ClassInfo{"CScope", kClasses[1].progId,
                                                Guid::fromString(kScopeClassGuid),
                                                &CScopeObject::dispatchTable().info(), ""});
        return m;
    }();
    return module;
}

int32_t RegisterServer() {
    try {
        for (const auto& c : kClasses)
            automation::RegisterClass({c.progId, Guid::fromString(c.clsid), ModulePath(),
                                       Guid::fromString(kTypeLibraryGuid)});
        return automation::kStatusOk;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cvnWCHalv: registration failed: %s\n", e.what());
        return kRegistrationFailed;
    }
}

int32_t UnregisterServer() {
    try {
        for (const auto& c : kClasses) automation::UnregisterClass(c.progId, ModulePath());
        return automation::kStatusOk;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cvnWCHalv: unregistration failed: %s\n", e.what());
        return kRegistrationFailed;
    }
}

}  // namespace cvn
