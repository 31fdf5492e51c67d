// Reading and writing of setup files. The parser works on a complete image
// in memory, so a file is read once, bounded in size, and never seeked in;
// the same parser serves the file reader and the fuzzer.
#include "setupfile/CSetupFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "support/AtomicFile.h"
#include "support/Error.h"
#include "support/Text.h"

namespace cvn {
namespace {

constexpr std::size_t kFieldCount = 13;
// What the fields are called in messages, by position.
constexpr std::array<const char*, kFieldCount> kFieldNames = {
    "header length",    "file type",        "format version", "model",         "manufacturer",
    "serial number",    "firmware version", "comments",       "identity text", "reserved field 1",
    "reserved field 2", "reserved field 3", "data length"};

[[noreturn]] void fail(int32_t number, std::string_view verb, std::string_view name,
                       const std::string& reason) {
    throw Error(
        number,
        "Cannot " + std::string(verb) + " setup file \"" + std::string(name) + "\": " + reason,
        kSetupFileErrorSource);
}

[[noreturn]] void badFormat(std::string_view name, const std::string& reason) {
    fail(kSetupFileBadFormat, "read", name, reason);
}

// A field value for a message: short, and with unprintable bytes shown as
// \xNN so that garbage cannot garble the message.
std::string quoted(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string out = "'";
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        }
    }
    if (text.size() > kShown) out += "...";
    return out + "'";
}

// Decimal digits only (no sign, no blanks); nothing when empty, not digits
// or beyond 9 digits, which is more than any limit we accept.
std::optional<std::size_t> parseCount(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return value;
}

std::size_t digitCount(std::size_t value) {
    std::size_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

// Splits off the fields one "|" at a time, counting every byte consumed.
class FieldReader {
public:
    explicit FieldReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    std::optional<std::string_view> next() {
        const auto* begin = bytes_.data() + consumed_;
        const std::size_t left = bytes_.size() - consumed_;
        const void* bar = left == 0 ? nullptr : std::memchr(begin, '|', left);
        if (bar == nullptr) return std::nullopt;
        const auto length = static_cast<std::size_t>(static_cast<const uint8_t*>(bar) - begin);
        consumed_ += length + 1;
        return std::string_view(reinterpret_cast<const char*>(begin), length);
    }
    std::size_t consumed() const { return consumed_; }

private:
    std::span<const uint8_t> bytes_;
    std::size_t consumed_ = 0;
};

struct Identity {
    std::size_t headerLength = 0;
    std::string_view type;
    std::string_view version;
};

// Fields 1 to 3 without judging them; nothing when the bytes end first.
std::optional<Identity> readIdentity(FieldReader& reader) {
    Identity id;
    const auto length = reader.next();
    if (!length) return std::nullopt;
    const auto count = parseCount(*length);
    if (!count) return std::nullopt;
    id.headerLength = *count;
    const auto type = reader.next();
    if (!type) return std::nullopt;
    id.type = *type;
    const auto version = reader.next();
    if (!version) return std::nullopt;
    id.version = *version;
    return id;
}

// A file descriptor that closes itself.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports the result, which matters after writing.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

std::string errnoText(int error) {
    return std::strerror(error);
}

// At most limit + 1 bytes of a regular file, so that an oversized file is
// noticed without reading it all; with prefixOnly, just its first limit
// bytes, whatever its size. Throws for anything that is not a readable
// regular file.
std::vector<uint8_t> readBounded(const std::string& path, std::size_t limit,
                                 bool prefixOnly = false) {
    // O_NONBLOCK so that a FIFO at path cannot block the open.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            fail(kSetupFileNotFound, "read", path, "it does not exist");
        fail(kSetupFileAccess, "read", path, errnoText(error));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) fail(kSetupFileAccess, "read", path, errnoText(errno));
    if (S_ISDIR(st.st_mode)) fail(kSetupFileAccess, "read", path, "it is a folder, not a file");
    if (!S_ISREG(st.st_mode)) fail(kSetupFileAccess, "read", path, "it is not a regular file");
    if (!prefixOnly && static_cast<uintmax_t>(st.st_size) > limit) {
        badFormat(path, "it is " + std::to_string(st.st_size) +
                            " bytes, larger than any setup file (limit " + std::to_string(limit) +
                            " bytes)");
    }
    // The size is only a hint: the file may change while we read it.
    const std::size_t cap = prefixOnly ? limit : limit + 1;
    std::vector<uint8_t> data(std::min(static_cast<std::size_t>(st.st_size) + 1, cap));
    std::size_t got = 0;
    for (;;) {
        if (got == data.size()) {
            if (data.size() >= cap) break;
            data.resize(std::min(data.size() * 2, cap));
        }
        const ssize_t n = ::read(fd.get(), data.data() + got, data.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(kSetupFileIoFailure, "read", path, errnoText(errno));
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    return data;
}

// Follows a symbolic link at path, so that writing replaces the file the
// link points to and keeps the link.
}  // namespace

std::size_t SetupHeaderLength(std::size_t restBytes) {
    const std::size_t digits = digitCount(restBytes);
    std::size_t length = restBytes + digits + 1;
    // Adding the digits can carry the sum into one more digit (97 + 2 + 1 =
    // 100), which then needs one more byte itself.
    if (digitCount(length) > digits) ++length;
    return length;
}

std::vector<uint8_t> CSetupFile::serialize(std::string_view name) const {
    const std::string dataLength = std::to_string(learnString_.size());
    const std::array<std::string_view, kFieldCount - 1> fields = {
        kFileType,     kFormatVersion, model_,     manufacturer_, serialNumber_, version_,
        userComments_, kIdentityText,  reserved1_, reserved2_,    reserved3_,    dataLength};
    std::size_t rest = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        // Nothing is escaped in this format: a "|" would split the field
        // and the file could not be read back, so it is refused here.
        if (fields[i].find('|') != std::string_view::npos) {
            fail(kSetupFileBadValue, "write", name,
                 std::string("the ") + kFieldNames[i + 1] + " " + quoted(fields[i]) +
                     " contains '|', which a setup file cannot hold");
        }
        rest += fields[i].size() + 1;
    }
    const std::size_t headerLength = SetupHeaderLength(rest);
    if (headerLength > kMaxHeaderBytes) {
        fail(kSetupFileBadValue, "write", name,
             "the texts take " + std::to_string(headerLength) + " bytes; the limit is " +
                 std::to_string(kMaxHeaderBytes));
    }
    if (learnString_.size() > kMaxLearnStringBytes) {
        fail(kSetupFileBadValue, "write", name,
             "the setup of " + std::to_string(learnString_.size()) +
                 " bytes is larger than the limit of " + std::to_string(kMaxLearnStringBytes) +
                 " bytes");
    }

    std::vector<uint8_t> out;
    out.reserve(headerLength + learnString_.size());
    auto append = [&out](std::string_view text) {
        out.insert(out.end(), text.begin(), text.end());
        out.push_back('|');
    };
    append(std::to_string(headerLength));
    for (std::string_view field : fields) append(field);
    out.insert(out.end(), learnString_.begin(), learnString_.end());
    return out;
}

CSetupFile CSetupFile::parse(std::span<const uint8_t> bytes, std::string_view name) {
    if (bytes.empty()) badFormat(name, "the file is empty");

    FieldReader reader(bytes);
    const auto lengthField = reader.next();
    const auto headerLength = lengthField ? parseCount(*lengthField) : std::nullopt;
    if (!headerLength) {
        badFormat(name, "it does not begin with a header length, so it is not a setup file");
    }
    if (*headerLength > bytes.size()) {
        badFormat(name, "the header length " + std::to_string(*headerLength) +
                            " points past the end of the file (" + std::to_string(bytes.size()) +
                            " bytes): it is cut short or not a setup file");
    }
    if (*headerLength > kMaxHeaderBytes) {
        badFormat(name, "the header length " + std::to_string(*headerLength) +
                            " is larger than the limit of " + std::to_string(kMaxHeaderBytes));
    }

    std::array<std::string_view, kFieldCount> field{};
    field[0] = *lengthField;
    for (std::size_t i = 1; i < kFieldCount; ++i) {
        const auto next = reader.next();
        if (!next) {
            badFormat(name, "the header is cut short: the file ends inside the " +
                                std::string(kFieldNames[i]) + " field");
        }
        field[i] = *next;
        if (i == 1 && !EqualsIgnoringCase(field[1], kFileType)) {
            badFormat(name, "its file type is " + quoted(field[1]) +
                                ", not 'scp', so it is not a setup file");
        }
        if (i == 2 && !EqualsIgnoringCase(field[2], kFormatVersion)) {
            badFormat(name, "format version " + quoted(field[2]) +
                                " is not supported (only version 1 is)");
        }
    }
    // Field 9 (the header text) is read and not judged: other writers put
    // their own text there, and the type, version and lengths decide.
    if (reader.consumed() != *headerLength) {
        badFormat(name, "the header length says " + std::to_string(*headerLength) +
                            " bytes but the header takes " + std::to_string(reader.consumed()));
    }
    const auto dataLength = parseCount(field[12]);
    if (!dataLength) badFormat(name, "the data length " + quoted(field[12]) + " is not a number");
    if (*dataLength > kMaxLearnStringBytes) {
        badFormat(name, "the setup of " + std::to_string(*dataLength) +
                            " bytes is larger than the limit of " +
                            std::to_string(kMaxLearnStringBytes) + " bytes");
    }
    const std::size_t present = bytes.size() - reader.consumed();
    if (present < *dataLength) {
        badFormat(name, "the file is cut short: it holds " + std::to_string(present) + " of the " +
                            std::to_string(*dataLength) + " setup bytes");
    }
    // Bytes after the setup (a line end an editor or a transfer added) are
    // not part of it and are left alone.

    CSetupFile record;
    record.model_ = field[3];
    record.manufacturer_ = field[4];
    record.serialNumber_ = field[5];
    record.version_ = field[6];
    record.userComments_ = field[7];
    record.reserved1_ = field[9];
    record.reserved2_ = field[10];
    record.reserved3_ = field[11];
    const auto setup = bytes.subspan(reader.consumed(), *dataLength);
    record.learnString_.assign(setup.begin(), setup.end());
    return record;
}

bool CSetupFile::IsCompatible(std::span<const uint8_t> bytes) noexcept {
    FieldReader reader(bytes);
    const auto id = readIdentity(reader);
    return id && EqualsIgnoringCase(id->type, kFileType) &&
           EqualsIgnoringCase(id->version, kFormatVersion);
}

bool CSetupFile::IsACompatibleFile(const std::string& path) noexcept {
    try {
        // The first three fields of any file we would accept lie within
        // the header limit, so nothing more is read.
        return IsCompatible(readBounded(path, kMaxHeaderBytes, true));
    } catch (...) {
        return false;
    }
}

void CSetupFile::ReadFile(const std::string& path) {
    const std::vector<uint8_t> data = readBounded(path, kMaxFileBytes);
    if (data.size() > kMaxFileBytes) {
        badFormat(path, "it is larger than any setup file (limit " + std::to_string(kMaxFileBytes) +
                            " bytes)");
    }
    *this = parse(data, path);
}

void CSetupFile::WriteFile(const std::string& path) const {
    // Everything that can be refused is refused before the disk is touched.
    const std::vector<uint8_t> bytes = serialize(path);
    if (path.empty()) fail(kSetupFileNotFound, "write", path, "no file name was given");

    try {
        WriteFileAtomically(
            path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    } catch (const FileWriteError& e) {
        const bool noFolder = e.err() == ENOENT || e.err() == ENOTDIR;
        const int32_t number = e.stage() == FileWriteStage::Write              ? kSetupFileIoFailure
                               : e.stage() == FileWriteStage::Open && noFolder ? kSetupFileNotFound
                                                                               : kSetupFileAccess;
        fail(number, "write", path, e.why());
    }
}

}  // namespace cvn
