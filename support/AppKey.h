// The settings application key: every per-user setting of the add-in lives
// under it. Shared by all add-in objects and the dialogs; a host replaces it
// through the RegistryKey property.
#pragma once

#include <string>

namespace cvn {

inline constexpr const char* kDefaultAppKey = "Corvane\\Linkara\\Wavecatch\\Corvane Halvio Series";
inline constexpr const char* kSettingsSection = "Settings";

std::string& SettingsAppKey();

}  // namespace cvn
