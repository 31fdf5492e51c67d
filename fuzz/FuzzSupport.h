// Small helpers shared by the fuzz targets: a failed property check that
// libFuzzer reports as a crash, whether a call fails with the system's
// error, a private temporary folder, and whole-file reads and writes.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/Error.h"

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
// (not after a crash: then it is left for a look). It goes below
// $CVN_FUZZ_TMP when set, else to /dev/shm where there is one: the settings
// store syncs every file it writes, which on a disk costs milliseconds per
// input.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix) {
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
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

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
