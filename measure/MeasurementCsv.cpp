// Measurement export: file bytes, the atomic write and the save action.
#include "measure/MeasurementCsv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "support/Error.h"
#include "support/UiServices.h"

namespace cvn {
namespace {

constexpr int32_t kFileAccess = 75;
constexpr int32_t kFileIo = 57;
constexpr const char* kSource = "cvnWCHalv";
constexpr const char* kTitle = "Wavecatch for Corvane Halvio";

// UTF-8 to one byte per character. Bytes that are not valid UTF-8 are taken
// as Latin-1 already, so nothing is lost from text that never was UTF-8.
std::string toLatin1(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        std::size_t len = (c & 0xE0) == 0xC0   ? 2
                          : (c & 0xF0) == 0xE0 ? 3
                          : (c & 0xF8) == 0xF0 ? 4
                                               : 0;
        bool valid = len > 0 && i + len <= text.size();
        for (std::size_t k = 1; valid && k < len; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!valid) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        unsigned code = c & (0x7Fu >> len);
        for (std::size_t k = 1; k < len; ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        out += code <= 0xFF ? static_cast<char>(code) : '?';
        i += len;
    }
    return out;
}

[[noreturn]] void fail(int32_t number, const std::string& path, const std::string& why) {
    throw Error(number, "Cannot write " + path + ": " + why, kSource);
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

std::string MeasurementCsvBytes(const std::vector<MeasurementCsvLine>& lines) {
    std::string out;
    for (const auto& line : lines) out += toLatin1(line.name) + "," + toLatin1(line.text) + ",\r\n";
    return out;
}

void WriteMeasurementCsv(const std::string& path, const std::vector<MeasurementCsvLine>& lines) {
    if (path.empty()) fail(kFileAccess, path, "no file name was given");
    const std::string bytes = MeasurementCsvBytes(lines);

    namespace fs = std::filesystem;
    std::error_code ec;
    // Replacing through a symbolic link replaces the file it points to.
    fs::path target = fs::path(path);
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::canonical(target, ec);
        if (!ec) target = resolved;
    }
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) fail(kFileAccess, path, "it is not a regular file");

    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        fail(kFileAccess, path,
             "cannot create a file in " + folder.string() + ": " + std::strerror(errno));
    }
    bool renamed = false;
    struct Cleanup {
        int fd;
        const std::string& temp;
        const bool& renamed;
        ~Cleanup() {
            if (fd >= 0) ::close(fd);
            if (!renamed) ::unlink(temp.c_str());
        }
    } cleanup{fd, temp, renamed};

    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(kFileIo, path, std::strerror(n < 0 ? errno : EIO));
        written += static_cast<std::size_t>(n);
    }
    const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~currentUmask());
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) fail(kFileIo, path, std::strerror(errno));
    const int closing = cleanup.fd;
    cleanup.fd = -1;
    if (::close(closing) != 0) fail(kFileIo, path, std::strerror(errno));
    if (::rename(temp.c_str(), target.c_str()) != 0) fail(kFileAccess, path, std::strerror(errno));
    renamed = true;
}

std::string DefaultSaveName() {
    std::error_code ec;
    std::string folder = std::filesystem::current_path(ec).string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + "Wavecatch";
}

bool SaveMeasurementData(const std::vector<MeasurementCsvLine>& lines) {
    std::string path;
    try {
        FileDialogRequest request;
        request.filter = "Scope measurement (*.csv);;All Files (*)";
        request.defaultExt = "csv";
        request.fileName = DefaultSaveName();
        path = ui().showSave(request).value_or(std::string());
    } catch (...) {
        return false;
    }
    if (path.empty()) return false;
    try {
        WriteMeasurementCsv(path, lines);
        return true;
    } catch (const std::exception& e) {
        try {
            MessageBoxRequest box;
            box.text = std::string("The measurement data could not be saved.\n\n") + e.what();
            box.caption = kTitle;
            box.icon = MsgIcon::Critical;
            ui().messageBox(box);
        } catch (...) {
            // Nothing else can tell the user; the dialog carries on.
        }
        return false;
    }
}

}  // namespace cvn
