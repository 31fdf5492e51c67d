// Waveform content of the simulated scope: the deterministic signals of
// every source, the preamble that scales them, and the data blocks, built
// once per set of settings and kept so that repeated large transfers go out
// at loopback speed straight from memory.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "sim/instrument/ScopeState.h"

namespace cvn::sim {

// The ten numbers of the preamble reply. A raw value scales as
// (raw - yReference) * yIncrement + yOrigin, sample i sits at
// (i - xReference) * xIncrement + xOrigin.
struct Preamble {
    int format = 0;  // 0 byte, 1 word, 4 ascii
    int type = 0;    // 0 normal, 1 peak, 2 average, 3 high resolution
    long points = 0;
    long count = 1;
    double xIncrement = 0;
    double xOrigin = 0;
    double xReference = 0;
    double yIncrement = 0;
    double yOrigin = 0;
    double yReference = 0;

    std::string ToText() const;  // comma-separated, no terminator
};

Preamble MakePreamble(const ScopeState& state);

// Physical values of a source along a record of `points` samples that spans
// the screen: volts for channels and most functions, dB for an FFT, the
// pattern value for pods. Sample i sits at x0() + i * dx() (seconds, or
// hertz for an FFT). Fill must be called in order of samples, as the
// integral runs along the record.
class SourceSampler {
public:
    SourceSampler(const ScopeState& state, const Source& source, long points);
    void Fill(size_t first, size_t count, double* out);
    double x0() const { return x0_; }
    double dx() const { return dx_; }

private:
    double Operand(int k, double t) const;

    const ScopeState& state_;
    Source source_;
    std::string op_;  // function operator, upper case long form
    Source operands_[2];
    double x0_ = 0, dx_ = 0;
    double integral_ = 0;           // running sum for an integral
    size_t next_ = 0;               // first sample of the next Fill
    std::vector<double> spectrum_;  // FFT magnitudes, made at construction
};

// Volts (or dB) per division and the value at the screen centre of a source.
struct Scaling {
    double scale;
    double offset;
};
Scaling ScalingOf(const ScopeState& state, const Source& s);

// The signal of a source at time t (the frequency t for an FFT): volts for
// channels and functions, the 8-bit pattern of a pod at sample t.
double SourceVolts(const ScopeState& state, const Source& s, double t);
unsigned PodPattern(const ScopeState& state, int pod, size_t i);
// The power-on pattern of a pod.
unsigned PodPattern(int pod, size_t i);

// Data blocks (header included, terminator not) for the current settings.
// Keeps the most recently used blocks up to a memory budget. Not locked: the
// caller serialises access.
class WaveformCache {
public:
    explicit WaveformCache(size_t budgetBytes = 160u << 20) : budget_(budgetBytes) {}
    std::shared_ptr<const std::string> Block(const ScopeState& state);
    size_t entries() const { return entries_.size(); }

private:
    struct Key {
        Source source;
        WaveFormat format;
        ByteOrder order;
        long points;
        double scale, offset, tbScale, tbPosition;
        int acquireType;
        std::string content;  // what generates the source
        bool operator==(const Key&) const = default;
    };
    struct Entry {
        Key key;
        std::shared_ptr<const std::string> block;
    };
    static Key KeyOf(const ScopeState& state);

    size_t budget_;
    size_t used_ = 0;
    std::list<Entry> entries_;  // most recently used first
};

}  // namespace cvn::sim
