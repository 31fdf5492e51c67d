// Axis units and labels of data sets from the add-in's XYDescription.
#include "host/AxisLabels.h"

#include <algorithm>
#include <cctype>

#include "host/Scaling.h"

namespace cvn::host {
namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The key a label and a source share: "ch1"/"CHAN1" -> "chan1", "Pod1" ->
// "pod1", "D7" -> "d7"; anything else is the function's label.
std::string labelKey(const std::string& label) {
    const std::string l = lower(label);
    auto digitsAfter = [&](size_t n) {
        return l.size() > n && std::all_of(l.begin() + static_cast<std::ptrdiff_t>(n), l.end(),
                                           [](unsigned char c) { return std::isdigit(c); });
    };
    if (l.rfind("chan", 0) == 0 && digitsAfter(4)) return l;
    if (l.rfind("ch", 0) == 0 && digitsAfter(2)) return "chan" + l.substr(2);
    if (l.rfind("pod", 0) == 0 && digitsAfter(3)) return l;
    if (l.rfind("d", 0) == 0 && digitsAfter(1)) return l;
    return "func";
}

}  // namespace

std::string SettingsSourceName(int32_t code) {
    const std::string name = SourceName(code);
    if (KindOfCode(code) == SourceKind::Analog && name.rfind("CH", 0) == 0)
        return "CHAN" + name.substr(2);
    return name;
}

std::vector<AxisGroup> AxisGroups(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    std::vector<AxisGroup> groups;
    for (size_t i = 0; i < fields.size();) {
        if (fields[i].empty()) {
            ++i;
            continue;
        }
        if (i + 4 > fields.size()) break;
        groups.push_back({fields[i], fields[i + 1], fields[i + 2], fields[i + 3]});
        i += 4;
    }
    return groups;
}

AxisGroup AxisGroupFor(int32_t code, std::vector<AxisGroup>& groups) {
    const std::string key = labelKey(SettingsSourceName(code));
    for (AxisGroup& g : groups) {
        if (!g.used && labelKey(g.yLabel) == key) {
            g.used = true;
            return g;
        }
    }
    switch (KindOfCode(code)) {
        case SourceKind::Pod:
        case SourceKind::Bit:
            return {"sec", "byte", "", ""};
        default:
            return {"sec", "Volt", "", ""};
    }
}

}  // namespace cvn::host
