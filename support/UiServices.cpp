// The process-wide choice of windowing services.
#include "support/UiServices.h"

#include <cstdio>
#include <thread>

namespace cvn {
namespace {

const char* buttonsText(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::OKCancel:
            return "OK/Cancel";
        case MsgButtons::YesNoCancel:
            return "Yes/No/Cancel";
        case MsgButtons::YesNo:
            return "Yes/No";
        case MsgButtons::OKHelp:
            return "OK/Help";
        case MsgButtons::OK:
            break;
    }
    return "OK";
}

const char* resultText(MsgResult result) {
    switch (result) {
        case MsgResult::Cancel:
            return "Cancel";
        case MsgResult::Yes:
            return "Yes";
        case MsgResult::No:
            return "No";
        case MsgResult::Help:
            return "Help";
        case MsgResult::OK:
            break;
    }
    return "OK";
}

// Boxes as stderr lines for a process that installed no windows.
class NoWindowUi final : public UiServices {
public:
    MsgResult messageBox(const MessageBoxRequest& request) override {
        std::string shown = request.text;
        for (size_t at = shown.find("\r\n"); at != std::string::npos; at = shown.find("\r\n", at))
            shown.erase(at, 1);
        return AnswerUnattended(request, shown);
    }
    std::optional<std::string> showOpen(const FileDialogRequest&) override { return {}; }
    std::optional<std::string> showSave(const FileDialogRequest&) override { return {}; }
    void setBusyCursor(bool) override {}
    void processPendingEvents() override {}
    void wait(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

std::shared_ptr<UiServices>& current() {
    static std::shared_ptr<UiServices> services;
    return services;
}

std::function<std::shared_ptr<UiServices>()>& defaultMaker() {
    static std::function<std::shared_ptr<UiServices>()> make;
    return make;
}

}  // namespace

MsgResult UnattendedAnswer(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::OKCancel:
        case MsgButtons::YesNoCancel:
            return MsgResult::Cancel;
        case MsgButtons::YesNo:
            return MsgResult::No;
        case MsgButtons::OK:
        case MsgButtons::OKHelp:
            break;
    }
    return MsgResult::OK;
}

MsgResult AnswerUnattended(const MessageBoxRequest& request, const std::string& shownText) {
    const MsgResult answer = UnattendedAnswer(request.buttons);
    const std::string& caption = request.caption.empty() ? kDefaultCaption : request.caption;
    std::fprintf(stderr, "[%s] %s (%s: answered %s)\n", caption.c_str(), shownText.c_str(),
                 buttonsText(request.buttons), resultText(answer));
    return answer;
}

UiServices& ui() {
    return *uiServices();
}

std::shared_ptr<UiServices>& fallback() {
    static std::shared_ptr<UiServices> services;
    return services;
}

std::shared_ptr<UiServices> uiServices() {
    if (current()) return current();
    auto& services = fallback();
    if (!services) {
        auto& make = defaultMaker();
        services = make ? make() : std::make_shared<NoWindowUi>();
    }
    return services;
}

void setUiServices(std::shared_ptr<UiServices> services) {
    current() = std::move(services);
}

void setDefaultUiServices(std::function<std::shared_ptr<UiServices>()> make) {
    defaultMaker() = std::move(make);
    fallback().reset();
}

}  // namespace cvn
