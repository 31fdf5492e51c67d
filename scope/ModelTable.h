// The supported Halvio models: two parallel comma-separated lists (model
// identifiers and analog channel counts), built in or replaced by an
// override file beside the add-in module ("<module base name>.ini").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cvn {

extern std::string gModelList;            // comma-separated identifiers
extern std::string gChannelList;          // comma-separated channel counts
extern std::vector<std::string> gModels;  // gModelList split at ","

// Built-in lists, and the four fragments that name the newest family (the
// models that need waveform streaming switched off before a transfer).
extern const char* const kBuiltInModelList;
extern const char* const kBuiltInChannelList;
extern const char* const kFamilyFragments[4];

// Path of the override file for the module in ModuleFolder().
std::string ModelOverridePath();
// Rebuilds the three lists (override file if present, else built-in).
void LoadModelTable();
// The same with the override file at path: a host that links this code
// reads the file of the module it stands in for.
void LoadModelTableFrom(const std::string& path);
// True when text contains one of the identifiers, ignoring case. Throws
// cvn::Error when the table has never been loaded.
bool IsSupportedModel(std::string_view text);
// The same rule over a list of identifiers of the caller's (a host holds the
// list the module reports).
bool NamesListedModel(std::string_view text, const std::vector<std::string>& models);
// Channel count of an identifier (exact, ignoring case) from the lists given;
// nothing when unknown or the entry is not a number.
std::optional<int> ChannelCountOf(std::string_view model, std::string_view modelList,
                                  std::string_view channelList);
// True when the model has digital pods: ends in "D" or begins with "MSO".
bool ModelHasPods(std::string_view model);
// How many of the family fragments the model contains, ignoring case.
int FamilyFragmentCount(std::string_view model);

}  // namespace cvn
