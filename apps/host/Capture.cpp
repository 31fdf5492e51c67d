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
#include <set>

#include "apps/host/AtomicFile.h"
#include "apps/host/CaptureText.h"
#include "apps/host/ChunkFormatter.h"
#include "apps/host/Hdf5Writer.h"
#include "apps/host/Json.h"
#include "apps/host/Plot.h"
#include "apps/host/SigrokWriter.h"
#include "automation/Dispatch.h"
#include "cvnWCHalv.h"
#include "support/AppKey.h"
#include "support/Error.h"
#include "support/SettingsStore.h"

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

CaptureResult RunCapture(IDispatchObject& wc, const CaptureRequest& request) {
    if (request.registryKey) letProperty(wc, "RegistryKey", Variant(*request.registryKey));
    letProperty(wc, "showDialog", Variant(request.dialog));
    if (request.points) letProperty(wc, "numberPoints", Variant(*request.points));
    // The add-in reads the address from its settings, where its own
    // connection check leaves it after a successful connection.
    if (!request.address.empty())
        SaveSetting(SettingsKeyFor(request.registryKey), kSettingsSection, kDeviceName,
                    request.address);

    const std::string imageBefore = getProperty(wc, "BMPfilePath").toString();
    invokeByName(wc, "GetDataFromInstrument", InvokeKind::Method);

    CaptureResult r;
    r.cancel = getProperty(wc, "Cancel").toBool();
    r.dataType = getProperty(wc, "DataType").toLong();
    r.actionType = getProperty(wc, "ActionType").toLong();
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
    if (r.actionType & 4) r.sets = SplitDataSets(r.preamble, r.yData, r.warning);
    return r;
}

CaptureResult RunCapture(const CaptureRequest& request) {
    Connection c = CreateObject(CVN_PROGID_IWAVECATCH, request.modulePath);
    const ProgressSubscription progress(c.module, request.progress);
    return RunCapture(*c.object, request);
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

void writeRawJson(AtomicFileWriter& file, const CaptureResult& r) {
    JsonWriter j(file);
    j.beginObject();
    j.key("model").value(r.model);
    j.key("dataType").value(r.dataType);
    j.key("actionType").value(r.actionType);
    j.key("xyDescription").value(r.xyDescription);
    j.key("preamble").numbers(r.preamble);
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

void saveFormats(const CaptureResult& r, const OutputFormats& formats, WrittenFiles& w) {
    std::set<std::string> used;
    for (const DataSet& s : r.sets) {
        if (!formats.csv) break;
        std::string stem;
        for (char c : s.name)
            stem += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string name = stem + ".csv";
        for (int n = 2; used.count(name); ++n) name = stem + "-" + std::to_string(n) + ".csv";
        used.insert(name);
        produce(w, name, [&](AtomicFileWriter& file) { WriteCsv(file, s, FormattingThreads()); });
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
    if (formats.sr && !r.sets.empty()) byLibrary("capture.sr", WriteSigrokSession);
    if (formats.vcd && HasLogicLines(r)) byLibrary("capture.vcd", WriteVcd);
}

}  // namespace

WrittenFiles SaveFormats(const CaptureResult& r, const std::string& folder,
                         const OutputFormats& formats) {
    WrittenFiles w{folder, {}};
    makeFolder(folder);
    saveFormats(r, formats, w);
    return w;
}

WrittenFiles WriteCapture(const CaptureResult& r, const std::string& folder,
                          const OutputFormats& formats) {
    WrittenFiles w{folder, {}};
    makeFolder(folder);
    // The picture is drawn on its own thread while the data files are
    // formatted (painting into a QImage needs no GUI thread).
    const std::string title = r.model + ": " + DataTypeMeaning(r.dataType);
    std::future<std::string> plot =
        std::async(std::launch::async, [&] { return EncodePng(RenderPlot(r.sets, title)); });
    saveFormats(r, formats, w);
    auto write = [&](const std::string& name, std::string_view bytes) {
        produce(w, name, [&](AtomicFileWriter& file) { file.write(bytes); });
    };
    // The add-in's temporary image goes with the result (imageFile).
    if ((r.actionType & 1) && !r.bmpPath.empty()) write("screen.bmp", ReadWholeFile(r.bmpPath));
    write("plot.png", plot.get());
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
    if (!r.warning.empty()) out += "warning:      " + r.warning + "\n";
    // Full paths, so the lines can be pasted whatever folder the reader is in.
    const auto full = [](const std::string& path) {
        std::error_code ec;
        const std::filesystem::path p = std::filesystem::absolute(path, ec);
        return ec ? path : p.lexically_normal().string();
    };
    out += "folder:       " + full(files.folder) + "\n";
    for (const std::string& f : files.files) out += "wrote:        " + full(f) + "\n";
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
    if (!r.warning.empty()) j.key("warning").value(r.warning);
    j.key("folder").value(files.folder);
    j.key("files").beginArray();
    for (const std::string& f : files.files) j.value(f);
    j.endArray();
    j.endObject();
    return j.text() + "\n";
}

}  // namespace cvn::host
