#include "listio/byte_rules.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vq::listio {

namespace {

inline char lowerByte(char c) {
    return static_cast<unsigned char>(c - 'A') < 26 ? static_cast<char>(c + 32) : c;
}

} // namespace

void lowerAscii(const char* src, std::size_t n, char* dst) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // As signed bytes everything above 127 is below 'A', so two compares
    // find the capitals.
    const __m128i beforeA = _mm_set1_epi8('A' - 1), afterZ = _mm_set1_epi8('Z' + 1),
                  caseBit = _mm_set1_epi8(0x20);
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i capital =
            _mm_and_si128(_mm_cmpgt_epi8(x, beforeA), _mm_cmplt_epi8(x, afterZ));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                         _mm_or_si128(x, _mm_and_si128(capital, caseBit)));
    }
#endif
    for (; i < n; ++i)
        dst[i] = lowerByte(src[i]);
}

void lowerOutsideDoubleBytes(const char* src, std::size_t n, char* dst) {
    // A lead byte followed by a byte that cannot trail changes nothing by
    // being skipped with it, as such a byte is neither a letter nor a lead
    // byte.
    std::size_t i = 0;
    while (i < n) {
        const char c = src[i];
        if (isLeadByte(static_cast<unsigned char>(c)) && i + 1 < n) {
            dst[i] = c;
            dst[i + 1] = src[i + 1];
            i += 2;
        } else {
            dst[i] = lowerByte(c);
            ++i;
        }
    }
}

} // namespace vq::listio
