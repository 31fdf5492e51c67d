// Word swapping with a byte shuffle where the CPU has one (SSSE3, chosen at
// run time so the library still runs on any x86-64), and portable vector
// code elsewhere.
#include "io/ByteOrder.h"

#include <bit>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define CVN_IO_HAVE_SSSE3_PATH 1
#endif

namespace cvn::io {
namespace {

size_t swapPortable(uint8_t* p, size_t bytes) {
    using Words = uint16_t __attribute__((vector_size(16)));
    size_t i = 0;
    for (; i + sizeof(Words) <= bytes; i += sizeof(Words)) {
        Words w;
        std::memcpy(&w, p + i, sizeof w);
        w = (w << 8) | (w >> 8);
        std::memcpy(p + i, &w, sizeof w);
    }
    return i;
}

size_t swapCopyPortable(const uint8_t* src, uint8_t* dst, size_t bytes) {
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
__attribute__((target("ssse3"))) size_t swapCopyShuffle(const uint8_t* src, uint8_t* dst,
                                                        size_t bytes) {
    const __m128i order = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    size_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_shuffle_epi8(w, order));
    }
    return i;
}

__attribute__((target("ssse3"))) size_t swapShuffle(uint8_t* p, size_t bytes) {
    const __m128i order = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    size_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_shuffle_epi8(w, order));
    }
    return i;
}
#endif

}  // namespace

void bigEndianWordsToHost(uint8_t* p, size_t bytes) {
    if constexpr (std::endian::native == std::endian::big) return;
#ifdef CVN_IO_HAVE_SSSE3_PATH
    static const bool kShuffle = __builtin_cpu_supports("ssse3");
    size_t i = kShuffle ? swapShuffle(p, bytes) : swapPortable(p, bytes);
#else
    size_t i = swapPortable(p, bytes);
#endif
    for (; i + 1 < bytes; i += 2) std::swap(p[i], p[i + 1]);
}

void bigEndianWordsToHostCopy(const uint8_t* src, uint8_t* dst, size_t bytes) {
    if constexpr (std::endian::native == std::endian::big) {
        std::memcpy(dst, src, bytes);
        return;
    }
#ifdef CVN_IO_HAVE_SSSE3_PATH
    static const bool kShuffle = __builtin_cpu_supports("ssse3");
    size_t i = kShuffle ? swapCopyShuffle(src, dst, bytes) : swapCopyPortable(src, dst, bytes);
#else
    size_t i = swapCopyPortable(src, dst, bytes);
#endif
    for (; i + 1 < bytes; i += 2) {
        dst[i] = src[i + 1];
        dst[i + 1] = src[i];
    }
    if (i < bytes) dst[i] = src[i];
}

}  // namespace cvn::io
