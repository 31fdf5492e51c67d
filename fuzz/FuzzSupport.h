// Small helpers shared by the fuzz targets: a failed property check that
// libFuzzer reports as a crash, whether a call fails with the system's
// error, a private configuration home, whole-file reads
// and writes, and reply fields joined back together.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "support/Error.h"
#include "support/ErrorHandler.h"

namespace cvn::fuzz {

// A property the code under test must keep. Unlike assert it stays on in
// every build type, and it names the broken property in the crash report.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)

// True when f fails through the system's error path (cvn::Error).
template <typename F>
bool throwsError(F&& f) {
    try {
        f();
    } catch (const cvn::Error&) {
        return true;
    }
    return false;
}

// A folder of its own, created once per process and removed when it ends
// (not after a crash: then it is left for a look), that holds the
// configuration and state homes and the error log: the settings files a
// target writes never touch the user's. It goes below $CVN_FUZZ_TMP when set,
// else to /dev/shm where there is one: the settings store syncs every file it
// writes, which on a disk costs milliseconds per input.
class PrivateHome {
public:
    explicit PrivateHome(const std::string& prefix) {
        std::filesystem::path base = "/dev/shm";
        if (const char* chosen = std::getenv("CVN_FUZZ_TMP"); chosen && *chosen) {
            base = chosen;
        } else if (::access(base.c_str(), W_OK | X_OK) != 0) {
            base = std::filesystem::temp_directory_path();
        }
        std::string pattern = (base / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        root_ = pattern;
        ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (root_ + "/state").c_str(), 1);
        std::filesystem::create_directories(logFolder());
        cvn::gErrorHandler = std::make_shared<cvn::CErrorHandler>(logFolder());
    }
    ~PrivateHome() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    PrivateHome(const PrivateHome&) = delete;
    PrivateHome& operator=(const PrivateHome&) = delete;

    std::string logFolder() const { return root_ + "/log"; }

private:
    std::string root_;
};

// Fields as a reply carries them, separated by commas.
inline std::string joinFields(const std::vector<std::string>& fields) {
    std::string joined;
    for (size_t i = 0; i < fields.size(); ++i) joined += (i ? "," : "") + fields[i];
    return joined;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    // A new file rather than a truncated one: ext4 flushes a file that is
    // truncated and rewritten when it is closed, which would make each input
    // wait for the disk.
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::abort();
    }
}

}  // namespace cvn::fuzz
