// The add-in's numbered user texts. One language only; a text is chosen by
// its number alone, so the host's country code plays no part here.
#include "support/StringTable.h"

#include <algorithm>
#include <array>
#include <utility>

namespace cvn {
namespace {

struct Entry {
    int16_t number;
    std::string_view text;
};

// Sorted by number so a lookup can bisect. Text 120 ends in a blank on
// purpose: callers append the source name to it.
constexpr std::array kTable{
    Entry{115, "No connection."},
    Entry{116, "Incorrect model."},
    Entry{117, "No connection, please try again."},
    Entry{118, "There are # thousand points available."},
    Entry{119, "There are # million points available."},
    Entry{120, "Number of points to be returned for "},
    Entry{121, "The instrument is not connected."},
    Entry{202, "Error retreiving scope data."},
    Entry{300, "Channel 1"},
    Entry{301, "Channel 2"},
    Entry{302, "Channel 3"},
    Entry{303, "Channel 4"},
    Entry{304, "Pod 1 (D0-D7)"},
    Entry{305, "Pod 2 (D8-D15)"},
    Entry{1003, "Close"},
    Entry{1004, "Cancel"},
    Entry{1005, "Find Instrument"},
    Entry{1006, "Get Waveform Data"},
    Entry{1007, "Scope Settings"},
    Entry{1008, "Set I/O"},
    Entry{1009, "Get Screen Image"},
    Entry{1010, "Get Waveform Data"},
    Entry{1011, "Waveform Selection"},
    Entry{1012, "Channel:"},
    Entry{1013, "Number of Points:"},
    Entry{1014, "Change the number of points on the scope under Menu 'Setup Acquisition'"},
    Entry{1015, "Scope Settings"},
    Entry{1016, "Get setting from scope and save to file"},
    Entry{1017, "Open file and send settings to scope"},
    Entry{1018, "I/O Address:"},
    Entry{1019, "This Add-In supports the Corvane Halvio Series."},
    Entry{1020, "Find Instrument"},
    Entry{1021, "Image inverted"},
    Entry{1022, "OK"},
    Entry{1023, "Corvane Halvio Series Add-In"},
};

static_assert(std::is_sorted(kTable.begin(), kTable.end(),
                             [](const Entry& a, const Entry& b) { return a.number < b.number; }));

}  // namespace

std::string GetResString(int16_t number, std::string_view def) {
    auto it = std::lower_bound(kTable.begin(), kTable.end(), number,
                               [](const Entry& e, int16_t n) { return e.number < n; });
    if (it == kTable.end() || it->number != number || it->text.empty()) return std::string(def);
    return std::string(it->text);
}

std::string ReplacePlaceholder(std::string_view text, std::string_view value) {
    const size_t pos = text.find('#');
    if (pos == std::string_view::npos) return std::string(text);
    std::string result;
    result.reserve(text.size() + value.size());
    result.append(text.substr(0, pos));
    result.append(value);
    result.append(text.substr(pos + 1));
    return result;
}

}  // namespace cvn
