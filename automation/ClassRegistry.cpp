#include "automation/ClassRegistry.h"

#include <cctype>

#include "support/Error.h"
#include "support/SettingsStore.h"
#include "support/Text.h"

namespace cvn::automation {
namespace {

constexpr int32_t kRegistryDamaged = kPathError;

void failIfDamaged() {
    const std::string problem = SettingsFileProblem(kClassRegistryKey);
    if (!problem.empty())
        throw Error(kRegistryDamaged,
                    "The class registry " + ClassRegistryPath() + " is damaged (" + problem +
                        "); repair or remove it, then register again",
                    "cvnAutomation");
}

}  // namespace

std::string ClassRegistryPath() {
    return SettingsFilePath(kClassRegistryKey);
}

void RegisterClass(const ClassRegistration& entry) {
    failIfDamaged();
    SaveSetting(kClassRegistryKey, entry.progId, "CLSID", entry.clsid.toString());
    SaveSetting(kClassRegistryKey, entry.progId, "Module", entry.modulePath);
    SaveSetting(kClassRegistryKey, entry.progId, "TypeLib", entry.typeLib.toString());
}

void UnregisterClass(const std::string& progId, const std::string& modulePath) {
    failIfDamaged();
    if (GetSetting(kClassRegistryKey, progId, "Module") != modulePath) return;
    DeleteSetting(kClassRegistryKey, progId);
}

std::optional<ClassRegistration> LookUpClass(const std::string& progId) {
    failIfDamaged();
    for (const std::string& section : GetSections(kClassRegistryKey)) {
        if (!EqualsIgnoringCase(section, progId)) continue;
        ClassRegistration entry;
        entry.progId = section;
        entry.modulePath = GetSetting(kClassRegistryKey, section, "Module");
        auto clsid = Guid::parse(GetSetting(kClassRegistryKey, section, "CLSID"));
        auto lib = Guid::parse(GetSetting(kClassRegistryKey, section, "TypeLib"));
        if (!clsid || entry.modulePath.empty())
            throw Error(kRegistryDamaged,
                        "The registration of " + section + " in " + ClassRegistryPath() +
                            " is incomplete; register the add-in again",
                        "cvnAutomation");
        entry.clsid = *clsid;
        if (lib) entry.typeLib = *lib;
        return entry;
    }
    return std::nullopt;
}

std::vector<ClassRegistration> RegisteredClasses() {
    std::vector<ClassRegistration> all;
    failIfDamaged();
    for (const std::string& section : GetSections(kClassRegistryKey))
        if (auto entry = LookUpClass(section)) all.push_back(*entry);
    return all;
}

}  // namespace cvn::automation
