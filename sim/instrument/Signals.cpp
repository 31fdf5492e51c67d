// Input signals of the simulated scope and their text form.
#include "sim/instrument/Signals.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "sim/instrument/ScpiParser.h"

namespace cvn::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr std::array<std::string_view, 5> kShapeNames = {"sine", "square", "triangle", "pulse",
                                                         "dc"};
constexpr std::array<std::string_view, 4> kPodModeNames = {"counter", "walk", "serial", "uart"};

// Frames of the serial pattern: two idle steps, eight bits of two steps each
// (clock low, then high), two idle steps.
constexpr size_t kSerialFrameSteps = 20;
// UART frames: two idle bits, a start bit, eight data bits and a stop bit,
// so a record begins idle and a decoder finds the first start edge.
constexpr size_t kUartFrameBits = 12;

std::vector<std::string_view> SplitColons(std::string_view text) {
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t colon = text.find(':');
        parts.push_back(Trim(text.substr(0, colon)));
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    return parts;
}

// A number followed by an optional SI prefix and unit: "2.5kHz", "500mV",
// "1e3". The unit must be one of `units` (case ignored); gives the value in
// base units and which unit matched (-1 for none).
double NumberWithUnit(std::string_view what, std::string_view text,
                      std::initializer_list<std::string_view> units, int* unitIndex = nullptr) {
    const std::string s(text);
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || end == s.c_str() || !std::isfinite(v))
        throw std::invalid_argument(std::string(what) + " needs a number, not \"" + s + "\"");
    std::string_view rest(end);
    double factor = 1.0;
    auto matchUnit = [&](std::string_view r) -> int {
        int k = 0;
        for (std::string_view u : units) {
            if (EqualsIgnoreCase(r, u)) return k;
            ++k;
        }
        return -1;
    };
    int unit = rest.empty() ? -1 : matchUnit(rest);
    if (!rest.empty() && unit < 0 && rest.size() > 1) {
        switch (rest.front()) {
            case 'G':
                factor = 1e9;
                break;
            case 'M':
                factor = 1e6;
                break;
            case 'k':
            case 'K':
                factor = 1e3;
                break;
            case 'm':
                factor = 1e-3;
                break;
            case 'u':
                factor = 1e-6;
                break;
            case 'n':
                factor = 1e-9;
                break;
            default:
                factor = 0;
        }
        unit = factor != 0 ? matchUnit(rest.substr(1)) : -1;
    }
    if (!rest.empty() && unit < 0)
        throw std::invalid_argument(std::string(what) + ": unknown unit in \"" + s + "\"");
    if (unitIndex) *unitIndex = unit;
    return v * factor;
}

double Frequency(std::string_view text) {
    const double f = NumberWithUnit("frequency", text, {"Hz"});
    if (!(f > 0) || f > 1e10) throw std::invalid_argument("frequency must be above 0 Hz");
    return f;
}

// Peak to peak, whatever form it was written in.
double Amplitude(std::string_view text) {
    int unit = -1;
    const double a = NumberWithUnit("amplitude", text, {"Vpp", "Vp", "V"}, &unit);
    if (a < 0 || a > 1000) throw std::invalid_argument("amplitude must be 0 to 1000 V");
    return unit == 1 ? 2 * a : a;
}

double Volts(std::string_view what, std::string_view text) {
    const double v = NumberWithUnit(what, text, {"V"});
    if (std::fabs(v) > 1000) throw std::invalid_argument(std::string(what) + " beyond 1000 V");
    return v;
}

uint64_t Mix(uint64_t x) {  // splitmix64 finaliser
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::string Number(double v) {
    std::string s = FormatReal(v);
    return s.front() == '+' ? s.substr(1) : s;
}

}  // namespace

double SignalConfig::Clean(double t) const {
    if (shape == Waveshape::Dc) return offset;
    const double half = amplitude / 2;
    if (shape == Waveshape::Sine) return offset + half * std::sin(2 * kPi * frequency * t + phase);
    double cycles = frequency * t + phase / (2 * kPi);
    double u = cycles - std::floor(cycles);
    if (u >= 1.0) u = 0.0;
    switch (shape) {
        case Waveshape::Square:
            return offset + (u < 0.5 ? half : -half);
        case Waveshape::Triangle:
            return offset + half * (u < 0.5 ? 4 * u - 1 : 3 - 4 * u);
        case Waveshape::Pulse:
            return offset + (u < duty ? half : -half);
        default:
            return offset;
    }
}

double SignalConfig::Noise(double t) const {
    if (noise <= 0) return 0.0;
    uint64_t bits = 0;
    std::memcpy(&bits, &t, sizeof bits);
    const uint64_t h = Mix(bits ^ (static_cast<uint64_t>(seed) << 32));
    // 53 random bits to [-1, 1).
    const double unit = static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
    return noise * (2 * unit - 1);
}

SignalConfig ParseSignal(std::string_view text, const SignalConfig& base) {
    const auto parts = SplitColons(text);
    SignalConfig s = base;
    bool shapeFound = false;
    for (size_t k = 0; k < kShapeNames.size(); ++k) {
        if (EqualsIgnoreCase(parts[0], kShapeNames[k])) {
            s.shape = static_cast<Waveshape>(k);
            shapeFound = true;
        }
    }
    // Without a shape the text only changes the keys it names.
    const bool keysOnly = !shapeFound && parts[0].find('=') != std::string_view::npos;
    if (!shapeFound && !keysOnly) {
        throw std::invalid_argument("unknown signal shape \"" + std::string(parts[0]) +
                                    "\" (sine, square, triangle, pulse or dc)");
    }
    size_t positional = keysOnly ? 3 : 0;
    for (size_t i = keysOnly ? 0 : 1; i < parts.size(); ++i) {
        const std::string_view p = parts[i];
        const size_t eq = p.find('=');
        if (eq == std::string_view::npos) {
            switch (positional++) {
                case 0:
                    s.frequency = Frequency(p);
                    break;
                case 1:
                    s.amplitude = Amplitude(p);
                    break;
                case 2:
                    s.offset = Volts("offset", p);
                    break;
                default:
                    throw std::invalid_argument("too many fields in \"" + std::string(text) + "\"");
            }
            continue;
        }
        const std::string_view key = Trim(p.substr(0, eq));
        const std::string_view value = Trim(p.substr(eq + 1));
        if (EqualsIgnoreCase(key, "freq") || EqualsIgnoreCase(key, "frequency")) {
            s.frequency = Frequency(value);
        } else if (EqualsIgnoreCase(key, "amp") || EqualsIgnoreCase(key, "amplitude")) {
            s.amplitude = Amplitude(value);
        } else if (EqualsIgnoreCase(key, "offset")) {
            s.offset = Volts("offset", value);
        } else if (EqualsIgnoreCase(key, "noise")) {
            s.noise = Volts("noise", value);
            if (s.noise < 0) throw std::invalid_argument("noise must not be negative");
        } else if (EqualsIgnoreCase(key, "phase")) {
            s.phase = NumberWithUnit("phase", value, {"deg"}) * kPi / 180.0;
        } else if (EqualsIgnoreCase(key, "duty")) {
            s.duty = NumberWithUnit("duty", value, {});
            if (!(s.duty > 0 && s.duty < 1)) throw std::invalid_argument("duty must be 0 to 1");
        } else if (EqualsIgnoreCase(key, "seed")) {
            const double v = NumberWithUnit("seed", value, {});
            if (v < 0 || v > 4294967295.0 || v != std::floor(v))
                throw std::invalid_argument("seed must be a whole number");
            s.seed = static_cast<uint32_t>(v);
        } else {
            throw std::invalid_argument("unknown signal key \"" + std::string(key) + "\"");
        }
    }
    return s;
}

std::string FormatSignal(const SignalConfig& s) {
    return std::string(kShapeNames[static_cast<size_t>(s.shape)]) + ":" + Number(s.frequency) +
           "Hz:" + Number(s.amplitude) + "Vpp:" + Number(s.offset) +
           "V:phase=" + Number(s.phase * 180.0 / kPi) + ":duty=" + Number(s.duty) +
           ":noise=" + Number(s.noise) + ":seed=" + std::to_string(s.seed);
}

SignalConfig DefaultSignal(int channel) {
    static constexpr double kPeak[] = {1.2, 0.8, 1.5, 0.5};
    static constexpr double kFrequency[] = {1e3, 2.5e3, 0.5e3, 5e3};
    const int i = std::clamp(channel, 1, 4) - 1;
    SignalConfig s;
    s.shape = Waveshape::Sine;
    s.frequency = kFrequency[i];
    s.amplitude = 2 * kPeak[i];
    s.phase = 0.7 * i;
    s.seed = static_cast<uint32_t>(0x5EED0000u + static_cast<uint32_t>(channel));
    return s;
}

unsigned PodConfig::Pattern(size_t i) const {
    const size_t step = i / static_cast<size_t>(std::max(1L, samplesPerStep));
    switch (mode) {
        case PodMode::Counter:
            return static_cast<unsigned>(step & 0xFF);
        case PodMode::Walk:
            return 1u << (step % 8);
        case PodMode::Serial: {
            const size_t frame = step / kSerialFrameSteps;
            const size_t inFrame = step % kSerialFrameSteps;
            if (inFrame < 2 || inFrame >= 18) return 0x04;  // idle: select high
            const size_t bit = (inFrame - 2) / 2;
            const auto byte =
                static_cast<unsigned char>(kSerialMessage[frame % kSerialMessage.size()]);
            const unsigned data = (byte >> (7 - bit)) & 1u;
            const unsigned clock = static_cast<unsigned>((inFrame - 2) & 1u);
            return clock | (data << 1);
        }
        case PodMode::Uart: {
            const size_t frame = step / kUartFrameBits;
            const size_t bit = step % kUartFrameBits;
            if (bit < 2 || bit == 11) return 1;  // idle, stop bit
            if (bit == 2) return 0;              // start bit
            const auto byte = static_cast<unsigned char>(kUartMessage[frame % kUartMessage.size()]);
            return (byte >> (bit - 3)) & 1u;  // least significant bit first
        }
    }
    return 0;
}

PodConfig ParsePod(std::string_view text) {
    const auto parts = SplitColons(text);
    PodConfig p;
    bool found = false;
    for (size_t k = 0; k < kPodModeNames.size(); ++k) {
        if (EqualsIgnoreCase(parts[0], kPodModeNames[k])) {
            p.mode = static_cast<PodMode>(k);
            found = true;
        }
    }
    if (!found) {
        throw std::invalid_argument("unknown pod pattern \"" + std::string(parts[0]) +
                                    "\" (counter, walk, serial or uart)");
    }
    if (parts.size() > 2) throw std::invalid_argument("a pod pattern takes one step size");
    // A UART bit one sample long cannot be decoded; ten samples a bit can.
    if (p.mode == PodMode::Uart) p.samplesPerStep = 10;
    if (parts.size() == 2) {
        const double v = NumberWithUnit("samples per step", parts[1], {});
        if (v < 1 || v > 1e9 || v != std::floor(v))
            throw std::invalid_argument("samples per step must be a whole number from 1");
        p.samplesPerStep = static_cast<long>(v);
    }
    return p;
}

std::string FormatPod(const PodConfig& p) {
    return std::string(kPodModeNames[static_cast<size_t>(p.mode)]) + ":" +
           std::to_string(p.samplesPerStep);
}

PodConfig DefaultPod(int pod) {
    // Pod 1 counts every sample; pod 2 walks one bit every eighth sample.
    return pod == 1 ? PodConfig{PodMode::Counter, 1} : PodConfig{PodMode::Walk, 8};
}

}  // namespace cvn::sim
