// The shared error handler: call stack, error log and the error message box.
#include "support/ErrorHandler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDate>
#include <QLocale>
#include <QTime>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>

#include "support/ModuleInfo.h"
#include "support/StringTable.h"
#include "support/UiServices.h"
#include "support/UserFolders.h"

namespace cvn {

std::shared_ptr<CErrorHandler> gErrorHandler;

CErrorHandler& errorHandler() {
    if (!gErrorHandler) gErrorHandler = std::make_shared<CErrorHandler>();
    return *gErrorHandler;
}

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kAppTitle = "Wavecatch for Corvane Halvio";
constexpr const char* kLogProduct = "Corvane Wavecatch";

bool isWritableFolder(const std::string& folder) {
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// Characters, not bytes: a name of one accented letter is still one
// character and is skipped like any other.
size_t characterCount(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++n;
    }
    return n;
}

std::string timeStamp() {
    const QLocale locale = QLocale::system();
    return locale.toString(QDate::currentDate(), QLocale::ShortFormat).toStdString() + "  " +
           locale.toString(QTime::currentTime(), QLocale::LongFormat).toStdString();
}

// Appends text to the log, creating it readable by its owner only: the log
// names routines and instrument errors of this user's session.
void appendToFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw Error(kPathError, "Cannot open the error log " + path + ": " + std::strerror(errno),
                    "cvnWCHalv");
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            throw Error(kPathError,
                        "Cannot write the error log " + path + ": " + std::strerror(err),
                        "cvnWCHalv");
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        throw Error(kPathError, "Cannot write the error log " + path + ": " + std::strerror(errno),
                    "cvnWCHalv");
    }
}

void showFailure(const std::string& description) noexcept {
    try {
        MessageBoxRequest request;
        request.text = std::string("Error Handler failed") + kCrLf + description;
        ui().messageBox(request);
    } catch (...) {
        // Nothing is left that could report it; the caller must go on.
    }
}

}  // namespace

CErrorHandler::CErrorHandler() : CErrorHandler(std::string()) {}

CErrorHandler::CErrorHandler(std::string logFolder) : logFolder_(std::move(logFolder)) {
    logFilePath_ = makeFilePath();
    helpFileName_ = ModuleBaseName() + ".hlp";
}

// The log goes beside the module as "Error<module>.txt". An installed add-in
// usually sits in a folder the user may not write, so instead of a fixed file
// in the root of a drive we fall back to the user's state folder:
// $XDG_STATE_HOME/cvnWCHalv/ErrorList.txt (~/.local/state/... by default).
std::string ErrorLogFallbackPath() {
    return UserStateHome() + "/cvnWCHalv/ErrorList.txt";
}

std::string ErrorLogPath(std::string folder, const std::string& baseName) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    if (!isWritableFolder(folder)) return ErrorLogFallbackPath();
    const std::string path = folder + "Error" + baseName + ".txt";
    // An existing log that we may not append to is as good as no folder.
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) {
        return ErrorLogFallbackPath();
    }
    return path;
}

std::string CErrorHandler::makeFilePath() {
    const auto fallback = [] {
        const std::string path = ErrorLogFallbackPath();
        // A folder that cannot be made shows up later as a silent write failure.
        MakeFolders(path.substr(0, path.rfind('/')), 0700);
        return path;
    };
    try {
        const std::string path =
            ErrorLogPath(logFolder_.empty() ? ModuleFolder() : logFolder_, ModuleBaseName());
        return path == ErrorLogFallbackPath() ? fallback() : path;
    } catch (...) {
        std::string path;
        try {
            path = fallback();
            MessageBoxRequest request;
            request.text = "makeFilePath FileName = " + path;
            ui().messageBox(request);
        } catch (...) {
        }
        return path;
    }
}

void CErrorHandler::AddToStack(const std::string& procedureName) {
    if (!saveLogToFile_) return;
    for (int i = stackSize; i >= 2; --i) callStack_[i] = std::move(callStack_[i - 1]);
    callStack_[1] = procedureName;
}

void CErrorHandler::SaveStackToFile(const std::string& procedureName) {
    try {
        std::string text = std::string("New stack,") + kLogProduct + timeStamp() + kCrLf;
        for (int i = stackSize; i >= 1; --i) {
            const std::string& entry = callStack_[static_cast<size_t>(i)];
            if (characterCount(entry) > 1) text += std::to_string(i) + ": " + entry + kCrLf;
        }
        text += "Error in procedure " + procedureName + kCrLf;
        appendToFile(logFilePath_, text);
        ClearStack();
    } catch (...) {
        HandleError("SaveStackToFile", 0, -1);
    }
}

void CErrorHandler::LogProblem(const std::string& text) noexcept {
    try {
        appendToFile(logFilePath_,
                     std::string("Problem,") + kLogProduct + timeStamp() + kCrLf + text + kCrLf);
    } catch (...) {
        // The log is best effort; a problem report must not become an error.
    }
}

void CErrorHandler::HandleError(const std::string& procedureName, int32_t sendType,
                                int32_t msgTag) noexcept {
    HandleError(ErrorInfo::current(), procedureName, sendType, msgTag);
}

void CErrorHandler::HandleError(const ErrorInfo& error, const std::string& procedureName,
                                int32_t sendType, int32_t msgTag) noexcept {
    try {
        const std::string technical = "Error in " + procedureName + kCrLf +
                                      (error.number >= 0 ? " " : "") +
                                      std::to_string(error.number) + ",  " + error.description +
                                      kCrLf + "Error Source; " + error.source;

        std::string userText;
        if (msgTag > 0) {
            if (msgTag <= INT16_MAX) userText = GetResString(static_cast<int16_t>(msgTag), "");
            userText += kCrLf;
            userText += kCrLf;
        }
        if (msgTag == 111) {
            ShowHelpMessage(userText);
            return;
        }

        MessageBoxRequest request;
        switch (sendType) {
            case 1:
                request.text = userText;
                break;
            case 2:
                request.text = userText + kCrLf + kCrLf + technical + kCrLf;
                break;
            case 3:
                request.text = technical;
                break;
            default:
                return;
        }
        request.caption = kAppTitle;
        request.icon = MsgIcon::Critical;
        request.buttons = MsgButtons::OK;
        request.helpFile = helpFileName_;
        request.helpContext = 1;
        ui().messageBox(request);
    } catch (const std::exception& e) {
        showFailure(e.what());
    } catch (...) {
        showFailure("Unknown error");
    }
}

void CErrorHandler::ClearStack() {
    for (auto& entry : callStack_) entry.clear();
}

void CErrorHandler::ShowHelpMessage(const std::string& text) {
    MessageBoxRequest request;
    request.text = text;
    request.caption = kAppTitle;
    request.icon = MsgIcon::Critical;
    request.buttons = MsgButtons::OKHelp;
    request.helpFile = helpFileName_;
    ui().messageBox(request);
}

}  // namespace cvn
