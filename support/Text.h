// Letter case for the words instruments and hosts exchange: SCPI keywords,
// model names, source names, program identifiers, setting values. Only
// A-Z and a-z are folded, so the user's locale never changes how a
// keyword compares.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cvn {

std::string ToUpperAscii(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// True when part occurs in text (always for an empty part).
bool ContainsIgnoringCase(std::string_view text, std::string_view part);

// A comma-separated list as people and the add-in write it ("CHAN1, CHAN2"):
// each field without the blanks around it, empty fields left out.
std::vector<std::string> SplitList(std::string_view text);

}  // namespace cvn
