// Waveform content of the simulated scope.
#include "sim/instrument/WaveformData.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "sim/instrument/ScpiParser.h"

namespace cvn::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kWordCountsPerDivision = 4096.0;
constexpr double kByteCountsPerDivision = 25.0;
// An FFT shows dBV with a fixed scale and its centre well below 0 dBV.
constexpr double kFftScale = 20.0;
constexpr double kFftCentre = -60.0;
constexpr double kFftFloorDb = -200.0;
// Step of the derivative and of the integral when a single value is asked
// for, as a fraction of the screen.
constexpr double kDerivativeStep = 1e-5;
constexpr int kIntegralSteps = 4000;

constexpr size_t kChunk = 4096;

const std::string& OperatorOf(const ScopeState& state, int f) {
    return state.functionOperator[std::clamp(f, 1, ScopeState::kFunctions) - 1];
}

bool IsFft(const ScopeState& state, const Source& s) {
    return s.kind == SourceKind::Function && OperatorOf(state, s.index) == "FFT";
}

double ScreenRange(const ScopeState& state) {
    return 10.0 * state.timebaseScale;
}
double ScreenStart(const ScopeState& state) {
    return state.timebasePosition - ScreenRange(state) / 2;
}

// The two operands of function f; the second is channel 2 when the
// definition names only one.
void OperandsOf(const ScopeState& state, int f, Source out[2]) {
    out[0] = Source{SourceKind::Channel, 1};
    out[1] = Source{SourceKind::Channel, 2};
    const std::string& text = state.functionOperands[std::clamp(f, 1, ScopeState::kFunctions) - 1];
    const auto args = SplitArguments(text);
    for (size_t k = 0; k < 2 && k < args.size(); ++k) {
        if (auto src = ParseSource(args[k])) out[k] = *src;
    }
}

// Math works on the clean input signals; a function or pod as an operand
// contributes nothing.
double OperandValue(const ScopeState& state, const Source& s, double t) {
    if (s.kind != SourceKind::Channel || s.index < 1 || s.index > ScopeState::kMaxChannels)
        return 0.0;
    return state.signal[s.index - 1].Clean(t);
}

// Magnitudes in dBV (rms) of bins 0 .. bins-1 of the first operand sampled
// at `m` points across the screen (m a power of two).
std::vector<double> Spectrum(const ScopeState& state, const Source& operand, size_t bins,
                             size_t m) {
    std::vector<std::complex<double>> x(m);
    const double t0 = ScreenStart(state);
    const double dt = ScreenRange(state) / static_cast<double>(m);
    for (size_t j = 0; j < m; ++j)
        x[j] = OperandValue(state, operand, t0 + dt * static_cast<double>(j));
    // Iterative radix-2 transform.
    for (size_t i = 1, j = 0; i < m; ++i) {
        size_t bit = m >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (size_t len = 2; len <= m; len <<= 1) {
        const double angle = -2 * kPi / static_cast<double>(len);
        const std::complex<double> wl(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < m; i += len) {
            std::complex<double> w(1.0, 0.0);
            for (size_t k = 0; k < len / 2; ++k) {
                const auto u = x[i + k];
                const auto v = x[i + k + len / 2] * w;
                x[i + k] = u + v;
                x[i + k + len / 2] = u - v;
                w *= wl;
            }
        }
    }
    std::vector<double> db(bins);
    for (size_t k = 0; k < bins; ++k) {
        const double mag = std::abs(x[k % m]) / static_cast<double>(m);
        const double rms = k == 0 ? mag : 2 * mag / std::sqrt(2.0);
        db[k] = rms > 0 ? std::max(kFftFloorDb, 20 * std::log10(rms)) : kFftFloorDb;
    }
    return db;
}

size_t FftLength(size_t bins) {
    size_t m = 2;
    while (m < 2 * bins) m <<= 1;
    return m;
}

double Nice125(double v) {
    if (!(v > 0) || !std::isfinite(v)) return 1.0;
    const double decade = std::pow(10.0, std::floor(std::log10(v)));
    for (double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * decade >= v) return step * decade;
    }
    return 10 * decade;
}

// Channel volts at t0, t0 + dt, ... A sine is made by rotating the phase,
// which is much faster than a sine per sample; each call starts from an
// exact phase, so the rounding of the rotation cannot build up over a long
// record.
void FillChannel(const SignalConfig& sig, double t0, double dt, size_t count, double* out) {
    if (sig.shape == Waveshape::Sine) {
        const double w = 2 * kPi * sig.frequency;
        double s = std::sin(w * t0 + sig.phase);
        double c = std::cos(w * t0 + sig.phase);
        const double sd = std::sin(w * dt);
        const double cd = std::cos(w * dt);
        const double half = sig.amplitude / 2;
        for (size_t k = 0; k < count; ++k) {
            out[k] = sig.offset + half * s;
            const double s2 = s * cd + c * sd;
            c = c * cd - s * sd;
            s = s2;
        }
    } else {
        for (size_t k = 0; k < count; ++k) out[k] = sig.Clean(t0 + dt * static_cast<double>(k));
    }
    if (sig.noise > 0) {
        for (size_t k = 0; k < count; ++k) out[k] += sig.Noise(t0 + dt * static_cast<double>(k));
    }
}

}  // namespace

SourceSampler::SourceSampler(const ScopeState& state, const Source& source, long points)
    : state_(state), source_(source) {
    const size_t n = static_cast<size_t>(std::max(0L, points));
    if (source.kind == SourceKind::Function) {
        op_ = OperatorOf(state, source.index);
        OperandsOf(state, source.index, operands_);
    }
    if (IsFft(state, source)) {
        x0_ = 0;
        dx_ = 1.0 / ScreenRange(state);
        if (n > 0) spectrum_ = Spectrum(state, operands_[0], n, FftLength(n));
        return;
    }
    x0_ = ScreenStart(state);
    dx_ = n > 0 ? ScreenRange(state) / static_cast<double>(n) : 0.0;
}

double SourceSampler::Operand(int k, double t) const {
    return OperandValue(state_, operands_[k], t);
}

void SourceSampler::Fill(size_t first, size_t count, double* out) {
    auto timeOf = [&](size_t i) { return x0_ + dx_ * static_cast<double>(i); };
    switch (source_.kind) {
        case SourceKind::Pod:
            for (size_t k = 0; k < count; ++k)
                out[k] = PodPattern(state_, source_.index, first + k);
            return;
        case SourceKind::Channel:
            FillChannel(state_.signal[std::clamp(source_.index, 1, ScopeState::kMaxChannels) - 1],
                        timeOf(first), dx_, count, out);
            return;
        case SourceKind::Function:
            break;
    }
    if (op_ == "FFT") {
        for (size_t k = 0; k < count; ++k)
            out[k] = first + k < spectrum_.size() ? spectrum_[first + k] : kFftFloorDb;
        return;
    }
    if (op_ == "INTEGRATE" && first != next_) {
        // Out of order: start the running sum again from the record's start.
        integral_ = 0;
        next_ = 0;
        std::vector<double> skip(kChunk);
        while (next_ < first) Fill(next_, std::min(kChunk, first - next_), skip.data());
    }
    for (size_t k = 0; k < count; ++k) {
        const size_t i = first + k;
        const double t = timeOf(i);
        if (op_ == "SUBTRACT") {
            out[k] = Operand(0, t) - Operand(1, t);
        } else if (op_ == "MULTIPLY") {
            out[k] = Operand(0, t) * Operand(1, t);
        } else if (op_ == "DIFFERENTIATE") {
            const double h = std::max(dx_, ScreenRange(state_) * kDerivativeStep) / 2;
            out[k] = (Operand(0, t + h) - Operand(0, t - h)) / (2 * h);
        } else if (op_ == "INTEGRATE") {
            // Trapezoids from the start of the record.
            if (i > 0) integral_ += (Operand(0, t - dx_) + Operand(0, t)) / 2 * dx_;
            out[k] = integral_;
        } else {
            out[k] = Operand(0, t) + Operand(1, t);
        }
    }
    next_ = first + count;
}

Scaling ScalingOf(const ScopeState& state, const Source& s) {
    if (s.kind == SourceKind::Channel && s.index >= 1 && s.index <= ScopeState::kMaxChannels) {
        return {state.channelScale[s.index - 1], state.channelOffset[s.index - 1]};
    }
    if (s.kind != SourceKind::Function) return {1.0, 0.0};
    if (IsFft(state, s)) return {kFftScale, kFftCentre};
    // Functions scale themselves so that their peak stays within about
    // three divisions of the centre.
    constexpr long kProbe = 1000;
    SourceSampler probe(state, s, kProbe);
    std::vector<double> v(kProbe);
    probe.Fill(0, kProbe, v.data());
    double peak = 0;
    for (double x : v) peak = std::max(peak, std::fabs(x));
    return {Nice125(peak / 3), 0.0};
}

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
    if (IsFft(state, state.source)) {
        p.xIncrement = 1.0 / ScreenRange(state);
        p.xOrigin = 0;
    } else {
        p.xIncrement = p.points > 0 ? ScreenRange(state) / static_cast<double>(p.points) : 0.0;
        p.xOrigin = ScreenStart(state);
    }
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

unsigned PodPattern(const ScopeState& state, int pod, size_t i) {
    return state.pod[std::clamp(pod, 1, ScopeState::kPods) - 1].Pattern(i);
}

unsigned PodPattern(int pod, size_t i) {
    return DefaultPod(pod).Pattern(i);
}

double SourceVolts(const ScopeState& state, const Source& s, double t) {
    switch (s.kind) {
        case SourceKind::Channel:
            return state.signal[std::clamp(s.index, 1, ScopeState::kMaxChannels) - 1].At(t);
        case SourceKind::Pod:
            return PodPattern(state, s.index, static_cast<size_t>(std::max(0.0, t)));
        case SourceKind::Function:
            break;
    }
    Source ops[2];
    OperandsOf(state, s.index, ops);
    const std::string& op = OperatorOf(state, s.index);
    const double range = ScreenRange(state);
    if (op == "FFT") {
        // One bin of the transform the waveform data shows.
        const size_t bins =
            static_cast<size_t>(std::min(state.TransferPoints(), ScopeState::kFftBins));
        const auto spectrum = Spectrum(state, ops[0], bins, FftLength(bins));
        const long k = std::lround(t * range);
        return k >= 0 && static_cast<size_t>(k) < spectrum.size() ? spectrum[static_cast<size_t>(k)]
                                                                  : kFftFloorDb;
    }
    const double a = OperandValue(state, ops[0], t);
    if (op == "SUBTRACT") return a - OperandValue(state, ops[1], t);
    if (op == "MULTIPLY") return a * OperandValue(state, ops[1], t);
    if (op == "DIFFERENTIATE") {
        const double h = range * kDerivativeStep / 2;
        return (OperandValue(state, ops[0], t + h) - OperandValue(state, ops[0], t - h)) / (2 * h);
    }
    if (op == "INTEGRATE") {
        const double t0 = ScreenStart(state);
        const double h = (t - t0) / kIntegralSteps;
        double sum = 0;
        for (int k = 0; k < kIntegralSteps; ++k) {
            sum += (OperandValue(state, ops[0], t0 + h * k) +
                    OperandValue(state, ops[0], t0 + h * (k + 1))) /
                   2 * h;
        }
        return sum;
    }
    return a + OperandValue(state, ops[1], t);
}

static std::string ContentOf(const ScopeState& state, const Source& s) {
    switch (s.kind) {
        case SourceKind::Channel:
            return FormatSignal(state.signal[std::clamp(s.index, 1, ScopeState::kMaxChannels) - 1]);
        case SourceKind::Pod:
            return FormatPod(state.pod[std::clamp(s.index, 1, ScopeState::kPods) - 1]);
        case SourceKind::Function:
            break;
    }
    const int f = std::clamp(s.index, 1, ScopeState::kFunctions) - 1;
    std::string text = state.functionOperator[f] + " " + state.functionOperands[f];
    for (const SignalConfig& sig : state.signal) text += ";" + FormatSignal(sig);
    return text;
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
               static_cast<int>(state.acquireType),
               ContentOf(state, state.source)};
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
    // Values are made a chunk at a time, so that even the largest record
    // needs no second full-size buffer.
    SourceSampler sampler(state, state.source, pre.points);
    std::vector<double> raw(kChunk);
    auto fillRaw = [&](size_t first, size_t count) {
        sampler.Fill(first, count, raw.data());
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
