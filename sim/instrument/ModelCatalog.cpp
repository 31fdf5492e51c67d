// The Halvio range as the simulator knows it.
#include "sim/instrument/ModelCatalog.h"

#include <algorithm>
#include <cctype>

namespace cvn::sim {

namespace {

struct Family {
    const char* models;  // space-separated identifiers
    int channels;
    bool pods;
    bool streams;
    long memory;  // points
};

// One row a product family: generation one holds 2 Mpts, two 4 Mpts, the
// mixed-signal third generation 8 Mpts; the HX range streams waveforms
// unless told not to, and its 7 and 8 series carry 16 Mpts.
constexpr Family kFamilies[] = {
    {"HV1014 HV1024 HV1034 HV1044 HV1054 HV1064 HV1074 HV1084 HV1094", 4, false, false, 2'000'000},
    {"HV1012 HV1022 HV1032 HV1042 HV1052 HV1062", 2, false, false, 2'000'000},
    {"HV2014 HV2024 HV2034 HV2044 HV2054 HV2064", 4, false, false, 4'000'000},
    {"HVS30104 HVS30204 HVS30304 HVS30404 HVS30504 HVS30604 HVS30704 HVS30804", 4, false, false,
     8'000'000},
    {"HVS3014D HVS3024D HVS3034D HVS3044D", 4, true, false, 8'000'000},
    {"MSOHV3014 MSOHV3024 MSOHV3034 MSOHV3044", 4, true, false, 8'000'000},
    {"HX5100104 HX5110104 HX5120104 HX5130104 HX5140104 HX5PRO1004", 4, false, true, 8'000'000},
    {"HX6100104 HX6110104 HX6120104 HX6130104 HX6140104 HX6PRO1004", 4, false, true, 8'000'000},
    {"MSOHX5104 MSOHX6104", 4, true, true, 8'000'000},
    {"HX7100104 HX7110104 HX7120104 HX7130104 HX7140104 HX7PRO1004 HX7PRO2004 HX7PRO3004 "
     "HX7PRO4004",
     4, false, true, 16'000'000},
    {"HX8100104 HX8110104 HX8120104 HX8PRO1004 HX8PRO2004 HX8PRO3004 HX8PRO4004", 4, false, true,
     16'000'000},
};

std::string upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

std::vector<CatalogModel> build() {
    std::vector<CatalogModel> out;
    for (const Family& f : kFamilies) {
        std::string_view rest = f.models;
        while (!rest.empty()) {
            const size_t space = rest.find(' ');
            const std::string_view id = rest.substr(0, space);
            if (!id.empty())
                out.push_back({std::string(id), f.channels, f.pods, f.streams, f.memory});
            rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
        }
    }
    return out;
}

}  // namespace

const std::vector<CatalogModel>& ModelCatalog() {
    static const std::vector<CatalogModel> catalog = build();
    return catalog;
}

CatalogModel LookUpModel(std::string_view id) {
    const std::string wanted = upper(id);
    for (const CatalogModel& m : ModelCatalog())
        if (m.id == wanted)
            return {std::string(id), m.channels, m.hasPods, m.streamingFamily, m.maxRecordLength};
    // A name outside the range is read the way the range names its models:
    // "MSO" in front or "D" behind means pods, an HX5 to HX8 generation
    // streams, and memory grows with the generation.
    CatalogModel m{std::string(id), 4, false, false, 8'000'000};
    m.hasPods = wanted.rfind("MSO", 0) == 0 || (!wanted.empty() && wanted.back() == 'D');
    for (const char* g : {"HX5", "HX6", "HX7", "HX8"})
        if (wanted.find(g) != std::string::npos) m.streamingFamily = true;
    if (wanted.find("HV1") != std::string::npos)
        m.maxRecordLength = 2'000'000;
    else if (wanted.find("HV2") != std::string::npos)
        m.maxRecordLength = 4'000'000;
    else if (wanted.find("HX7") != std::string::npos || wanted.find("HX8") != std::string::npos)
        m.maxRecordLength = 16'000'000;
    return m;
}

}  // namespace cvn::sim
