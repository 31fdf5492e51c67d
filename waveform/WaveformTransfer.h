// Reading the preamble and the raw data of one source over gSession.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "io/IoSession.h"

namespace cvn {

// 11 numbers per data set: the first ten of the scope's preamble reply
// (index 2 is the number of points), index 10 the source code.
using PreambleBlock = std::array<double, 11>;

// Raw samples exactly as delivered: 16-bit words for channels and the
// function, bytes for the pods. Empty before the first successful read.
using RawData = std::variant<std::monostate, DataVector<int16_t>, DataVector<uint8_t>>;

size_t RawDataSize(const RawData& data);

// Reads one source with a 40 s time-out around the transfer and stores the
// source code at block[10]. A failed transfer is reported to the user and
// leaves cancel alone; a failure around it sets cancel.
void ReadSourceWaveform(const io::IoSessionPtr& session, RawData& data, PreambleBlock& block,
                        const std::string& sourceName, bool& cancel);

// The transfer itself. Fills block, and data only after a complete read;
// failures are reported through the error handler, never thrown.
void GetWaveformData(io::IoSession& session, const std::string& sourceKeyword, PreambleBlock& block,
                     RawData& data);

// Switches waveform streaming off on the family that streams by default.
// Throws on a failed identification.
void TurnStreamingOff(io::IoSession& session);

// "###,###": thousands grouped with the user's separator, no decimals,
// zero as empty text.
std::string FormatThousands(double value);

}  // namespace cvn
