// show: a capture.h5 summarised, read back through the HDF5 library.
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>

#include "apps/wavecatch/CommandLine.h"
#include "apps/wavecatch/Commands.h"
#include "host/Json.h"
#include "host/ReplyText.h"
#include "host/bench/Bench.h"
#include "host/formats/Hdf5Reader.h"
#include "support/Error.h"

namespace cvn::host {

namespace {

constexpr const char* kShowHelp =
    "usage: wavecatch show FILE.h5 [--json]\n"
    "Summarises a capture.h5 (capture --format h5): the scope's identification,\n"
    "the start time and capture profile, each source with its points and sample\n"
    "rate, and the scope's quick measurements of the captured acquisition. A\n"
    "recording (record --format h5) shows its kept acquisitions: sequence number,\n"
    "trigger time and the points of each source. A file that is neither, or is\n"
    "damaged, is refused (exit 1).\n"
    "  --json            the same as one object: {\"file\", \"model\", \"dataType\",\n"
    "                    \"actionType\", \"sources\": [{\"name\", \"source\", \"points\",\n"
    "                    \"sample_rate\", \"y_units\"}], \"extras\": null or {\"start_time\",\n"
    "                    \"identification\", \"points\", \"registry_key\", \"address\",\n"
    "                    \"cancel\", \"setup_bytes\", \"screen_bytes\", \"missing\",\n"
    "                    \"measurements\": {\"source1\", \"source2\", \"rows\": [{\"name\",\n"
    "                    \"text\", \"value\", \"unit\"}]}}}\n"
    "                    a recording: {\"file\", \"recording\": true, \"acquisitions\":\n"
    "                    [{\"group\", \"sequence\", \"trigger_time\", \"model\",\n"
    "                    \"sources\": [as above]}]}\n";

// A recording lists this many acquisitions in full at each end.
constexpr size_t kListedAtEnds = 10;

// "1.25 GSa/s", "62.5 kSa/s", "-" for no rate.
std::string rateText(double rate) {
    if (!(rate > 0)) return "-";
    static const std::pair<double, const char*> kPrefixes[] = {
        {1e9, "G"}, {1e6, "M"}, {1e3, "k"}, {1, ""}, {1e-3, "m"}};
    for (const auto& [scale, prefix] : kPrefixes)
        if (rate >= scale || scale == 1e-3) {
            char text[48];
            std::snprintf(text, sizeof text, "%.6g %sSa/s", rate / scale, prefix);
            return text;
        }
    return "-";
}

void sourcesJson(JsonWriter& w, const CaptureFile& c) {
    w.key("sources").beginArray();
    for (const CaptureFileSource& s : c.sources) {
        w.beginObject();
        w.key("name").value(s.name);
        w.key("source").value(s.source);
        w.key("points").value(static_cast<int64_t>(s.points));
        w.key("sample_rate").value(s.sampleRate);
        w.key("y_units").value(s.yUnits);
        w.endObject();
    }
    w.endArray();
}

std::string json(const std::string& path, const CaptureFile& c) {
    JsonWriter w;
    w.beginObject();
    w.key("file").value(path);
    w.key("model").value(c.model);
    w.key("dataType").value(c.dataType);
    w.key("actionType").value(c.actionType);
    sourcesJson(w, c);
    w.key("extras");
    if (!c.extras) {
        w.raw("null");
    } else {
        const CaptureExtras& e = *c.extras;
        w.beginObject();
        w.key("start_time").value(e.startTime);
        w.key("identification").value(e.identification);
        w.key("points").value(e.points);
        w.key("registry_key").value(e.registryKey);
        w.key("address").value(e.address);
        w.key("cancel").value(c.cancel);
        w.key("setup_bytes").value(e.setupFile.size());
        w.key("screen_bytes").value(e.screenBmp.size());
        w.key("missing").value(e.missing.empty() ? std::string() : e.missing[0]);
        w.key("measurements").beginObject();
        w.key("source1").value(e.measureSource1);
        w.key("source2").value(e.measureSource2);
        w.key("rows").beginArray();
        for (const CaptureExtras::Measurement& m : e.measurements) {
            w.beginObject();
            w.key("name").value(m.name);
            w.key("text").value(m.text);
            w.key("value").value(m.value);
            w.key("unit").value(m.unit);
            w.endObject();
        }
        w.endArray();
        w.endObject();
        w.endObject();
    }
    w.endObject();
    return w.text() + "\n";
}

std::string text(const std::string& path, const CaptureFile& c) {
    std::ostringstream o;
    const CaptureExtras* e = c.extras ? &*c.extras : nullptr;
    o << "file:        " << path << "\n";
    o << "scope:       " << (e && !e->identification.empty() ? e->identification : c.model) << "\n";
    if (e) {
        o << "started:     " << e->startTime << "\n";
        o << "profile:     points " << (e->points.empty() ? "(stored)" : e->points) << ", key "
          << (e->registryKey.empty() ? "(default)" : e->registryKey) << ", address " << e->address
          << "\n";
    }
    o << "result:      dataType " << c.dataType << ", actionType " << c.actionType
      << (c.cancel ? ", cancelled" : "") << "\n";
    o << "sources:\n";
    for (const CaptureFileSource& s : c.sources)
        o << "  " << std::left << std::setw(8) << s.name << std::right << std::setw(10) << s.points
          << " points  " << rateText(s.sampleRate) << "\n";
    if (!e) {
        o << "extras:      none (captured with --no-extras or before they were kept)\n";
        return o.str();
    }
    if (!e->setupFile.empty())
        o << "setup:       " << e->setupFile.size()
          << " bytes, as setup save writes them (setup restore --from FILE sends it)\n";
    if (!e->screenBmp.empty()) o << "screen:      " << e->screenBmp.size() << " bytes BMP\n";
    if (!e->missing.empty()) o << "missing:     " << e->missing[0] << "\n";
    if (!e->measurements.empty()) {
        o << "measurements of " << e->measureSource1
          << (e->measureSource2.empty() ? "" : ", " + e->measureSource2) << ":\n";
        for (const CaptureExtras::Measurement& m : e->measurements)
            o << "  " << std::left << std::setw(13) << m.name << m.text << "\n";
    }
    return o.str();
}

std::string json(const std::string& path, const RecordingFile& r) {
    JsonWriter w;
    w.beginObject();
    w.key("file").value(path);
    w.key("recording").raw("true");
    w.key("acquisitions").beginArray();
    for (const RecordingFileAcquisition& a : r.acquisitions) {
        w.beginObject();
        w.key("group").value(a.group);
        w.key("sequence").value(static_cast<int64_t>(a.sequence));
        w.key("trigger_time").value(a.triggerTime);
        w.key("model").value(a.capture.model);
        sourcesJson(w, a.capture);
        w.endObject();
    }
    w.endArray();
    w.endObject();
    return w.text() + "\n";
}

std::string text(const std::string& path, const RecordingFile& r) {
    std::ostringstream o;
    const auto& all = r.acquisitions;
    o << "file:        " << path << "\n";
    if (all.empty()) {
        o << "recording:   no acquisitions\n";
        return o.str();
    }
    o << "recording:   " << all.size() << " acquisition" << (all.size() == 1 ? "" : "s")
      << " kept, " << all.front().group << " to " << all.back().group << "\n";
    o << "scope:       " << all.back().capture.model << "\n";
    o << "first:       " << all.front().triggerTime << "\n";
    o << "last:        " << all.back().triggerTime << "\n";
    o << "sources:    ";
    for (const CaptureFileSource& s : all.back().capture.sources)
        o << " " << s.name << " (" << rateText(s.sampleRate) << ")";
    o << "\nacquisitions:\n";
    for (size_t i = 0; i < all.size(); ++i) {
        if (all.size() > 2 * kListedAtEnds && i == kListedAtEnds) {
            o << "  ... " << all.size() - 2 * kListedAtEnds << " more\n";
            i = all.size() - kListedAtEnds - 1;
            continue;
        }
        o << "  " << all[i].group << "  " << all[i].triggerTime << " ";
        const char* comma = "";
        for (const CaptureFileSource& s : all[i].capture.sources) {
            o << comma << " " << s.name << " " << s.points;
            comma = ",";
        }
        o << "\n";
    }
    return o.str();
}

}  // namespace

int CmdShow(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p = ParseArgs(args, {}, {"--help", "--json"});
    if (p.has("--help")) return PrintHelp(out, kShowHelp);
    if (p.operands.size() != 1) throw UsageError("needs one FILE.h5");
    const std::string path = AbsolutePath(p.operands[0]);
    try {
        // The texts in the file are the scope's words: shown, never obeyed.
        if (IsRecordingFile(path)) {
            const RecordingFile r = ReadRecordingFile(path);
            out << (p.has("--json") ? json(path, r) : TerminalText(text(path, r)));
        } else {
            const CaptureFile c = ReadCaptureFile(path);
            out << (p.has("--json") ? json(path, c) : TerminalText(text(path, c)));
        }
        return 0;
    } catch (const Error& e) {
        err << "wavecatch: show: " << TerminalText(e.description()) << "\n";
    }
    return kExitFailed;
}

}  // namespace cvn::host
