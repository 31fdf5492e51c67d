// The scripted windowing double used by the tests of every subsystem.
#include "support/ScriptedUi.h"

namespace cvn {
namespace {

MsgResult firstButton(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::YesNo:
        case MsgButtons::YesNoCancel:
            return MsgResult::Yes;
        case MsgButtons::OK:
        case MsgButtons::OKCancel:
        case MsgButtons::OKHelp:
            break;
    }
    return MsgResult::OK;
}

template <typename T>
std::optional<std::string> takeAnswer(std::deque<T>& queue) {
    if (queue.empty()) return std::nullopt;
    std::optional<std::string> answer = std::move(queue.front());
    queue.pop_front();
    return answer;
}

}  // namespace

std::shared_ptr<ScriptedUi> ScriptedUi::install() {
    auto services = std::make_shared<ScriptedUi>();
    setUiServices(services);
    return services;
}

void ScriptedUi::uninstall() {
    setUiServices(nullptr);
}

MsgResult ScriptedUi::messageBox(const MessageBoxRequest& request) {
    boxes_.push_back(request);
    MsgResult answer = firstButton(request.buttons);
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    }
    if (onMessageBox) answer = onMessageBox(request);
    return answer;
}

std::optional<std::string> ScriptedUi::showOpen(const FileDialogRequest& request) {
    openRequests_.push_back(request);
    return takeAnswer(openAnswers_);
}

std::optional<std::string> ScriptedUi::showSave(const FileDialogRequest& request) {
    saveRequests_.push_back(request);
    return takeAnswer(saveAnswers_);
}

void ScriptedUi::setBusyCursor(bool busy) {
    busy_ = busy;
    ++(busy ? busyOn_ : busyOff_);
}

void ScriptedUi::processPendingEvents() {
    ++processEvents_;
    if (onProcessEvents) onProcessEvents();
}

void ScriptedUi::wait(std::chrono::milliseconds duration) {
    waits_.push_back(duration);
    totalWait_ += duration;
    if (onWait) onWait(duration);
}

void ScriptedUi::reset() {
    answers_.clear();
    openAnswers_.clear();
    saveAnswers_.clear();
    boxes_.clear();
    openRequests_.clear();
    saveRequests_.clear();
    waits_.clear();
    totalWait_ = std::chrono::milliseconds{0};
    busy_ = false;
    busyOn_ = busyOff_ = processEvents_ = 0;
}

}  // namespace cvn
