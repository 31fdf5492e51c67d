// How a host reaches the add-in: find the module (the class registry or an
// explicit path), load it with dlopen, and create objects through its class
// factories. Everything after that goes through dispatch only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "automation/ClassFactory.h"
#include "automation/ClassRegistry.h"
#include "automation/Guid.h"
#include "automation/IDispatchObject.h"
#include "automation/TypeInfo.h"
#include "cvnWCHalv.h"

namespace cvn::host {

class AddinModule {
public:
    // Loads the module file; throws cvn::Error with dlerror's text.
    explicit AddinModule(const std::string& path);
    ~AddinModule();
    AddinModule(const AddinModule&) = delete;
    AddinModule& operator=(const AddinModule&) = delete;

    const std::string& path() const { return path_; }
    std::string version() const;
    bool selfRegistering() const;
    int32_t registerServer() const;
    int32_t unregisterServer() const;
    bool canUnloadNow() const;
    automation::Ref<automation::IClassFactory> classFactory(const automation::Guid& clsid) const;
    automation::DispatchRef create(const automation::Guid& clsid) const;
    // The module's type library when it exports one (cvnTypeLibrary), else
    // null; valid while the module is loaded.
    const automation::TypeLibInfo* typeLibrary() const;
    // Registers the transfer progress callback (cvnSetTransferProgress;
    // nullptr removes it). False when the module has no such entry point.
    bool setTransferProgress(CvnTransferProgress callback, void* context) const;
    // Fails the transfer being reported and every later one until the
    // callback is set again (cvnCancelTransfer); call it from the callback.
    // False when the module has no such entry point.
    bool cancelTransfer() const;

private:
    template <typename F>
    F symbol(const char* name) const;

    std::string path_;
    void* handle_ = nullptr;
};

// The registry entry of progId; throws cvn::Error saying how to register.
automation::ClassRegistration RegisteredClass(const std::string& progId);
// The module registered for progId (case-insensitive), or the explicit path
// when one is given. Throws cvn::Error with what to do when neither works.
std::string FindModule(const std::string& progId, const std::string& explicitPath = "");
// The module path when no registration exists: the first candidate that
// exists, relative to the folder of the code asking (the host program or the
// Python module), or empty. Candidates: the module of the build tree, then
// the installed one seen from the installed bin and Python folders, then the
// installed one by its absolute path.
std::string DefaultModulePath();
std::vector<std::string> DefaultModuleCandidates();
// The module path a command should use: the one the user named (made
// absolute), "" when progId is registered (CreateObject then follows the
// registration), else DefaultModulePath(). Throws cvn::Error 429 saying
// what to do when there is none.
std::string ModuleToUse(const std::string& progId, const std::string& explicitPath);

// The loaded module and the object of one class, ready to be driven.
struct Connection {
    std::shared_ptr<AddinModule> module;
    automation::Guid clsid;
    automation::DispatchRef object;
};
// Creates progId's object, loading the module it is registered with (or
// explicitPath). Class identifiers come from the registry or, with an
// explicit path, from the module's own type library via the well-known ids.
Connection CreateObject(const std::string& progId, const std::string& explicitPath = "");

// The absolute, resolved path of a module the user named (the add-in
// registers the path it was loaded from, so it must not be relative).
std::string AbsoluteModulePath(const std::string& path);

}  // namespace cvn::host
