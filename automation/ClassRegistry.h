// The per-user class registry: which module serves which program
// identifier. Servers write their own entries when registered; hosts look a
// program identifier up to find the module to load. One INI file,
// $XDG_CONFIG_HOME/cvnAutomation/Classes.ini, one section per program
// identifier:
//
//   [cvnWCHalv.IWavecatch]
//   CLSID={9BF5C679-AD23-42E1-BB7C-6DDB647EE8F4}
//   Module=/usr/lib/x86_64-linux-gnu/libcvnWCHalv.so.0
//   TypeLib={C51D4196-82C1-4108-97FA-4B526DB8430A}
//
// A damaged file is never rewritten: registering fails with a cvn::Error
// that names the file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "automation/Guid.h"

namespace cvn::automation {

struct ClassRegistration {
    std::string progId;
    Guid clsid;
    std::string modulePath;
    Guid typeLib;
};

inline constexpr const char* kClassRegistryKey = "cvnAutomation\\Classes";

std::string ClassRegistryPath();
void RegisterClass(const ClassRegistration& entry);
// Removes the entry of progId only when it names modulePath, so one module
// never removes another module's registration.
void UnregisterClass(const std::string& progId, const std::string& modulePath);
// Nothing when progId is not registered; throws cvn::Error when the file is
// damaged or the entry is incomplete.
std::optional<ClassRegistration> LookUpClass(const std::string& progId);
std::vector<ClassRegistration> RegisteredClasses();

}  // namespace cvn::automation
