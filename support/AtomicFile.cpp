// Atomic file writes, and the registry of temporary files a signal removes.
#include "support/AtomicFile.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

namespace cvn {

namespace {

constexpr int32_t kFileError = kPathError;
constexpr const char* kSource = "cvnWCHalv";
constexpr size_t kFlushBytes = size_t{1} << 20;
// Room for ".tmp-XXXXXX" and the leading dot within a file name's 255 bytes.
constexpr size_t kMaxTempBase = 200;

[[noreturn]] void fail(FileWriteStage stage, int err, const std::string& path, std::string why) {
    throw FileWriteError(stage, err, path, std::move(why));
}

[[noreturn]] void failErrno(FileWriteStage stage, int err, const std::string& path) {
    fail(stage, err, path, std::strerror(err));
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Where a link that points at nothing yet leads: its chain followed by
// hand, since realpath() refuses a name that does not exist.
std::string danglingTarget(const std::string& path) {
    std::string p = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) {
            if (errno == ENOENT) return p;
            failErrno(FileWriteStage::Open, errno, path);
        }
        if (!S_ISLNK(st.st_mode)) return p;
        std::vector<char> buf(PATH_MAX + 1);
        const ssize_t n = ::readlink(p.c_str(), buf.data(), buf.size() - 1);
        if (n < 0) failErrno(FileWriteStage::Open, errno, path);
        std::string link(buf.data(), static_cast<size_t>(n));
        p = link.front() == '/' ? link : folderOf(p) + "/" + link;
    }
    failErrno(FileWriteStage::Open, ELOOP, path);
}

// Signals that end the program block while a temporary file is made and
// registered, so none can slip between the two.
class StopSignalsBlocked {
public:
    StopSignalsBlocked() {
        sigset_t stop;
        sigemptyset(&stop);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, s);
        pthread_sigmask(SIG_BLOCK, &stop, &old_);
    }
    ~StopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

// ---- registry of paths to remove on a signal ----
// Fixed slots, no allocation: the signal handler reads them as they are.
constexpr int kSlots = 32;
constexpr size_t kSlotPath = 4096;
enum SlotState : int { kFree = 0, kFilling = 1, kLive = 2 };
struct Slot {
    std::atomic<int> state{kFree};
    char path[kSlotPath];
};
Slot gSlots[kSlots];

extern "C" void removeAndStop(int signal) {
    RemoveCleanupPaths();
    // The handler was reset on entry (SA_RESETHAND); the signal, blocked
    // while it runs, ends the program once it returns.
    ::raise(signal);
}

}  // namespace

FileWriteError::FileWriteError(FileWriteStage stage, int err, const std::string& path,
                               std::string why)
    : Error(kFileError, "Cannot write " + path + ": " + why, kSource),
      stage_(stage),
      err_(err),
      why_(std::move(why)) {}

int RegisterCleanupPath(const std::string& path) {
    if (path.size() >= kSlotPath) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!gSlots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
        gSlots[i].state.store(kLive, std::memory_order_release);
        return i;
    }
    return -1;
}

void UnregisterCleanupPath(int slot) {
    if (slot >= 0 && slot < kSlots) gSlots[slot].state.store(kFree, std::memory_order_release);
}

void RemoveCleanupPaths() noexcept {
    // Files first, so that folders made for them are empty by the second pass.
    for (Slot& s : gSlots)
        if (s.state.load(std::memory_order_acquire) == kLive) ::unlink(s.path);
    for (Slot& s : gSlots)
        if (s.state.load(std::memory_order_acquire) == kLive) ::rmdir(s.path);
}

void InstallTempFileCleanup() {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        ::sigaction(s, nullptr, &old);
        // A program started to ignore hang-ups (nohup) keeps ignoring them.
        if (old.sa_handler == SIG_IGN) continue;
        struct sigaction on {};
        on.sa_handler = removeAndStop;
        sigemptyset(&on.sa_mask);
        on.sa_flags = SA_RESETHAND;
        ::sigaction(s, &on, nullptr);
    }
}

AtomicFileWriter::AtomicFileWriter(std::string path, mode_t newFileMode) : path_(std::move(path)) {
    if (path_ == "-") {
        // Standard output: what the program printed before comes first.
        std::cout.flush();
        std::fflush(stdout);
        fd_ = STDOUT_FILENO;
        direct_ = true;
        return;
    }
    if (path_.empty()) fail(FileWriteStage::Open, ENOENT, path_, "no file name was given");

    target_ = path_;
    struct stat st {};
    bool exists = ::lstat(path_.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) failErrno(FileWriteStage::Open, errno, path_);
    if (exists && S_ISLNK(st.st_mode)) {
        if (::stat(path_.c_str(), &st) == 0) {
            // realpath() also reads the kernel's own links (/dev/stdout ->
            // /proc/self/fd/1 -> the file the shell opened).
            if (S_ISREG(st.st_mode)) {
                if (char* real = ::realpath(path_.c_str(), nullptr)) {
                    target_ = real;
                    std::free(real);
                }
            }
        } else if (errno == ENOENT) {
            target_ = danglingTarget(path_);
            exists = false;
        } else {
            failErrno(FileWriteStage::Open, errno, path_);
        }
    }
    if (exists && S_ISDIR(st.st_mode)) fail(FileWriteStage::Open, EISDIR, path_, "it is a folder");
    if (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
        // Written where it is; a pipe nobody reads fails at once instead of
        // waiting for a reader.
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) {
            const int err = errno;
            if (err == ENXIO) fail(FileWriteStage::Open, err, path_, "no program reads the pipe");
            failErrno(FileWriteStage::Open, err, path_);
        }
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        direct_ = true;
        return;
    }
    if (exists && !S_ISREG(st.st_mode))
        fail(FileWriteStage::Open, 0, path_, "it is not a file, a character device or a pipe");

    keepMode_ = exists;
    mode_ = exists ? (st.st_mode & 07777) : (newFileMode & 07777 & ~currentUmask());
    uid_ = st.st_uid;
    gid_ = st.st_gid;

    const std::string folder = folderOf(target_);
    std::string base = baseOf(target_);
    if (base.size() > kMaxTempBase) base.resize(kMaxTempBase);
    std::string pattern = folder;
    if (pattern.back() != '/') pattern += '/';
    pattern += '.';
    pattern += base;
    pattern += ".tmp-XXXXXX";
    const StopSignalsBlocked blocked;
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) {
        const int err = errno;
        fail(FileWriteStage::Open, err, path_,
             "cannot create a file in " + folder + ": " + std::strerror(err));
    }
    tmp_ = pattern;
    slot_ = RegisterCleanupPath(tmp_);
    buffer_.reserve(kFlushBytes + kFlushBytes / 4);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (direct_) {
        if (fd_ > STDERR_FILENO) ::close(fd_);
        return;
    }
    if (fd_ >= 0) ::close(fd_);
    dropTemp();
}

void AtomicFileWriter::dropTemp() {
    if (!tmp_.empty()) ::unlink(tmp_.c_str());
    UnregisterCleanupPath(slot_);
    slot_ = -1;
    tmp_.clear();
}

const std::string& AtomicFileWriter::tempPath() const {
    if (direct_)
        fail(FileWriteStage::Open, 0, path_,
             "this format needs a file, not a device, a pipe or standard output");
    return tmp_;
}

void AtomicFileWriter::abandon(FileWriteStage stage, int err) {
    if (!direct_) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        dropTemp();
    }
    failErrno(stage, err, path_);
}

void AtomicFileWriter::writeAll(std::string_view bytes) {
    if (fd_ < 0) failErrno(FileWriteStage::Write, EBADF, path_);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            abandon(FileWriteStage::Write, errno);
        }
        if (n == 0) abandon(FileWriteStage::Write, EIO);
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
    if (direct_) {
        if (fd_ > STDERR_FILENO) {
            const int closed = ::close(fd_);
            fd_ = -1;
            if (closed != 0) failErrno(FileWriteStage::Write, errno, path_);
        }
        return;
    }
    // A library may have made the temporary file anew under its name, so
    // mode and flush go through the name, not the first descriptor.
    const int first = fd_;
    fd_ = -1;
    if (::close(first) != 0) abandon(FileWriteStage::Write, errno);
    fd_ = ::open(tmp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) abandon(FileWriteStage::Write, errno);
    // A replaced file keeps its owner where we may set it (as root), and
    // its permissions; the owner goes first, as it clears set-id bits.
    if (keepMode_ && ::fchown(fd_, uid_, gid_) != 0) {
        // Not ours to give away: the file becomes ours, as any rewrite would.
    }
    if (::fchmod(fd_, mode_) != 0) abandon(FileWriteStage::Write, errno);
    if (::fsync(fd_) != 0) abandon(FileWriteStage::Write, errno);
    ::close(fd_);
    fd_ = -1;
    if (::rename(tmp_.c_str(), target_.c_str()) != 0) abandon(FileWriteStage::Replace, errno);
    UnregisterCleanupPath(slot_);
    slot_ = -1;
    tmp_.clear();
    // Make the rename itself durable; a failure here loses nothing.
    const int dir = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t newFileMode) {
    AtomicFileWriter file(path, newFileMode);
    file.write(bytes);
    file.commit();
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(kFileError, "Cannot open " + path + ": " + std::strerror(errno), kSource);
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad())
        throw Error(kFileError, "Cannot read " + path + ": " + std::strerror(errno), kSource);
    return s.str();
}

}  // namespace cvn
