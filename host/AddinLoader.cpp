#include "host/AddinLoader.h"

#include <dlfcn.h>

#include <cctype>
#include <filesystem>
#include <vector>

#include "automation/ClassRegistry.h"
#include "cvnWCHalv.h"
#include "support/Error.h"
#include "support/ModuleInfo.h"
#include "support/Text.h"

namespace cvn::host {

using automation::DispatchRef;
using automation::Guid;
using automation::IClassFactory;
using automation::Ref;

namespace {

constexpr int32_t kHostError = kCannotCreateObject;
constexpr const char* kSource = "wavecatch";

// The classes this host knows by heart, for a module given by path.
std::optional<Guid> wellKnownClass(const std::string& progId) {
    if (EqualsIgnoringCase(progId, CVN_PROGID_IWAVECATCH))
        return Guid::fromString(CVN_CLSID_IWAVECATCH);
    if (EqualsIgnoringCase(progId, CVN_PROGID_CSCOPE)) return Guid::fromString(CVN_CLSID_CSCOPE);
    return std::nullopt;
}

}  // namespace

AddinModule::AddinModule(const std::string& path) : path_(path) {
    // RTLD_LOCAL keeps the add-in's symbols to itself; RTLD_NOW reports a
    // missing dependency here rather than in the middle of a capture.
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = ::dlerror();
        throw Error(kHostError, "Cannot load the add-in module " + path + ": " + (why ? why : "?"),
                    kSource);
    }
}

AddinModule::~AddinModule() {
    // The module stays mapped: objects and their code may still be referenced
    // by values the host keeps (arrays share storage allocated inside it).
}

template <typename F>
F AddinModule::symbol(const char* name) const {
    void* p = ::dlsym(handle_, name);
    if (!p)
        throw Error(kHostError, path_ + " is not a Wavecatch add-in: it has no " + name, kSource);
    return reinterpret_cast<F>(p);
}

std::string AddinModule::version() const {
    return symbol<const char* (*)()>("cvnModuleVersion")();
}

bool AddinModule::setTransferProgress(CvnTransferProgress callback, void* context) const {
    void* p = ::dlsym(handle_, "cvnSetTransferProgress");
    if (!p) return false;
    reinterpret_cast<void (*)(CvnTransferProgress, void*)>(p)(callback, context);
    return true;
}

bool AddinModule::cancelTransfer() const {
    void* p = ::dlsym(handle_, "cvnCancelTransfer");
    if (!p) return false;
    reinterpret_cast<void (*)()>(p)();
    return true;
}

bool AddinModule::selfRegistering() const {
    return symbol<int32_t (*)()>("cvnSelfRegister")() != 0;
}

int32_t AddinModule::registerServer() const {
    return symbol<int32_t (*)()>("DllRegisterServer")();
}

int32_t AddinModule::unregisterServer() const {
    return symbol<int32_t (*)()>("DllUnregisterServer")();
}

bool AddinModule::canUnloadNow() const {
    return symbol<int32_t (*)()>("DllCanUnloadNow")() == 0;
}

Ref<IClassFactory> AddinModule::classFactory(const Guid& clsid) const {
    void* factory = nullptr;
    const int32_t status = symbol<int32_t (*)(const CvnGuid*, void**)>("DllGetClassObject")(
        reinterpret_cast<const CvnGuid*>(&clsid), &factory);
    if (status != 0 || !factory)
        throw Error(kHostError, "The add-in module " + path_ + " has no class " + clsid.toString(),
                    kSource);
    return Ref<IClassFactory>::adopt(static_cast<IClassFactory*>(factory));
}

DispatchRef AddinModule::create(const Guid& clsid) const {
    return classFactory(clsid)->CreateInstance();
}

const automation::TypeLibInfo* AddinModule::typeLibrary() const {
    using Getter = const automation::TypeLibInfo* (*)();
    void* p = ::dlsym(handle_, "cvnTypeLibrary");
    return p ? reinterpret_cast<Getter>(p)() : nullptr;
}

#ifndef CVN_MODULE_FROM_BINDIR
#define CVN_MODULE_FROM_BINDIR "../lib/x86_64-linux-gnu/libcvnWCHalv.so.0"
#endif
#ifndef CVN_MODULE_FROM_PYTHONDIR
#define CVN_MODULE_FROM_PYTHONDIR "../../x86_64-linux-gnu/libcvnWCHalv.so.0"
#endif
#ifndef CVN_MODULE_INSTALLED
#define CVN_MODULE_INSTALLED "/usr/lib/x86_64-linux-gnu/libcvnWCHalv.so.0"
#endif

std::vector<std::string> DefaultModuleCandidates() {
    // Relative ones first, so a build tree or an unpacked package uses its
    // own module even when another one is installed system-wide.
    return {"../../lib/libcvnWCHalv.so",  // build tree: apps/wavecatch -> lib
            "../lib/libcvnWCHalv.so",     // build tree: python -> lib
            CVN_MODULE_FROM_BINDIR,       // installed programs
            CVN_MODULE_FROM_PYTHONDIR,    // installed Python module
            "../lib/libcvnWCHalv.so.0",   // installed with a plain lib folder
            CVN_MODULE_INSTALLED};
}

std::string DefaultModulePath() {
    namespace fs = std::filesystem;
    const std::string here = ModuleFolder();
    for (const std::string& candidate : DefaultModuleCandidates()) {
        std::error_code ec;
        const fs::path p = fs::path(here) / candidate;  // an absolute candidate replaces here
        if (fs::exists(p, ec)) return fs::weakly_canonical(p, ec).string();
    }
    return {};
}

std::string ModuleToUse(const std::string& progId, const std::string& explicitPath) {
    if (!explicitPath.empty()) {
        std::error_code ec;
        const std::filesystem::path p = std::filesystem::absolute(explicitPath, ec);
        return ec ? explicitPath : std::filesystem::weakly_canonical(p, ec).string();
    }
    if (automation::LookUpClass(progId)) return {};
    // A fresh machine has registered nothing: use the module built or
    // installed beside us, as the demo does.
    std::string module = DefaultModulePath();
    if (module.empty())
        throw Error(kCannotCreateObject,
                    "The add-in is not registered and no module was found beside wavecatch; "
                    "pass --module PATH",
                    kSource);
    return module;
}

automation::ClassRegistration RegisteredClass(const std::string& progId) {
    if (auto entry = automation::LookUpClass(progId)) return *entry;
    throw Error(kHostError,
                "The class " + progId + " is not registered for this user (" +
                    automation::ClassRegistryPath() +
                    "); run 'wavecatch register' or pass --module PATH",
                kSource);
}

std::string FindModule(const std::string& progId, const std::string& explicitPath) {
    return explicitPath.empty() ? RegisteredClass(progId).modulePath : explicitPath;
}

Connection CreateObject(const std::string& progId, const std::string& explicitPath) {
    Connection c;
    std::string path = explicitPath;
    if (path.empty()) {
        const auto entry = RegisteredClass(progId);
        path = entry.modulePath;
        c.clsid = entry.clsid;
    } else if (auto known = wellKnownClass(progId)) {
        c.clsid = *known;
    } else {
        throw Error(kHostError,
                    "Unknown class " + progId +
                        " (known: " CVN_PROGID_IWAVECATCH ", " CVN_PROGID_CSCOPE ")",
                    kSource);
    }
    c.module = std::make_shared<AddinModule>(path);
    c.object = c.module->create(c.clsid);
    return c;
}

std::string AbsoluteModulePath(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    if (ec) return path;
    fs::path resolved = fs::weakly_canonical(p, ec);
    return ec ? p.string() : resolved.string();
}

}  // namespace cvn::host
