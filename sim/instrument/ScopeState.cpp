// State of the simulated oscilloscope.
#include "sim/instrument/ScopeState.h"

#include <algorithm>
#include <cmath>

#include "sim/instrument/ModelCatalog.h"
#include "sim/instrument/ScpiParser.h"

namespace cvn::sim {

ModelInfo ModelInfo::FromTable(std::string_view id) {
    const CatalogModel c = LookUpModel(id);
    ModelInfo m;
    m.id = c.id;
    m.channels = std::clamp(c.channels, 1, ScopeState::kMaxChannels);
    m.hasPods = c.hasPods;
    m.streamingFamily = c.streamingFamily;
    m.maxRecordLength = std::min(c.maxRecordLength, ScopeState::kMaxRecordLength);
    return m;
}

std::string ModelInfo::DefaultId() {
    // A four-channel model with pods of the newest family, so that the
    // streaming switch is part of every default session.
    for (const CatalogModel& c : ModelCatalog())
        if (c.hasPods && c.channels == 4 && c.streamingFamily) return c.id;
    return ModelCatalog().front().id;
}

ScopeState::ScopeState(ModelInfo m, std::string serialNumber)
    : model(std::move(m)), serial(std::move(serialNumber)) {
    for (int i = 0; i < kMaxChannels; ++i) signal[i] = DefaultSignal(i + 1);
    for (int i = 0; i < kPods; ++i) pod[i] = DefaultPod(i + 1);
    KeepAsStartup();
    Reset();
}

void ScopeState::KeepAsStartup() {
    startupFaults = faults;
    for (int i = 0; i < kMaxChannels; ++i) startupSignal[i] = signal[i];
    for (int i = 0; i < kPods; ++i) startupPod[i] = pod[i];
}

void ScopeState::Reset() {
    run = RunState::Running;
    for (int i = 0; i < kMaxChannels; ++i) {
        channelDisplay[i] = i < 2 && i < model.channels;
        channelScale[i] = 0.5;
        channelOffset[i] = 0.0;
    }
    podDisplay[0] = model.hasPods;
    podDisplay[1] = false;
    for (int i = 0; i < kFunctions; ++i) {
        functionDisplay[i] = false;
        functionOperator[i] = "ADD";
        functionOperands[i] = "CHAN1,CHAN2";
    }
    timebaseView = "MAIN";
    timebaseScale = 1e-3;
    timebasePosition = 0.0;
    acquireType = AcquireType::Normal;
    acquireCount = 8;
    recordLength = model.maxRecordLength;
    waveformView = "MAIN";
    format = WaveFormat::Byte;
    byteOrder = ByteOrder::MsbFirst;
    source = Source{};
    pointsRequested = 1000;
    pointsMode = PointsMode::Normal;
    streaming = model.streamingFamily;
    header = false;
    longForm = false;
    measureSource1 = "CHAN1";
    measureSource2 = "CHAN2";
}

void ScopeState::PushError(int code, std::string_view message) {
    if (errors.size() >= kErrorQueueSize) {
        errors.back() = {-350, "Queue overflow"};
        return;
    }
    errors.emplace_back(code, std::string(message));
}

std::string ScopeState::PopError() {
    if (errors.empty()) return "0,\"No error\"";
    auto [code, text] = errors.front();
    errors.pop_front();
    return std::to_string(code) + ",\"" + text + "\"";
}

void ScopeState::Record(std::string message) {
    if (log.size() >= kLogSize) log.pop_front();
    log.push_back(std::move(message));
}

bool ScopeState::ValidSource(const Source& s) const {
    switch (s.kind) {
        case SourceKind::Channel:
            return s.index >= 1 && s.index <= model.channels;
        case SourceKind::Pod:
            return model.hasPods && s.index >= 1 && s.index <= kPods;
        case SourceKind::Function:
            return s.index >= 1 && s.index <= kFunctions;
    }
    return false;
}

bool ScopeState::SourceDisplayed(const Source& s) const {
    if (!ValidSource(s)) return false;
    switch (s.kind) {
        case SourceKind::Channel:
            return channelDisplay[s.index - 1];
        case SourceKind::Pod:
            return podDisplay[s.index - 1];
        case SourceKind::Function:
            return functionDisplay[s.index - 1];
    }
    return false;
}

long ScopeState::AvailablePoints() const {
    // The full record is only there in the main view without averaging;
    // otherwise the scope offers what fits its screen record.
    const bool fullRecord = pointsMode != PointsMode::Normal &&
                            EqualsIgnoreCase(timebaseView, "MAIN") &&
                            !(acquireType == AcquireType::Average && acquireCount > 1);
    return fullRecord ? recordLength : std::min(recordLength, kNormalPointsLimit);
}

long ScopeState::TransferPoints() const {
    // A spectrum has as many bins as fit its transform, not a full record.
    if (source.kind == SourceKind::Function && source.index >= 1 && source.index <= kFunctions &&
        functionOperator[source.index - 1] == "FFT") {
        return std::min({pointsRequested, AvailablePoints(), kFftBins});
    }
    return std::min(pointsRequested, AvailablePoints());
}

void ScopeState::Acquire() {
    ++acquisitions;
    run = RunState::Stopped;
    singleDue.reset();
    if (faults.acquirePhaseStepDeg != 0) {
        constexpr double kTurn = 6.283185307179586;
        for (SignalConfig& s : signal)
            s.phase = std::fmod(s.phase + faults.acquirePhaseStepDeg * kTurn / 360.0, kTurn);
    }
}

void ScopeState::Single(std::chrono::steady_clock::time_point now) {
    if (faults.acquireMs <= 0 && !faults.neverTrigger) {
        Acquire();
        return;
    }
    run = RunState::Running;
    singleDue = faults.neverTrigger ? std::chrono::steady_clock::time_point::max()
                                    : now + std::chrono::milliseconds(faults.acquireMs);
}

void ScopeState::Advance(std::chrono::steady_clock::time_point now) {
    if (singleDue && now >= *singleDue) Acquire();
}

std::optional<Source> ParseSource(std::string_view text) {
    const std::string unquoted = Unquote(text);
    text = unquoted;
    if (KeywordMatches(text, "MATH")) return Source{SourceKind::Function, 1};
    if (auto n = KeywordSuffix(text, "CHANnel")) return Source{SourceKind::Channel, *n};
    if (auto n = KeywordSuffix(text, "POD")) return Source{SourceKind::Pod, *n};
    if (auto n = KeywordSuffix(text, "FUNCtion")) return Source{SourceKind::Function, *n};
    return std::nullopt;
}

std::string SourceName(const Source& s, bool longForm) {
    switch (s.kind) {
        case SourceKind::Channel:
            return (longForm ? "CHANNEL" : "CHAN") + std::to_string(s.index);
        case SourceKind::Pod:
            return "POD" + std::to_string(s.index);
        case SourceKind::Function:
            return (longForm ? "FUNCTION" : "FUNC") + std::to_string(s.index);
    }
    return {};
}

}  // namespace cvn::sim
