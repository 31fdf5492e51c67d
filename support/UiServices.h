// The windowing services the add-in needs, behind one small interface so
// that the error handler, the driver and the dialogs never call a toolkit
// directly. The Qt implementation shows real boxes; tests install the
// scripted double and answer every box themselves.
//
// Contract: every call runs on the host's thread and may block (modal boxes,
// waits). Implementations never throw.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cvn {

enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgButtons { OK, OKCancel, YesNoCancel, YesNo, OKHelp };
enum class MsgResult { OK, Cancel, Yes, No, Help };

struct MessageBoxRequest {
    std::string text;
    std::string caption;  // empty: the default caption (the module's name)
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::OK;
    std::string helpFile;
    int helpContext = 0;
};

struct FileDialogRequest {
    std::string title;
    std::string filter;      // e.g. "Setup files (*.scp);;All files (*)"
    std::string defaultExt;  // without the dot
    std::string initialDir;
    std::string fileName;  // proposed name
};

class UiServices {
public:
    virtual ~UiServices() = default;
    virtual MsgResult messageBox(const MessageBoxRequest& request) = 0;
    // Returns the chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> showOpen(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> showSave(const FileDialogRequest& request) = 0;
    virtual void setBusyCursor(bool busy) = 0;
    // Runs the window events queued now, once (repaints, input). The only
    // place where events run while the add-in holds the thread.
    virtual void processPendingEvents() = 0;
    // Blocks the calling thread for the duration. Runs no events: a timer,
    // a click or a paint queued meanwhile runs after the add-in's call.
    virtual void wait(std::chrono::milliseconds duration) = 0;
    // A waveform transfer's progress: bytes of the source's data received
    // so far of total (0 while an indefinite block's size is unknown);
    // called during the transfer, last with received == total. Must not
    // run other events: the add-in is in the middle of a read.
    virtual void transferProgress(const std::string& source, size_t received, size_t total) {
        (void)source;
        (void)received;
        (void)total;
    }
};

// The answer a box gets when nobody can see it: the one that changes
// nothing (Cancel, No, else OK).
MsgResult UnattendedAnswer(MsgButtons buttons);
// Such a box as a stderr line, "[caption] text (buttons: answered X)",
// with shownText as the text; gives the answer.
MsgResult AnswerUnattended(const MessageBoxRequest& request, const std::string& shownText);

// The services in use: those set, else the process's default (the module
// installs the Qt windows as its default when it loads; a process without
// windows gets boxes as stderr lines answered with their safe choice).
UiServices& ui();
// Passing nullptr goes back to the default.
void setUiServices(std::shared_ptr<UiServices> services);
// What ui() falls back to; the windowing library installs itself here, so
// this library needs no windowing toolkit.
void setDefaultUiServices(std::function<std::shared_ptr<UiServices>()> make);
// The services in use, for code that must restore them later.
std::shared_ptr<UiServices> uiServices();

// Default caption used when a request leaves the caption empty.
inline constexpr const char* kDefaultCaption = "cvnWCHalv";

}  // namespace cvn
