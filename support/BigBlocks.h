// Storage for big data blocks (a waveform, a screen image): taken from the
// kernel and given back to it, never from the C library's heap. The heap
// raises its own threshold for such blocks each time one is freed and then
// serves the next ones from its arena, where they fragment it: a process
// that captures again and again would slowly grow. A few freed blocks are
// kept for the next transfer of about the same size, so a repeated
// transfer writes into memory that is already mapped.
#pragma once

#include <cstddef>

namespace cvn::bigblocks {

// Blocks from this size on are big.
inline constexpr size_t kMinBytes = size_t{256} << 10;
// Freed blocks kept for reuse: at most this many, this many bytes in all
// (one 8M-point word block; more would only add to a capture's peak).
inline constexpr size_t kKeptBlocks = 4;
inline constexpr size_t kKeptBytes = size_t{20} << 20;

// At least `bytes` bytes, aligned to 64; throws std::bad_alloc.
void* Allocate(size_t bytes);
// A block from Allocate (from any module: the block knows its own size).
void Free(void* block) noexcept;
// Bytes held in kept blocks (for tests).
size_t KeptBytes() noexcept;

}  // namespace cvn::bigblocks
