// Per-user settings: strings by application key, section and value name.
// One INI file per application key under $XDG_CONFIG_HOME (or ~/.config);
// the key's backslashes become folders. Values are kept exactly as given.
//
// Reads never throw: a missing or damaged file gives the default (and a
// damaged file is reported once through the error log). Writes are atomic
// (temporary file, then rename) and throw cvn::Error when the file cannot
// be written; a damaged file is never overwritten.
#pragma once

#include <string>
#include <vector>

namespace cvn {

std::string GetSetting(const std::string& appKey, const std::string& section,
                       const std::string& key, const std::string& def = "");
void SaveSetting(const std::string& appKey, const std::string& section, const std::string& key,
                 const std::string& value);
// Removes one value, or the whole section when key is empty. Nothing
// happens when the file or the value does not exist; throws like
// SaveSetting.
void DeleteSetting(const std::string& appKey, const std::string& section,
                   const std::string& key = "");
// Names of the sections in file order; throws when the file is damaged.
std::vector<std::string> GetSections(const std::string& appKey);
// Empty when the file is sound or missing, else what is wrong with it.
std::string SettingsFileProblem(const std::string& appKey);
// The INI file that holds the settings of appKey.
std::string SettingsFilePath(const std::string& appKey);

}  // namespace cvn
