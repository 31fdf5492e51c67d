// The one way every part of the system writes a file it hands to the user.
//
// What the name is decides how it is written:
// - a regular file, or a name that does not exist yet: the bytes go to a
//   hidden temporary file beside it (".NAME.tmp-XXXXXX"), which is flushed
//   to disk and renamed over the name; the folder is flushed too. A replaced
//   file keeps its permissions; a new one gets newFileMode less the umask.
// - a symbolic link: written through. The file it points to is replaced in
//   that file's own folder (or created there, for a link that points at
//   nothing yet); the link itself stays as it is.
// - a character device (a terminal, /dev/null), a FIFO, or "-" (standard
//   output): written directly, never renamed over. Nothing can be taken
//   back there, so a failure may leave part of the bytes written.
// - a folder, a block device or a socket: refused.
//
// Temporary files that exist at a moment are listed in a small registry
// that a signal handler can empty (InstallTempFileCleanup), so an
// interrupted program leaves none behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "support/Error.h"

namespace cvn {

// How far a write got when it failed: no file could be made (the folder,
// the name itself), the bytes could not be written, or the finished file
// could not take the name.
enum class FileWriteStage { Open, Write, Replace };

class FileWriteError : public Error {
public:
    FileWriteError(FileWriteStage stage, int err, const std::string& path, std::string why);
    FileWriteStage stage() const noexcept { return stage_; }
    // errno of the failing call, 0 for a refusal of our own ("it is a folder").
    int err() const noexcept { return err_; }
    // Why, without the file name: "Permission denied", "it is a folder".
    const std::string& why() const noexcept { return why_; }

private:
    FileWriteStage stage_;
    int err_;
    std::string why_;
};

// A file written piece by piece that appears whole at commit() or not at
// all: a writer dropped without commit() (an error, an exception on the
// way) removes its temporary file and leaves the target as it was. Writes
// are gathered into a buffer, so large outputs (a CSV of millions of
// points) never need to exist in memory at once. Every failure throws
// FileWriteError naming the file.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string path, mode_t newFileMode = 0666);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(std::string_view bytes);
    // The text gathered so far, for callers that append in place; flush()
    // afterwards lets it go to the file once it is large.
    std::string& buffer() { return buffer_; }
    void flush();
    void commit();
    // The temporary file, for a library that writes a file by its name (it
    // may also delete and create it again): commit() still renames it. A
    // device, pipe or standard output has none; asking for it throws.
    const std::string& tempPath() const;
    // True when the bytes go straight to a device, pipe or standard output.
    bool direct() const { return direct_; }

private:
    void writeAll(std::string_view bytes);
    void writeOut();
    [[noreturn]] void abandon(FileWriteStage stage, int err);
    void dropTemp();

    std::string path_;    // as the caller named it, for messages
    std::string target_;  // the file that is replaced (a link's target)
    std::string tmp_;
    std::string buffer_;
    int fd_ = -1;
    int slot_ = -1;  // in the registry of temporary files
    bool direct_ = false;
    bool keepMode_ = false;  // replacing a file: its mode and owner stay
    mode_t mode_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
};

// The whole file in one go.
void WriteFileAtomically(const std::string& path, std::string_view bytes,
                         mode_t newFileMode = 0666);
// Reads a whole file; throws cvn::Error naming it when that fails.
std::string ReadWholeFile(const std::string& path);

// The registry of paths to remove when the program is stopped by a signal:
// temporary files, and folders made for one run only. Register gives a
// slot (-1 when the registry is full or the path too long: the path is then
// just not covered), Unregister frees it.
int RegisterCleanupPath(const std::string& path);
void UnregisterCleanupPath(int slot);
// Removes every registered path (files first, then folders). Safe to call
// from a signal handler.
void RemoveCleanupPaths() noexcept;
// SIGINT, SIGTERM and SIGHUP remove the registered paths, then end the
// program by the same signal as before (so the shell sees the signal).
void InstallTempFileCleanup();

}  // namespace cvn
