// Source-list entries ("CHAN1".."CHAN4", "POD1", "POD2", and the function)
// turned into the waveform source keyword, the source code that labels a
// preamble block, the transfer format and the axis description.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "io/IoSession.h"

namespace cvn {

// Source codes at index 10 of a preamble block.
inline constexpr int32_t kCodeFunction = 5;
inline constexpr int32_t kCodePod1 = 8;
inline constexpr int32_t kCodePod2 = 16;
inline constexpr int32_t kCodePod1Bit = 100;  // + bit 0..7
inline constexpr int32_t kCodePod2Bit = 200;  // + bit 0..7

// Turns entry into its command keyword (with a leading blank) in place and
// sets code; code is left unchanged for an entry that is not recognised.
void SourceKeyword(std::string& entry, int32_t& code);
// True for 16-bit word transfer, false for byte transfer (the pods).
bool IsWordSource(const std::string& keyword);
// "x units,y units,x description,y description", or nothing for an entry
// that is not recognised. bit is -1 for a whole source, else the line
// number. Asks the scope (session) only for the function; that query may
// throw.
std::optional<std::string> AxisDescription(io::IoSession* session, const std::string& entry,
                                           int16_t bit);

}  // namespace cvn
