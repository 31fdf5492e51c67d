// The process-wide choice of windowing services.
#include "support/UiServices.h"

#include <cstdio>
#include <thread>

namespace cvn {
namespace {

// Boxes as stderr lines for a process that installed no windows: nothing
// can be asked, so each box takes the answer that changes nothing.
class NoWindowUi final : public UiServices {
public:
    MsgResult messageBox(const MessageBoxRequest& request) override {
        std::fprintf(stderr, "%s\n", request.text.c_str());
        switch (request.buttons) {
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
