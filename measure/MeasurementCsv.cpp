// Measurement export: file bytes, the atomic write and the save action.
#include "measure/MeasurementCsv.h"

#include <filesystem>

#include "support/AtomicFile.h"
#include "support/Error.h"
#include "support/UiServices.h"

namespace cvn {
namespace {

constexpr int32_t kFileAccess = kPathError;
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

}  // namespace

std::string MeasurementCsvBytes(const std::vector<MeasurementCsvLine>& lines) {
    std::string out;
    for (const auto& line : lines) out += toLatin1(line.name) + "," + toLatin1(line.text) + ",\r\n";
    return out;
}

void WriteMeasurementCsv(const std::string& path, const std::vector<MeasurementCsvLine>& lines) {
    if (path.empty()) fail(kFileAccess, path, "no file name was given");
    const std::string bytes = MeasurementCsvBytes(lines);

    try {
        WriteFileAtomically(path, bytes);
    } catch (const FileWriteError& e) {
        fail(e.stage() == FileWriteStage::Write ? kFileIo : kFileAccess, path, e.why());
    }
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
