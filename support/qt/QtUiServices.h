// The windowing services on Qt Widgets: real message boxes, file dialogs,
// the busy cursor and event processing.
//
// A host without a QApplication (a command line program, a service) gets no
// widgets: boxes are printed to stderr and answered with the button that
// does the least, so nothing proceeds that nobody agreed to (OK for an OK or
// OK/Help box, Cancel where there is one, No for Yes/No); file dialogs
// answer "cancelled"; the busy cursor is ignored. Waits always block the
// thread: events are processed only where processPendingEvents is called.
#pragma once

#include "support/UiServices.h"
#include "support/qt/TransferProgressView.h"

namespace cvn {

class QtUiServices final : public UiServices {
public:
    MsgResult messageBox(const MessageBoxRequest& request) override;
    std::optional<std::string> showOpen(const FileDialogRequest& request) override;
    std::optional<std::string> showSave(const FileDialogRequest& request) override;
    void setBusyCursor(bool busy) override;
    void processPendingEvents() override;
    void wait(std::chrono::milliseconds duration) override;
    void transferProgress(const std::string& source, size_t received, size_t total) override {
        progress_.update(source, received, total);
    }

    // True when widgets can be shown from the calling thread.
    static bool widgetsAvailable();

private:
    bool busy_ = false;
    TransferProgressView progress_;
};

// Makes the Qt windows what ui() falls back to in this process.
void InstallQtUiServices();

}  // namespace cvn
