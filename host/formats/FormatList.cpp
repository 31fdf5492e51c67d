// The list of capture formats. A new format is a file beside this one and
// an entry here.
#include <algorithm>

#include "host/formats/CaptureFormat.h"

namespace cvn::host {

const CaptureFormat& CsvFormat();
const CaptureFormat& JsonFormat();
const CaptureFormat& Hdf5Format();
const CaptureFormat& SigrokFormat();
const CaptureFormat& VcdFormat();

const FormatSet& CaptureFormats() {
    static const FormatSet kFormats = {&CsvFormat(), &JsonFormat(), &Hdf5Format(), &SigrokFormat(),
                                       &VcdFormat()};
    return kFormats;
}

const CaptureFormat* FindCaptureFormat(std::string_view id) {
    for (const CaptureFormat* f : CaptureFormats())
        if (f->id() == id) return f;
    return nullptr;
}

FormatSet DefaultFormats() {
    FormatSet set;
    for (const CaptureFormat* f : CaptureFormats())
        if (f->byDefault()) set.push_back(f);
    return set;
}

std::optional<FormatSet> ParseFormats(const std::string& list) {
    FormatSet chosen;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const CaptureFormat* f = FindCaptureFormat(list.substr(start, comma - start));
        if (!f) return std::nullopt;
        if (std::find(chosen.begin(), chosen.end(), f) == chosen.end()) chosen.push_back(f);
        start = comma + 1;
    }
    if (chosen.empty()) return std::nullopt;
    FormatSet ordered;
    for (const CaptureFormat* f : CaptureFormats())
        if (std::find(chosen.begin(), chosen.end(), f) != chosen.end()) ordered.push_back(f);
    return ordered;
}

std::string FormatIds() {
    std::string ids;
    for (const CaptureFormat* f : CaptureFormats())
        ids += (ids.empty() ? "" : ", ") + std::string(f->id());
    return ids;
}

std::string FormatsHelp(const std::string& indent) {
    std::string text;
    for (const CaptureFormat* f : CaptureFormats()) {
        std::string id(f->id());
        id.resize(std::max<size_t>(id.size() + 1, 6), ' ');
        text += indent + id + std::string(f->help()) + "\n";
    }
    return text;
}

}  // namespace cvn::host
