// sigrok files of a capture, written by libsigrok's own output modules so
// that PulseView and sigrok-cli open them as they are: a session file
// ("srzip": analog channels in volts, pods as eight logic lines each) and a
// value change dump ("vcd") of the logic lines.
#pragma once

#include <string>

#include "apps/host/Capture.h"

namespace cvn::host {

// Whether the capture holds logic lines (pods or single bits).
bool HasLogicLines(const CaptureResult& result);
// Writes the session file at path (atomically). Throws cvn::Error when the
// capture has no waveform data or libsigrok fails.
void WriteSigrokSession(const CaptureResult& result, const std::string& path);
// Writes the logic lines as a value change dump (atomically). Throws
// cvn::Error when there are none or libsigrok fails.
void WriteVcd(const CaptureResult& result, const std::string& path);

}  // namespace cvn::host
