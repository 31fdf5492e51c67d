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

namespace {

constexpr size_t kFlushBytes = size_t{1} << 20;

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string path) : path_(std::move(path)) {
    std::string pattern = path_ + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) fail("Cannot create a temporary file for", path_, errno);
    tmp_ = name.data();
    buffer_.reserve(kFlushBytes + kFlushBytes / 4);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(tmp_.c_str());
    }
}

void AtomicFileWriter::abandon(const char* what) {
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    ::unlink(tmp_.c_str());
    fail(what, path_, err);
}

void AtomicFileWriter::writeAll(std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            abandon("Cannot write");
        }
        done += static_cast<size_t>(n);
    }
}

void AtomicFileWriter::writeOut() {
    writeAll(buffer_);
    buffer_.clear();
}

void AtomicFileWriter::write(std::string_view bytes) {
    if (bytes.size() < kFlushBytes) {
        buffer_ += bytes;
        flush();
        return;
    }
    // Large pieces go straight out instead of through the buffer.
    writeOut();
    writeAll(bytes);
}

void AtomicFileWriter::flush() {
    if (buffer_.size() >= kFlushBytes) writeOut();
}

void AtomicFileWriter::commit() {
    writeOut();
    // mkstemp creates 0600; results are ordinary user files.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd_, 0666 & ~mask) != 0) abandon("Cannot set the mode of");
    if (::fsync(fd_) != 0) abandon("Cannot flush");
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) {
        const int err = errno;
        ::unlink(tmp_.c_str());
        fail("Cannot write", path_, err);
    }
    if (std::rename(tmp_.c_str(), path_.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp_.c_str());
        fail("Cannot replace", path_, err);
    }
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    AtomicFileWriter file(path);
    file.write(bytes);
    file.commit();
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
