// The capture command's work: drive the add-in, then save what it delivered.
#include "apps/host/Capture.h"

#include <unistd.h>

#include <QImage>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <future>
#include <map>
#include <regex>
#include <set>

#include "apps/host/CaptureText.h"
#include "apps/host/ChunkFormatter.h"
#include "apps/host/Hdf5Writer.h"
#include "apps/host/Json.h"
#include "apps/host/Plot.h"
#include "apps/host/RunProfile.h"
#include "apps/host/SigrokWriter.h"
#include "automation/Dispatch.h"
#include "cvnWCHalv.h"
#include "support/AppKey.h"
#include "support/AtomicFile.h"
#include "support/Error.h"
#include "support/SettingsStore.h"
#include "support/StringTable.h"

namespace cvn::host {

namespace fs = std::filesystem;
using automation::getProperty;
using automation::IDispatchObject;
using automation::invokeByName;
using automation::InvokeKind;
using automation::letProperty;
using automation::Variant;

std::string SettingsKeyFor(const std::optional<std::string>& registryKey) {
    if (!registryKey) return kDefaultAppKey;
    return *registryKey + "\\" + kDeviceName;
}

namespace {

bool insideTempFolder(const std::string& path) {
    const char* tmp = std::getenv("TMPDIR");
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(tmp && *tmp ? tmp : "/tmp", ec);
    const fs::path file = fs::weakly_canonical(path, ec).parent_path();
    return !ec && file == folder;
}

}  // namespace

TemporaryImage::~TemporaryImage() {
    std::error_code ignored;
    fs::remove(path_, ignored);
}

CaptureResult RunCapture(IDispatchObject& wc, const CaptureRequest& request,
                         const TransferLog* transfers) {
    // The add-in reads the address from its settings: from a profile of
    // this run's own, so another process writing the user's meanwhile
    // cannot redirect the run.
    RunProfile profile(request.registryKey, request.address);
    letProperty(wc, "RegistryKey", Variant(profile.registryKey()));
    letProperty(wc, "showDialog", Variant(request.dialog));
    if (request.points) letProperty(wc, "numberPoints", Variant(*request.points));
    profile.beforeRun();

    // A host that shows the supported instruments reads them first, which
    // loads the add-in's model table; without it the add-in's connection
    // check counts every scope as supported.
    getProperty(wc, "SupportedInstruments");
    const std::string imageBefore = getProperty(wc, "BMPfilePath").toString();
    invokeByName(wc, "GetDataFromInstrument", InvokeKind::Method);

    CaptureResult r;
    r.cancel = getProperty(wc, "Cancel").toBool();
    r.dataType = getProperty(wc, "DataType").toLong();
    r.actionType = getProperty(wc, "ActionType").toLong();
    profile.storeBack(request.dialog, r.actionType != 0);
    letProperty(wc, "RegistryKey", Variant(profile.userRegistryKey()));
    r.model = getProperty(wc, "ModifiedMenuName").toString();
    r.preamble = NumbersOf(getProperty(wc, "Preamble"));
    r.yData = getProperty(wc, "YData");
    r.xyDescription = getProperty(wc, "XYDescription").toString();
    r.bmpPath = getProperty(wc, "BMPfilePath").toString();
    // A new name is this call's image, also when a failure kept it from
    // being announced; an unchanged one still belongs to an earlier result.
    if (!r.bmpPath.empty() && r.bmpPath != imageBefore && insideTempFolder(r.bmpPath))
        r.imageFile = std::make_shared<const TemporaryImage>(r.bmpPath);
    // Waveform results count only when the add-in says they are there; a
    // cancelled call may leave half-filled arrays behind.
    if (r.actionType & 4) {
        CheckedSets checked =
            CheckDataSets(r.preamble, r.yData, transfers ? &transfers->transfers() : nullptr,
                          GetResString(202, "Error retreiving scope data."));
        r.sets = std::move(checked.sets);
        r.failed = std::move(checked.failed);
        r.warning = std::move(checked.warning);
    }
    return r;
}

CaptureResult RunCapture(const Connection& c, const CaptureRequest& request) {
    // Every report goes into the log that tells the data sets apart, and
    // on to the caller's display when there is one.
    TransferLog log;
    const ProgressSubscription progress(
        c.module, [&](const std::string& source, size_t received, size_t total) {
            log.add(source, received, total);
            if (request.progress) request.progress(source, received, total);
        });
    return RunCapture(*c.object, request, progress.subscribed() ? &log : nullptr);
}

CaptureResult RunCapture(const CaptureRequest& request) {
    return RunCapture(CreateObject(CVN_PROGID_IWAVECATCH, request.modulePath), request);
}

std::string DataTypeMeaning(int32_t dataType) {
    std::string what;
    switch (dataType & ~32) {
        case 0:
            what = "no waveform data";
            break;
        case 8:
            what = "one waveform data set";
            break;
        case 64:
            what = "several waveform data sets";
            break;
        default:
            what = "unknown data type";
    }
    if (dataType & 32) what += " and a screen image";
    return what;
}

std::string ActionTypeMeaning(int32_t actionType) {
    std::vector<std::string> parts;
    if (actionType & 4) parts.push_back("waveform data");
    if (actionType & 1) parts.push_back("screen image");
    if (parts.empty()) return "nothing delivered";
    std::string out = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) out += " and " + parts[i];
    return out;
}

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

namespace {

// "failed": the sets left out, with the reason.
void writeFailed(JsonWriter& j, const CaptureResult& r) {
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

void writeRawJson(AtomicFileWriter& file, const CaptureResult& r) {
    JsonWriter j(file);
    j.beginObject();
    j.key("model").value(r.model);
    j.key("dataType").value(r.dataType);
    j.key("actionType").value(r.actionType);
    j.key("xyDescription").value(r.xyDescription);
    // The blocks of the sets written: a failed set's block may be another
    // source's.
    std::vector<double> preamble;
    for (const DataSet& s : r.sets) {
        const std::vector<double> block = s.block.ToNumbers();
        preamble.insert(preamble.end(), block.begin(), block.end());
    }
    j.key("preamble").numbers(preamble);
    j.key("sets").beginArray();
    for (const DataSet& s : r.sets) {
        j.beginObject();
        j.key("source").value(s.name);
        j.key("code").value(s.block.sourceCode);
        j.key("points").value(s.raw.size());
        j.key("preamble").numbers(s.block.ToNumbers());
        j.key("raw").raw("");  // the numbers follow straight into the file
        WriteJsonNumbers(file, s.raw, FormattingThreads());
        j.endObject();
    }
    j.endArray();
    writeFailed(j, r);
    j.endObject();
    file.write("\n");
}

}  // namespace

std::optional<OutputFormats> ParseFormats(const std::string& list) {
    OutputFormats f{false, false, false, false, false};
    bool any = false;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const std::string name = list.substr(start, comma - start);
        bool* flag = name == "csv"    ? &f.csv
                     : name == "json" ? &f.json
                     : name == "h5"   ? &f.h5
                     : name == "sr"   ? &f.sr
                     : name == "vcd"  ? &f.vcd
                                      : nullptr;
        if (!flag) return std::nullopt;
        *flag = any = true;
        start = comma + 1;
    }
    if (!any) return std::nullopt;
    return f;
}

namespace {

// Each file is produced straight into its writer and appears when done.
template <typename Fill>
void produce(WrittenFiles& w, const std::string& name, const Fill& fill) {
    const std::string path = (fs::path(w.folder) / name).string();
    AtomicFileWriter file(path);
    fill(file);
    file.commit();
    w.files.push_back(path);
}

void makeFolder(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        throw Error(75, "Cannot create the folder " + folder + ": " + ec.message(), "wavecatch");
}

// The CSV file of each data set, in their order: the source's name in
// lower case, with a number when two sets share it.
std::vector<std::string> csvNames(const CaptureResult& r) {
    std::vector<std::string> names;
    std::set<std::string> used;
    for (const DataSet& s : r.sets) {
        std::string stem;
        for (char c : s.name)
            stem += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string name = stem + ".csv";
        for (int n = 2; used.count(name); ++n) name = stem + "-" + std::to_string(n) + ".csv";
        used.insert(name);
        names.push_back(name);
    }
    return names;
}

bool hasImage(const CaptureResult& r) {
    return (r.actionType & 1) && !r.bmpPath.empty();
}

// The names the capture writes: files only for what arrived.
std::set<std::string> plannedNames(const CaptureResult& r, const OutputFormats& formats,
                                   bool pictures) {
    std::set<std::string> names;
    if (!r.sets.empty()) {
        if (formats.csv)
            for (const std::string& n : csvNames(r)) names.insert(n);
        if (formats.json) names.insert("raw.json");
        if (formats.h5) names.insert("capture.h5");
        if (formats.sr) names.insert("capture.sr");
        if (formats.vcd && HasLogicLines(r)) names.insert("capture.vcd");
        if (pictures) names.insert("plot.png");
    }
    if (pictures && hasImage(r)) names.insert("screen.bmp");
    return names;
}

// The earlier capture's files that this one leaves: refused, or kept and
// named. A sigrok file left out for its rate is among them: an earlier one
// of that name must never pass for this capture's.
std::vector<std::string> earlierFiles(const std::string& folder, const CaptureResult& r,
                                      std::set<std::string> planned, bool keep) {
    if (!SigrokRateProblem(r).empty()) {
        planned.erase("capture.sr");
        planned.erase("capture.vcd");
    }
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

void saveFormats(const CaptureResult& r, const OutputFormats& formats, WrittenFiles& w) {
    if (r.sets.empty()) return;
    if (formats.csv) {
        const std::vector<std::string> names = csvNames(r);
        for (size_t i = 0; i < r.sets.size(); ++i)
            produce(w, names[i], [&](AtomicFileWriter& file) {
                WriteCsv(file, r.sets[i], FormattingThreads());
            });
    }
    if (formats.json)
        produce(w, "raw.json", [&](AtomicFileWriter& file) { writeRawJson(file, r); });
    // The libraries write these themselves, into a writer's temporary file.
    auto byLibrary = [&](const char* name,
                         void (*writeFile)(const CaptureResult&, const std::string&)) {
        const std::string path = (fs::path(w.folder) / name).string();
        writeFile(r, path);
        w.files.push_back(path);
    };
    if (formats.h5) byLibrary("capture.h5", WriteHdf5);
    // sigrok files state the rate in whole hertz: at any other rate they are
    // left out with the reason, never written with a rate that is not the data's.
    const std::string rateProblem = SigrokRateProblem(r);
    auto sigrokFile = [&](bool wanted, const char* name,
                          void (*writeFile)(const CaptureResult&, const std::string&)) {
        if (!wanted) return;
        if (rateProblem.empty())
            byLibrary(name, writeFile);
        else
            w.skipped.push_back(std::string(name) + " not written: " + rateProblem);
    };
    sigrokFile(formats.sr, "capture.sr", WriteSigrokSession);
    sigrokFile(formats.vcd && HasLogicLines(r), "capture.vcd", WriteVcd);
}

}  // namespace

std::vector<std::string> CaptureFilesIn(const std::string& folder) {
    static const std::regex kNames(
        R"((ch[1-4]|func|pod[12]|d[0-9]{1,2}|src-?[0-9]+)(-[0-9]+)?\.csv|raw\.json|)"
        R"(capture\.(h5|sr|vcd)|screen\.bmp|plot\.png)");
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (std::regex_match(name, kNames)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

WrittenFiles SaveFormats(const CaptureResult& r, const std::string& folder,
                         const OutputFormats& formats, bool keepEarlier) {
    WrittenFiles w{folder, {}, {}, {}};
    const std::set<std::string> planned = plannedNames(r, formats, false);
    w.kept = earlierFiles(folder, r, planned, keepEarlier);
    if (planned.empty()) return w;
    makeFolder(folder);
    saveFormats(r, formats, w);
    return w;
}

WrittenFiles WriteCapture(const CaptureResult& r, const std::string& folder,
                          const OutputFormats& formats, bool keepEarlier) {
    WrittenFiles w{folder, {}, {}, {}};
    const std::set<std::string> planned = plannedNames(r, formats, true);
    w.kept = earlierFiles(folder, r, planned, keepEarlier);
    if (planned.empty()) return w;
    makeFolder(folder);
    // The picture is drawn on its own thread while the data files are
    // formatted (painting into a QImage needs no GUI thread).
    const std::string title = r.model + ": " + DataTypeMeaning(r.dataType);
    std::future<std::string> plot;
    if (!r.sets.empty())
        plot = std::async(std::launch::async, [&] { return EncodePng(RenderPlot(r.sets, title)); });
    saveFormats(r, formats, w);
    auto write = [&](const std::string& name, std::string_view bytes) {
        produce(w, name, [&](AtomicFileWriter& file) { file.write(bytes); });
    };
    // The add-in's temporary image goes with the result (imageFile).
    if (hasImage(r)) write("screen.bmp", ReadWholeFile(r.bmpPath));
    if (plot.valid()) write("plot.png", plot.get());
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
    writeFailed(j, r);
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
