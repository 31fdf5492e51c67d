// Atomic file writes for everything the host saves.
#include "apps/host/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/Error.h"

namespace cvn::host {

namespace {

constexpr int32_t kFileError = 75;  // "path/file access error"

[[noreturn]] void fail(const std::string& what, const std::string& path, int err) {
    throw Error(kFileError, what + " " + path + ": " + std::strerror(err), "wavecatch");
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    std::string pattern = path + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) fail("Cannot create a temporary file for", path, errno);
    const std::string tmp(name.data());
    auto abandon = [&](const char* what) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        fail(what, path, err);
    };
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            abandon("Cannot write");
        }
        done += static_cast<size_t>(n);
    }
    // mkstemp creates 0600; results are ordinary user files.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0) abandon("Cannot set the mode of");
    if (::fsync(fd) != 0) abandon("Cannot flush");
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        fail("Cannot write", path, err);
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        fail("Cannot replace", path, err);
    }
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("Cannot open", path, errno);
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) fail("Cannot read", path, errno);
    return s.str();
}

}  // namespace cvn::host
