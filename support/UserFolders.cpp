// Resolution of the per-user base folders.
#include "support/UserFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace cvn {
namespace {

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    // Services started without a HOME still have a password entry.
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr && result->pw_dir[0] == '/') {
        return result->pw_dir;
    }
    return "/tmp";
}

std::string baseFolder(const char* variable, const char* fallbackBelowHome) {
    // Relative values are invalid by the convention and must be ignored.
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    return homeFolder() + fallbackBelowHome;
}

}  // namespace

std::string UserConfigHome() {
    return baseFolder("XDG_CONFIG_HOME", "/.config");
}

std::string UserStateHome() {
    return baseFolder("XDG_STATE_HOME", "/.local/state");
}

bool MakeFolders(const std::string& path, mode_t mode) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        const std::string part = path.substr(0, pos);
        if (part.empty()) continue;
        struct stat st {};
        if (::stat(part.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                errno = ENOTDIR;
                return false;
            }
            continue;
        }
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace cvn
