// The supported-model verdict shared by every host command.
#include "host/bench/ModelCheck.h"

#include <algorithm>
#include <filesystem>

#include "automation/ClassRegistry.h"
#include "cvnWCHalv.h"
#include "host/AddinLoader.h"
#include "io/IoSession.h"
#include "io/ReplyConvert.h"
#include "scope/ModelTable.h"
#include "support/Text.h"

namespace cvn::host {

std::vector<std::string> ModelsOfList(std::string_view list) {
    std::vector<std::string> models;
    if (list.empty()) return models;
    // The identifiers were split at "," and joined with ", ": splitting at
    // ", " gives each back exactly, an empty one included.
    for (size_t start = 0;;) {
        const size_t sep = list.find(", ", start);
        models.emplace_back(list.substr(start, sep - start));
        if (sep == std::string_view::npos) break;
        start = sep + 2;
    }
    return models;
}

const std::vector<std::string>& LoadHostModelTable() {
    std::string module;
    try {
        if (auto entry = automation::LookUpClass(CVN_PROGID_IWAVECATCH)) module = entry->modulePath;
    } catch (const std::exception&) {
        // A damaged registry: the module beside us is the one a host finds.
    }
    if (module.empty()) module = DefaultModulePath();
    if (module.empty()) {
        LoadModelTable();
        return gModels;
    }
    const std::filesystem::path m(module);
    std::string base = m.filename().string();
    base = base.substr(0, base.find(".so"));
    LoadModelTableFrom((m.parent_path() / (base + ".ini")).string());
    return gModels;
}

std::string ReadIdentification(const std::string& address) {
    constexpr int kOpenTimeoutMs = 2000;
    constexpr int kIdnTimeoutMs = 500;
    io::IoSessionPtr session = io::IoManager().Open(address, kOpenTimeoutMs);
    session->SetTimeout(kIdnTimeoutMs);
    session->Output("*IDN?");
    return session->EnterText();
}

std::string ModelField(std::string_view reply) {
    const size_t first = reply.find(',');
    if (first == std::string_view::npos) return {};
    const size_t second = reply.find(',', first + 1);
    return std::string(io::trimReply(reply.substr(first + 1, second == std::string_view::npos
                                                                 ? std::string_view::npos
                                                                 : second - first - 1)));
}

}  // namespace cvn::host
