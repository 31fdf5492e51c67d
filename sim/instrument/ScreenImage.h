// Picture of the simulated scope's screen as a BMP file: status line,
// graticule, the traces of every displayed channel and function in their
// colours, the pods as logic lanes, and the scale labels.
#pragma once

#include <string>

#include "sim/instrument/ScopeState.h"

namespace cvn::sim {

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 480;

// The complete BMP file. `inverted` draws with the complementary palette
// (white background: the ink-saving print view). Labels are drawn only when
// the process has a QGuiApplication (the simulator makes one); without it
// the picture is otherwise the same.
std::string RenderScreenBmp(const ScopeState& state, bool inverted);

}  // namespace cvn::sim
