// Widget-free rules of the capture dialog; see CaptureProfile.h.
#include "dialog/CaptureProfile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "io/ReplyConvert.h"

namespace cvn {

namespace {

struct MeasurementRow {
    const char* name;
    const char* caption;
    bool digital;
    bool fft;
};

// Which measurements the scope can take of a logic bit or of an FFT trace;
// on an analog channel all of them are possible.
constexpr std::array<MeasurementRow, kMeasurementCount> kRows{{
    {"Amplitude", "Amplitude", false, false},
    {"Overshoot", "Overshoot", false, false},
    {"P2P", "Peak-Peak", false, true},
    {"Min", "Minimum", false, true},
    {"Max", "Maximum", false, true},
    {"TMax", "T Max", false, true},
    {"FallTime", "Fall Time", false, false},
    {"Freq", "Freqeuncy", true, false},
    {"DutyCycle", "Duty Cycle", true, false},
    {"Base", "Base", false, false},
    {"Average", "Average", false, true},
    {"TMin", "T Min", false, true},
    {"Top", "Top", false, false},
    {"Preshoot", "Preshoot", false, false},
    {"VUpper", "Upper", false, false},
    {"RMS", "RMS", false, false},
    {"VLower", "Lower", false, false},
    {"VMiddle", "Middle", false, false},
    {"NWidth", "- Width", true, false},
    {"PWidth", "+ Width", true, false},
    {"RiseTime", "Rise Time", false, false},
    {"Period", "Period", true, false},
    {"Phase", "Phase", false, false},
    {"DeltaTime", "Delta Time", false, false},
}};

template <size_t... I>
constexpr std::array<const char*, kMeasurementCount> namesOf(std::index_sequence<I...>) {
    return {kRows[I].name...};
}
template <size_t... I>
constexpr std::array<const char*, kMeasurementCount> captionsOf(std::index_sequence<I...>) {
    return {kRows[I].caption...};
}

// The number written after a keyword, counted from a fixed character
// position of the element as the stored lists have always been read.
std::optional<int> numberFrom(std::string_view element, size_t firstChar) {
    if (element.size() <= firstChar) return std::nullopt;
    auto value = io::toInt16(element.substr(firstChar));
    if (!value) return std::nullopt;
    return *value;
}

}  // namespace

const std::array<const char*, kMeasurementCount> kMeasurementNames =
    namesOf(std::make_index_sequence<kMeasurementCount>{});
const std::array<const char*, kMeasurementCount> kMeasurementCaptions =
    captionsOf(std::make_index_sequence<kMeasurementCount>{});

std::optional<long> SettingAsInteger(std::string_view text) {
    std::string t(io::trimReply(text));
    if (t.empty()) return std::nullopt;
    size_t start = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    if (start == t.size()) return std::nullopt;
    for (size_t i = start; i < t.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(t[i]))) return std::nullopt;
    errno = 0;
    long value = std::strtol(t.c_str(), nullptr, 10);
    if (errno != 0) return std::nullopt;
    return value;
}

std::optional<double> SettingAsNumber(std::string_view text) {
    auto value = io::toNumber(text);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

std::optional<bool> SettingAsBoolean(std::string_view text) {
    std::string_view t = io::trimReply(text);
    if (EqualsIgnoringCase(t, "true")) return true;
    if (EqualsIgnoringCase(t, "false")) return false;
    auto value = SettingAsNumber(t);
    if (!value) return std::nullopt;
    return *value != 0;
}

std::string BuildActiveChannels(const std::vector<bool>& channels, const std::vector<bool>& pods) {
    std::string list;
    for (size_t i = 0; i < channels.size(); ++i)
        if (channels[i]) list += "CHAN" + std::to_string(i + 1) + ",";
    for (size_t i = 0; i < pods.size(); ++i)
        if (pods[i]) list += "POD" + std::to_string(i + 1) + ",";
    if (!list.empty()) list.pop_back();
    return list;
}

std::vector<StoredSource> ParseActiveChannels(std::string_view list, bool hasPods,
                                              int channelCount) {
    std::vector<StoredSource> sources;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string_view::npos) comma = list.size();
        std::string_view element = list.substr(start, comma - start);
        start = comma + 1;
        if (ContainsIgnoringCase(element, "POD") && hasPods) {
            if (auto n = numberFrom(element, 3)) sources.push_back({StoredSource::Kind::Pod, *n});
        } else if (ContainsIgnoringCase(element, "CHAN")) {
            auto n = numberFrom(element, 4);
            if (n && *n <= channelCount) sources.push_back({StoredSource::Kind::Channel, *n});
        }
    }
    return sources;
}

bool CmdOkAvailable(bool screenImage, bool waveformData, int checkedSources) {
    if (screenImage) return true;
    if (waveformData) return checkedSources >= 1;
    return false;
}

MeasurementColumn ChooseMeasurementColumn(std::string_view firstSourceField, bool fftOn) {
    if (fftOn) return MeasurementColumn::Fft;
    if (ContainsIgnoringCase(firstSourceField, "DIG")) return MeasurementColumn::Digital;
    return MeasurementColumn::Analog;
}

bool MeasurementAvailable(std::string_view name, MeasurementColumn column) {
    for (const auto& row : kRows) {
        if (name != row.name) continue;
        switch (column) {
            case MeasurementColumn::Analog:
                return true;
            case MeasurementColumn::Digital:
                return row.digital;
            case MeasurementColumn::Fft:
                return row.fft;
        }
    }
    return false;
}

std::array<int, 2> PlaceOnScreens(int x, int y, int width, const std::vector<Rect>& screens) {
    // The strip a user grabs to move the window must be reachable; a window
    // whose corner is just off the edge of a screen is still fine.
    constexpr int kStripHeight = 24;
    constexpr int kMinVisibleWidth = 48;
    const int needWidth = std::min(kMinVisibleWidth, std::max(width, 1));
    for (const auto& s : screens) {
        const int left = std::max(x, s.x);
        const int right = std::min(x + std::max(width, 1), s.x + s.width);
        const int top = std::max(y, s.y);
        const int bottom = std::min(y + kStripHeight, s.y + s.height);
        if (right - left >= needWidth && bottom - top >= kStripHeight / 2) return {x, y};
    }
    if (screens.empty()) return {x, y};
    constexpr int kInset = 40;
    return {screens[0].x + kInset, screens[0].y + kInset};
}

}  // namespace cvn
