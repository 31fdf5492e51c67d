// The in-process server's own bookkeeping: which classes it can create, the
// type library that describes them, and whether anything still needs the
// module loaded. The exported C entry points are thin wrappers:
//
//   extern "C" int32_t DllGetClassObject(const void* clsid, void** factory) {
//       return ServerModule::instance().dllGetClassObject(
//           static_cast<const Guid*>(clsid), factory);
//   }
//   extern "C" int32_t DllCanUnloadNow() {
//       return ServerModule::instance().dllCanUnloadNow();
//   }
//
// The host turns the factory pointer back into an owning reference with
// Ref<IClassFactory>::adopt(static_cast<IClassFactory*>(factory)).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/ClassFactory.h"
#include "automation/Guid.h"
#include "automation/RefCounted.h"
#include "automation/TypeInfo.h"

namespace cvn::automation {

// Status codes of the exported entry points (the usual automation values).
inline constexpr int32_t kStatusOk = 0;
inline constexpr int32_t kStatusFalse = 1;
inline constexpr int32_t kStatusPointer = static_cast<int32_t>(0x80004003u);
inline constexpr int32_t kStatusUnexpected = static_cast<int32_t>(0x8000FFFFu);
inline constexpr int32_t kStatusClassNotAvailable = static_cast<int32_t>(0x80040111u);

class ServerModule {
public:
    ServerModule() = default;
    ServerModule(const ServerModule&) = delete;
    ServerModule& operator=(const ServerModule&) = delete;

    // The module's own instance (one per loaded module).
    CVN_MODULE_LOCAL static ServerModule& instance();

    void describeLibrary(std::string name, Guid libid, std::string help, uint16_t majorVersion = 1,
                         uint16_t minorVersion = 0);

    // Makes a class creatable. std::logic_error when its class identifier or
    // program identifier is already registered; the default interface must
    // outlive the module (a static table).
    void registerClass(ClassInfo info, ClassFactory::Creator create);
    template <typename T>
    void registerClass(ClassInfo info) {
        registerClass(std::move(info), [] { return DispatchRef(makeRef<T>()); });
    }

    // The library with every registered class and their default interfaces.
    const TypeLibInfo& typeLibrary() const noexcept { return library_; }

    // Null when no class with this identifier is registered.
    Ref<IClassFactory> getClassObject(const Guid& clsid) const;
    // Program identifier (ignoring letter case) to class identifier.
    const ClassInfo* findClass(std::string_view progId) const;

    void lock() noexcept { locks_.fetch_add(1); }
    void unlock() noexcept { locks_.fetch_sub(1); }
    long locks() const noexcept { return locks_.load(); }
    // True when no dispatch object is alive and no lock is held.
    CVN_MODULE_LOCAL bool canUnloadNow() const noexcept;

    // Bodies of the exported entry points; they never throw.
    int32_t dllGetClassObject(const Guid* clsid, void** factory) const noexcept;
    CVN_MODULE_LOCAL int32_t dllCanUnloadNow() const noexcept;

private:
    struct Entry {
        Guid clsid;
        Ref<IClassFactory> factory;
    };

    TypeLibInfo library_;
    std::vector<Entry> entries_;
    std::atomic<long> locks_{0};
};

}  // namespace cvn::automation
