// Files the host writes appear whole or not at all: the bytes go to a
// temporary file in the same folder, which is then renamed over the target.
#pragma once

#include <string>
#include <string_view>

namespace cvn::host {

// A file written piece by piece that appears whole at commit() or not at
// all: a writer dropped without commit() (an error, an exception on the
// way) removes its temporary file and leaves the target as it was. Writes
// are gathered into a buffer, so large outputs (a CSV of millions of
// points) never need to exist in memory at once. Every failure throws
// cvn::Error naming the file.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(std::string_view bytes);
    // The text gathered so far, for callers that append in place; flush()
    // afterwards lets it go to the file once it is large.
    std::string& buffer() { return buffer_; }
    void flush();
    void commit();
    // The temporary file, for a library that writes a file by its name
    // (it may also delete and create it again): commit() still renames it.
    const std::string& tempPath() const { return tmp_; }

private:
    void writeAll(std::string_view bytes);
    void writeOut();
    [[noreturn]] void abandon(const char* what);

    std::string path_;
    std::string tmp_;
    std::string buffer_;
    int fd_ = -1;
};

// The whole file in one go.
void WriteFileAtomically(const std::string& path, std::string_view bytes);
// Reads a whole file; throws cvn::Error naming it when that fails.
std::string ReadWholeFile(const std::string& path);

}  // namespace cvn::host
