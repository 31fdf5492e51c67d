// record: acquisitions taken one after another, unattended, into one HDF5
// file or one sigrok session each, until a count, a duration or a signal.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

#include "apps/wavecatch/CommandLine.h"
#include "apps/wavecatch/Commands.h"
#include "host/Json.h"
#include "host/ReplyText.h"
#include "host/bench/Recorder.h"
#include "host/formats/Recording.h"
#include "host/qt/GuiApp.h"
#include "support/Error.h"

namespace cvn::host {

namespace {

constexpr const char* kRecordHelp =
    "usage: wavecatch record [--address ADDR] [--registry-key KEY] [--sources LIST]\n"
    "                        [--out FILE|DIR|-] [--format h5|sr] [--force]\n"
    "                        [--count N] [--duration T] [--keep K] [--max-size SIZE]\n"
    "                        [--trigger-timeout S] [--json]\n"
    "Records acquisitions one after another: arms the scope for one acquisition\n"
    "(:SINGle), waits until it has stopped (bit 3 of :OPER? clear), reads the\n"
    "sources of LIST (default: those the add-in's dialog stored, e.g.\n"
    "CHAN1,CHAN2,POD1) with the add-in's own transfer, writes them, and again.\n"
    "It ends after --count N acquisitions, after --duration T (90, 90s, 15m, 8h),\n"
    "or at Ctrl-C (SIGINT, SIGTERM): the acquisition being read is finished and\n"
    "written first, a wait for a trigger is given up; the exit code is then 0. A\n"
    "second Ctrl-C ends at once.\n"
    "--format h5 (default): one file (default ./record-<date>-<time>.h5) with a\n"
    "group per acquisition, /acq-000001, /acq-000002 ..., attributes sequence and\n"
    "trigger_time (UTC, ISO 8601, when the host saw the scope stop) and the data\n"
    "sets as capture.h5 holds them (/acq-000001/CH1/raw, preamble...). The file\n"
    "is opened, given one group, flushed and closed per acquisition: a reader\n"
    "that opens it between acquisitions sees every finished group.\n"
    "--format sr: DIR (default ./record-<date>-<time>) gets acq-000001.sr ... ,\n"
    "one sigrok session per acquisition.\n"
    "--keep K keeps only the newest K acquisitions; --max-size SIZE (500M, 2G;\n"
    "powers of 1024) drops the oldest until the kept ones take at most SIZE: for\n"
    "h5 the file's size less the space HDF5 holds free for the next groups, for\n"
    "sr the sizes of the kept files. Dropped groups' space is used again, so the\n"
    "file stays near that size. Retention removes only what this recording wrote.\n"
    "An existing FILE, or a DIR holding acq-*.sr, is refused unless --force.\n"
    "--out - writes no file: stdout gets one JSON line per acquisition with its\n"
    "data ({\"sequence\", \"time\", \"sources\": [{\"name\", \"points\", \"preamble\",\n"
    "\"raw\"}]}, raw values as the scope sent them).\n"
    "--json: one JSON line per acquisition on stdout (sequence, time, sources with\n"
    "points, file, bytes); the summary goes to stderr then.\n"
    "On a terminal stderr shows one progress line: acquisitions, rate, bytes\n"
    "written, time left.\n"
    "--trigger-timeout S (default 30) bounds the wait for each acquisition. A scope\n"
    "that does not trigger in time or stops answering, or a source that does not\n"
    "arrive whole, ends the recording with exit 1; what was written stays valid.\n";

std::atomic<bool> gStop{false};
struct sigaction gOldInt {
}, gOldTerm{};

void onSignal(int signal) {
    if (gStop.exchange(true)) {
        // The second time: as the program would have ended without us.
        ::sigaction(SIGINT, &gOldInt, nullptr);
        ::sigaction(SIGTERM, &gOldTerm, nullptr);
        ::raise(signal);
    }
}

// SIGINT and SIGTERM ask the recording to end while it lives.
class StopOnSignal {
public:
    StopOnSignal() {
        gStop = false;
        struct sigaction on {};
        on.sa_handler = onSignal;
        sigemptyset(&on.sa_mask);
        ::sigaction(SIGINT, &on, &gOldInt);
        ::sigaction(SIGTERM, &on, &gOldTerm);
    }
    ~StopOnSignal() {
        ::sigaction(SIGINT, &gOldInt, nullptr);
        ::sigaction(SIGTERM, &gOldTerm, nullptr);
    }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;
};

uint64_t wholeNumber(const ParsedArgs& p, const char* option) {
    const std::string text = p.value(option);
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos || std::stoull(text) == 0)
        throw UsageError(std::string(option) + " takes a whole number from 1, not '" + text + "'");
    return std::stoull(text);
}

// "90", "90s", "1.5m", "8h" in seconds.
double seconds(const ParsedArgs& p, const char* option) {
    const std::string text = p.value(option);
    size_t used = 0;
    double value = 0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    const std::string unit = text.substr(used);
    const double scale = unit.empty() || unit == "s" ? 1
                         : unit == "m"               ? 60
                         : unit == "h"               ? 3600
                                                     : 0;
    if (used == 0 || scale == 0 || !(value > 0) || !std::isfinite(value) || value * scale > 1e8)
        throw UsageError(std::string(option) + " takes a time such as 90, 90s, 15m or 8h, not '" +
                         text + "'");
    return value * scale;
}

std::string megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

std::string acquisitionJson(const Acquisition& a, const RecordFile::Written* written,
                            bool withData) {
    JsonWriter j;
    j.beginObject().key("sequence").value(static_cast<int64_t>(a.sequence));
    j.key("time").value(a.triggerTime);
    j.key("sources").beginArray();
    for (const DataSet& s : a.result.sets) {
        j.beginObject().key("name").value(s.name).key("points").value(s.raw.size());
        if (withData) {
            j.key("preamble").numbers(s.block.ToNumbers());
            j.key("raw").numbers(s.raw.ToVector());
        }
        j.endObject();
    }
    j.endArray();
    if (written) {
        j.key("file").value(written->file);
        j.key("bytes").value(static_cast<int64_t>(written->bytes));
        if (written->dropped) j.key("dropped").value(written->dropped);
    }
    j.endObject();
    return j.text() + "\n";
}

}  // namespace

int CmdRecord(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p =
        ParseArgs(args,
                  {"--address", "--registry-key", "--sources", "--out", "--format", "--count",
                   "--duration", "--keep", "--max-size", "--trigger-timeout"},
                  {"--help", "--json", "--force"});
    if (p.has("--help")) return PrintHelp(out, kRecordHelp);
    if (!p.operands.empty()) throw UsageError("unexpected argument " + p.operands[0]);
    const std::string format = p.value("--format", "h5");
    if (format != "h5" && format != "sr") throw UsageError("--format takes h5 or sr");
    const bool stream = p.value("--out") == "-";
    if (stream && (p.hasValue("--keep") || p.hasValue("--max-size") || p.hasValue("--format")))
        throw UsageError("--out - writes no file: --format, --keep and --max-size do not apply");
    const uint64_t count = p.hasValue("--count") ? wholeNumber(p, "--count") : 0;
    const double duration = p.hasValue("--duration") ? seconds(p, "--duration") : 0;
    Retention retention;
    if (p.hasValue("--keep")) retention.keep = wholeNumber(p, "--keep");
    if (p.hasValue("--max-size")) {
        const std::optional<uint64_t> size = ParseByteSize(p.value("--max-size"));
        if (!size)
            throw UsageError("--max-size takes a size such as 500M or 2G, not '" +
                             p.value("--max-size") + "'");
        retention.maxBytes = *size;
    }
    RecordRequest request;
    request.target.address = p.value("--address");
    if (p.hasValue("--registry-key")) request.target.registryKey = p.value("--registry-key");
    if (p.hasValue("--sources")) {
        try {
            request.sources = ParseSourceList(p.value("--sources"));
        } catch (const Error& e) {
            throw UsageError("--sources: " + e.description());
        }
    }
    if (p.hasValue("--trigger-timeout"))
        request.triggerTimeout =
            std::chrono::milliseconds(std::llround(seconds(p, "--trigger-timeout") * 1000));

    std::optional<RecordFile> file;
    if (!stream) {
        const std::string path = p.hasValue("--out")
                                     ? AbsolutePath(p.value("--out"))
                                     : DefaultFileName("record", format == "h5" ? ".h5" : "");
        file.emplace(format == "h5" ? RecordFormat::H5 : RecordFormat::Sr, path, retention,
                     p.has("--force"));
    }
    EnsureGuiApplication(false);
    const StopOnSignal signals;
    Recorder recorder(request);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    const bool tty = ::isatty(STDERR_FILENO);
    uint64_t taken = 0, bytes = 0;
    auto summary = [&](const std::string& why) {
        std::string line = "recorded " + std::to_string(taken) + " acquisition" +
                           (taken == 1 ? "" : "s") + " in " +
                           std::to_string(elapsed()).substr(0, 5) + " s (" + why + ")";
        if (file)
            line += ": " + file->path() + " keeps " + std::to_string(file->kept()) + ", " +
                    megabytes(file->usedBytes());
        return line + "\n";
    };
    auto endLine = [&] {
        if (tty && taken) err << "\n";
    };
    // Each acquisition is reported once its write is done, which overlaps
    // the next acquisition's transfers; a line said is a group on disk.
    std::optional<RecordWriter> writer;
    if (file) writer.emplace(*file);
    std::map<uint64_t, Acquisition> unwritten;  // the one in flight, its samples kept for JSON
    auto report = [&](const Acquisition& a, const RecordFile::Written* written) {
        ++taken;
        bytes += a.payloadBytes();
        if (stream)
            out << acquisitionJson(a, nullptr, true) << std::flush;
        else if (p.has("--json"))
            out << acquisitionJson(a, written, false) << std::flush;
        if (!tty) return;
        const double t = elapsed();
        std::string left;
        if (count)
            left = std::to_string(static_cast<long>(std::lround((count - taken) * t / taken)));
        if (duration > 0) {
            const long d = std::lround(std::max(0.0, duration - t));
            left = left.empty() ? std::to_string(d) : std::to_string(std::min(d, std::stol(left)));
        }
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.2f/s", taken / t);
        err << "\r" << taken << " acquisitions, " << rate << ", " << megabytes(bytes) << " written"
            << (left.empty() ? "" : ", " + left + " s left") << "\x1b[K" << std::flush;
    };
    auto written = [&](const std::optional<RecordWriter::Done>& done) {
        if (!done) return;
        report(unwritten.at(done->sequence), &done->written);
        unwritten.erase(done->sequence);
    };
    uint64_t fetched = 0;
    uint64_t blame = 0;  // the acquisition a failure belongs to
    auto fail = [&](uint64_t which, const Error& e) {
        endLine();
        err << "wavecatch: acquisition " << which << " failed: " << TerminalText(e.description())
            << "\n";
    };
    try {
        while (!gStop && (!count || fetched < count) && (duration <= 0 || elapsed() < duration)) {
            blame = fetched + 1;
            std::optional<Acquisition> a = recorder.Next(
                [&] { return gStop.load() || (duration > 0 && elapsed() >= duration); });
            if (!a) break;
            ++fetched;
            if (!writer) {
                report(*a, nullptr);
                continue;
            }
            const uint64_t sequence = a->sequence;
            std::string time = a->triggerTime;
            CaptureResult result = a->result;  // shares the samples
            unwritten.emplace(sequence, std::move(*a));
            blame = writer->inFlight();
            written(writer->submit(sequence, std::move(time), std::move(result)));
        }
        blame = writer ? writer->inFlight() : 0;
        if (writer) written(writer->finish());
    } catch (const Error& e) {
        fail(blame, e);
        // The write still in flight when a transfer failed is finished.
        if (const uint64_t last = writer ? writer->inFlight() : 0) {
            try {
                written(writer->finish());
            } catch (const Error& also) {
                fail(last, also);
            }
        }
        err << "wavecatch: " << summary("stopped by the failure");
        return kExitFailed;
    }
    endLine();
    const std::string why = gStop                     ? "stopped by a signal"
                            : count && taken >= count ? "count reached"
                                                      : "duration reached";
    (p.has("--json") || stream ? err : out) << TerminalText(summary(why));
    return 0;
}

}  // namespace cvn::host
