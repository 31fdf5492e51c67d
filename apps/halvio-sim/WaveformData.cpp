// Waveform content of the simulated scope.
#include "apps/halvio-sim/WaveformData.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "apps/halvio-sim/ScpiParser.h"

namespace cvn::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kWordCountsPerDivision = 4096.0;
constexpr double kByteCountsPerDivision = 25.0;
constexpr double kFunctionScale = 1.0;

// Each channel gets its own sine so that mixed-up channels show in a test.
constexpr double kAmplitude[ScopeState::kMaxChannels] = {1.2, 0.8, 1.5, 0.5};
constexpr double kFrequency[ScopeState::kMaxChannels] = {1e3, 2.5e3, 0.5e3, 5e3};

double ChannelVolts(int ch, double t) {
    const int i = std::clamp(ch, 1, ScopeState::kMaxChannels) - 1;
    return kAmplitude[i] * std::sin(2 * kPi * kFrequency[i] * t + 0.7 * i);
}

constexpr size_t kChunk = 4096;

// Channel volts at t0, t0 + dt, ... by rotating the phase, which is much
// faster than a sine per sample; each call starts from an exact phase, so the
// rounding of the rotation cannot build up over a long record.
void FillChannel(int ch, double t0, double dt, size_t count, double* out, bool add) {
    const int i = std::clamp(ch, 1, ScopeState::kMaxChannels) - 1;
    const double w = 2 * kPi * kFrequency[i];
    double s = std::sin(w * t0 + 0.7 * i);
    double c = std::cos(w * t0 + 0.7 * i);
    const double sd = std::sin(w * dt);
    const double cd = std::cos(w * dt);
    for (size_t k = 0; k < count; ++k) {
        out[k] = (add ? out[k] : 0.0) + kAmplitude[i] * s;
        const double s2 = s * cd + c * sd;
        c = c * cd - s * sd;
        s = s2;
    }
}

void FillVolts(const ScopeState& state, const Source& src, double t0, double dt, size_t count,
               double* out) {
    if (src.kind == SourceKind::Channel) {
        FillChannel(src.index, t0, dt, count, out, false);
        return;
    }
    const std::string& op =
        state.functionOperator[std::clamp(src.index, 1, ScopeState::kFunctions) - 1];
    if (op == "ADD") {
        FillChannel(1, t0, dt, count, out, false);
        FillChannel(2, t0, dt, count, out, true);
        return;
    }
    for (size_t k = 0; k < count; ++k)
        out[k] = SourceVolts(state, src, t0 + dt * static_cast<double>(k));
}

struct Scaling {
    double scale;
    double offset;
};

Scaling ScalingOf(const ScopeState& state, const Source& s) {
    if (s.kind == SourceKind::Channel && s.index >= 1 && s.index <= ScopeState::kMaxChannels) {
        return {state.channelScale[s.index - 1], state.channelOffset[s.index - 1]};
    }
    return {kFunctionScale, 0.0};
}

}  // namespace

std::string Preamble::ToText() const {
    std::string s = std::to_string(format) + "," + std::to_string(type) + "," +
                    std::to_string(points) + "," + std::to_string(count);
    for (double v : {xIncrement, xOrigin, xReference, yIncrement, yOrigin, yReference})
        s += "," + FormatReal(v);
    return s;
}

Preamble MakePreamble(const ScopeState& state) {
    Preamble p;
    p.format = state.format == WaveFormat::Word ? 1 : state.format == WaveFormat::Byte ? 0 : 4;
    switch (state.acquireType) {
        case AcquireType::Normal:
            p.type = 0;
            break;
        case AcquireType::Peak:
            p.type = 1;
            break;
        case AcquireType::Average:
            p.type = 2;
            break;
        case AcquireType::HighResolution:
            p.type = 3;
            break;
    }
    p.points = state.TransferPoints();
    p.count = state.acquireType == AcquireType::Average ? state.acquireCount : 1;
    const double range = 10.0 * state.timebaseScale;
    p.xIncrement = p.points > 0 ? range / static_cast<double>(p.points) : 0.0;
    p.xOrigin = state.timebasePosition - range / 2;
    p.xReference = 0;
    if (state.source.kind == SourceKind::Pod) {
        p.yIncrement = 1;
        p.yOrigin = 0;
        p.yReference = 0;
        return p;
    }
    const Scaling sc = ScalingOf(state, state.source);
    p.yOrigin = sc.offset;
    if (state.format == WaveFormat::Byte) {
        p.yIncrement = sc.scale / kByteCountsPerDivision;
        p.yReference = 128;
    } else {
        p.yIncrement = sc.scale / kWordCountsPerDivision;
        p.yReference = 0;
    }
    return p;
}

unsigned PodPattern(int pod, size_t i) {
    // Pod 1 counts every sample, pod 2 every eighth, so each line toggles
    // at its own rate.
    return pod == 1 ? static_cast<unsigned>(i & 0xFF) : static_cast<unsigned>((i >> 3) & 0xFF);
}

double SourceVolts(const ScopeState& state, const Source& s, double t) {
    if (s.kind == SourceKind::Channel) return ChannelVolts(s.index, t);
    const int f = std::clamp(s.index, 1, ScopeState::kFunctions) - 1;
    const std::string& op = state.functionOperator[f];
    const double a = ChannelVolts(1, t);
    const double b = ChannelVolts(2, t);
    if (op == "SUBTRACT") return a - b;
    if (op == "MULTIPLY") return a * b;
    if (op == "ADD") return a + b;
    return a;
}

WaveformCache::Key WaveformCache::KeyOf(const ScopeState& state) {
    const Scaling sc = ScalingOf(state, state.source);
    return Key{state.source,
               state.format,
               state.byteOrder,
               state.TransferPoints(),
               sc.scale,
               sc.offset,
               state.timebaseScale,
               state.timebasePosition,
               static_cast<int>(state.acquireType)};
}

std::shared_ptr<const std::string> WaveformCache::Block(const ScopeState& state) {
    const Key key = KeyOf(state);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key == key) {
            entries_.splice(entries_.begin(), entries_, it);
            return entries_.front().block;
        }
    }

    const Preamble pre = MakePreamble(state);
    const size_t n = static_cast<size_t>(std::max(0L, pre.points));
    const bool pod = state.source.kind == SourceKind::Pod;
    // Raw values are made a chunk at a time, so that even the largest record
    // needs no second full-size buffer.
    std::vector<double> raw(kChunk);
    auto fillRaw = [&](size_t first, size_t count) {
        if (pod) {
            for (size_t k = 0; k < count; ++k) raw[k] = PodPattern(state.source.index, first + k);
            return;
        }
        const double t0 =
            (static_cast<double>(first) - pre.xReference) * pre.xIncrement + pre.xOrigin;
        FillVolts(state, state.source, t0, pre.xIncrement, count, raw.data());
        for (size_t k = 0; k < count; ++k) {
            raw[k] = std::nearbyint((raw[k] - pre.yOrigin) / pre.yIncrement) + pre.yReference;
        }
    };

    auto block = std::make_shared<std::string>();
    if (state.format == WaveFormat::Ascii) {
        std::string text;
        text.reserve(n * 15);
        char buf[32];
        for (size_t first = 0; first < n; first += kChunk) {
            const size_t count = std::min(kChunk, n - first);
            fillRaw(first, count);
            for (size_t k = 0; k < count; ++k) {
                const double v = (raw[k] - pre.yReference) * pre.yIncrement + pre.yOrigin;
                const int len =
                    std::snprintf(buf, sizeof buf, first + k == 0 ? "%+.6E" : ",%+.6E", v);
                text.append(buf, static_cast<size_t>(len));
            }
        }
        *block = BlockHeader(text.size()) + text;
    } else {
        const size_t width = state.format == WaveFormat::Word ? 2 : 1;
        const std::string header = BlockHeader(n * width);
        block->resize(header.size() + n * width);
        std::copy(header.begin(), header.end(), block->begin());
        auto* out = reinterpret_cast<unsigned char*>(block->data() + header.size());
        const bool msb = state.byteOrder == ByteOrder::MsbFirst;
        for (size_t first = 0; first < n; first += kChunk) {
            const size_t count = std::min(kChunk, n - first);
            fillRaw(first, count);
            for (size_t k = 0; k < count; ++k) {
                const size_t i = first + k;
                if (width == 1) {
                    out[i] = static_cast<unsigned char>(std::clamp(raw[k], 0.0, 255.0));
                    continue;
                }
                const auto v = static_cast<uint16_t>(
                    static_cast<int16_t>(std::clamp(raw[k], -32767.0, 32767.0)));
                out[2 * i + (msb ? 0 : 1)] = static_cast<unsigned char>(v >> 8);
                out[2 * i + (msb ? 1 : 0)] = static_cast<unsigned char>(v & 0xFF);
            }
        }
    }

    while (!entries_.empty() && used_ + block->size() > budget_) {
        used_ -= entries_.back().block->size();
        entries_.pop_back();
    }
    used_ += block->size();
    entries_.push_front(Entry{key, block});
    return block;
}

}  // namespace cvn::sim
