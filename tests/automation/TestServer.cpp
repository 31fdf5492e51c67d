// A minimal in-process server for the module-loading test: built as its own
// shared module, loaded with dlopen, reached only through its C entry points.
#include <cstdint>

#include "automation/AutomationError.h"
#include "automation/DispatchTable.h"
#include "automation/ServerModule.h"

using namespace cvn::automation;

namespace {

class CEcho : public DispatchObject<CEcho> {
public:
    static const DispatchTable<CEcho>& dispatchTable() {
        static const DispatchTable<CEcho> table = [] {
            DispatchTable<CEcho> t("_CEcho",
                                   Guid::fromString("{7C0D2E10-3A4B-4C5D-8E6F-708192A3B4C5}"));
            // Doubles the caller's number in place and returns the old value.
            t.method(0x60030001, "Twice", {{"x", VarType::Long, true}}, VarType::Long,
                     [](CEcho&, Args& a) {
                         int32_t x = a[0].value().toLong();
                         a[0].target() = Variant(x * 2);
                         return x;
                     });
            t.method(0x60030002, "Fail", {}, VarType::Void, [](CEcho&, Args&) {
                throw AutomationError(ErrorNumber::DivisionByZero, "cvnTestServer");
            });
            return t;
        }();
        return table;
    }
};

ServerModule& module() {
    static ServerModule& m = []() -> ServerModule& {
        ServerModule& s = ServerModule::instance();
        s.describeLibrary("cvnTestServer",
                          Guid::fromString("{7C0D2E11-3A4B-4C5D-8E6F-708192A3B4C5}"), "");
        s.registerClass<CEcho>({"CEcho", "cvnTestServer.CEcho",
                                Guid::fromString("{7C0D2E12-3A4B-4C5D-8E6F-708192A3B4C5}"),
                                &CEcho::dispatchTable().info(), ""});
        return s;
    }();
    return m;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t DllGetClassObject(const void* clsid,
                                                                            void** factory) {
    return module().dllGetClassObject(static_cast<const Guid*>(clsid), factory);
}

extern "C" __attribute__((visibility("default"))) int32_t DllCanUnloadNow() {
    return module().dllCanUnloadNow();
}
