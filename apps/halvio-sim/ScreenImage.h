// Picture of the simulated scope's screen as an 8-bit palette BMP file:
// graticule and the traces of every displayed source.
#pragma once

#include <string>

#include "apps/halvio-sim/ScopeState.h"

namespace cvn::sim {

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;

// The complete BMP file. `inverted` swaps every palette colour for its
// complement (the printer-friendly view).
std::string RenderScreenBmp(const ScopeState& state, bool inverted);

}  // namespace cvn::sim
