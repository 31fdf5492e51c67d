// json: raw.json, the raw data and preambles as the add-in delivered them.
#include <filesystem>

#include "host/Json.h"
#include "host/formats/CaptureFormat.h"
#include "host/formats/CaptureText.h"
#include "host/formats/ChunkFormatter.h"
#include "host/formats/SaveCapture.h"

namespace cvn::host {
namespace {

constexpr const char* kFile = "raw.json";

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
    WriteFailedSets(j, r);
    j.endObject();
    file.write("\n");
}

class Json final : public CaptureFormat {
public:
    std::string_view id() const override { return "json"; }
    std::string_view help() const override { return "raw.json (raw data and preambles)"; }
    bool byDefault() const override { return true; }
    std::vector<std::string> files(const CaptureResult&) const override { return {kFile}; }
    bool owns(const std::string& name) const override { return name == kFile; }
    void write(const CaptureResult& r, const std::string& folder) const override {
        AtomicFileWriter file((std::filesystem::path(folder) / kFile).string());
        writeRawJson(file, r);
        file.commit();
    }
};

}  // namespace

const CaptureFormat& JsonFormat() {
    static const Json kFormat;
    return kFormat;
}

}  // namespace cvn::host
