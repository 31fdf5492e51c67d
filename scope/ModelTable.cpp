// The supported-model table. The built-in identifiers name our Halvio
// models; a site can replace both lists with an override file beside the
// module without rebuilding (for a model released after this build).
#include "scope/ModelTable.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "io/ReplyConvert.h"
#include "support/Error.h"
#include "support/ModuleInfo.h"
#include "support/Text.h"

namespace cvn {

std::string gModelList;
std::string gChannelList;
std::vector<std::string> gModels;

namespace {

bool gLoaded = false;

// Values of the override file are read into a 500-character buffer, so only
// the first 499 characters of a value count; sites rely on that cut.
constexpr size_t kOverrideValueLimit = 499;
constexpr const char* kOverrideSection = "Corvane Halvio Series";

std::vector<std::string> splitAtComma(std::string_view text) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        parts.emplace_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return parts;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Reads one value of an initialisation file the way the platform's private
// profile reader does: sections and keys match ignoring case, the value is
// the text after "=" without surrounding blanks, and surrounding quotes are
// removed. A missing value reads as empty.
std::string readIniValue(const std::string& path, std::string_view section, std::string_view key) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        std::string_view l = trimBlanks(line);
        if (l.empty() || l.front() == ';') continue;
        if (l.front() == '[') {
            size_t close = l.find(']');
            std::string_view name =
                close == std::string_view::npos ? l.substr(1) : l.substr(1, close - 1);
            inSection = ToUpperAscii(trimBlanks(name)) == ToUpperAscii(section);
            continue;
        }
        if (!inSection) continue;
        size_t eq = l.find('=');
        if (eq == std::string_view::npos) continue;
        if (ToUpperAscii(trimBlanks(l.substr(0, eq))) != ToUpperAscii(key)) continue;
        std::string_view value = trimBlanks(l.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value.substr(0, kOverrideValueLimit));
    }
    return {};
}

}  // namespace

const char* const kBuiltInModelList =
    "HV1014,HV1024,HV1034,HV1044,HV1054,HV1012,HV1064,HV1022,HV1074,HV1032,HV1042,HV1084,HV1094,"
    "HV1052,HV1062,HV2014,HV2024,HV2034,HV2044,HV2054,HV2064,HVS30104,HVS30204,HVS30304,HVS30404,"
    "HVS30504,HVS30604,HVS30704,HVS30804,HVS3014D,HVS3024D,HVS3034D,HVS3044D,MSOHV3014,MSOHV3024,"
    "MSOHV3034,MSOHV3044,HX5100104,HX5110104,HX5120104,HX5130104,HX5140104,HX6100104,HX6110104,"
    "HX6120104,HX6130104,HX6140104,HX7100104,HX7110104,HX7120104,HX7130104,HX7140104,HX8100104,"
    "HX8110104,HX8120104,MSOHX5104,MSOHX6104,HX7PRO1004,HX7PRO2004,HX7PRO3004,HX7PRO4004,"
    "HX8PRO1004,HX8PRO2004,HX8PRO3004,HX8PRO4004,HX5PRO1004,HX6PRO1004";

const char* const kBuiltInChannelList =
    "4,4,4,4,4,2,4,2,4,2,2,4,4,2,2,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,"
    "4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4,4";

// The newest family streams waveforms by default; these fragments of its
// model identifiers tell the transfer to switch streaming off first.
const char* const kFamilyFragments[4] = {"HX5", "HX6", "HX7", "HX8"};

std::string ModelOverridePath() {
    return ModuleFolder() + ModuleBaseName() + ".ini";
}

void LoadModelTable() {
    LoadModelTableFrom(ModelOverridePath());
}

void LoadModelTableFrom(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        gModelList = readIniValue(path, kOverrideSection, "Model");
        gChannelList = readIniValue(path, kOverrideSection, "Channels");
    } else {
        gModelList = kBuiltInModelList;
        gChannelList = kBuiltInChannelList;
    }
    // An empty list names no model at all (an override file without a
    // "Model" value supports nothing); only an empty entry inside a list
    // is the empty identifier that every reply contains.
    gModels = gModelList.empty() ? std::vector<std::string>{} : splitAtComma(gModelList);
    gLoaded = true;
}

bool IsSupportedModel(std::string_view text) {
    if (!gLoaded) throw Error(9, "The supported-model table has not been loaded", "cvnWCHalv");
    return NamesListedModel(text, gModels);
}

bool NamesListedModel(std::string_view text, const std::vector<std::string>& models) {
    return std::any_of(models.begin(), models.end(),
                       [&](const std::string& id) { return ContainsIgnoringCase(text, id); });
}

std::optional<int> ChannelCountOf(std::string_view model, std::string_view modelList,
                                  std::string_view channelList) {
    const auto ids = splitAtComma(modelList);
    const auto counts = splitAtComma(channelList);
    const std::string wanted = ToUpperAscii(model);
    for (size_t i = 0; i < ids.size(); ++i) {
        if (ToUpperAscii(ids[i]) != wanted) continue;
        if (i >= counts.size()) return std::nullopt;
        auto n = io::toInt16(counts[i]);
        if (!n) return std::nullopt;
        return *n;
    }
    return std::nullopt;
}

bool ModelHasPods(std::string_view model) {
    if (!model.empty() && (model.back() == 'D' || model.back() == 'd')) return true;
    return model.size() >= 3 && ToUpperAscii(model.substr(0, 3)) == "MSO";
}

int FamilyFragmentCount(std::string_view model) {
    int n = 0;
    for (const char* fragment : kFamilyFragments)
        if (ContainsIgnoringCase(model, fragment)) ++n;
    return n;
}

}  // namespace cvn
