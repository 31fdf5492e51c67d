// The quick measurements, computed from the same signals the waveform data
// and the screen image show, and the measurement sources they work on.
//
// Values come from the same sampler as the waveform data. Analog sources
// are sampled finely across the screen and clipped to the range the
// acquisition can hold, so a trace moved off screen reads as the flat line
// the scope would see. Digital bits (DIG0..DIG15) are the pod patterns at
// the samples of a waveform transfer. A measurement that has no
// result (no edges, a voltage of a digital bit, a source that is not shown)
// answers 9.9E+37, as the real scope does.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sim/instrument/CommandTable.h"
#include "sim/instrument/Instrument.h"

namespace cvn::sim {
namespace {

constexpr double kNoResult = 9.9e37;
constexpr int kDigitalBits = 16;
constexpr size_t kAnalogSamples = 20000;
// The acquisition holds 128 byte counts below and 127 above the offset, at
// 25 counts per division; anything beyond is clipped.
constexpr double kCountsPerDivision = 25.0;
constexpr size_t kHistogramBins = 256;

struct MeasureSource {
    bool digital = false;
    Source analog;  // when not digital
    int bit = 0;    // 0..15 when digital
};

std::optional<MeasureSource> ParseMeasureSource(const ScopeState& state, std::string_view text) {
    const std::string unquoted = Unquote(text);
    if (auto n = KeywordSuffix(unquoted, "DIGital")) {
        if (!state.model.hasPods || *n < 0 || *n >= kDigitalBits) return std::nullopt;
        return MeasureSource{true, {}, *n};
    }
    auto s = ParseSource(unquoted);
    // A whole pod is a bus, not a signal with edges; its bits are measured.
    if (!s || s->kind == SourceKind::Pod || !state.ValidSource(*s)) return std::nullopt;
    return MeasureSource{false, *s, 0};
}

// The names the scope reports: "CHAN1", "DIG3", and "FUNC" for the first
// math function (the others carry their number).
std::string MeasureSourceName(const MeasureSource& m) {
    if (m.digital) return "DIG" + std::to_string(m.bit);
    if (m.analog.kind == SourceKind::Function && m.analog.index == 1) return "FUNC";
    return SourceName(m.analog, false);
}

bool Displayed(const ScopeState& state, const MeasureSource& m) {
    if (m.digital) return state.podDisplay[m.bit / 8];
    return state.SourceDisplayed(m.analog);
}

struct Trace {
    std::vector<double> t;
    std::vector<double> v;
    bool digital = false;
};

Trace Sample(const ScopeState& state, const MeasureSource& m) {
    Trace tr;
    tr.digital = m.digital;
    // A bit changes with the sample index of a transfer, so it is looked at
    // at exactly those samples; analog sources at a finer, fixed record.
    const long n =
        m.digital ? std::max(2L, state.TransferPoints()) : static_cast<long>(kAnalogSamples);
    const Source source = m.digital ? Source{SourceKind::Pod, m.bit / 8 + 1} : m.analog;
    SourceSampler sampler(state, source, n);
    const size_t count = static_cast<size_t>(n);
    tr.t.resize(count);
    tr.v.resize(count);
    sampler.Fill(0, count, tr.v.data());
    for (size_t i = 0; i < count; ++i)
        tr.t[i] = sampler.x0() + sampler.dx() * static_cast<double>(i);
    if (m.digital) {
        for (double& x : tr.v) x = (static_cast<unsigned>(x) >> (m.bit % 8)) & 1u ? 1.0 : 0.0;
        return tr;
    }
    const Scaling sc = ScalingOf(state, source);
    const double perCount = sc.scale / kCountsPerDivision;
    const double lo = sc.offset - 128 * perCount;
    const double hi = sc.offset + 127 * perCount;
    for (double& x : tr.v) x = std::clamp(x, lo, hi);
    return tr;
}

struct Levels {
    double max = 0, min = 0, top = 0, base = 0;
    size_t iMax = 0, iMin = 0;
    double amplitude() const { return top - base; }
};

// Top and base are the most common levels of the upper and lower half, so
// overshoot and ringing do not move them; a sine has its most common levels
// at its peaks.
Levels LevelsOf(const std::vector<double>& v) {
    Levels l;
    const auto [mn, mx] = std::minmax_element(v.begin(), v.end());
    l.min = *mn;
    l.max = *mx;
    l.iMin = static_cast<size_t>(mn - v.begin());
    l.iMax = static_cast<size_t>(mx - v.begin());
    const double span = l.max - l.min;
    if (span <= 0) {
        l.top = l.base = l.max;
        return l;
    }
    // The first of several equal peaks, however the rounding of the samples
    // fell.
    const double same = span * 1e-9;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] >= l.max - same) {
            l.iMax = i;
            break;
        }
    }
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] <= l.min + same) {
            l.iMin = i;
            break;
        }
    }
    std::vector<size_t> count(kHistogramBins, 0);
    std::vector<double> sum(kHistogramBins, 0.0);
    for (double x : v) {
        auto b = static_cast<size_t>((x - l.min) / span * kHistogramBins);
        b = std::min(b, kHistogramBins - 1);
        ++count[b];
        sum[b] += x;
    }
    auto mode = [&](size_t first, size_t last) {
        size_t best = first;
        for (size_t b = first; b < last; ++b)
            if (count[b] > count[best]) best = b;
        return sum[best] / static_cast<double>(count[best]);
    };
    l.top = mode(kHistogramBins / 2, kHistogramBins);
    l.base = mode(0, kHistogramBins / 2);
    return l;
}

struct Edge {
    bool rising = false;
    double tLower = 0, tMiddle = 0, tUpper = 0;
};

// Edges cross from below the lower threshold (10 %) to above the upper one
// (90 %) or back; noise between the two does not count as an edge.
std::vector<Edge> EdgesOf(const Trace& tr, const Levels& l) {
    std::vector<Edge> edges;
    const double a = l.amplitude();
    if (!(a > 0)) return edges;
    const double lower = l.base + 0.1 * a, middle = l.base + 0.5 * a, upper = l.base + 0.9 * a;
    const auto& v = tr.v;
    auto cross = [&](size_t from, size_t to, double th, bool rising) {
        for (size_t k = from; k < to; ++k) {
            const bool hit = rising ? (v[k] < th && v[k + 1] >= th) : (v[k] > th && v[k + 1] <= th);
            if (hit) {
                const double f = (th - v[k]) / (v[k + 1] - v[k]);
                return tr.t[k] + f * (tr.t[k + 1] - tr.t[k]);
            }
        }
        return tr.t[to];
    };
    enum { Unknown, Low, High } zone = Unknown;
    size_t lastLow = 0, lastHigh = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] <= lower) {
            if (zone == High) {
                edges.push_back({false, cross(lastHigh, i, lower, false),
                                 cross(lastHigh, i, middle, false),
                                 cross(lastHigh, i, upper, false)});
            }
            zone = Low;
            lastLow = i;
        } else if (v[i] >= upper) {
            if (zone == Low) {
                edges.push_back({true, cross(lastLow, i, lower, true),
                                 cross(lastLow, i, middle, true), cross(lastLow, i, upper, true)});
            }
            zone = High;
            lastHigh = i;
        }
    }
    return edges;
}

const Edge* FirstEdge(const std::vector<Edge>& edges, bool rising, double after = -HUGE_VAL) {
    for (const Edge& e : edges)
        if (e.rising == rising && e.tMiddle > after) return &e;
    return nullptr;
}

double PeriodOf(const std::vector<Edge>& edges) {
    for (bool rising : {true, false}) {
        const Edge* first = nullptr;
        const Edge* last = nullptr;
        int count = 0;
        for (const Edge& e : edges) {
            if (e.rising != rising) continue;
            if (!first) first = &e;
            last = &e;
            ++count;
        }
        if (count >= 2) return (last->tMiddle - first->tMiddle) / (count - 1);
    }
    return kNoResult;
}

enum class Quantity {
    DutyCycle,
    Frequency,
    Period,
    RiseTime,
    FallTime,
    PositiveWidth,
    NegativeWidth,
    TMax,
    TMin,
    Upper,
    Average,
    Amplitude,
    Base,
    Max,
    Min,
    PeakToPeak,
    Rms,
    Top,
    Preshoot,
    Overshoot,
    Middle,
    Lower,
};

bool IsVoltage(Quantity q) {
    switch (q) {
        case Quantity::Upper:
        case Quantity::Average:
        case Quantity::Amplitude:
        case Quantity::Base:
        case Quantity::Max:
        case Quantity::Min:
        case Quantity::PeakToPeak:
        case Quantity::Rms:
        case Quantity::Top:
        case Quantity::Preshoot:
        case Quantity::Overshoot:
        case Quantity::Middle:
        case Quantity::Lower:
        case Quantity::TMax:
        case Quantity::TMin:
            return true;
        default:
            return false;
    }
}

double Measure(const ScopeState& state, const MeasureSource& src, Quantity q, bool acRms) {
    if (!Displayed(state, src)) return kNoResult;
    // A logic line has edges and widths but no voltages.
    if (src.digital && IsVoltage(q)) return kNoResult;
    const Trace tr = Sample(state, src);
    const Levels l = LevelsOf(tr.v);
    const double a = l.amplitude();
    const size_t n = tr.v.size();
    switch (q) {
        case Quantity::Max:
            return l.max;
        case Quantity::Min:
            return l.min;
        case Quantity::PeakToPeak:
            return l.max - l.min;
        case Quantity::Top:
            return l.top;
        case Quantity::Base:
            return l.base;
        case Quantity::Amplitude:
            return a;
        case Quantity::Upper:
            return l.base + 0.9 * a;
        case Quantity::Middle:
            return l.base + 0.5 * a;
        case Quantity::Lower:
            return l.base + 0.1 * a;
        case Quantity::TMax:
            return tr.t[l.iMax];
        case Quantity::TMin:
            return tr.t[l.iMin];
        case Quantity::Overshoot:
            return a > 0 ? (l.max - l.top) / a * 100.0 : kNoResult;
        case Quantity::Preshoot:
            return a > 0 ? (l.base - l.min) / a * 100.0 : kNoResult;
        case Quantity::Average: {
            double sum = 0;
            for (double x : tr.v) sum += x;
            return sum / static_cast<double>(n);
        }
        case Quantity::Rms: {
            double mean = 0;
            if (acRms) {
                for (double x : tr.v) mean += x;
                mean /= static_cast<double>(n);
            }
            double sum = 0;
            for (double x : tr.v) sum += (x - mean) * (x - mean);
            return std::sqrt(sum / static_cast<double>(n));
        }
        default:
            break;
    }
    const std::vector<Edge> edges = EdgesOf(tr, l);
    const double period = PeriodOf(edges);
    switch (q) {
        case Quantity::Period:
            return period;
        case Quantity::Frequency:
            return period == kNoResult || period <= 0 ? kNoResult : 1.0 / period;
        case Quantity::RiseTime: {
            const Edge* e = FirstEdge(edges, true);
            return e ? e->tUpper - e->tLower : kNoResult;
        }
        case Quantity::FallTime: {
            const Edge* e = FirstEdge(edges, false);
            return e ? e->tLower - e->tUpper : kNoResult;
        }
        case Quantity::PositiveWidth:
        case Quantity::NegativeWidth:
        case Quantity::DutyCycle: {
            const bool positive = q != Quantity::NegativeWidth;
            const Edge* start = FirstEdge(edges, positive);
            const Edge* end = start ? FirstEdge(edges, !positive, start->tMiddle) : nullptr;
            if (!end) return kNoResult;
            const double width = end->tMiddle - start->tMiddle;
            if (q != Quantity::DutyCycle) return width;
            return period == kNoResult || period <= 0 ? kNoResult : width / period * 100.0;
        }
        default:
            return kNoResult;
    }
}

// First rising middle crossing of each source, and the period of the first.
struct EdgePair {
    std::vector<Edge> first, second;
    double period = kNoResult;
};

std::optional<EdgePair> EdgesOfPair(const ScopeState& state, const MeasureSource& s1,
                                    const MeasureSource& s2) {
    if (!Displayed(state, s1) || !Displayed(state, s2)) return std::nullopt;
    const Trace t1 = Sample(state, s1);
    const Trace t2 = Sample(state, s2);
    EdgePair p;
    p.first = EdgesOf(t1, LevelsOf(t1.v));
    p.second = EdgesOf(t2, LevelsOf(t2.v));
    p.period = PeriodOf(p.first);
    return p;
}

double DeltaTime(const ScopeState& state, const MeasureSource& s1, const MeasureSource& s2) {
    const auto p = EdgesOfPair(state, s1, s2);
    if (!p) return kNoResult;
    const Edge* a = FirstEdge(p->first, true);
    const Edge* b = FirstEdge(p->second, true);
    return a && b ? b->tMiddle - a->tMiddle : kNoResult;
}

// The rising edge of the second source nearest to the first rising edge of
// the first, as a fraction of the first's period, in (-180, 180] degrees.
double Phase(const ScopeState& state, const MeasureSource& s1, const MeasureSource& s2) {
    const auto p = EdgesOfPair(state, s1, s2);
    if (!p || p->period == kNoResult || p->period <= 0) return kNoResult;
    const Edge* a = FirstEdge(p->first, true);
    if (!a) return kNoResult;
    const Edge* best = nullptr;
    for (const Edge& e : p->second) {
        if (e.rising &&
            (!best || std::abs(e.tMiddle - a->tMiddle) < std::abs(best->tMiddle - a->tMiddle)))
            best = &e;
    }
    if (!best) return kNoResult;
    double degrees = std::fmod((best->tMiddle - a->tMiddle) / p->period * 360.0, 360.0);
    if (degrees > 180.0) degrees -= 360.0;
    if (degrees <= -180.0) degrees += 360.0;
    return degrees;
}

// The reply form of the real scope: "+1.23450E-03".
std::string MeasurementReply(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+.5E", value);
    return buf;
}

// Arguments of a measurement query in any order the scope accepts:
// an interval (DISPlay, CYCLe), an RMS type (AC, DC) and up to two sources.
struct QueryArgs {
    std::vector<MeasureSource> sources;
    bool ac = false;
};

std::optional<QueryArgs> ParseQueryArgs(CommandContext& c, size_t maxSources) {
    QueryArgs q;
    for (size_t i = 0; i < c.argCount(); ++i) {
        const std::string& a = c.arg(i);
        if (KeywordMatches(a, "DISPlay") || KeywordMatches(a, "CYCLe")) continue;
        if (KeywordMatches(a, "AC") || KeywordMatches(a, "DC")) {
            q.ac = KeywordMatches(a, "AC");
            continue;
        }
        auto s = ParseMeasureSource(c.state, a);
        if (!s || q.sources.size() >= maxSources) {
            c.error(scpi_error::kIllegalParameter, "Illegal parameter value");
            return std::nullopt;
        }
        q.sources.push_back(*s);
    }
    return q;
}

std::optional<MeasureSource> StoredSource(const ScopeState& state, const std::string& name) {
    return ParseMeasureSource(state, name);
}

void AddSingle(CommandTable& t, const std::string& header, Quantity q) {
    t.add(header, [q](CommandContext& c) {
        auto args = ParseQueryArgs(c, 1);
        if (!args) return;
        if (!c.state.faults.measureReply.empty()) {
            c.reply(c.state.faults.measureReply);
            return;
        }
        std::optional<MeasureSource> src = args->sources.empty()
                                               ? StoredSource(c.state, c.state.measureSource1)
                                               : args->sources.front();
        c.reply(MeasurementReply(src ? Measure(c.state, *src, q, args->ac) : kNoResult));
    });
}

void AddPair(CommandTable& t, const std::string& header, bool phase) {
    t.add(header, [phase](CommandContext& c) {
        auto args = ParseQueryArgs(c, 2);
        if (!args) return;
        if (!c.state.faults.measureReply.empty()) {
            c.reply(c.state.faults.measureReply);
            return;
        }
        auto s1 = args->sources.size() > 0 ? std::optional(args->sources[0])
                                           : StoredSource(c.state, c.state.measureSource1);
        auto s2 = args->sources.size() > 1 ? std::optional(args->sources[1])
                                           : StoredSource(c.state, c.state.measureSource2);
        double value = kNoResult;
        if (s1 && s2) value = phase ? Phase(c.state, *s1, *s2) : DeltaTime(c.state, *s1, *s2);
        c.reply(MeasurementReply(value));
    });
}

}  // namespace

void RegisterMeasureCommands(CommandTable& t) {
    // One source sets both; a second source is what phase and delta time
    // compare against.
    t.add(":MEASure:SOURce", [](CommandContext& c) {
        if (!c.expectArgs(1, 2)) return;
        auto s1 = ParseMeasureSource(c.state, c.arg(0));
        auto s2 = c.argCount() > 1 ? ParseMeasureSource(c.state, c.arg(1)) : s1;
        if (!s1 || !s2) {
            c.error(scpi_error::kIllegalParameter, "Illegal parameter value");
            return;
        }
        c.state.measureSource1 = MeasureSourceName(*s1);
        c.state.measureSource2 = MeasureSourceName(*s2);
    });
    t.add(":MEASure:SOURce?", [](CommandContext& c) {
        c.reply(c.state.measureSource1 + "," + c.state.measureSource2);
    });
    // Removes the measurements shown on screen; nothing is kept between
    // queries here, so there is nothing else to forget.
    t.add(":MEASure:CLEar", [](CommandContext& c) { c.expectArgs(0, 0); });

    // A single bit is shown when its pod is.
    t.add(":DIGital#:DISPlay?", [](CommandContext& c) {
        if (!c.state.model.hasPods) {
            c.error(scpi_error::kUndefinedHeader, "Undefined header");
            return;
        }
        if (c.suffixWithin(0, kDigitalBits - 1))
            c.reply(c.state.podDisplay[c.suffix() / 8] ? "1" : "0");
    });

    AddSingle(t, ":MEASure:DUTYcycle?", Quantity::DutyCycle);
    AddSingle(t, ":MEASure:FREQuency?", Quantity::Frequency);
    AddSingle(t, ":MEASure:PERiod?", Quantity::Period);
    AddSingle(t, ":MEASure:RISetime?", Quantity::RiseTime);
    AddSingle(t, ":MEASure:FALLtime?", Quantity::FallTime);
    AddSingle(t, ":MEASure:PWIDth?", Quantity::PositiveWidth);
    AddSingle(t, ":MEASure:NWIDth?", Quantity::NegativeWidth);
    AddSingle(t, ":MEASure:TMAX?", Quantity::TMax);
    AddSingle(t, ":MEASure:TMIN?", Quantity::TMin);
    AddSingle(t, ":MEASure:VUPPer?", Quantity::Upper);
    AddSingle(t, ":MEASure:VAVerage?", Quantity::Average);
    AddSingle(t, ":MEASure:VAMPlitude?", Quantity::Amplitude);
    AddSingle(t, ":MEASure:VBASe?", Quantity::Base);
    AddSingle(t, ":MEASure:VMAX?", Quantity::Max);
    AddSingle(t, ":MEASure:VMIN?", Quantity::Min);
    AddSingle(t, ":MEASure:VPP?", Quantity::PeakToPeak);
    AddSingle(t, ":MEASure:VRMS?", Quantity::Rms);
    AddSingle(t, ":MEASure:VTOP?", Quantity::Top);
    AddSingle(t, ":MEASure:PREShoot?", Quantity::Preshoot);
    AddSingle(t, ":MEASure:OVERshoot?", Quantity::Overshoot);
    AddSingle(t, ":MEASure:VMIDdle?", Quantity::Middle);
    AddSingle(t, ":MEASure:VLOWer?", Quantity::Lower);
    AddPair(t, ":MEASure:PHASe?", true);
    AddPair(t, ":MEASure:DELTatime?", false);
}

}  // namespace cvn::sim
