// The signals fed into the simulated scope: what each analog input sees
// (shape, frequency, amplitude, offset, phase, noise) and what each digital
// pod carries. They are inputs, not settings, so "*RST" leaves them alone.
// Written as short texts ("sine:1kHz:2Vpp:0V:noise=0.01") on the command
// line and in the simulator's own commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cvn::sim {

enum class Waveshape { Sine, Square, Triangle, Pulse, Dc };

struct SignalConfig {
    Waveshape shape = Waveshape::Sine;
    double frequency = 1e3;  // Hz
    double amplitude = 1.0;  // volts peak to peak
    double offset = 0.0;     // volts
    double phase = 0.0;      // radians at t = 0
    double duty = 0.1;       // pulse: fraction of the period spent high
    double noise = 0.0;      // volts: uniform noise within +-noise
    uint32_t seed = 1;       // noise sequence

    bool operator==(const SignalConfig&) const = default;

    // The signal in volts at time t, without noise.
    double Clean(double t) const;
    // The deterministic noise at time t: the same t always gives the same
    // value, within +-noise.
    double Noise(double t) const;
    double At(double t) const { return Clean(t) + Noise(t); }
};

// "<shape>[:<frequency>[:<amplitude>[:<offset>]]][:key=value...]" with shape
// sine, square, triangle, pulse or dc; frequency "1kHz", "2.5e3", "1MHz";
// amplitude "2Vpp", "1.2Vp" (peak), "500mV" (peak to peak); offset "0V",
// "-250mV"; keys freq, amp, offset, phase (degrees), duty (0..1), noise
// (volts), seed. Missing parts keep the values of `base`; a text of keys
// alone ("noise=0.01:phase=90") keeps the shape as well. Throws
// std::invalid_argument with a readable reason.
SignalConfig ParseSignal(std::string_view text, const SignalConfig& base = {});
// The text ParseSignal reads back to the same configuration.
std::string FormatSignal(const SignalConfig& s);
// What a channel shows at power-on: a sine of its own frequency, amplitude
// and phase, so mixed-up channels show in a test.
SignalConfig DefaultSignal(int channel);

// Pod patterns: a binary counter, one bit walking from D0 to D7, a
// three-wire serial bus (D0 clock, D1 data, D2 active-low select) sending a
// fixed text most significant bit first, or a UART line on D0 (8N1, least
// significant bit first, idle high) sending another text, the other lines
// low. The pattern advances every `samplesPerStep` samples; for the UART that
// is one bit, so its baud rate is the sample rate divided by it.
enum class PodMode { Counter, Walk, Serial, Uart };

struct PodConfig {
    PodMode mode = PodMode::Counter;
    long samplesPerStep = 1;

    bool operator==(const PodConfig&) const = default;
    // The 8-bit pattern at sample i.
    unsigned Pattern(size_t i) const;
};

// The text the serial pattern sends, repeated.
constexpr std::string_view kSerialMessage = "HALVIO\n";
// The text the UART pattern sends, repeated.
constexpr std::string_view kUartMessage = "Halvio\r\n";

// "counter", "walk:8", "serial:2", "uart:10". Throws std::invalid_argument.
PodConfig ParsePod(std::string_view text);
std::string FormatPod(const PodConfig& p);
PodConfig DefaultPod(int pod);

}  // namespace cvn::sim
