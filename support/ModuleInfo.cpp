// Finds the file that holds this code. dladdr on an address inside this
// translation unit names the shared object when we are linked into the
// add-in, and the main program when we are linked into a test or host.
#include "support/ModuleInfo.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace cvn {
namespace {

void anchor() {}

std::string selfExecutable() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string modulePath() {
    Dl_info info{};
    // The cast from a function pointer is the documented way to ask dladdr.
    if (::dladdr(reinterpret_cast<void*>(&anchor), &info) != 0 && info.dli_fname != nullptr &&
        info.dli_fname[0] == '/') {
        char resolved[PATH_MAX];
        if (::realpath(info.dli_fname, resolved) != nullptr) return resolved;
        return info.dli_fname;
    }
    // The main program is reported by its argv[0], which may be relative to a
    // folder we have since left; the kernel's link is always absolute.
    return selfExecutable();
}

}  // namespace

std::string ModulePath() { return modulePath(); }

std::string ModuleFolder() {
    const std::string path = modulePath();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "/";
    return path.substr(0, slash + 1);
}

std::string ModuleBaseName() {
    const std::string path = modulePath();
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // "libx.so.1.2" is still "libx": a shared object's version follows ".so".
    const size_t so = name.find(".so");
    if (so != std::string::npos && so > 0 && (so + 3 == name.size() || name[so + 3] == '.')) {
        return name.substr(0, so);
    }
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

}  // namespace cvn
