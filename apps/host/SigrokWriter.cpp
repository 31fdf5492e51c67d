// Session files and value change dumps through libsigrok's output modules.
#include "apps/host/SigrokWriter.h"

#include <libsigrok/libsigrok.h>
#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "support/AtomicFile.h"
#include "support/Error.h"

namespace cvn::host {
namespace {

constexpr int32_t kFileError = 75;

[[noreturn]] void failed(const std::string& what, const std::string& path) {
    throw Error(kFileError, "Cannot write " + path + ": " + what, "wavecatch");
}

bool isLogic(const DataSet& s) {
    return s.kind() == SourceKind::Pod || s.kind() == SourceKind::Bit;
}

// One logic line: bit `bit` of the raw values of `set`.
struct LogicLine {
    const DataSet* set;
    int bit;
    std::string name;
};

std::vector<LogicLine> logicLinesOf(const CaptureResult& r) {
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

// Samples per packet. The session module rewrites its archive for every
// packet, so packets are few and large.
constexpr size_t kPacketSamples = size_t{4} << 20;

uint64_t sampleRateOf(const CaptureResult& r) {
    for (const DataSet& s : r.sets)
        if (s.block.xIncrement > 0 && std::isfinite(s.block.xIncrement))
            return static_cast<uint64_t>(std::llround(1.0 / s.block.xIncrement));
    return 0;
}

// libsigrok's state for one file.
class SigrokFeed {
public:
    SigrokFeed(const CaptureResult& r, const char* moduleId, const std::string& path,
               const std::string& fileName, bool withAnalog)
        : r_(r), path_(path), lines_(logicLinesOf(r)) {
        if (sr_init(&context_) != SR_OK) failed("libsigrok did not start", path_);
        device_ = sr_dev_inst_user_new("Corvane", r.model.c_str(), "");
        if (!device_) failed("libsigrok made no device", path_);
        // Logic lines take the lowest channel numbers: the session module
        // numbers analog channels after the last logic one, and ends its
        // list of analog channel numbers with a 0.
        int index = 0;
        for (const LogicLine& l : lines_)
            sr_dev_inst_channel_add(device_, index++, SR_CHANNEL_LOGIC, l.name.c_str());
        ++index;
        if (withAnalog) {
            for (const DataSet& s : r.sets) {
                if (isLogic(s) || s.raw.empty()) continue;
                analog_.push_back({&s, index});
                sr_dev_inst_channel_add(device_, index++, SR_CHANNEL_ANALOG, s.name.c_str());
            }
            for (GSList* l = sr_dev_inst_channels_get(device_); l; l = l->next) {
                auto* ch = static_cast<sr_channel*>(l->data);
                for (Analog& a : analog_)
                    if (a.index == ch->index) a.channel = ch;
            }
        }
        char id[16];
        std::snprintf(id, sizeof id, "%s", moduleId);
        const sr_output_module* module = sr_output_find(id);
        if (!module) failed(std::string("libsigrok has no ") + moduleId + " output", path_);
        output_ = sr_output_new(module, nullptr, device_, fileName.c_str());
        if (!output_)
            failed(std::string("libsigrok's ") + moduleId + " output did not start", path_);
    }
    ~SigrokFeed() {
        if (output_) sr_output_free(output_);
        if (context_) sr_exit(context_);
    }
    SigrokFeed(const SigrokFeed&) = delete;
    SigrokFeed& operator=(const SigrokFeed&) = delete;

    // Feeds the whole capture; text outputs go to sink.
    template <typename Sink>
    void run(Sink&& sink) {
        auto send = [&](uint16_t type, const void* payload) {
            const sr_datafeed_packet packet{type, payload};
            GString* out = nullptr;
            const int rc = sr_output_send(output_, &packet, &out);
            if (out) {
                sink(std::string_view(out->str, out->len));
                g_string_free(out, TRUE);
            }
            if (rc != SR_OK)
                failed("libsigrok's output failed (" + std::to_string(rc) + ")", path_);
        };
        sr_datafeed_header header{1, {}};
        gettimeofday(&header.starttime, nullptr);
        send(SR_DF_HEADER, &header);

        sr_config rate{SR_CONF_SAMPLERATE, g_variant_new_uint64(sampleRateOf(r_))};
        g_variant_ref_sink(rate.data);
        GSList* config = g_slist_append(nullptr, &rate);
        sr_datafeed_meta meta{config};
        send(SR_DF_META, &meta);
        g_slist_free(config);
        g_variant_unref(rate.data);

        size_t longest = 0;
        for (const LogicLine& l : lines_) longest = std::max(longest, l.set->raw.size());
        for (const Analog& a : analog_) longest = std::max(longest, a.set->raw.size());
        const size_t unit = (lines_.size() + 7) / 8;
        std::vector<uint8_t> logic;
        std::vector<float> volts;
        for (size_t begin = 0; begin < longest; begin += kPacketSamples) {
            const size_t end = std::min(longest, begin + kPacketSamples);
            if (!lines_.empty()) {
                logic.assign((end - begin) * unit, 0);
                for (size_t j = 0; j < lines_.size(); ++j) {
                    const LogicLine& l = lines_[j];
                    const uint8_t mask = static_cast<uint8_t>(1u << (j % 8));
                    const size_t stop = std::min(end, l.set->raw.size());
                    l.set->raw.visit([&](auto raw) {
                        for (size_t i = begin; i < stop; ++i)
                            if ((static_cast<long long>(raw[i]) >> l.bit) & 1)
                                logic[(i - begin) * unit + j / 8] |= mask;
                    });
                }
                sr_datafeed_logic packet{logic.size(), static_cast<uint16_t>(unit), logic.data()};
                send(SR_DF_LOGIC, &packet);
            }
            for (const Analog& a : analog_) {
                const size_t stop = std::min(end, a.set->raw.size());
                if (stop <= begin) continue;
                volts.resize(stop - begin);
                const PreambleBlock& b = a.set->block;
                a.set->raw.visit([&](auto raw) {
                    for (size_t i = begin; i < stop; ++i)
                        volts[i - begin] = static_cast<float>(b.Value(static_cast<double>(raw[i])));
                });
                // The analog packet is filled by hand: libsigrok keeps its
                // initialiser to itself.
                sr_analog_encoding encoding{};
                encoding.unitsize = sizeof(float);
                encoding.is_signed = TRUE;
                encoding.is_float = TRUE;
                encoding.is_bigendian = FALSE;
                encoding.digits = 6;
                encoding.is_digits_decimal = TRUE;
                encoding.scale = {1, 1};
                encoding.offset = {0, 1};
                GSList* channels = g_slist_append(nullptr, a.channel);
                sr_analog_meaning meaning{SR_MQ_VOLTAGE, SR_UNIT_VOLT, static_cast<sr_mqflag>(0),
                                          channels};
                sr_analog_spec spec{6};
                sr_datafeed_analog packet{volts.data(), static_cast<uint32_t>(volts.size()),
                                          &encoding, &meaning, &spec};
                try {
                    send(SR_DF_ANALOG, &packet);
                } catch (...) {
                    g_slist_free(channels);
                    throw;
                }
                g_slist_free(channels);
            }
        }
        send(SR_DF_END, nullptr);
    }

    bool hasLogic() const { return !lines_.empty(); }
    bool hasAnalog() const { return !analog_.empty(); }

private:
    struct Analog {
        const DataSet* set;
        int index;
        sr_channel* channel = nullptr;
    };

    const CaptureResult& r_;
    std::string path_;
    std::vector<LogicLine> lines_;
    std::vector<Analog> analog_;
    sr_context* context_ = nullptr;
    sr_dev_inst* device_ = nullptr;
    const sr_output* output_ = nullptr;
};

}  // namespace

bool HasLogicLines(const CaptureResult& r) {
    return !logicLinesOf(r).empty();
}

void WriteSigrokSession(const CaptureResult& r, const std::string& path) {
    AtomicFileWriter file(path);
    {
        SigrokFeed feed(r, "srzip", path, file.tempPath(), true);
        if (!feed.hasLogic() && !feed.hasAnalog())
            failed("the capture holds no waveform data", path);
        feed.run([](std::string_view) {});
    }
    file.commit();
}

void WriteVcd(const CaptureResult& r, const std::string& path) {
    AtomicFileWriter file(path);
    {
        SigrokFeed feed(r, "vcd", path, "", false);
        if (!feed.hasLogic()) failed("the capture holds no logic lines", path);
        feed.run([&](std::string_view text) { file.write(text); });
    }
    file.commit();
}

}  // namespace cvn::host
