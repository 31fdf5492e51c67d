// Message boxes as text lines, for the wavecatch commands and the Python module.
#include "host/ConsoleUi.h"

#include <thread>

namespace cvn::host {

namespace {

// "Not a compatible file\n\nwhy" reads as "Not a compatible file: why".
std::string oneLine(const std::string& text) {
    std::string line;
    bool pendingBreak = false;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            pendingBreak = !line.empty();
            continue;
        }
        if (pendingBreak) {
            line += ": ";
            pendingBreak = false;
        }
        line += c;
    }
    return line;
}

}  // namespace

MsgResult ConsoleUi::messageBox(const MessageBoxRequest& request) {
    const std::string text = oneLine(request.text);
    messages_.push_back(text);
    if (out_) *out_ << "wavecatch: " << text << "\n";
    // Nobody can answer: a question gets the choice that changes nothing.
    switch (request.buttons) {
        case MsgButtons::OK:
        case MsgButtons::OKHelp:
            return MsgResult::OK;
        case MsgButtons::OKCancel:
        case MsgButtons::YesNoCancel:
            return MsgResult::Cancel;
        case MsgButtons::YesNo:
            return MsgResult::No;
    }
    return MsgResult::Cancel;
}

void ConsoleUi::wait(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

std::string ConsoleUi::joined() const {
    std::string all;
    for (const std::string& m : messages_) all += (all.empty() ? "" : "; ") + m;
    return all;
}

ConsoleUiScope::ConsoleUiScope(std::ostream* out)
    : ui_(std::make_shared<ConsoleUi>(out)), previous_(uiServices()) {
    setUiServices(ui_);
}

ConsoleUiScope::~ConsoleUiScope() {
    setUiServices(previous_);
}

}  // namespace cvn::host
