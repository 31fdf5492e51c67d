// sigrok files of a capture, as PulseView and sigrok-cli open them: a
// session file ("srzip": analog channels in volts, pods as eight logic lines
// each), written by our own one-pass archive writer, and a value change dump
// ("vcd") of the logic lines through libsigrok's own output module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/Capture.h"

namespace cvn::host {

// One logic line: bit `bit` of the raw values of `set`.
struct LogicLine {
    const DataSet* set;
    int bit;
    std::string name;
};

// The capture's logic lines in file order: D0-D7 of pod 1, D8-D15 of pod 2,
// then single bits by their names (made unique).
std::vector<LogicLine> LogicLinesOf(const CaptureResult& result);
// Whether the capture holds logic lines (pods or single bits).
bool HasLogicLines(const CaptureResult& result);
// Samples begin..end of the lines packed as sigrok stores them: one unit of
// (lines + 7) / 8 bytes a sample, line j in bit j % 8 of byte j / 8; a line
// shorter than the others reads low past its end. out is zeroed here.
void PackLogic(const std::vector<LogicLine>& lines, size_t begin, size_t end, uint8_t* out);

// sigrok files state the sample rate in whole hertz. Why the capture's rate
// cannot be written that way (below 1 Hz, data sets that disagree, or a rate
// that rounded to whole hertz would move the record's last sample by half a
// sample or more), or "" when it can.
std::string SigrokRateProblem(const CaptureResult& result);
// The rate to write; throws cvn::Error naming path when SigrokRateProblem
// has an objection.
uint64_t SigrokSampleRate(const CaptureResult& result, const std::string& path);

// Writes the session file at path (atomically). Throws cvn::Error when the
// capture has no waveform data, its rate cannot be written, or a write fails.
void WriteSigrokSession(const CaptureResult& result, const std::string& path);
// Writes the logic lines as a value change dump (atomically). Throws
// cvn::Error when there are none, the rate cannot be written, or libsigrok
// fails.
void WriteVcd(const CaptureResult& result, const std::string& path);

}  // namespace cvn::host
