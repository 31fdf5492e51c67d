// Per-user settings: strings by application key, section and value name.
// One INI file per application key under $XDG_CONFIG_HOME (or ~/.config);
// the key's backslashes become folders. Values are kept exactly as given.
//
// Reads never throw: a missing key or file gives the default. A line the
// store does not understand is kept as it is and skipped; every other key
// is read and written as usual (and the file is reported once through the
// error log). A file that cannot be read at all (not a regular file, far
// too large, no permission) gives the defaults, is reported, and is never
// overwritten: writes to it throw cvn::Error. Writes are atomic (temporary
// file, then rename) and throw cvn::Error when the file cannot be written.
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
// Names of the sections in file order; throws when the file cannot be read.
std::vector<std::string> GetSections(const std::string& appKey);
// Empty when the file can be used or is missing, else why it cannot be read.
std::string SettingsFileProblem(const std::string& appKey);
// Numbers (from 1) of the lines the store does not understand and skips,
// kept as they are; empty when there are none or the file cannot be read.
std::vector<int> SettingsFileSkippedLines(const std::string& appKey);
// The INI file that holds the settings of appKey.
std::string SettingsFilePath(const std::string& appKey);

}  // namespace cvn
