// Word swapping with a byte shuffle where the CPU has one (SSSE3, chosen at
// run time so the library still runs on any x86-64), and portable vector
// code elsewhere. Every step loads a whole stretch before it stores it, so
// the same code swaps in place (src == dst).
#include "io/ByteOrder.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define CVN_IO_HAVE_SSSE3_PATH 1
#endif

namespace cvn::io {
namespace {

size_t swapPortable(const uint8_t* src, uint8_t* dst, size_t bytes) {
    using Words = uint16_t __attribute__((vector_size(16)));
    size_t i = 0;
    for (; i + sizeof(Words) <= bytes; i += sizeof(Words)) {
        Words w;
        std::memcpy(&w, src + i, sizeof w);
        w = (w << 8) | (w >> 8);
        std::memcpy(dst + i, &w, sizeof w);
    }
    return i;
}

#ifdef CVN_IO_HAVE_SSSE3_PATH
__attribute__((target("ssse3"))) size_t swapShuffle(const uint8_t* src, uint8_t* dst,
                                                    size_t bytes) {
    const __m128i order = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    size_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_shuffle_epi8(w, order));
    }
    return i;
}
#endif

}  // namespace

void bigEndianWordsToHostCopy(const uint8_t* src, uint8_t* dst, size_t bytes) {
    if constexpr (std::endian::native == std::endian::big) {
        if (src != dst) std::memcpy(dst, src, bytes);
        return;
    }
#ifdef CVN_IO_HAVE_SSSE3_PATH
    static const bool kShuffle = __builtin_cpu_supports("ssse3");
    size_t i = kShuffle ? swapShuffle(src, dst, bytes) : swapPortable(src, dst, bytes);
#else
    size_t i = swapPortable(src, dst, bytes);
#endif
    for (; i + 1 < bytes; i += 2) {
        const uint8_t high = src[i];
        const uint8_t low = src[i + 1];
        dst[i] = low;
        dst[i + 1] = high;
    }
    if (i < bytes) dst[i] = src[i];
}

void bigEndianWordsToHost(uint8_t* p, size_t bytes) {
    bigEndianWordsToHostCopy(p, p, bytes);
}

}  // namespace cvn::io
