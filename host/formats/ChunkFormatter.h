// Text of millions of points formatted on every core: the points are cut
// into chunks, a batch of chunks is formatted at once (one chunk per
// thread), and the texts are handed on in order, so the output is the same
// bytes as a serial run, only sooner.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace cvn::host {

// Points per chunk: a chunk's text (a few MB) stays small next to the data.
inline constexpr size_t kChunkPoints = size_t{1} << 16;

// The cores to format on (at least 1).
unsigned FormattingThreads();

// Calls format(begin, end, buffer) for consecutive ranges covering
// [0, count) on up to `threads` threads; format writes the range's text at
// the start of buffer (growing it when needed; buffers are reused from
// chunk to chunk, never cleared) and returns its length. sink(text) gets
// each range's text, in order, on the calling thread. An exception from
// format or sink stops the run and propagates once every thread has
// finished.
void FormatInChunks(
    size_t count, unsigned threads,
    const std::function<size_t(size_t begin, size_t end, std::string& buffer)>& format,
    const std::function<void(std::string_view text)>& sink);

}  // namespace cvn::host
