// Byte order of instrument data: 16-bit words arrive most significant byte
// first and are turned into host order as fast as the CPU allows, because
// this runs over every point of every waveform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cvn::io {

// Turns bytes / 2 big-endian 16-bit words at p into host order in place
// (nothing to do on a big-endian host). A trailing odd byte is left alone.
void bigEndianWordsToHost(uint8_t* p, size_t bytes);
// The same while copying: bytes / 2 big-endian words from src into dst in
// host order. src and dst are either the same or do not overlap. A
// trailing odd byte is copied as it is.
void bigEndianWordsToHostCopy(const uint8_t* src, uint8_t* dst, size_t bytes);

}  // namespace cvn::io
