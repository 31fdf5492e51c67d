// The process-wide choice of windowing services.
#include "support/UiServices.h"

#include "support/QtUiServices.h"

namespace cvn {
namespace {

std::shared_ptr<UiServices>& current() {
    static std::shared_ptr<UiServices> services;
    return services;
}

}  // namespace

UiServices& ui() {
    return *uiServices();
}

std::shared_ptr<UiServices> uiServices() {
    auto& services = current();
    if (!services) services = std::make_shared<QtUiServices>();
    return services;
}

void setUiServices(std::shared_ptr<UiServices> services) {
    current() = std::move(services);
}

}  // namespace cvn
