// The rules behind the capture dialog that need no widgets: how stored
// setting texts are read, how the source list is written and read back,
// when OK may be pressed, which measurements suit the scope's current
// source, and where the window goes when its stored place is off-screen.
// The dialog applies them to its controls; the driver reads the same keys.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/Text.h"

namespace cvn {

// Setting keys of the capture profile (section kSettingsSection).
inline constexpr const char* kKeyAddress = "Corvane Halvio Series";
inline constexpr const char* kKeyActiveChannels = "ActiveChannels";
inline constexpr const char* kKeyScreen = "Screen";
inline constexpr const char* kKeyInvertColor = "InvertColor";
inline constexpr const char* kKeyWaveform = "Waveform";
inline constexpr const char* kKeyNewAcquisition = "MakeNewAcquisition";
inline constexpr const char* kKeyD0D7 = "D0D7";
inline constexpr const char* kKeyD8D15 = "D8D15";
inline constexpr const char* kKeyLeft = "Left";
inline constexpr const char* kKeyTop = "top";

inline constexpr const char* kDefaultAddress = "GPIB::7";
inline constexpr const char* kDefaultActiveChannels = "CHAN1";
// The window position is stored in twips; one logical pixel is 15 twips
// (1440 twips per inch at 96 logical pixels per inch).
inline constexpr int kTwipsPerPixel = 15;
inline constexpr double kDefaultPositionTwips = 800;

// Decimal text, blanks around it ignored; "1.5" and "x" are not integers.
std::optional<long> SettingAsInteger(std::string_view text);
// "True"/"False" in any letter case, or a number (non-zero is true).
std::optional<bool> SettingAsBoolean(std::string_view text);
// Any decimal number ("800", "812.5", "-30").
std::optional<double> SettingAsNumber(std::string_view text);

// "CHAN<n>," for each checked channel, then "POD<n>," for each checked pod,
// without the last comma; empty when nothing is checked.
std::string BuildActiveChannels(const std::vector<bool>& channels, const std::vector<bool>& pods);

// One element of a stored source list, as the dialog restores it.
struct StoredSource {
    enum class Kind { Channel, Pod } kind;
    int number;  // 1-based, as written in the list
};
// Reads a stored list element by element. An element containing "POD"
// (any case) counts as a pod only on a model with pods; otherwise one
// containing "CHAN" counts as a channel when its number does not exceed
// channelCount. The number is the text after the keyword's position
// ("POD" takes characters from the fourth on, "CHAN" from the fifth on);
// elements whose number cannot be read, and all others, are left out.
std::vector<StoredSource> ParseActiveChannels(std::string_view list, bool hasPods,
                                              int channelCount);

// Whether OK may be pressed on the waveform tab: always with the screen
// image, with waveform data only when at least one source box is checked.
bool CmdOkAvailable(bool screenImage, bool waveformData, int checkedSources);

// Measurement boxes, in the order of the Measurement tab.
inline constexpr int kMeasurementCount = 24;
extern const std::array<const char*, kMeasurementCount> kMeasurementNames;  // "Amplitude", ...
extern const std::array<const char*, kMeasurementCount> kMeasurementCaptions;

enum class MeasurementColumn { Analog, Digital, Fft };
// An FFT function wins over the source; otherwise a source naming "DIG"
// (any case) is digital and anything else analog.
MeasurementColumn ChooseMeasurementColumn(std::string_view firstSourceField, bool fftOn);
// Whether the measurement with that name ("Freq", "RMS", ...) can be taken
// in that column. Unknown names are never available.
bool MeasurementAvailable(std::string_view name, MeasurementColumn column);

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};
// Where to put a window of the given size that wants its top-left corner at
// (x, y): there, when its title strip lies on one of the screens; otherwise
// a small inset from the top-left of the primary screen (screens[0]).
std::array<int, 2> PlaceOnScreens(int x, int y, int width, const std::vector<Rect>& screens);

}  // namespace cvn
