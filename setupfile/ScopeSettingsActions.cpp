// Saving the scope's setup to a file and sending a file back.
#include "setupfile/ScopeSettingsActions.h"

#include <cctype>
#include <filesystem>
#include <vector>

#include "io/IoError.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "setupfile/CSetupFile.h"
#include "support/ErrorHandler.h"
#include "support/UiServices.h"

namespace cvn {
namespace {

constexpr const char* kAddinTitle = "Wavecatch for Corvane Halvio";
constexpr const char* kOtherTitle = "Corvane Wavecatch";
constexpr const char* kNotCompatibleFile = "Not a compatible file";
constexpr const char* kNotCompatibleInstrument = "Not a compatible instrument";
constexpr const char* kSetCommand = "Syst:Set ";

std::string defaultName() {
    std::error_code ec;
    std::string folder = std::filesystem::current_path(ec).string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + "Wavecatch";
}

void tell(const std::string& text, MsgIcon icon, const char* caption) {
    MessageBoxRequest box;
    box.text = text;
    box.caption = caption;
    box.icon = icon;
    box.buttons = MsgButtons::OK;
    ui().messageBox(box);
}

bool hasSetupExtension(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return ext == ".SCP";
}

// Terminator and time-out as they were before a raw setup read.
class SessionSettingsGuard {
public:
    explicit SessionSettingsGuard(io::IoSession& s)
        : session_(s), term_(s.TermChar()), timeout_(s.Timeout()) {}
    ~SessionSettingsGuard() {
        try {
            session_.SetTermChar(term_);
            session_.SetTimeout(timeout_);
        } catch (...) {
            // A session that cannot take its own old values is gone anyway.
        }
    }
    SessionSettingsGuard(const SessionSettingsGuard&) = delete;
    SessionSettingsGuard& operator=(const SessionSettingsGuard&) = delete;

private:
    io::IoSession& session_;
    int term_;
    int timeout_;
};

// The binary block at the front of a raw setup reply, as the scope sent
// it: header and data, without the terminator that may follow it (LF or
// CR LF, in time, late, or not at all). A "#0" block runs to the line feed
// the raw read ends it with. Refuses a reply that is no block, and a block
// the read's capacity cut.
std::size_t setupBlockBytes(const std::vector<uint8_t>& reply, std::size_t count) {
    const auto notABlock = [&] {
        return io::IoError(io::kIoMalformed, "The scope's setup reply is not a binary block (" +
                                                 std::to_string(count) + " bytes)");
    };
    if (count < 2 || reply[0] != '#' || !std::isdigit(reply[1])) throw notABlock();
    const std::size_t digits = reply[1] - '0';
    if (digits == 0) {
        if (count < 3 || reply[count - 1] != '\n') throw notABlock();
        return count - 1;
    }
    if (count < 2 + digits) throw notABlock();
    std::size_t length = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        if (!std::isdigit(reply[2 + i])) throw notABlock();
        length = length * 10 + (reply[2 + i] - '0');
    }
    if (length > count - 2 - digits) {
        throw io::IoError(io::kIoBlockTooLarge,
                          "The scope's setup block declares " + std::to_string(length) +
                              " bytes; a setup read takes at most " +
                              std::to_string(kSetupReadCapacity) + " bytes in all");
    }
    return 2 + digits + length;
}

void reportNoConnection() {
    errorHandler().HandleError(ErrorInfo{}, "isConnected, Error ", 1, 115);
}

}  // namespace

std::string SaveSettingsToFile() {
    try {
        errorHandler().AddToStack("SaveSettingsToFile");
        FileDialogRequest request;
        request.filter = kScopeSettingsFilter;
        request.defaultExt = "scp";
        request.fileName = defaultName();
        return ui().showSave(request).value_or(std::string());
    } catch (...) {
        return {};
    }
}

std::string OpenSettingsFile() {
    try {
        errorHandler().AddToStack("OpenDocument");
        FileDialogRequest request;
        request.filter = kScopeSettingsFilter;
        request.initialDir = defaultName();
        const std::optional<std::string> chosen = ui().showOpen(request);
        if (!chosen) return {};
        if (!hasSetupExtension(*chosen))
            tell("Incorrect file type", MsgIcon::Critical, kOtherTitle);
        return *chosen;
    } catch (...) {
        errorHandler().HandleError("OpenSettingsFile", 0, -1);
        return {};
    }
}

void SaveLearnString(const std::string& path) {
    CSetupFile record;
    if (!gSession) {
        reportNoConnection();
        return;
    }
    io::IoSession& session = *gSession;
    session.Output("*idn?");
    std::vector<std::string> idn = session.EnterTextArray();
    idn.resize(5);
    session.Output(":SYSTem:Header OFF\r\n");
    session.Output(":SYSTem:SETup?\r\n");

    SessionSettingsGuard restore(session);
    session.SetTermChar(-1);
    session.SetTimeout(kSetupReadTimeoutMs);
    std::vector<uint8_t> buffer(kSetupReadCapacity);
    const std::size_t count = session.ReadBytes(buffer.data(), buffer.size());
    // The setup is a binary block; anything else (an error text, noise on
    // the line, a block cut short) must not end up in the user's file.
    buffer.resize(setupBlockBytes(buffer, count));

    record.setLearnString(std::move(buffer));
    record.setModel(idn[1]);
    record.setManufacturer(idn[0]);
    record.setVersion(idn[3]);
    record.WriteFile(path);
}

bool SendSetupFile(const std::string& path) {
    CSetupFile record;
    if (!CSetupFile::IsACompatibleFile(path)) {
        tell(kNotCompatibleFile, MsgIcon::None, kAddinTitle);
        return false;
    }
    try {
        record.ReadFile(path);
    } catch (const Error& e) {
        tell(std::string(kNotCompatibleFile) + "\n\n" + e.description(), MsgIcon::None,
             kAddinTitle);
        return false;
    }
    if (!record.hasLearnString()) {
        tell(std::string(kNotCompatibleFile) + "\n\n" + path + " holds no scope settings.",
             MsgIcon::None, kAddinTitle);
        return false;
    }
    if (gModels.empty()) LoadModelTable();
    if (!IsSupportedModel(record.model())) {
        tell(kNotCompatibleInstrument, MsgIcon::Critical, kAddinTitle);
        return false;
    }
    if (!gSession) {
        reportNoConnection();
        return false;
    }
    const std::vector<uint8_t>& setup = record.LearnString();
    std::string message(kSetCommand);
    message.append(setup.begin(), setup.end());
    // The setup went into the file without the line feed that ended the
    // reply; a byte stream needs it back to see where the message ends.
    gSession->Output(message);
    return true;
}

void RunScopeSettingsAction(bool saveToFile) {
    const std::string path = saveToFile ? SaveSettingsToFile() : OpenSettingsFile();
    if (path.empty()) return;
    const char* routine = saveToFile ? "SaveLearnString" : "SendSetupFile";
    try {
        ui().setBusyCursor(true);
        if (saveToFile) {
            SaveLearnString(path);
        } else {
            SendSetupFile(path);
        }
    } catch (const io::IoError&) {
        // Show what went wrong on the wire; the file is untouched.
        errorHandler().HandleError(routine, saveToFile ? 2 : 3, saveToFile ? 202 : 0);
    } catch (const std::exception& e) {
        try {
            ui().setBusyCursor(false);
            tell(std::string(saveToFile ? "The scope settings could not be saved."
                                        : "The scope settings could not be sent.") +
                     "\n\n" + e.what(),
                 MsgIcon::Critical, kAddinTitle);
        } catch (...) {
        }
    } catch (...) {
        errorHandler().HandleError(routine, 3, 0);
    }
    try {
        ui().setBusyCursor(false);
    } catch (...) {
    }
}

}  // namespace cvn
