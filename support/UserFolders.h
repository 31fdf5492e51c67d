// The per-user folders of the freedesktop base-directory convention, and a
// private "mkdir -p". Everything the add-in keeps per user lives below them.
#pragma once

#include <sys/types.h>

#include <string>

namespace cvn {

// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute.
std::string UserConfigHome();
// $XDG_STATE_HOME, or ~/.local/state when it is unset or not absolute.
std::string UserStateHome();
// Creates path and any missing parents with the given mode. Returns false
// (with errno set) when a part cannot be created or is not a folder.
bool MakeFolders(const std::string& path, mode_t mode = 0700);

}  // namespace cvn
