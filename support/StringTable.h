// The add-in's numbered user texts (English, United States).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cvn {

// The text with that number, or def when the table has none (or it is empty).
std::string GetResString(int16_t number, std::string_view def);
// The text with the first "#" replaced by value; later ones stay.
std::string ReplacePlaceholder(std::string_view text, std::string_view value);

}  // namespace cvn
