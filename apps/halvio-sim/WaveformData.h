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

#include "apps/halvio-sim/ScopeState.h"

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

// The signal of a source in volts (channels, function) or as a pod's 8-bit
// pattern, at sample i of n across the screen.
double SourceVolts(const ScopeState& state, const Source& s, double t);
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
