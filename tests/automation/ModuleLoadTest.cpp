// A host's view: load a server module, create an object through its class
// factory, drive it by name, and learn from the module when it may unload.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "automation/ClassFactory.h"
#include "automation/Dispatch.h"
#include "automation/ServerModule.h"

using namespace cvn::automation;

TEST(ModuleLoad, HostDrivesObjectsAcrossTheModuleBoundary) {
    void* handle = dlopen(CVN_TEST_SERVER, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    using GetClassObject = int32_t (*)(const void*, void**);
    using CanUnloadNow = int32_t (*)();
    auto getClassObject = reinterpret_cast<GetClassObject>(dlsym(handle, "DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<CanUnloadNow>(dlsym(handle, "DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject && canUnloadNow);

    const long hostObjects = IDispatchObject::liveObjects();
    const Guid clsid = Guid::fromString("{7C0D2E12-3A4B-4C5D-8E6F-708192A3B4C5}");
    void* raw = nullptr;
    ASSERT_EQ(getClassObject(&clsid, &raw), kStatusOk);
    {
        auto factory = Ref<IClassFactory>::adopt(static_cast<IClassFactory*>(raw));
        Variant obj(factory->CreateInstance());
        EXPECT_EQ(canUnloadNow(), kStatusFalse);
        EXPECT_EQ(IDispatchObject::liveObjects(), hostObjects);  // counted in the module

        Variant x(21);
        Args args{Arg::byRef(x)};
        EXPECT_EQ(invokeByName(*obj.toObject(), "twice", InvokeKind::Method, args), Variant(21));
        EXPECT_EQ(x, Variant(42));

        try {
            invokeByName(*obj.toObject(), "Fail", InvokeKind::Method);
            ADD_FAILURE() << "no error";
        } catch (const AutomationError& e) {
            EXPECT_EQ(e.number(), 11);
            EXPECT_EQ(e.source(), "cvnTestServer");
        }
        EXPECT_EQ(errorOf([&] { obj.toObject()->GetIDsOfNames("Nope"); }), 438);
    }
    EXPECT_EQ(canUnloadNow(), kStatusOk);

    const Guid other = Guid::fromString("{7C0D2E13-3A4B-4C5D-8E6F-708192A3B4C5}");
    EXPECT_EQ(getClassObject(&other, &raw), kStatusClassNotAvailable);
    dlclose(handle);
}
