// The logic lines and the sample rate of sigrok files, and value change
// dumps through libsigrok's output module.
#include "host/formats/SigrokWriter.h"

#include <libsigrok/libsigrok.h>
#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "support/AtomicFile.h"
#include "support/Error.h"

namespace cvn::host {
namespace {

constexpr int32_t kFileError = kPathError;

[[noreturn]] void failed(const std::string& what, const std::string& path) {
    throw Error(kFileError, "Cannot write " + path + ": " + what, "wavecatch");
}

std::string withUnit(double value, const char* unit) {
    char text[40];
    std::snprintf(text, sizeof text, "%.6g %s", value, unit);
    return text;
}

std::string hertz(double rate) {
    return withUnit(rate, "Hz");
}

}  // namespace

std::vector<LogicLine> LogicLinesOf(const CaptureResult& r) {
    std::vector<LogicLine> lines;
    std::vector<std::string> used;
    auto unique = [&](std::string name) {
        const std::string stem = name;
        for (int n = 2; std::find(used.begin(), used.end(), name) != used.end(); ++n)
            name = stem + "_" + std::to_string(n);
        used.push_back(name);
        return name;
    };
    for (const DataSet& s : r.sets) {
        if (s.raw.empty()) continue;
        if (s.kind() == SourceKind::Pod) {
            // Pod 2 carries lines D8..D15.
            const int first = s.block.sourceCode == 16 ? 8 : 0;
            for (int b = 0; b < 8; ++b)
                lines.push_back({&s, b, unique("D" + std::to_string(first + b))});
        } else if (s.kind() == SourceKind::Bit) {
            lines.push_back({&s, 0, unique(s.name)});
        }
    }
    return lines;
}

bool HasLogicLines(const CaptureResult& r) {
    return !LogicLinesOf(r).empty();
}

void PackLogic(const std::vector<LogicLine>& lines, size_t begin, size_t end, uint8_t* out) {
    const size_t unit = (lines.size() + 7) / 8;
    std::fill(out, out + (end - begin) * unit, uint8_t{0});
    for (size_t j = 0; j < lines.size(); ++j) {
        const LogicLine& l = lines[j];
        const uint8_t mask = static_cast<uint8_t>(1u << (j % 8));
        const size_t stop = std::min(end, l.set->raw.size());
        uint8_t* at = out + j / 8;
        l.set->raw.visit([&](auto raw) {
            for (size_t i = begin; i < stop; ++i)
                if ((static_cast<long long>(raw[i]) >> l.bit) & 1) at[(i - begin) * unit] |= mask;
        });
    }
}

std::string SigrokRateProblem(const CaptureResult& r) {
    const DataSet* first = nullptr;
    size_t longest = 0;
    for (const DataSet& s : r.sets) {
        if (s.raw.empty()) continue;
        const double x = s.block.xIncrement;
        if (!(x > 0) || !std::isfinite(x))
            return s.name + " has no usable x increment (" + withUnit(x, "s") + ")";
        if (!first) first = &s;
        // One rate for the whole file: sets sampled apart cannot share it.
        if (std::fabs(x - first->block.xIncrement) > 1e-9 * first->block.xIncrement)
            return s.name + " and " + first->name + " have different sample rates";
        longest = std::max(longest, s.raw.size());
    }
    if (!first) return "";
    const double rate = 1.0 / first->block.xIncrement;
    const std::string whole = "; a sigrok file states whole hertz only";
    if (rate < 1.0) return "the sample rate " + hertz(rate) + " is below 1 Hz" + whole;
    if (rate >= 1e18) return "the sample rate " + hertz(rate) + " is out of range";
    // Rounding the rate stretches the time axis: the last sample may move
    // less than half a sample, so every sample keeps its place.
    const double rounded = std::round(rate);
    if (std::fabs(rounded - rate) / rate * static_cast<double>(longest) >= 0.5)
        return "the sample rate " + hertz(rate) + " is not a whole number of hertz" + whole;
    return "";
}

uint64_t SigrokSampleRate(const CaptureResult& r, const std::string& path) {
    const std::string problem = SigrokRateProblem(r);
    if (!problem.empty()) failed(problem, path);
    for (const DataSet& s : r.sets)
        if (!s.raw.empty()) return static_cast<uint64_t>(std::llround(1.0 / s.block.xIncrement));
    return 0;
}

namespace {

// libsigrok's vcd output for the capture's logic lines.
class VcdFeed {
public:
    VcdFeed(const CaptureResult& r, const std::string& path)
        : r_(r), path_(path), lines_(LogicLinesOf(r)) {
        if (lines_.empty()) failed("the capture holds no logic lines", path_);
        rate_ = SigrokSampleRate(r, path_);
        if (sr_init(&context_) != SR_OK) failed("libsigrok did not start", path_);
        device_ = sr_dev_inst_user_new("Corvane", r.model.c_str(), "");
        if (!device_) failed("libsigrok made no device", path_);
        int index = 0;
        for (const LogicLine& l : lines_)
            sr_dev_inst_channel_add(device_, index++, SR_CHANNEL_LOGIC, l.name.c_str());
        char id[] = "vcd";
        const sr_output_module* module = sr_output_find(id);
        if (!module) failed("libsigrok has no vcd output", path_);
        output_ = sr_output_new(module, nullptr, device_, "");
        if (!output_) failed("libsigrok's vcd output did not start", path_);
    }
    ~VcdFeed() {
        if (output_) sr_output_free(output_);
        if (context_) sr_exit(context_);
    }
    VcdFeed(const VcdFeed&) = delete;
    VcdFeed& operator=(const VcdFeed&) = delete;

    void run(AtomicFileWriter& file) {
        auto send = [&](uint16_t type, const void* payload) {
            const sr_datafeed_packet packet{type, payload};
            GString* out = nullptr;
            const int rc = sr_output_send(output_, &packet, &out);
            if (out) {
                file.write(std::string_view(out->str, out->len));
                g_string_free(out, TRUE);
            }
            if (rc != SR_OK)
                failed("libsigrok's output failed (" + std::to_string(rc) + ")", path_);
        };
        sr_datafeed_header header{1, {}};
        gettimeofday(&header.starttime, nullptr);
        send(SR_DF_HEADER, &header);

        sr_config rate{SR_CONF_SAMPLERATE, g_variant_new_uint64(rate_)};
        g_variant_ref_sink(rate.data);
        GSList* config = g_slist_append(nullptr, &rate);
        sr_datafeed_meta meta{config};
        send(SR_DF_META, &meta);
        g_slist_free(config);
        g_variant_unref(rate.data);

        size_t longest = 0;
        for (const LogicLine& l : lines_) longest = std::max(longest, l.set->raw.size());
        const size_t unit = (lines_.size() + 7) / 8;
        std::vector<uint8_t> logic;
        for (size_t begin = 0; begin < longest; begin += kPacketSamples) {
            const size_t end = std::min(longest, begin + kPacketSamples);
            logic.resize((end - begin) * unit);
            PackLogic(lines_, begin, end, logic.data());
            sr_datafeed_logic packet{logic.size(), static_cast<uint16_t>(unit), logic.data()};
            send(SR_DF_LOGIC, &packet);
        }
        send(SR_DF_END, nullptr);
    }

private:
    static constexpr size_t kPacketSamples = size_t{1} << 20;

    const CaptureResult& r_;
    std::string path_;
    std::vector<LogicLine> lines_;
    uint64_t rate_ = 0;
    sr_context* context_ = nullptr;
    sr_dev_inst* device_ = nullptr;
    const sr_output* output_ = nullptr;
};

}  // namespace

void WriteVcd(const CaptureResult& r, const std::string& path) {
    // Everything that can refuse the file does so before the file exists.
    VcdFeed feed(r, path);
    AtomicFileWriter file(path);
    feed.run(file);
    file.commit();
}

}  // namespace cvn::host
