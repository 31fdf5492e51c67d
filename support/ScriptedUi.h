// A test double for the windowing services. It shows nothing and never
// blocks: it records every request, answers boxes and file dialogs from
// queues the test fills, and keeps a fake clock for waits.
//
//   auto fake = ScriptedUi::install();          // now ui() is the double
//   fake->queueAnswer(MsgResult::Cancel);        // answer of the next box
//   ... code under test ...
//   EXPECT_EQ(fake->boxes().at(0).text, "...");
//   ScriptedUi::uninstall();                     // back to the Qt services
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/UiServices.h"

namespace cvn {

class ScriptedUi final : public UiServices {
public:
    // Creates a double and makes it the services in use.
    static std::shared_ptr<ScriptedUi> install();
    // Goes back to the default services.
    static void uninstall();

    MsgResult messageBox(const MessageBoxRequest& request) override;
    std::optional<std::string> showOpen(const FileDialogRequest& request) override;
    std::optional<std::string> showSave(const FileDialogRequest& request) override;
    void setBusyCursor(bool busy) override;
    void processPendingEvents() override;
    void wait(std::chrono::milliseconds duration) override;
    void transferProgress(const std::string& source, size_t received, size_t total) override {
        progress_.push_back({source, received, total});
    }

    // --- Script ---
    // Answers for the next boxes, in order. With the queue empty a box gets
    // its first button (OK or Yes).
    void queueAnswer(MsgResult answer) { answers_.push_back(answer); }
    // Answers for the next open/save dialogs; nullopt means "cancelled".
    // With the queue empty a dialog is cancelled.
    void queueOpen(std::optional<std::string> path) { openAnswers_.push_back(std::move(path)); }
    void queueSave(std::optional<std::string> path) { saveAnswers_.push_back(std::move(path)); }
    // Called for every box after it is recorded; its result replaces the
    // queued answer. It may throw, to test callers that must survive that.
    std::function<MsgResult(const MessageBoxRequest&)> onMessageBox;
    // Called by wait() with the duration (after the fake clock advanced)
    // and by processPendingEvents(), so a test can act "while" code waits.
    std::function<void(std::chrono::milliseconds)> onWait;
    std::function<void()> onProcessEvents;

    // --- Record ---
    const std::vector<MessageBoxRequest>& boxes() const { return boxes_; }
    const std::vector<FileDialogRequest>& openRequests() const { return openRequests_; }
    const std::vector<FileDialogRequest>& saveRequests() const { return saveRequests_; }
    const std::vector<std::chrono::milliseconds>& waits() const { return waits_; }
    struct Progress {
        std::string source;
        size_t received, total;
    };
    const std::vector<Progress>& progress() const { return progress_; }
    std::chrono::milliseconds totalWait() const { return totalWait_; }
    bool busy() const { return busy_; }
    int busyOnCount() const { return busyOn_; }
    int busyOffCount() const { return busyOff_; }
    int processEventsCount() const { return processEvents_; }
    // Forgets all records and unused answers (hooks stay).
    void reset();

private:
    std::deque<MsgResult> answers_;
    std::deque<std::optional<std::string>> openAnswers_;
    std::deque<std::optional<std::string>> saveAnswers_;
    std::vector<MessageBoxRequest> boxes_;
    std::vector<FileDialogRequest> openRequests_;
    std::vector<FileDialogRequest> saveRequests_;
    std::vector<std::chrono::milliseconds> waits_;
    std::vector<Progress> progress_;
    std::chrono::milliseconds totalWait_{0};
    bool busy_ = false;
    int busyOn_ = 0;
    int busyOff_ = 0;
    int processEvents_ = 0;
};

}  // namespace cvn
