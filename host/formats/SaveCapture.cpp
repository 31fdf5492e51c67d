// Saving a capture: the chosen formats' files, the screen image and the
// plot, never mixed with an earlier capture's files unless asked.
#include "host/formats/SaveCapture.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <future>
#include <set>

#include "host/Json.h"
#include "host/formats/Plot.h"
#include "support/AtomicFile.h"
#include "support/Error.h"

namespace cvn::host {

namespace fs = std::filesystem;

std::string DefaultCaptureFolder() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = std::string("./wavecatch-") + stamp;
    std::string candidate = base;
    std::error_code ec;
    for (int n = 2; fs::exists(candidate, ec); ++n) candidate = base + "-" + std::to_string(n);
    return candidate;
}

void WriteFailedSets(JsonWriter& j, const CaptureResult& r) {
    if (r.failed.empty()) return;
    j.key("failed").beginArray();
    for (const FailedSet& f : r.failed) {
        j.beginObject();
        j.key("source").value(f.name);
        j.key("code").value(f.code);
        j.key("why").value(f.why);
        j.endObject();
    }
    j.endArray();
}

namespace {

constexpr const char* kScreenFile = "screen.bmp";
constexpr const char* kPlotFile = "plot.png";

void makeFolder(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        throw Error(kPathError, "Cannot create the folder " + folder + ": " + ec.message(),
                    "wavecatch");
}

bool hasImage(const CaptureResult& r) {
    return (r.actionType & 1) && !r.bmpPath.empty();
}

// The names the capture writes: files only for what arrived. A format that
// refuses this capture writes nothing.
std::set<std::string> plannedNames(const CaptureResult& r, const FormatSet& formats,
                                   bool pictures) {
    std::set<std::string> names;
    if (!r.sets.empty()) {
        for (const CaptureFormat* f : formats)
            if (f->refusal(r).empty())
                for (const std::string& n : f->files(r)) names.insert(n);
        if (pictures) names.insert(kPlotFile);
    }
    if (pictures && hasImage(r)) names.insert(kScreenFile);
    return names;
}

// The earlier capture's files that this one leaves: refused, or kept and
// named. A file left out because its format refused the capture is among
// them: an earlier one of that name must never pass for this capture's.
std::vector<std::string> earlierFiles(const std::string& folder,
                                      const std::set<std::string>& planned, bool keep) {
    std::vector<std::string> earlier;
    for (const std::string& name : CaptureFilesIn(folder))
        if (!planned.count(name)) earlier.push_back((fs::path(folder) / name).string());
    if (!earlier.empty() && !keep) {
        std::string list;
        for (const std::string& f : earlier)
            list += (list.empty() ? "" : ", ") + fs::path(f).filename().string();
        throw Error(kEarlierFiles,
                    folder + " holds files of an earlier capture that this one does not write (" +
                        list + "); choose another folder, or keep them beside the new files",
                    "wavecatch");
    }
    return earlier;
}

void saveFormats(const CaptureResult& r, const FormatSet& formats, WrittenFiles& w) {
    if (r.sets.empty()) return;
    for (const CaptureFormat* f : formats) {
        const std::vector<std::string> names = f->files(r);
        if (names.empty()) continue;
        const std::string why = f->refusal(r);
        if (!why.empty()) {
            for (const std::string& n : names) w.skipped.push_back(n + " not written: " + why);
            continue;
        }
        f->write(r, w.folder);
        for (const std::string& n : names) w.files.push_back((fs::path(w.folder) / n).string());
    }
}

}  // namespace

std::vector<std::string> CaptureFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        bool ours = name == kScreenFile || name == kPlotFile;
        for (const CaptureFormat* f : CaptureFormats()) ours = ours || f->owns(name);
        if (ours) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

WrittenFiles SaveFormats(const CaptureResult& r, const std::string& folder,
                         const FormatSet& formats, bool keepEarlier) {
    WrittenFiles w{folder, {}, {}, {}};
    const std::set<std::string> planned = plannedNames(r, formats, false);
    w.kept = earlierFiles(folder, planned, keepEarlier);
    bool anyFile = false;  // a refused file is named in skipped, beside the others
    for (const CaptureFormat* f : formats) anyFile = anyFile || !f->files(r).empty();
    if (r.sets.empty() || !anyFile) return w;
    makeFolder(folder);
    saveFormats(r, formats, w);
    return w;
}

std::string CapturePlotPng(const CaptureResult& r) {
    return EncodePng(RenderPlot(r.sets, r.model + ": " + DataTypeMeaning(r.dataType)));
}

WrittenFiles WriteCapture(const CaptureResult& r, const std::string& folder,
                          const FormatSet& formats, bool keepEarlier) {
    WrittenFiles w{folder, {}, {}, {}};
    const std::set<std::string> planned = plannedNames(r, formats, true);
    w.kept = earlierFiles(folder, planned, keepEarlier);
    if (planned.empty()) return w;
    makeFolder(folder);
    // The picture is drawn on its own thread while the data files are
    // formatted (painting into a QImage needs no GUI thread).
    std::future<std::string> plot;
    if (!r.sets.empty()) plot = std::async(std::launch::async, [&] { return CapturePlotPng(r); });
    saveFormats(r, formats, w);
    auto write = [&](const std::string& name, std::string_view bytes) {
        const std::string path = (fs::path(w.folder) / name).string();
        AtomicFileWriter file(path);
        file.write(bytes);
        file.commit();
        w.files.push_back(path);
    };
    // The add-in's temporary image goes with the result (imageFile).
    if (hasImage(r)) write(kScreenFile, ReadWholeFile(r.bmpPath));
    if (plot.valid()) write(kPlotFile, plot.get());
    return w;
}

namespace {

std::string sourcesList(const CaptureResult& r) {
    std::string out;
    for (const DataSet& s : r.sets) out += (out.empty() ? "" : ", ") + s.name;
    return out.empty() ? "none" : out;
}

}  // namespace

std::string SummaryText(const CaptureResult& r, const WrittenFiles& files) {
    std::string out;
    out += "model:        " + r.model + "\n";
    out +=
        "data type:    " + std::to_string(r.dataType) + " (" + DataTypeMeaning(r.dataType) + ")\n";
    out += "action type:  " + std::to_string(r.actionType) + " (" +
           ActionTypeMeaning(r.actionType) + ")\n";
    out += "sources:      " + sourcesList(r) + "\n";
    for (const DataSet& s : r.sets)
        out += "points " + s.name + ":" +
               std::string(s.name.size() < 6 ? 6 - s.name.size() : 1, ' ') +
               std::to_string(s.raw.size()) + "\n";
    for (const FailedSet& f : r.failed) out += "failed:       " + f.name + ": " + f.why + "\n";
    if (!r.warning.empty()) out += "warning:      " + r.warning + "\n";
    // Full paths, so the lines can be pasted whatever folder the reader is in.
    const auto full = [](const std::string& path) {
        std::error_code ec;
        const std::filesystem::path p = std::filesystem::absolute(path, ec);
        return ec ? path : p.lexically_normal().string();
    };
    out += "folder:       " + full(files.folder) + "\n";
    for (const std::string& f : files.files) out += "wrote:        " + full(f) + "\n";
    for (const std::string& f : files.kept) out += "kept:         " + full(f) + "\n";
    return out;
}

std::string SummaryJson(const CaptureResult& r, const WrittenFiles& files) {
    JsonWriter j;
    j.beginObject();
    j.key("cancel").value(r.cancel);
    j.key("model").value(r.model);
    j.key("dataType").value(r.dataType);
    j.key("dataTypeMeaning").value(DataTypeMeaning(r.dataType));
    j.key("actionType").value(r.actionType);
    j.key("actionTypeMeaning").value(ActionTypeMeaning(r.actionType));
    j.key("xyDescription").value(r.xyDescription);
    j.key("sources").beginArray();
    for (const DataSet& s : r.sets) {
        j.beginObject();
        j.key("source").value(s.name);
        j.key("code").value(s.block.sourceCode);
        j.key("points").value(s.raw.size());
        j.endObject();
    }
    j.endArray();
    WriteFailedSets(j, r);
    if (!r.warning.empty()) j.key("warning").value(r.warning);
    j.key("folder").value(files.folder);
    j.key("files").beginArray();
    for (const std::string& f : files.files) j.value(f);
    j.endArray();
    if (!files.kept.empty()) {
        j.key("kept").beginArray();
        for (const std::string& f : files.kept) j.value(f);
        j.endArray();
    }
    if (!files.skipped.empty()) {
        j.key("skipped").beginArray();
        for (const std::string& s : files.skipped) j.value(s);
        j.endArray();
    }
    j.endObject();
    return j.text() + "\n";
}

}  // namespace cvn::host
