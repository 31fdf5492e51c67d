// The add-in's windowing services for a program without windows: every
// message box becomes a line on a stream (stderr for the wavecatch program)
// and is kept, so a caller can also hand the texts on (the Python module
// raises them). File dialogs are cancelled, questions answered with their
// safe choice (Cancel or No), and waits really wait.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/UiServices.h"

namespace cvn::host {

class ConsoleUi final : public UiServices {
public:
    // out may be null: the texts are only kept.
    explicit ConsoleUi(std::ostream* out) : out_(out) {}

    MsgResult messageBox(const MessageBoxRequest& request) override;
    std::optional<std::string> showOpen(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<std::string> showSave(const FileDialogRequest&) override { return std::nullopt; }
    void setBusyCursor(bool) override {}
    void processPendingEvents() override {}
    void wait(std::chrono::milliseconds duration) override;

    // The texts of the boxes shown so far, oldest first.
    const std::vector<std::string>& messages() const { return messages_; }
    // All of them on one line, joined by "; " (line breaks inside a text too).
    std::string joined() const;

private:
    std::ostream* out_;
    std::vector<std::string> messages_;
};

// Makes a ConsoleUi the services in use for as long as it lives, then puts
// back the services that were in use before.
class ConsoleUiScope {
public:
    explicit ConsoleUiScope(std::ostream* out);
    ~ConsoleUiScope();
    ConsoleUiScope(const ConsoleUiScope&) = delete;
    ConsoleUiScope& operator=(const ConsoleUiScope&) = delete;
    ConsoleUi& ui() { return *ui_; }

private:
    std::shared_ptr<ConsoleUi> ui_;
    std::shared_ptr<UiServices> previous_;
};

}  // namespace cvn::host
