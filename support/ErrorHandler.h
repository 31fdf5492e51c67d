// The shared error handler: a short trace of the routines that announced
// themselves, an error log beside the module, and the one place that turns
// an error into a message box. HandleError never throws.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "support/Error.h"

namespace cvn {

class CErrorHandler {
public:
    CErrorHandler();
    // Keeps the log in logFolder instead of beside the module (tests, hosts
    // that want the log elsewhere). The same fallback applies.
    explicit CErrorHandler(std::string logFolder);

    void AddToStack(const std::string& procedureName);
    void SaveStackToFile(const std::string& procedureName);
    // Reports the error being handled (the current exception when called from
    // a catch block, otherwise number 0 with empty texts).
    void HandleError(const std::string& procedureName, int32_t sendType = 0,
                     int32_t msgTag = 0) noexcept;
    // The same with the error given explicitly.
    void HandleError(const ErrorInfo& error, const std::string& procedureName, int32_t sendType = 0,
                     int32_t msgTag = 0) noexcept;

    // Appends one time-stamped line to the log, for problems that must not
    // interrupt the user (a damaged settings file, for example).
    void LogProblem(const std::string& text) noexcept;

    bool SaveLogToFile() const { return saveLogToFile_; }
    void SetSaveLogToFile(bool value) { saveLogToFile_ = value; }
    const std::string& HelpFileName() const { return helpFileName_; }
    void SetHelpFileName(std::string value) { helpFileName_ = std::move(value); }

    // Beside the module, or $XDG_STATE_HOME/cvnWCHalv/ErrorList.txt when that
    // folder is missing or not writable.
    const std::string& logFilePath() const { return logFilePath_; }
    // Entry i of the call stack, 1 (newest) to stackSize.
    const std::string& stackEntry(int i) const { return callStack_.at(static_cast<size_t>(i)); }
    static constexpr int32_t stackSize = 15;

private:
    std::string makeFilePath();
    void ClearStack();
    void ShowHelpMessage(const std::string& text);

    std::string logFolder_;  // empty: the module's folder
    std::string logFilePath_;
    std::array<std::string, stackSize + 1> callStack_{};  // index 0 unused
    bool saveLogToFile_ = false;
    std::string helpFileName_;
};

// Where the error handler of a module named baseName (file name without
// extension) in folder writes its log: "Error<baseName>.txt" in folder when
// the folder is writable and an existing log there may be appended to, else
// ErrorLogFallbackPath(). Creates nothing, so hosts can tell users where a
// module's log is without touching it.
std::string ErrorLogPath(std::string folder, const std::string& baseName);
// $XDG_STATE_HOME/cvnWCHalv/ErrorList.txt (~/.local/state when unset).
std::string ErrorLogFallbackPath();

// The shared instance. Empty until the first retrieval creates one; use
// errorHandler() to get it created on demand.
extern std::shared_ptr<CErrorHandler> gErrorHandler;
CErrorHandler& errorHandler();

}  // namespace cvn
